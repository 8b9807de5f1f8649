#include "app/Download.h"
#include "app/EPGController.h"
#include "support/TempHome.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

// What /bin/sh makes of `word` as one argument.
QString shellReads(const QString &word)
{
    QProcess sh;
    sh.start("/bin/sh", { "-c", "printf '%s|' " + word });
    sh.waitForFinished();
    return QString::fromUtf8(sh.readAllStandardOutput());
}

} // namespace

TEST(FixLocationForKR, RegionNamesBecomeTheProvidersKeys)
{
    const std::pair<const char *, const char *> cases[] = {
        { "Sydney", "Sydney" },
        { "Central Coast", "CentralCoastNSW" },
        { "Northern NSW (North)", "NorthernNSW" },
        { "Northern NSW (South)", "NorthernNSW" },
        { "Mildura/Sunraysia", "MilduraSunraysia" },
        { "Western VIC", "WesternVictoria" },
        { "Eastern VIC", "EasternVictoria" },
        { "Gold Coast", "GoldCoast" },
        // "and" goes wherever it stands, case-sensitively.
        { "Queensland", "Queensl" },
        { "Riverland", "Riverl" },
        { "AND Andandover", "ANDAndover" },
        { "Spencer Gulf", "SpencerGulf" },
        { "", "" },
    };
    for (const auto &[region, key] : cases)
        EXPECT_EQ(EPGController::fixLocationForKR(region), key) << region;
    // A region typed by hand cannot turn the rest of the archive's address into a query.
    EXPECT_EQ(EPGController::archiveURL("", "h", "Albury/Wodonga?x#y"),
        "http://h/myxmltv/xmltvAlbury/Wodonga%3Fx%23y.zip");
}

// The grid pages' command line quotes the script and file paths.
TEST(GridCommand, EveryPathReachesTheShellAsOneUnchangedWord)
{
    const QStringList nasty = { "plain", "with blank", "it's", "$HOME", "`id`", "a;b", "\"q\"",
        "back\\slash", "*", "new\nline", "" };
    for (const QString &text : nasty)
        EXPECT_EQ(shellReads(EPGController::shellQuote(text)), text + "|") << text.toStdString();
}

TEST(Download, LocalFilesAndRefusedSchemes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(writeFile(dir.path() + "/a.zip", "PK-bytes"));
    QString why;
    EXPECT_EQ(Download::whole("file://" + dir.path() + "/a.zip").value_or("none"), "PK-bytes");
    EXPECT_FALSE(Download::whole("file://" + dir.path() + "/missing.zip", {}, &why));
    EXPECT_FALSE(why.isEmpty());
    EXPECT_FALSE(Download::whole("ftp://127.0.0.1:1/x.zip", {}, &why));
    ASSERT_TRUE(writeFile(dir.path() + "/empty.zip", ""));
    EXPECT_FALSE(Download::whole("file://" + dir.path() + "/empty.zip"));
    Download::Limits small;
    small.maxBytes = 4;
    EXPECT_FALSE(Download::whole("file://" + dir.path() + "/a.zip", small));
}
