#pragma once

#include <chrono>
#include <cstddef>
#include <string>

// Results of the FTP functions share one integer space: 0 is success, 100 to 599 a server
// reply code, anything else a local status (an errno value or one of these).
namespace FtpStatus
{
constexpr int Ok = 0;
constexpr int InvalidArgument = 22; // EINVAL
constexpr int TimedOut = 60; // time limit passed; fixed, whatever the host's ETIMEDOUT
constexpr int OutOfMemory = 12; // ENOMEM
constexpr int NothingTaken = 55; // the data connection took no bytes
constexpr int NoReplyText = 9998; // a read produced no text
constexpr int ConnectionClosed = 9999; // readable but empty: the server closed the connection
} // namespace FtpStatus

// ---- Parsing: pure functions over bytes, no socket and no clock.

// Parses one piece of reply text. A piece beginning with a space, or with no code while a
// reply is under way (previousCode not 0), continues the previous reply. `moreToCome` tells
// whether the closing "NNN " line of a multi-line reply is still missing.
int FtpGetServerResponseCode(const char *text, size_t length, int previousCode, bool *moreToCome);

// Puts replies back together from the bytes of successive reads of the control connection.
// A read may end anywhere, even inside a line, so bytes are held until they end at a line end
// (or grow too long to wait for one) and then parsed as one piece, carrying the code of the
// reply under way into the next piece.
class FtpReplyReader
{
public:
    // `previousCode`: the code of a reply already under way, 0 for none.
    explicit FtpReplyReader(int previousCode = 0)
        : code_(previousCode)
    {
    }

    // Takes the bytes of one read. Answers true when they end a piece, which is then parsed;
    // false while the piece still waits for its line end.
    bool feed(const char *data, size_t length);

    // The code of the reply so far (the previous code until a piece is parsed).
    int code() const { return code_; }
    // Whether the closing line of a multi-line reply is still missing after the last piece.
    bool more() const { return more_; }
    // Whether at least one piece was parsed and it left nothing more to come.
    bool complete() const { return pieces_ > 0 && !more_; }
    int pieces() const { return pieces_; }
    // The last line of the last piece parsed, without its line end, control characters
    // dropped and cut to 200 bytes: the server's own words for a person to read.
    const std::string &lastLine() const { return lastLine_; }

private:
    std::string pending_;
    std::string lastLine_;
    int code_;
    bool more_ = false;
    int pieces_ = 0;
};

// ---- Reading from the control connection.

using FtpClock = std::chrono::steady_clock;

// When a read given `timeout` ends: whole seconds up to 9999, microseconds above that.
FtpClock::time_point FtpDeadline(int timeout);

// Waits until `fd` is ready for `events` (poll(2) flags) or `deadline` passes; an
// interrupted wait goes on. Answers 1 when ready, 0 at the deadline, -1 on a failure
// (errno tells which).
int FtpWaitUntil(int fd, short events, FtpClock::time_point deadline);

// Reads one chunk of reply text from `sock`, waiting at most `timeout` (as FtpDeadline).
// On 0 the text (zero-terminated, caller frees with free()) and its length are handed out.
int FtpGetServerResponseWithTimeout(int sock, int timeout, char **text, size_t *length);

// Reads until `reader` has parsed one more piece, or `deadline` passes. Answers the read
// status (0 when a piece was parsed).
int FtpReadPiece(int sock, FtpClock::time_point deadline, FtpReplyReader &reader);

// Reads pieces until the reply is complete. The deadline holds for the whole reply, so a
// server that never closes a multi-line reply ends with TimedOut.
int FtpReadReply(int sock, FtpClock::time_point deadline, FtpReplyReader &reader);
