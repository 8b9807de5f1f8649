#pragma once

#include <QString>

// Where the FTP branch of the upload sends a day file.
namespace FtpUpload
{

// The destination of one file: the "FTP URL" setting, "/" appended when it lacks one, and
// the file name. A folder URL written with or without its final "/" leads to the same place.
QString destinationURL(const QString &ftpURL, const QString &fileName);

} // namespace FtpUpload
