#include "app/Download.h"

#include <QElapsedTimer>
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
    Watch watch;
    watch.cancel = limits.cancel;
    watch.stallMs = limits.stallSeconds * 1000;
    watch.sinceData.start();
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &checkProgress);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &watch);
    curl_easy_setopt(c, CURLOPT_USERAGENT, "Pallaro");

    const CURLcode result = curl_easy_perform(c);
    if (watch.stalled)
        return fail(
            QStringLiteral("no data for %1 s: the download stalled").arg(limits.stallSeconds));
    if (sink.tooLarge)
        return fail(QStringLiteral("answer larger than %1 bytes").arg(limits.maxBytes));
    if (result != CURLE_OK)
        return fail(QString::fromUtf8(error[0] ? error : curl_easy_strerror(result)));

    if (address.startsWith("http")) {
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        if (status < 200 || status > 299)
            return fail(QStringLiteral("HTTP status %1").arg(status));
    }
    if (sink.body.isEmpty())
        return fail(QStringLiteral("empty answer"));
    return sink.body;
}

} // namespace Download
