#include "app/FtpUpload.h"
#include "app/GuideUpload.h"
#include "base/StatusLog.h"
#include "device/PublishPicture.h"
#include "device/PyFtpServer.h"
#include "support/TempHome.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>
#include <iostream>

namespace
{

// The password holds characters that must be percent-encoded in a URL.
const QString kAuth = QStringLiteral("pvr%20user:p%40ss%3Aw%2Frd%251");

class RealServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DefaultTimeout = 10;
        root = home.path() + "/ftproot";
        ASSERT_TRUE(QDir().mkpath(root + "/epg/nested/deeper"));
        server = std::make_unique<PyFtpServer>(QStringLiteral(PALLARO_TEST_DATA "/device/ftp_server.py"),
            root, QStringLiteral("pvr user"), QStringLiteral("p@ss:w/rd%1"));
        ASSERT_GT(server->port(), 0) << "pyftpdlib did not start";
    }
    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "system log:\n" << log.lines().join("\n").toStdString() << "\n";
    }

    QString day(const QString &name, const QByteArray &contents)
    {
        const QString path = home.path() + "/output/" + name;
        EXPECT_TRUE(writeFile(path, contents));
        return path;
    }
    // One day file to the folder URL, as the upload loop sends it.
    bool upload(const QString &path, const QString &folder, const QString &auth = kAuth)
    {
        const QString url = QStringLiteral("ftp://%1@127.0.0.1:%2%3").arg(auth, QString::number(server->port()), folder);
        return upload_.uploadPath(path, QUrl(FtpUpload::destinationURL(url, path.section('/', -1))))
            .sent();
    }
    QStringList serverFiles(const QString &folder) const
    {
        return QDir(root + folder).entryList(QDir::Files, QDir::Name);
    }

    TempHome home;
    SystemLogCapture log;
    QString root;
    std::unique_ptr<PyFtpServer> server;
    StatusLog status;
    GuideUpload upload_ { &status };
};

TEST_F(RealServer, StoresEveryDayUnderItsNameInAnyFolder)
{
    ASSERT_TRUE(writeFile(root + "/epg/20261205.tgd", "an older, longer version of the day"));
    QByteArray big(8 * 1024 * 1024 + 123, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) >> 3);
    const QString first = day("20261205.tgd", QByteArray("day one").repeated(600));
    const QString second = day("20261206.tgd", big);
    EXPECT_TRUE(upload(first, "/epg"));
    EXPECT_TRUE(upload(second, "/epg/"));
    EXPECT_TRUE(upload(first, "/epg/nested/deeper"));
    EXPECT_TRUE(upload(second, ""));
    EXPECT_EQ(status.text(), "Done\nDone\nDone\nDone\n");
    EXPECT_EQ(serverFiles("/epg"), (QStringList { "20261205.tgd", "20261206.tgd" }));
    EXPECT_EQ(readFile(root + "/epg/20261205.tgd"), readFile(first));
    EXPECT_EQ(readFile(root + "/epg/20261206.tgd"), big);
    EXPECT_EQ(serverFiles("/epg/nested/deeper"), QStringList { "20261205.tgd" });
    EXPECT_EQ(serverFiles(""), QStringList { "20261206.tgd" });
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains("p@ss") || line.contains("p%40ss")) << line.toStdString();
}

TEST_F(RealServer, WrongPasswordMissingFolderOrFileIsReportedAsFailed)
{
    const QString path = day("20261205.tgd", "a day");
    EXPECT_FALSE(upload(path, "/epg", "pvr%20user:nope"));
    EXPECT_FALSE(upload(path, "/missing"));
    EXPECT_FALSE(upload(home.path() + "/output/20261299.tgd", "/epg"));
    // Each failure says why: the server's own words, or what went wrong on this side.
    const QString at = "127.0.0.1:" + QString::number(server->port());
    EXPECT_EQ(status.text(),
        "Failed\nThe FTP server " + at
            + " refused the login: \"530 Authentication failed.\"\n"
              "Failed\nThe FTP server "
            + at
            + " answered CWD with \"550 No such file or directory.\"\n"
              "Failed\nThe exchange with the FTP server "
            + at + " failed at reading the day file: No such file or directory\n");
    for (const char *line : { "pass response: 530", "CWD error", "file error" })
        EXPECT_TRUE(log.lines().contains(line)) << line;
    EXPECT_TRUE(serverFiles("/epg").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root + "/missing"));
}

} // namespace
