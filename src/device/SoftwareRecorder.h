#pragma once

#include "device/UsbTransport.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <vector>

class QSaveFile;

// Switchable misbehaviour. Counts are the number of commands (or reads) still affected;
// -1 means every one.
struct RecorderFaults {
    bool absent = false; // nothing on the bus: opening fails
    int noAnswer = 0; // commands that get no reply at all
    int shortAnswer = 0; // replies cut to shortLength bytes (length field included)
    int shortLength = 4;
    std::uint32_t shortAnswerCommand = 0; // only replies to this command are cut; 0: any
    int stallReads = 0; // reads of pipe 2 that find the pipe stalled
    int slowAnswerMs = 0; // every reply is ready this long after its command
    QByteArray directoryTail; // bytes appended after the entries of a directory reply
    int closeDeviceStatus = 0; // what closing the device answers
    struct Override {
        std::uint32_t command; // the command answered otherwise
        std::uint32_t replyCode; // answered with this code and no data, command not carried out
        int times;
    };
    std::vector<Override> overrides;

    void refuse(std::uint32_t command, int times = -1);
};

// The recorder's side of the protocol, over a folder standing in for its disk: the recorder
// path \A\B\name is FOLDER/A/B/name. It sees every bulk transfer exactly as the host rounded
// it, checks lengths, padding and CRC, and answers as the device would. In-process and
// single-threaded: the host's transfers drive it.
class SoftwareRecorder
{
public:
    struct Stats {
        int transfersIn = 0;
        qint64 bytesIn = 0; // bytes on the wire, host to recorder
        qint64 bytesOut = 0; // bytes on the wire, recorder to host
        qint64 fileBytes = 0; // file data taken, over all files
        std::map<std::uint32_t, int> commands; // received, by code
        int opens = 0, closes = 0;
        int releasedDevices = 0;
        QStringList filesWritten; // recorder paths
        QStringList violations; // what the host got wrong
        double secondsInside = 0; // time spent in the recorder's own work
    };

    // speedCode: 2 high speed (granule 64), 1 full speed (granule 4).
    explicit SoftwareRecorder(const QString &folder, int speedCode = 2);
    ~SoftwareRecorder();

    QString folder() const { return folder_; }
    int speedCode() const { return speed_; }
    unsigned granule() const { return speed_ == 2 ? 64 : 4; }
    RecorderFaults &faults() { return faults_; }
    const Stats &stats() const { return stats_; }
    int commandCount(std::uint32_t code) const;

    // The folder on the local disk for a recorder path, or empty when the path leaves the
    // disk ("..") or is not a path.
    QString localPath(const QString &recorderPath) const;
    // One directory reply's data: the 114-byte entries of the folder's contents by name.
    QByteArray directoryEntries(const QString &folder) const;

    // From now on USBFunctions opens a recorder on `folder` instead of the USB bus.
    static std::shared_ptr<SoftwareRecorder> replaceBus(const QString &folder, int speedCode = 2);

    // The back end that connects a host to this recorder.
    static std::unique_ptr<UsbTransport> transport(std::shared_ptr<SoftwareRecorder> recorder);

    // Device side of the pipes.
    void receive(const std::uint8_t *bytes, int transferLength);
    struct Reply {
        QByteArray wire;
        std::chrono::steady_clock::time_point ready;
    };
    std::deque<Reply> &replies() { return replies_; }
    bool pipe2Stalled = false;
    void countOpen() { ++stats_.opens; }
    void countClose() { ++stats_.closes; }
    void countReleasedDevice() { ++stats_.releasedDevices; }
    void countBytesOut(qint64 n) { stats_.bytesOut += n; }

private:
    void dispatch(std::uint32_t code, const QByteArray &data);
    void answer(std::uint32_t code, const QByteArray &data = {});
    void violation(const QString &what);
    void abortTransfer();

    QString folder_;
    int speed_;
    RecorderFaults faults_;
    Stats stats_;
    std::deque<Reply> replies_;
    std::uint32_t command_ = 0; // the command being answered

    // The file being received.
    std::unique_ptr<QSaveFile> incoming_;
    QString incomingPath_;
    bool started_ = false;
    qint64 received_ = 0;
    qint64 lastOffset_ = -1, lastSize_ = 0;
    qint64 declaredSize_ = 0;
    qint64 declaredTime_ = 0;
};
