#include "device/FtpReply.h"

#include "base/SystemLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace
{

// A reply line longer than this is parsed as it stands instead of waiting for its end.
constexpr size_t MaxPendingReply = 64 * 1024;

// A server that keeps talking can leave data waiting at every poll, so the deadline is
// checked before each further read, not only by the wait.
int timedOut()
{
    systemLog(QStringLiteral("timeout?"));
    return FtpStatus::TimedOut;
}

} // namespace

int FtpWaitUntil(int fd, short events, FtpClock::time_point deadline)
{
    for (;;) {
        const auto left
            = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - FtpClock::now());
        pollfd p { fd, events, 0 };
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready;
    }
}

namespace
{

int readChunk(int sock, FtpClock::time_point deadline, char **text, size_t *length)
{
    if (!text)
        return FtpStatus::InvalidArgument;
    *text = nullptr;
    if (length)
        *length = 0;

    const int ready = FtpWaitUntil(sock, POLLIN, deadline);
    if (ready == 0)
        return timedOut();
    if (ready < 0) {
        const int error = errno;
        systemLog(QString::asprintf("select() error %d", error));
        return error;
    }

    int waiting = 0;
    if (::ioctl(sock, FIONREAD, &waiting) < 0)
        return errno;
    if (waiting <= 0)
        return FtpStatus::ConnectionClosed;

    char *buffer = static_cast<char *>(std::malloc(static_cast<size_t>(waiting) + 1));
    if (!buffer)
        return FtpStatus::OutOfMemory;
    ssize_t got;
    do {
        got = ::recv(sock, buffer, static_cast<size_t>(waiting), 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
        const int error = errno;
        systemLog(QString::asprintf("read() failed with %d", error));
        std::free(buffer);
        return error;
    }
    if (got == 0) {
        std::free(buffer);
        return FtpStatus::ConnectionClosed;
    }
    buffer[got] = '\0';
    *text = buffer;
    if (length)
        *length = static_cast<size_t>(got);
    return FtpStatus::Ok;
}

// The last non-empty line of `text`, shown to a person: no control characters, bounded.
std::string lastLineOf(const std::string &text)
{
    constexpr size_t MaxShownLine = 200;
    size_t end = text.size();
    while (end > 0 && (text[end - 1] == '\n' || text[end - 1] == '\r'))
        --end;
    const size_t begin = text.find_last_of("\r\n", end == 0 ? 0 : end - 1);
    const size_t from = begin == std::string::npos || end == 0 ? 0 : begin + 1;
    std::string line;
    for (size_t i = from; i < end && line.size() < MaxShownLine; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c != 0x7f)
            line += static_cast<char>(c);
    }
    return line;
}

} // namespace

int FtpGetServerResponseCode(const char *text, size_t length, int previousCode, bool *moreToCome)
{
    bool unused = false;
    bool &more = moreToCome ? *moreToCome : unused;
    more = false;
    if (!text || length == 0)
        return 0;

    int code = 0;
    size_t i = 0;
    bool continuation = false;
    if (text[0] == ' ') {
        continuation = true;
        code = previousCode;
    } else {
        while (i < length && text[i] >= '0' && text[i] <= '9' && code < 100000) {
            code = code * 10 + (text[i] - '0');
            ++i;
        }
        // Free text inside a multi-line reply, after the previous piece's last line.
        if (i == 0 && previousCode != 0) {
            continuation = true;
            code = previousCode;
        }
    }

    if (code != 0 && (continuation || (i < length && text[i] == '-'))) {
        more = true;
        const std::string end = std::to_string(code) + ' ';
        // The first line opens (or continues) the reply; the closing line comes later.
        const char *pos = text;
        const char *const stop = text + length;
        for (;;) {
            const char *lf = static_cast<const char *>(std::memchr(pos, '\n', stop - pos));
            if (!lf)
                break;
            pos = lf + 1;
            if (pos >= stop)
                break;
            if (static_cast<size_t>(stop - pos) >= end.size()
                && std::memcmp(pos, end.data(), end.size()) == 0) {
                more = false;
                break;
            }
        }
    }
    return code;
}

bool FtpReplyReader::feed(const char *data, size_t length)
{
    if (data)
        pending_.append(data, length);
    if ((pending_.empty() || pending_.back() != '\n') && pending_.size() <= MaxPendingReply)
        return false;
    code_ = FtpGetServerResponseCode(pending_.data(), pending_.size(), code_, &more_);
    lastLine_ = lastLineOf(pending_);
    pending_.clear();
    ++pieces_;
    return true;
}

FtpClock::time_point FtpDeadline(int timeout)
{
    // Microsecond limits are carried whole, so a second or more is still a valid wait.
    const long long limitUs = timeout <= 9999
        ? static_cast<long long>(std::max(timeout, 0)) * 1000000
        : static_cast<long long>(timeout);
    return FtpClock::now() + std::chrono::microseconds(limitUs);
}

int FtpGetServerResponseWithTimeout(int sock, int timeout, char **text, size_t *length)
{
    return readChunk(sock, FtpDeadline(timeout), text, length);
}

int FtpReadPiece(int sock, FtpClock::time_point deadline, FtpReplyReader &reader)
{
    for (bool first = true;; first = false) {
        if (!first && FtpClock::now() >= deadline)
            return timedOut();
        char *text = nullptr;
        size_t length = 0;
        const int status = readChunk(sock, deadline, &text, &length);
        if (status != FtpStatus::Ok)
            return status;
        const bool ended = reader.feed(text, length);
        std::free(text);
        if (ended)
            return FtpStatus::Ok;
    }
}

int FtpReadReply(int sock, FtpClock::time_point deadline, FtpReplyReader &reader)
{
    for (bool first = true;; first = false) {
        if (!first && FtpClock::now() >= deadline)
            return timedOut();
        const int status = FtpReadPiece(sock, deadline, reader);
        if (status != FtpStatus::Ok || !reader.more())
            return status;
    }
}
