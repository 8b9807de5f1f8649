#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

// The grid pages' processes of one fetch: at most `limit` at once (one per core), the rest
// wait their turn in the order added. The processes are started detached; `isRunning`
// tells whether one still works.
class GridJobs
{
public:
    using Start = std::function<std::optional<qint64>(const QString &relativeXml)>;
    using IsRunning = std::function<bool(qint64 pid)>;

    GridJobs(int limit, Start start, IsRunning isRunning)
        : limit_(limit < 1 ? 1 : limit)
        , start_(std::move(start))
        , isRunning_(std::move(isRunning))
    {
    }

    void add(const QString &relativeXml) { waiting_.push_back(relativeXml); }

    // Forgets the processes that have ended and starts waiting pages in their place.
    // Answers the pages started now, whether their process started or not.
    std::vector<QString> startWaiting()
    {
        std::erase_if(running_, [this](qint64 pid) { return !isRunning_(pid); });
        std::vector<QString> started;
        while (!waiting_.empty() && int(running_.size()) < limit_) {
            const QString next = waiting_.front();
            waiting_.pop_front();
            if (const std::optional<qint64> pid = start_(next))
                running_.push_back(*pid);
            started.push_back(next);
        }
        return started;
    }

    bool anyWaiting() const { return !waiting_.empty(); }
    bool anyRunning() const { return !running_.empty(); }

private:
    int limit_;
    Start start_;
    IsRunning isRunning_;
    std::deque<QString> waiting_;
    std::vector<qint64> running_;
};
