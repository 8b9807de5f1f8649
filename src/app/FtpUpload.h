#pragma once

#include <QString>

// Where the FTP branch of the upload sends a day file.
namespace FtpUpload
{

// The destination of one file: the "FTP URL" setting, "/" appended when it lacks one, and
// the file name. A folder URL written with or without its final "/" leads to the same place.
QString destinationURL(const QString &ftpURL, const QString &fileName);

// The "FTP URL" as the preferences show it: the URL without its password, and the password
// (decoded) apart, so that it can be shown masked. joinPassword puts it back where it
// stood, percent-encoding only what the URL cannot hold as it is, so that an unedited
// value is stored unchanged. A text that is no URL keeps no password apart.
struct UrlParts {
    QString url;
    QString password;
};
UrlParts splitPassword(const QString &ftpURL);
QString joinPassword(const QString &url, const QString &password);

} // namespace FtpUpload
