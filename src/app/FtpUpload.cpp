#include "app/FtpUpload.h"

namespace FtpUpload
{

QString destinationURL(const QString &ftpURL, const QString &fileName)
{
    QString url = ftpURL;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + fileName;
}

} // namespace FtpUpload
