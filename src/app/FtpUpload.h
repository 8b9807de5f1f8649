#pragma once

#include <QString>

class StatusLog;

// Sending one day file by FTP, the FTP branch of the upload loop.
namespace FtpUpload
{

// The destination of one file: the "FTP URL" setting, "/" appended when it lacks one, and
// the file name. A folder URL written with or without its final "/" leads to the same place.
QString destinationURL(const QString &ftpURL, const QString &fileName);

// Publishes localPath to destinationURL(ftpURL, its file name) with a new PublishPicture and
// appends "Done\n" when the file ended in place on the server, "Failed\n" otherwise.
// Blocks the calling thread for the whole exchange. Answers whether the file is in place.
bool uploadPath(const QString &localPath, const QString &ftpURL, StatusLog &log);

} // namespace FtpUpload
