#include "app/FtpUpload.h"

#include "app/StatusLog.h"
#include "device/PublishPicture.h"

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

bool uploadPath(const QString &localPath, const QString &ftpURL, StatusLog &log)
{
    const QString fileName = localPath.section(QLatin1Char('/'), -1);
    PublishPicture publisher;
    const bool stored = publisher.publish(localPath, QUrl(destinationURL(ftpURL, fileName)));
    log.printStatus(stored ? QStringLiteral("Done\n") : QStringLiteral("Failed\n"));
    return stored;
}

} // namespace FtpUpload
