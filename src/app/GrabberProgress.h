#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// What the grabber's output says about its progress, chunk by chunk: it prints
// "Fetching NN" (the channel count) and then one "." per channel done.
class GrabberProgress
{
public:
    struct Step {
        // The count's StatusLog line, when this chunk held a readable "Fetching NN".
        std::optional<QString> channelsLine;
        // Percent done (dots per channel × 100, not capped); none until a count was read.
        std::optional<float> percent;
    };
    Step feed(const QByteArray &chunk);

private:
    qint64 dots_ = 0;
    std::optional<QString> count_;
};
