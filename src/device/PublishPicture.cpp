#include "device/PublishPicture.h"

#include "base/Settings.h"
#include "base/SystemLog.h"

#include <QFile>
#include <algorithm>
#include <chrono>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

std::atomic<int> DefaultTimeout { 10 };

namespace
{

// The longest "PublishTimeout" honoured: above 9999 the value would be read as microseconds.
constexpr int MaxPublishTimeout = 9999;
// The drain after login waits this long per read, and ends the exchange when the server is
// still talking after this many pieces or after the reply limit.
constexpr auto DrainReadLimit = std::chrono::microseconds(800000);
constexpr int MaxDrainPieces = 100;
// How long the server has to open the data connection.
constexpr int DataConnectTimeoutMs = 10000;

std::mutex &gLock()
{
    static std::mutex lock;
    return lock;
}
int threadCount = 0; // guarded by gLock()

std::mutex writerLock;
FtpDataWriter &dataWriter()
{
    static FtpDataWriter writer;
    return writer;
}

ssize_t socketWrite(int fd, const char *data, size_t length)
{
    // MSG_NOSIGNAL: a peer that has gone away must yield EPIPE, not kill the application.
    return ::send(fd, data, length, MSG_NOSIGNAL);
}

void logLine(const QString &line)
{
    systemLog(line);
}

// Counts one exchange in for busy() while it runs.
struct CountIn {
    CountIn()
    {
        std::lock_guard<std::mutex> lock(gLock());
        ++threadCount;
    }
    ~CountIn()
    {
        std::lock_guard<std::mutex> lock(gLock());
        --threadCount;
    }
    CountIn(const CountIn &) = delete;
    CountIn &operator=(const CountIn &) = delete;
};

struct Socket {
    int fd = -1;
    Socket() = default;
    explicit Socket(int f)
        : fd(f)
    {
    }
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket &) = delete;
    Socket &operator=(const Socket &) = delete;
};

// Writes every byte; a single call may take fewer. Answers 0, 55 or the errno value.
int writeAll(int fd, const char *data, size_t length, const FtpDataWriter &writer)
{
    size_t done = 0;
    while (done < length) {
        const ssize_t n = writer(fd, data + done, length - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno ? errno : EIO;
        }
        if (n == 0)
            return FtpStatus::NothingTaken;
        done += static_cast<size_t>(n);
    }
    return FtpStatus::Ok;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'))
        || text.contains(QChar(0));
}

} // namespace

int FtpCommand(int sock, const char *command, size_t length)
{
    if (!command || length == 0)
        return FtpStatus::InvalidArgument;
    const int sent = writeAll(sock, command, length, socketWrite);
    if (sent != FtpStatus::Ok)
        return sent;
    FtpReplyReader reply;
    const int status = FtpReadReply(sock, FtpDeadline(DefaultTimeout), reply);
    return status != FtpStatus::Ok ? status : reply.code();
}

void setFtpDataWriter(FtpDataWriter writer)
{
    std::lock_guard<std::mutex> lock(writerLock);
    dataWriter() = std::move(writer);
}

PublishPicture::PublishPicture()
{
    {
        std::lock_guard<std::mutex> lock(gLock()); // the lock exists from the first object on
    }
    const int timeout = Settings::integer(QStringLiteral("PublishTimeout"));
    if (timeout > 10)
        DefaultTimeout = std::min(timeout, MaxPublishTimeout);
}

bool PublishPicture::busy()
{
    std::lock_guard<std::mutex> lock(gLock());
    return threadCount > 0;
}

bool PublishPicture::publish(const QString &localPath, const QUrl &url)
{
    logLine(QStringLiteral("Begin publish"));
    const Request request { localPath, url };
    return publishThread(request) == FtpStatus::Ok;
}

namespace
{

// Where an exchange goes after a step: straight to QUIT, through the result line, or
// through ABOR and the result line.
enum class Next { Quit, Result, Abort };

struct Outcome {
    Next next;
    int status;
};

class Exchange
{
public:
    Exchange(int control, const QString &dir, const QString &name, const QString &file)
        : control_(control)
        , dir_(dir)
        , name_(name)
        , file_(file)
    {
    }

    // The last reply code or status: 421 and 426 mean the server has dropped us.
    int last = 0;

    Outcome run(const QString &user, const QString &password);

private:
    int command(const QString &text, bool logIt)
    {
        if (logIt)
            logLine(text.endsWith(QLatin1String("\r\n")) ? text.chopped(2) : text);
        const QByteArray bytes = text.toUtf8();
        last = FtpCommand(control_, bytes.constData(), static_cast<size_t>(bytes.size()));
        return last;
    }
    Outcome quit() const { return { Next::Quit, last ? last : EIO }; }

