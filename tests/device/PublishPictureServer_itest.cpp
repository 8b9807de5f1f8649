#include "app/EPGController.h"
#include "app/FtpUpload.h"
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
const QString kUser = QStringLiteral("pvr user");
const QString kPassword = QStringLiteral("p@ss:w/rd%1");
const QString kAuth = QStringLiteral("pvr%20user:p%40ss%3Aw%2Frd%251");

class RealServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        DefaultTimeout = 10;
        root = home.path() + "/ftproot";
        ASSERT_TRUE(QDir().mkpath(root + "/epg/nested/deeper"));
        server = std::make_unique<PyFtpServer>(
            QStringLiteral(PALLARO_TEST_DATA "/device/ftp_server.py"), root, kUser, kPassword);
        ASSERT_GT(server->port(), 0) << "pyftpdlib did not start";
        for (const char *name : { "20261205.tgd", "20261206.tgd" }) {
            const QString path = home.path() + "/output/" + name;
            ASSERT_TRUE(writeFile(path, QByteArray("day ") + name + QByteArray(4000, '.')));
            days << path;
        }
    }

    void TearDown() override
    {
        if (HasFailure())
            std::cerr << "system log:\n" << log.lines().join("\n").toStdString() << "\n";
    }

    QString folderURL(const QString &folder, const QString &auth = kAuth) const
    {
        return QStringLiteral("ftp://%1@127.0.0.1:%2%3")
            .arg(auth, QString::number(server->port()), folder);
    }

    QStringList serverFiles(const QString &folder) const
    {
        return QDir(root + folder).entryList(QDir::Files, QDir::Name);
    }

    TempHome home;
    SystemLogCapture log;
    QString root;
    std::unique_ptr<PyFtpServer> server;
    QStringList days;
    StatusLog status;
    EPGController controller { &status };

    // One day file to the folder URL, as the upload loop sends it.
    bool upload(const QString &day, const QString &folder)
    {
        return controller.uploadPath(
            day, QUrl(FtpUpload::destinationURL(folder, day.section('/', -1))));
    }
};

TEST_F(RealServer, StoresEveryDayUnderItsNameReplacingTheOlderOne)
{
    ASSERT_TRUE(writeFile(root + "/epg/20261205.tgd", "an older, longer version of the day"));
    for (const QString &day : days)
        EXPECT_TRUE(upload(day, folderURL("/epg")));

    EXPECT_EQ(status.text(), "Done\nDone\n");
    EXPECT_EQ(serverFiles("/epg"), (QStringList { "20261205.tgd", "20261206.tgd" }));
    for (const QString &day : days)
        EXPECT_EQ(readFile(root + "/epg/" + QFileInfo(day).fileName()), readFile(day));
    EXPECT_EQ(log.lines().count("uploadresult: 0"), 2);
    for (const QString &line : log.lines())
        EXPECT_FALSE(line.contains("p@ss") || line.contains("p%40ss")) << line.toStdString();
}

TEST_F(RealServer, FolderUrlWithOrWithoutFinalSlashAndNestedFolders)
{
    EXPECT_TRUE(upload(days[0], folderURL("/epg/")));
    EXPECT_TRUE(upload(days[1], folderURL("/epg/nested/deeper")));
    EXPECT_TRUE(upload(days[1], folderURL("")));
    EXPECT_EQ(status.text(), "Done\nDone\nDone\n");
    EXPECT_EQ(serverFiles("/epg"), QStringList { "20261205.tgd" });
    EXPECT_EQ(serverFiles("/epg/nested/deeper"), QStringList { "20261206.tgd" });
    EXPECT_EQ(serverFiles(""), QStringList { "20261206.tgd" });
}

TEST_F(RealServer, WrongPasswordOrMissingFolderIsReportedAsFailed)
{
    EXPECT_FALSE(upload(days[0], folderURL("/epg", "pvr%20user:nope")));
    EXPECT_TRUE(log.lines().contains("pass response: 530"));

    EXPECT_FALSE(upload(days[0], folderURL("/missing")));
    EXPECT_TRUE(log.lines().contains("CWD error"));

    // A local file that is not there.
    EXPECT_FALSE(
        upload(home.path() + "/output/20261299.tgd", folderURL("/epg")));
    EXPECT_TRUE(log.lines().contains("file error"));

    EXPECT_EQ(status.text(), "Failed\nFailed\nFailed\n");
    EXPECT_TRUE(serverFiles("/epg").isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root + "/missing"));
}

TEST_F(RealServer, LargeFileArrivesWhole)
{
    QByteArray big(8 * 1024 * 1024 + 123, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 131) >> 3);
    const QString path = home.path() + "/output/20261207.tgd";
    ASSERT_TRUE(writeFile(path, big));
    PublishPicture publisher;
    EXPECT_TRUE(publisher.publish(path, QUrl(folderURL("/epg/20261207.tgd"))));
    EXPECT_EQ(readFile(root + "/epg/20261207.tgd"), big);
    EXPECT_EQ(serverFiles("/epg"), QStringList { "20261207.tgd" });
}

} // namespace
