#include "app/Download.h"

#include "base/StatusLog.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace Download {
namespace {

struct Sink {
    QByteArray body;
    qint64 maxBytes = 0;
    bool tooLarge = false;
};

size_t collect(char *data, size_t size, size_t count, void *user)
{
    auto *sink = static_cast<Sink *>(user);
    const size_t bytes = size * count;
    if (sink->body.size() + qint64(bytes) > sink->maxBytes) {
        sink->tooLarge = true;
        return 0; // aborts the transfer
    }
    sink->body.append(data, qsizetype(bytes));
    return bytes;
}

// Keeps the last status line of the answer: libcurl knows the code, not the reason phrase,
// and after redirects only the last line is the answer's.
size_t collectStatusLine(char *data, size_t size, size_t count, void *user)
{
    const size_t bytes = size * count;
    const QByteArray line = QByteArray(data, qsizetype(bytes)).trimmed();
    if (line.startsWith("HTTP/"))
        *static_cast<QByteArray *>(user) = line;
    return bytes;
}

// What a server wrote, fit for one line: printable characters only, and not too many.
QString printable(const QByteArray &text, qsizetype most)
{
    return printableText(QString::fromLatin1(text.left(most)).simplified());
}

// "404 Not Found" of "HTTP/1.1 404 Not Found"; the bare code when the line has no phrase.
QString statusOf(const QByteArray &statusLine, long code)
{
    const qsizetype space = statusLine.indexOf(' ');
    const QString status = space < 0 ? QString() : printable(statusLine.mid(space + 1), 100);
    return status.isEmpty() ? QString::number(code) : status;
}

// "host" or "host:port" as the URL names it.
QString hostOf(const QUrl &url)
{
    return url.port() < 0 ? url.host()
                          : url.host() + QLatin1Char(':') + QString::number(url.port());
}

struct Watch {
    const std::atomic<bool> *cancel = nullptr;
    qint64 stallMs = 0;
    curl_off_t received = 0;
    QElapsedTimer sinceData;
    bool stalled = false;
};

// Called about once a second even while nothing arrives.
int checkProgress(void *user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t)
{
    auto *watch = static_cast<Watch *>(user);
    if (watch->cancel && *watch->cancel)
        return 1;
    if (now != watch->received) {
        watch->received = now;
        watch->sinceData.start();
    } else if (watch->sinceData.elapsed() >= watch->stallMs) {
        watch->stalled = true;
        return 1;
    }
    return 0;
}

} // namespace

std::optional<QByteArray> whole(const QString &url, const Limits &limits, QString *why)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    const std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> curl(
        curl_easy_init(), &curl_easy_cleanup);
    auto fail = [why](const QString &reason) -> std::optional<QByteArray> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (!curl)
        return fail(QStringLiteral("curl_easy_init failed"));

    Sink sink;
    sink.maxBytes = limits.maxBytes;
    char error[CURL_ERROR_SIZE] = {};
    const QByteArray address = url.toUtf8();
    CURL *c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, address.constData());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,file");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limits.connectSeconds);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, limits.totalSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L); // worker threads must not get SIGALRM
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    QByteArray statusLine;
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &collectStatusLine);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &statusLine);
    Watch watch;
    watch.cancel = limits.cancel;
    watch.stallMs = limits.stallSeconds * 1000;
    watch.sinceData.start();
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &checkProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Pallaro");

    const CURLcode result = curl_easy_perform(c);
    // After redirects the URL that failed may name another host than the one asked for.
    const char *effective = nullptr;
    curl_easy_getinfo(c, CURLINFO_EFFECTIVE_URL, &effective);
    const QUrl asked(url);
    const QUrl last = effective ? QUrl(QString::fromUtf8(effective)) : asked;
    const QString host = hostOf(last);
    if (watch.stalled)
        return fail(QStringLiteral("The download from \"%1\" stalled: no data for %2 s")
                        .arg(host)
                        .arg(limits.stallSeconds));
    if (sink.tooLarge)
        return fail(QStringLiteral("The answer from \"%1\" is larger than %2 MB")
                        .arg(host)
                        .arg(limits.maxBytes >> 20));
    const QString curlSays = QString::fromUtf8(error[0] ? error : curl_easy_strerror(result));
    if (result == CURLE_COULDNT_RESOLVE_HOST)
        return fail(last.host() == asked.host()
                ? QStringLiteral("The provider host \"%1\" cannot be found: set the provider "
                                 "host in Preferences")
                      .arg(last.host())
                : QStringLiteral("The host \"%1\" the provider sent the download to cannot be "
                                 "found")
                      .arg(last.host()));
    long osError = 0;
    curl_easy_getinfo(c, CURLINFO_OS_ERRNO, &osError);
    if (result == CURLE_COULDNT_CONNECT && osError == ECONNREFUSED)
        return fail(QStringLiteral("The provider host \"%1\" refused the connection on port %2: "
                                   "check the provider host in Preferences")
                        .arg(last.host())
                        .arg(last.port(80)));
    if (result == CURLE_OPERATION_TIMEDOUT)
        return fail(QStringLiteral("The download from \"%1\" timed out: %2").arg(host, curlSays));
    if (result != CURLE_OK)
        return fail(host.isEmpty()
                ? QStringLiteral("Cannot read %1: %2").arg(url, curlSays)
                : QStringLiteral("Cannot download from \"%1\": %2").arg(host, curlSays));

    if (address.startsWith("http")) {
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299)
            return fail(QStringLiteral("The guide provider answered \"%1\" for %2")
                            .arg(statusOf(statusLine, status), last.toDisplayString()));
    }
    if (sink.body.isEmpty())
        return fail(QStringLiteral("The guide provider answered %1 with nothing")
                        .arg(last.toDisplayString()));
    return sink.body;
}

QString kindOf(const QByteArray &answer)
{
    const QByteArray start = answer.left(4096).trimmed();
    const QByteArray lower = start.toLower();
    if (lower.startsWith("<!doctype html") || lower.startsWith("<html")
        || (lower.startsWith('<') && lower.contains("<body"))) {
        static const QRegularExpression title(
            QStringLiteral("<title[^>]*>([^<]*)<"), QRegularExpression::CaseInsensitiveOption);
        const QString named
            = printable(title.match(QString::fromLatin1(start)).captured(1).toLatin1(), 80);
        return named.isEmpty() ? QStringLiteral("an HTML page")
                               : QStringLiteral("an HTML page titled \"%1\"").arg(named);
    }
    if (lower.startsWith("<?xml") || lower.startsWith("<tv"))
        return QStringLiteral("an XML document");
    if (answer.startsWith("\x1f\x8b"))
        return QStringLiteral("a gzip file");
    const QByteArray firstLine = start.left(start.indexOf('\n')).left(60);
    const bool text = std::all_of(firstLine.begin(), firstLine.end(),
        [](char c) { return (c >= 0x20 && c < 0x7f) || c == '\t' || c == '\r'; });
    if (text && !firstLine.isEmpty())
        return QStringLiteral("text beginning \"%1\"").arg(printable(firstLine, 60));
    return QStringLiteral("%1 bytes of an unknown kind").arg(answer.size());
}

} // namespace Download
