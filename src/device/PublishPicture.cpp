#include "device/PublishPicture.h"

#include "base/Settings.h"
#include "base/SystemLog.h"

#include <QFile>
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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

bool isReplyCode(int status)
{
    return status >= 100 && status <= 599;
}

bool hasLineBreak(const QString &text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'))
        || text.contains(QChar(0));
}

} // namespace

int FtpCommand(int sock, const char *command, size_t length, std::string *replyLine)
{
    if (!command || length == 0)
        return FtpStatus::InvalidArgument;
    const int sent = writeAll(sock, command, length, socketWrite);
    if (sent != FtpStatus::Ok)
        return sent;
    FtpReplyReader reply;
    const int status = FtpReadReply(sock, FtpDeadline(DefaultTimeout), reply);
    if (replyLine)
        *replyLine = reply.lastLine();
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
    // The command of the last step and the server's last line there (empty: no answer).
    QString step;
    QString replyLine;
    bool loginRefused = false;

    Outcome run(const QString &user, const QString &password);

private:
    int command(const QString &text, bool logIt)
    {
        if (logIt)
            logLine(text.endsWith(QLatin1String("\r\n")) ? text.chopped(2) : text);
        step = text.section(QLatin1Char(' '), 0, 0).trimmed();
        const QByteArray bytes = text.toUtf8();
        std::string line;
        last = FtpCommand(control_, bytes.constData(), static_cast<size_t>(bytes.size()), &line);
        replyLine = isReplyCode(last) ? QString::fromLatin1(line) : QString();
        return last;
    }
    Outcome quit() const { return { Next::Quit, last ? last : EIO }; }
    // A failure on our side of the exchange: no server reply to show.
    void localFailure(int status, const QString &what)
    {
        last = status;
        step = what;
        replyLine.clear();
    }

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
        if (reply != 230) {
            loginRefused = isReplyCode(reply);
            return quit();
        }
    } else if (reply != 230) {
        logLine(QString::asprintf("user response: %i", reply));
        loginRefused = isReplyCode(reply);
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
            localFailure(FtpStatus::TimedOut, QStringLiteral("the login messages"));
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
        localFailure(errno, QStringLiteral("the data connection"));
        return quit();
    }
    local.sin_port = 0;
    listener_.fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listener_.fd < 0) {
        localFailure(errno, QStringLiteral("the data connection"));
        logLine(QString::asprintf("socket() failed with %d", last));
        return quit();
    }
    if (::bind(listener_.fd, reinterpret_cast<sockaddr *>(&local), sizeof local) < 0) {
        localFailure(errno, QStringLiteral("the data connection"));
        logLine(QString::asprintf("bind() failed with %d", last));
        return quit();
    }
    if (::listen(listener_.fd, 1) < 0) {
        localFailure(errno, QStringLiteral("the data connection"));
        logLine(QString::asprintf("listen() failed with %d", last));
        return quit();
    }
    sockaddr_in bound {};
    socklen_t boundLength = sizeof bound;
    if (::getsockname(listener_.fd, reinterpret_cast<sockaddr *>(&bound), &boundLength) < 0) {
        localFailure(errno, QStringLiteral("the data connection"));
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
        localFailure(ENOENT, QStringLiteral("reading the day file"));
        return quit();
    }
    const QByteArray contents = local_file.readAll();
    if (local_file.error() != QFileDevice::NoError) {
        logLine(QStringLiteral("file error"));
        localFailure(EIO, QStringLiteral("reading the day file"));
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

    const int ready = FtpWaitUntil(
        listener_.fd, POLLIN, FtpClock::now() + std::chrono::milliseconds(DataConnectTimeoutMs));
    if (ready == 0) {
        logLine(QStringLiteral("stor to?"));
        localFailure(FtpStatus::TimedOut, QStringLiteral("the data connection"));
        return { Next::Abort, FtpStatus::TimedOut };
    }
    if (ready < 0) {
        logLine(QString::asprintf("select() error %d", errno));
        localFailure(-1, QStringLiteral("the data connection"));
        return { Next::Abort, -1 };
    }
    Socket data(::accept(listener_.fd, nullptr, nullptr));
    if (data.fd < 0) {
        localFailure(errno, QStringLiteral("the data connection"));
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
        localFailure(status, QStringLiteral("the data connection"));
        return { Next::Abort, status };
    }

    FtpReplyReader stored;
    status = FtpReadReply(control_, FtpDeadline(DefaultTimeout), stored);
    if (status != FtpStatus::Ok) {
        localFailure(status, QStringLiteral("STOR"));
        return { Next::Abort, status };
    }
    const int code = stored.code();
    last = code;
    replyLine = QString::fromLatin1(stored.lastLine());
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
    return send(request).status;
}

namespace
{

// Connects within the reply time limit: an address that drops the attempt without a word
// would otherwise hold the upload for the system's minutes. Answers 0 or the errno value.
int connectWithin(int fd, const sockaddr_in &server)
{
    const int flags = ::fcntl(fd, F_GETFL, 0);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&server), sizeof server) < 0) {
        if (errno != EINPROGRESS)
            return errno;
        const int ready = FtpWaitUntil(fd, POLLOUT, FtpDeadline(DefaultTimeout));
        if (ready == 0)
            return ETIMEDOUT;
        if (ready < 0)
            return errno;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            return errno;
        if (error != 0)
            return error;
    }
    return ::fcntl(fd, F_SETFL, flags) < 0 ? errno : 0;
}

