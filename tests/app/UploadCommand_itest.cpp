#include "support/TempHome.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

QString day(int days)
{
    return QDate::currentDate().addDays(days).toString("yyyyMMdd");
}

QStringList environmentOf(const TempHome &home)
{
    return { "HOME=" + home.path(), "XDG_DATA_HOME=" + home.path() + "/.local/share",
        "XDG_CONFIG_HOME=" + home.path() + "/.config" };
}

int runPvrSim(const QStringList &arguments, QString *out)
{
    QProcess p;
    p.start(qEnvironmentVariable("PALLARO_PVR_SIM"), arguments);
    if (!p.waitForFinished(30000))
        return -1;
    *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitCode();
}

} // namespace

TEST(UploadCommand, HeadlessUploadToTheSoftwareRecorder)
{
    TempHome home;
    QTemporaryDir disk;
    const QByteArray first = QByteArray("a day of guide\r\n").repeated(9000);
    const QByteArray second("another day\r\n");
    ASSERT_TRUE(writeFile(home.supportFolder() + "/output/" + day(1) + ".tgd", first));
    ASSERT_TRUE(writeFile(home.supportFolder() + "/output/" + day(2) + ".tgd", second));

    QString out, err;
    const int status = runPallaro(
        { "--headless", "--upload", "--pvr-sim", disk.path() }, environmentOf(home), &out, &err);
    EXPECT_EQ(status, 0) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(out.contains("Connected to Topfield\n"));
    EXPECT_TRUE(out.contains("Uploading: " + day(1)
        + ".tgd...Done\n"
          "Uploading: "
        + day(2) + ".tgd...Done\n"))
        << out.toStdString();
    EXPECT_TRUE(out.endsWith("Checking number of TGD files on Topfield: Correct!\n"))
        << out.toStdString();
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + day(1) + ".tgd"), first);
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/" + day(2) + ".tgd"), second);

    // pvr-sim lists what the recorder holds, as a recorder's listing.
    QString listing;
    EXPECT_EQ(runPvrSim({ disk.path(), "--list", "\\ProgramFiles\\" }, &listing), 0);
    EXPECT_TRUE(listing.contains("f " + day(1) + ".tgd\t140.6 KB\t")) << listing.toStdString();
    EXPECT_TRUE(listing.contains("f " + day(2) + ".tgd\t13 B\t")) << listing.toStdString();
}

TEST(UploadCommand, FailuresExitNonZero)
{
    TempHome home;
    QTemporaryDir disk;
    ASSERT_TRUE(writeFile(home.supportFolder() + "/output/" + day(1) + ".tgd", "x"));
    QString out;
    // A recorder without a disk is no recorder at all.
    EXPECT_EQ(runPallaro({ "--headless", "--upload", "--pvr-sim", disk.path() + "/none" },
                  environmentOf(home), &out),
        1);
    EXPECT_TRUE(out.endsWith("Error in connecting to Topfield\n")) << out.toStdString();

    // A folder the recorder lacks: the file fails and the listing is refused.
    EXPECT_EQ(runPallaro({ "--set", "uploadFolder=DataFiles,EPG" }, environmentOf(home), &out), 0);
    EXPECT_EQ(runPallaro({ "--headless", "--upload", "--pvr-sim", disk.path() },
                  environmentOf(home), &out),
        1);
    EXPECT_TRUE(out.contains("Uploading: " + day(1) + ".tgd...Failed\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("Error on last command.")) << out.toStdString();

    QString help;
    EXPECT_EQ(runPallaro({ "--help" }, {}, &help), 0);
    EXPECT_TRUE(help.contains("--pvr-sim FOLDER"));
    EXPECT_TRUE(help.contains("--upload"));
}

TEST(UploadCommand, PvrSimSendsAndLists)
{
    QTemporaryDir disk, local;
    const QString file = local.path() + "/20300101.tgd";
    ASSERT_TRUE(writeFile(file, QByteArray(70000, 'z')));
    QString out;
    EXPECT_EQ(
        runPvrSim(
            { disk.path(), "--full-speed", "--send", file, "--list", "\\ProgramFiles\\" }, &out),
        0);
    EXPECT_TRUE(out.contains("sent " + file + ": Done\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("f 20300101.tgd\t68.4 KB\t")) << out.toStdString();
    EXPECT_EQ(readFile(disk.path() + "/ProgramFiles/20300101.tgd"), QByteArray(70000, 'z'));
    EXPECT_EQ(runPvrSim({ disk.path(), "--list", "\\Nowhere\\" }, &out), 1);
}