    int control_;
    QString dir_, name_, file_;
    Socket listener_;
};

Outcome Exchange::run(const QString &user, const QString &password)
{
    int reply = command(QStringLiteral("USER %1\r\n").arg(user), false);
    if (reply == 331) {
        reply = command(QStringLiteral("PASS %1\r\n").arg(password), false);
        logLine(QString::asprintf("pass response: %i", reply));
        if (reply != 230)
            return quit();
    } else if (reply != 230) {
        logLine(QString::asprintf("user response: %i", reply));
        return quit();
    }

    // Some servers follow the login with more lines (a banner, 211/215 notes): drain them.
    FtpReplyReader drained(reply);
    const FtpClock::time_point drainEnd = FtpDeadline(DefaultTimeout);
    for (;;) {
        const FtpClock::time_point readEnd = std::min(FtpClock::now() + DrainReadLimit, drainEnd);
        const int status = FtpReadPiece(control_, readEnd, drained);
        logLine(QString::asprintf("messages response: %i", status));
        // A read cut short by the overall limit while the server was still talking.
        const bool stillTalking
            = status == FtpStatus::TimedOut && readEnd == drainEnd && drained.pieces() > 0;
        if (status != FtpStatus::Ok && !stillTalking)
            break; // quiet for a whole read, or gone
        const int code = drained.code();
        if (status == FtpStatus::Ok && code != 230 && code != 211 && code != 215 && !drained.more())
            break;
        if (stillTalking || drained.pieces() >= MaxDrainPieces || FtpClock::now() >= drainEnd) {
            logLine(QStringLiteral("login messages never end"));
            last = FtpStatus::TimedOut;
            return quit();
        }
    }

    // The folder relative to the login folder first, then as an absolute path.
    reply = command(QStringLiteral("CWD %1\r\n").arg(dir_.mid(1)), true);
    if (reply != 250) {
        reply = command(QStringLiteral("CWD %1\r\n").arg(dir_), true);
        if (reply != 250) {
            logLine(QStringLiteral("CWD error"));
            return quit();
        }
    }

    reply = command(QStringLiteral("TYPE I\r\n"), false);
    if (reply != 200) {
        logLine(QStringLiteral("transfermode error"));
        return quit();
    }

    // Active mode: listen on the address the server already reaches us at.
    sockaddr_in local {};
    socklen_t localLength = sizeof local;
    if (::getsockname(control_, reinterpret_cast<sockaddr *>(&local), &localLength) < 0) {
        last = errno;
        return quit();
    }
    local.sin_port = 0;
    listener_.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener_.fd < 0) {
        last = errno;
        logLine(QString::asprintf("socket() failed with %d", last));
        return quit();
    }
    if (::bind(listener_.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0) {
        last = errno;
        logLine(QString::asprintf("bind() failed with %d", last));
        return quit();
    }
    if (::listen(listener_.fd, 1) < 0) {
        last = errno;
        logLine(QString::asprintf("listen() failed with %d", last));
        return quit();
    }
    sockaddr_in bound {};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(listener_.fd, reinterpret_cast<sockaddr *>(&bound), &boundLength) < 0) {
        last = errno;
        return quit();
    }
    const auto *a = reinterpret_cast<const unsigned char *>(&bound.sin_addr.s_addr);
    const unsigned port = ntohs(bound.sin_port);
    reply = command(QString::asprintf("PORT %d,%d,%d,%d,%d,%d\r\n", a[0], a[1], a[2], a[3],
                        port >> 8, port & 0xff),
        true);
    logLine(QString::asprintf("response: %i", reply));
    if (reply != 200)
        return quit();

    QFile local_file(file_);
    if (!local_file.open(QIODevice::ReadOnly)) {
        logLine(QStringLiteral("file error"));
        last = ENOENT;
        return quit();
    }
    const QByteArray contents = local_file.readAll();
    if (local_file.error() != QFileDevice::NoError) {
        logLine(QStringLiteral("file error"));
        last = EIO;
        return quit();
    }
    local_file.close();

    logLine(QStringLiteral("PUTting"));
    const QString tmpName = name_ + QStringLiteral(".tmp");
    reply = command(QStringLiteral("STOR %1\r\n").arg(tmpName), true);
    logLine(QString::asprintf("response: %i", reply));
    // 125: the server had already connected back (right after PORT) and starts at once.
    if (reply != 150 && reply != 125) {
        logLine(QString::asprintf("stor problem: %i", reply));
        return { Next::Result, reply };
    }

