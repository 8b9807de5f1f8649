#include "base/DataFolderLock.h"

#include "base/Paths.h"
#include "base/SystemLog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

namespace
{

struct State {
    std::recursive_mutex mutex; // one thread of this process at a time
    int depth = 0; // guarded by mutex
    std::unique_ptr<QLockFile> file; // guarded by mutex
    std::atomic<std::thread::id> owner {};
    std::mutex reporterMutex;
    std::function<void(const QString &)> reporter;
    std::atomic<int> patienceMs { 2000 };
};

State &state()
{
    static State s;
    return s;
}

void report(const QString &line)
{
    State &s = state();
    std::function<void(const QString &)> reporter;
    {
        std::lock_guard lock(s.reporterMutex);
        reporter = s.reporter;
    }
    if (reporter)
        reporter(line);
    else
        systemLog(line);
}

} // namespace

QString DataFolderLock::path()
{
    return Paths::applicationSupportFolder() + QStringLiteral("/.writer.lock");
}

DataFolderLock::DataFolderLock()
{
    State &s = state();
    QElapsedTimer waited;
    waited.start();
    bool said = false;
    auto sayOnce = [&](const QString &line) {
        if (!said && waited.elapsed() >= s.patienceMs.load()) {
            report(line);
            said = true;
        }
    };
    // Another thread of this process first, then another process.
    while (!s.mutex.try_lock()) {
        sayOnce(QStringLiteral("Waiting for another write to the data folder to end..."));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (s.depth++ > 0)
        return;
    s.owner = std::this_thread::get_id();
    QDir().mkpath(Paths::applicationSupportFolder());
    auto file = std::make_unique<QLockFile>(path());
    // A long fetch must not pass for a dead one: only a writer that is gone is taken over.
    file->setStaleLockTime(0);
    for (;;) {
        if (file->tryLock(100)) {
            s.file = std::move(file);
            break;
        }
        if (file->error() != QLockFile::LockFailedError) {
            // A folder that cannot hold the lock cannot hold the data either: the write
            // that follows fails and says why.
            systemLog(QStringLiteral("cannot lock the data folder: ") + path());
            break;
        }
        qint64 pid = 0;
        QString host, app;
        file->getLockInfo(&pid, &host, &app);
        sayOnce(QStringLiteral("Waiting for another Pallaro program (%1, process %2) to finish "
                               "writing the data folder...")
                    .arg(app.isEmpty() ? QStringLiteral("unknown") : app)
                    .arg(pid));
    }
}

DataFolderLock::~DataFolderLock()
{
    State &s = state();
    if (--s.depth == 0) {
        s.owner = std::thread::id();
        if (s.file)
            s.file->unlock();
        s.file.reset();
    }
    s.mutex.unlock();
}

bool DataFolderLock::heldByThisThread()
{
    return state().owner.load() == std::this_thread::get_id();
}

void DataFolderLock::setReporter(std::function<void(const QString &)> reporter)
{
    State &s = state();
    std::lock_guard lock(s.reporterMutex);
    s.reporter = std::move(reporter);
}

void DataFolderLock::setPatience(int ms)
{
    state().patienceMs = ms;
}
