#include "app/Download.h"
#include "app/EPGController.h"
#include "app/GrabberProgress.h"
#include "support/TempHome.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

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
}

TEST(ArchiveURL, ProviderChoosesThePath)
{
    EXPECT_EQ(EPGController::archiveURL("", "guide.example:8080", "Sydney"),
        "http://guide.example:8080/myxmltv/xmltvSydney.zip");
    EXPECT_EQ(EPGController::archiveURL("Korrin2", "h", "Central Coast"),
        "http://h/dwxmltv/xmltvCentralCoastNSW.zip");
    EXPECT_EQ(
        EPGController::archiveURL("korrin2", "h", "Sydney"), "http://h/myxmltv/xmltvSydney.zip");
    EXPECT_EQ(EPGController::archiveURL("Other", "h", "Northern NSW (South)"),
        "http://h/myxmltv/xmltvNorthernNSW.zip");
    // A region typed by hand cannot turn the rest into a query or fragment.
    EXPECT_EQ(EPGController::archiveURL("", "h", "Albury/Wodonga?x#y"),
        "http://h/myxmltv/xmltvAlbury/Wodonga%3Fx%23y.zip");
}

TEST(GridCommand, EveryPathReachesTheShellAsOneUnchangedWord)
{
    const QStringList nasty = { "plain", "with blank", "it's", "$HOME", "`id`", "a;b", "\"q\"",
        "back\\slash", "*", "new\nline", "" };
    for (const QString &text : nasty)
        EXPECT_EQ(shellReads(EPGController::shellQuote(text)), text + "|") << text.toStdString();

    EXPECT_EQ(EPGController::gridCommand("/opt/p/xmltv2html.rb", "20261205.xml"),
        "/usr/bin/ruby '/opt/p/xmltv2html.rb' < '20261205.xml' > '20261205.html'");
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

TEST(GrabberProgress, CountsDotsPerChannelAcrossChunks)
{
    struct Case {
        const char *name;
        std::vector<QByteArray> chunks;
        std::vector<const char *> lines; // the "Number of channels" lines, in order
        std::optional<float> percent; // after the last chunk
    };
    const Case cases[] = {
        { "ten dots of twenty", { "Fetching 20\n", "..........\n" }, { "20" }, 50.0f },
        { "thirty dots: not capped", { "Fetching 20\n..........", "....................\n" },
          { "20" }, 150.0f },
        { "dots before the count count too", { "...", "Fetching 03\n", "..." }, { "03" }, 200.0f },
        { "a second count replaces the first", { "Fetching 04\n..", "Fetching 02\n.." }, { "04", "02" },
          200.0f },
        { "no count yet: no progress", { "Loading channels\n", "...." }, {}, std::nullopt },
        { "count cut by the chunk end waits for a later one", { "Fetching 2", "0\n.........." }, {},
          std::nullopt },
        { "00 shows 0", { "Fetching 00\n...." }, { "00" }, 0.0f },
        { "not a number shows 0", { "Fetching xy\n...." }, { "xy" }, 0.0f },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        GrabberProgress progress;
        std::vector<QString> lines;
        GrabberProgress::Step step;
        for (const QByteArray &chunk : c.chunks) {
            step = progress.feed(chunk);
            if (step.channelsLine)
                lines.push_back(*step.channelsLine);
        }
        ASSERT_EQ(lines.size(), c.lines.size());
        for (size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i], QString("Number of channels: %1\n").arg(c.lines[i]));
        EXPECT_EQ(step.percent, c.percent);
    }
}