QString statusText(int status)
{
    switch (status) {
    case FtpStatus::TimedOut:
        return QStringLiteral("no answer in time");
    case FtpStatus::ConnectionClosed:
        return QStringLiteral("the server closed the connection");
    case FtpStatus::NothingTaken:
        return QStringLiteral("the server took no data");
    case FtpStatus::NoReplyText:
        return QStringLiteral("an empty answer");
    default:
        return status > 0 ? QString::fromLocal8Bit(std::strerror(status))
                          : QStringLiteral("error %1").arg(status);
    }
}

} // namespace

QString FtpOutcome::why() const
{
    const QString where = QStringLiteral("The FTP server %1").arg(server);
    switch (failure) {
    case FtpFailure::None:
        return QString();
    case FtpFailure::Login:
        return where + QStringLiteral(" refused the login: \"%1\"").arg(reply);
    case FtpFailure::Host:
        return where + QStringLiteral(" could not be reached: %1").arg(reply);
    case FtpFailure::Other:
        break;
    }
    if (server.isEmpty())
        return QStringLiteral("The FTP URL names no server: set it in Preferences");
    if (!reply.isEmpty())
        return where + QStringLiteral(" answered %1 with \"%2\"").arg(step, reply);
    return QStringLiteral("The exchange with the FTP server %1 failed at %2: %3")
        .arg(server, step, statusText(status));
}

FtpOutcome PublishPicture::send(const Request &request)
{
    const CountIn counted;
    FtpOutcome outcome;
    auto failed = [&outcome](int status, FtpFailure failure, const QString &step,
                      const QString &reply = QString()) {
        outcome.status = status;
        outcome.failure = failure;
        outcome.step = step;
        outcome.reply = reply;
        return outcome;
    };
    const QString file = request.picture;
    const QUrl &url = request.url;
    const QString host = url.host();
    if (!host.isEmpty())
        outcome.server = host + QLatin1Char(':') + QString::number(url.port(21));
    const QString checking = QStringLiteral("checking the URL");
    if (file.isEmpty() || url.isEmpty() || !url.isValid()) {
        logLine(QStringLiteral("error in url or file"));
        return failed(FtpStatus::InvalidArgument, FtpFailure::Other, checking);
    }
    if (host.isEmpty())
        return failed(FtpStatus::InvalidArgument, FtpFailure::Other, checking);

    const QString user = url.userName(QUrl::FullyDecoded);
    const QString password = url.password(QUrl::FullyDecoded);
    const QString path = url.path(QUrl::FullyDecoded);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const QString dir = slash > 0 ? path.left(slash) : QStringLiteral("/");
    if (name.isEmpty()) {
        logLine(QStringLiteral("error in url or file"));
        return failed(FtpStatus::InvalidArgument, FtpFailure::Other, checking);
    }
    // Every one of these ends up on a command line: a line break would start a new command.
    if (hasLineBreak(user) || hasLineBreak(password) || hasLineBreak(dir) || hasLineBreak(name)) {
        logLine(QStringLiteral("line break in url refused"));
        return failed(FtpStatus::InvalidArgument, FtpFailure::Other, checking);
    }

    const QString connecting = QStringLiteral("connect");
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int resolved = ::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &found);
    if (resolved != 0 || !found) {
        if (found)
            ::freeaddrinfo(found);
        return failed(EHOSTUNREACH, FtpFailure::Host, connecting,
            QStringLiteral("its name could not be resolved (%1)")
                .arg(QString::fromLocal8Bit(::gai_strerror(resolved))));
    }
    sockaddr_in server {};
    std::memcpy(&server, found->ai_addr, std::min<size_t>(sizeof server, found->ai_addrlen));
    ::freeaddrinfo(found);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(url.port(21)));

    Socket control(::socket(AF_INET, SOCK_STREAM, 0));
    if (control.fd < 0) {
        const int error = errno;
        logLine(QString::asprintf("socket() failed with %d", error));
        return failed(error, FtpFailure::Other, connecting);
    }
    const int connected = connectWithin(control.fd, server);
    if (connected != 0)
        return failed(connected, FtpFailure::Host, connecting, statusText(connected));
    logLine(QStringLiteral("Server connected"));

    // A greeting cut short by a failed read still counts by the code it began with.
    FtpReplyReader greeted;
    const int status = FtpReadReply(control.fd, FtpDeadline(DefaultTimeout), greeted);
    const int greeting = greeted.code() != 0 ? greeted.code() : status;
    if (greeting != 220) {
        logLine(QString::asprintf("ready? response: %i", greeting));
        const int ended = greeting ? greeting : EPROTO;
        return failed(ended, FtpFailure::Other, QStringLiteral("its greeting"),
            isReplyCode(ended) ? QString::fromLatin1(greeted.lastLine()) : QString());
    }

    Exchange exchange(control.fd, dir, name, file);
    const Outcome ended = exchange.run(user, password);
    if (ended.next == Next::Abort) {
        const QByteArray abort("ABOR\r\n");
        FtpCommand(control.fd, abort.constData(), static_cast<size_t>(abort.size()));
    }
    if (ended.next != Next::Quit)
        logLine(QString::asprintf("uploadresult: %i", ended.status));
    if (exchange.last != 421 && exchange.last != 426) {
        const QByteArray quit("QUIT\r\n");
        FtpCommand(control.fd, quit.constData(), static_cast<size_t>(quit.size()));
    }
    if (ended.status == FtpStatus::Ok)
        return outcome;
    return failed(ended.status, exchange.loginRefused ? FtpFailure::Login : FtpFailure::Other,
        exchange.step, exchange.replyLine);
}
