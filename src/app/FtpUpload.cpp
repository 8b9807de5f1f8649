#include "app/FtpUpload.h"

#include <QUrl>

namespace FtpUpload
{

QString destinationURL(const QString &ftpURL, const QString &fileName)
{
    QString url = ftpURL;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + fileName;
}

namespace
{

// Where the authority of a URL text begins and ends, and its last "@" (-1: none).
struct Authority {
    qsizetype begin = -1;
    qsizetype end = -1;
    qsizetype at = -1;
};

Authority authorityOf(const QString &url)
{
    Authority a;
    const qsizetype scheme = url.indexOf(QStringLiteral("://"));
    if (scheme < 0)
        return a;
    a.begin = scheme + 3;
    a.end = a.begin;
    while (a.end < url.size() && !QStringLiteral("/?#").contains(url.at(a.end)))
        ++a.end;
    for (qsizetype i = a.begin; i < a.end; ++i)
        if (url.at(i) == QLatin1Char('@'))
            a.at = i;
    return a;
}

} // namespace

UrlParts splitPassword(const QString &ftpURL)
{
    const Authority a = authorityOf(ftpURL);
    const qsizetype colon = a.at < 0 ? -1 : ftpURL.indexOf(QLatin1Char(':'), a.begin);
    if (colon < 0 || colon > a.at)
        return { ftpURL, QString() };
    return { ftpURL.left(colon) + ftpURL.mid(a.at),
        QUrl::fromPercentEncoding(ftpURL.mid(colon + 1, a.at - colon - 1).toUtf8()) };
}

QString joinPassword(const QString &url, const QString &password)
{
    const Authority a = authorityOf(url);
    if (password.isEmpty() || a.begin < 0)
        return url;
    const QString encoded
        = QString::fromLatin1(QUrl::toPercentEncoding(password, QByteArrayLiteral("!$&'()*+,;=")));
    if (a.at < 0)
        return url.left(a.begin) + QLatin1Char(':') + encoded + QLatin1Char('@') + url.mid(a.begin);
    const qsizetype colon = url.indexOf(QLatin1Char(':'), a.begin);
    const qsizetype userEnd = colon >= 0 && colon < a.at ? colon : a.at;
    return url.left(userEnd) + QLatin1Char(':') + encoded + url.mid(a.at);
}

} // namespace FtpUpload