    pollfd p { listener_.fd, POLLIN, 0 };
    int ready;
    do {
        ready = ::poll(&p, 1, DataConnectTimeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 0) {
        logLine(QStringLiteral("stor to?"));
        last = FtpStatus::TimedOut;
        return { Next::Abort, FtpStatus::TimedOut };
    }
    if (ready < 0) {
        logLine(QString::asprintf("select() error %d", errno));
        last = -1;
        return { Next::Abort, -1 };
    }
    Socket data(::accept(listener_.fd, nullptr, nullptr));
    if (data.fd < 0) {
        last = errno;
        logLine(QString::asprintf("accept failed with error %d", last));
        return { Next::Abort, last };
    }

    FtpDataWriter writer;
    {
        std::lock_guard<std::mutex> lock(writerLock);
        writer = dataWriter() ? dataWriter() : FtpDataWriter(socketWrite);
    }
    int status
        = writeAll(data.fd, contents.constData(), static_cast<size_t>(contents.size()), writer);
    ::close(data.fd);
    data.fd = -1;
    if (status != FtpStatus::Ok) {
        last = status;
        return { Next::Abort, status };
    }

    FtpReplyReader stored;
    status = FtpReadReply(control_, FtpDeadline(DefaultTimeout), stored);
    if (status != FtpStatus::Ok) {
        last = status;
        return { Next::Abort, status };
    }
    const int code = stored.code();
    last = code;
    // 250 is the other completion reply a server may give to STOR.
    if (code != 226 && code != 250)
        return { Next::Result, code };

    // The old day is replaced only once the new one is wholly on the server.
    command(QStringLiteral("DELE %1\r\n").arg(name_), true);
    reply = command(QStringLiteral("RNFR %1\r\n").arg(tmpName), true);
    if (reply == 350)
        reply = command(QStringLiteral("RNTO %1\r\n").arg(name_), true);
    if (reply == 250)
        return { Next::Result, FtpStatus::Ok };
    logLine(QStringLiteral("Publish: Failed to rename file %1 after upload. Error = %2.")
                .arg(name_)
                .arg(reply));
    return { Next::Result, reply };
}

} // namespace

int PublishPicture::publishThread(const Request &request)
{
    const CountIn counted;
    const QString file = request.picture;
    const QUrl &url = request.url;
    if (file.isEmpty() || url.isEmpty() || !url.isValid()) {
        logLine(QStringLiteral("error in url or file"));
        return FtpStatus::InvalidArgument;
    }
    const QString host = url.host();
    if (host.isEmpty())
        return FtpStatus::InvalidArgument;

    const QString user = url.userName(QUrl::FullyDecoded);
    const QString password = url.password(QUrl::FullyDecoded);
    const QString path = url.path(QUrl::FullyDecoded);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const QString dir = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (name.isEmpty()) {
        logLine(QStringLiteral("error in url or file"));
        return FtpStatus::InvalidArgument;
    }
    // Every one of these ends up on a command line: a line break would start a new command.
    if (hasLineBreak(user) || hasLineBreak(password) || hasLineBreak(dir) || hasLineBreak(name)) {
        logLine(QStringLiteral("line break in url refused"));
        return FtpStatus::InvalidArgument;
    }

    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        return EHOSTUNREACH;
    sockaddr_in server {};
    std::memcpy(&server, found->ai_addr, std::min<size_t>(sizeof server, found->ai_addrlen));
    ::freeaddrinfo(found);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(url.port(21)));

    Socket control(::socket(AF_INET, SOCK_STREAM, 0));
    if (control.fd < 0) {
        const int error = errno;
        logLine(QString::asprintf("socket() failed with %d", error));
        return error;
    }
    int connected;
    do {
        connected = ::connect(control.fd, reinterpret_cast<sockaddr *>(&server), sizeof server);
    } while (connected < 0 && errno == EINTR);
    if (connected < 0)
        return errno;
    logLine(QStringLiteral("Server connected"));

    // A greeting cut short by a failed read still counts by the code it began with.
    FtpReplyReader greeted;
    const int status = FtpReadReply(control.fd, FtpDeadline(DefaultTimeout), greeted);
    const int greeting = greeted.code() != 0 ? greeted.code() : status;
    if (greeting != 220) {
        logLine(QString::asprintf("ready? response: %i", greeting));
        return greeting ? greeting : EPROTO;
    }

    Exchange exchange(control.fd, dir, name, file);
    const Outcome outcome = exchange.run(user, password);
    if (outcome.next == Next::Abort) {
        const QByteArray abort("ABOR\r\n");
        FtpCommand(control.fd, abort.constData(), static_cast<size_t>(abort.size()));
    }
    if (outcome.next != Next::Quit)
        logLine(QString::asprintf("uploadresult: %i", outcome.status));
    if (exchange.last != 421 && exchange.last != 426) {
        const QByteArray quit("QUIT\r\n");
        FtpCommand(control.fd, quit.constData(), static_cast<size_t>(quit.size()));
    }
    return outcome.status;
}
