#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <optional>

// A blocking download of a whole resource (http:// or file://) into memory.
namespace Download {

struct Limits {
    long connectSeconds = 20; // time to establish the connection
    long totalSeconds = 300; // time for the whole transfer
    long stallSeconds = 30; // time without a byte arriving, from the start or the last byte
    qint64 maxBytes = 512 * 1024 * 1024; // larger answers are refused
    // When it turns true, the transfer ends within about a second.
    const std::atomic<bool> *cancel = nullptr;
};

// The body of a successful answer. Nothing when the transfer failed, the HTTP status lay
// outside 200-299, or the answer was empty: "the download brought nothing". Redirects are
// followed only to http:// URLs. A cancelled or stalled transfer brings nothing either. `why`
// receives one line a person can act on: the host that cannot be found or refused the
// connection, the HTTP status line with the URL, the host that stalled. Any thread.
std::optional<QByteArray> whole(
    const QString &url, const Limits &limits = {}, QString *why = nullptr);

// What an answer looks like, for saying what came instead of an archive: "an HTML page
// titled ...", "an XML document", "text beginning ...".
QString kindOf(const QByteArray &answer);

} // namespace Download
