// --mark and --unmark end to end, and writers that meet in the data folder.
#include "base/Clock.h"
#include "base/Paths.h"
#include "support/AppFixture.h"
#include "support/FixedClock.h"
#include "ui/KeywordController.h"
#include "ui/TGDPickerController.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace
{

QByteArray tgdLine(const char *channel, const char *start, const char *title)
{
    return QByteArray(channel) + "\t" + start + "\t60\t" + title + "\t[News]\t\tPG\tN\r\n";
}

// The record field of the programme at `start` on `channel` in the day file, as written.
QString fieldOf(const QString &dayFile, const QString &channel, const QString &start)
{
    for (const QByteArray &line : readFile(dayFile).split('\n')) {
        const QList<QByteArray> f = line.trimmed().split('\t');
        if (f.size() == 8 && f[0] == channel.toLatin1() && f[1] == start.toLatin1())
            return QString::fromLatin1(f[7]);
    }
    return "missing";
}

TEST(MarkCommand, DecidesByStartAndChannelAndAnswersLikeGrep)
{
    TempHome home;
    QString out, err;
    EXPECT_EQ(runPallaro({ "--mark", "2026-12-08 20:30", "7" }, {}, &out, &err), 2);
    EXPECT_TRUE(err.startsWith("pallaro: no output folder")) << err.toStdString();

    const QString day = Paths::outputFolder() + "/20261208.tgd";
    ASSERT_TRUE(writeFile(day,
        tgdLine("7", "2026-12-08 20:30", "Seven News") + tgdLine("9", "2026-12-08 20:30", "Quiz")));
    const struct {
        QStringList arguments;
        int status;
        const char *field; // of Seven News afterwards
        const char *said; // on standard error (or, for 0, on standard output)
    } rows[] = {
        { { "--mark", "2026-12-08 20:30", "7", "--pad", "3,7" }, 0, "-03 +07",
            "2026-12-08 20:30\t7\tSeven News\t-03 +07" },
        { { "--unmark", "2026-12-08 20:30", "SEVEN" }, 0, "N", "Seven News\tN" },
        { { "--mark", "2026-12-08 20:30", "seven" }, 0, "Y", "Seven News\tY" },
        { { "--unmark", "2026-12-08 20:31", "7" }, 1, "Y", "no programme starts at" },
        { { "--mark", "2026-12-08 20:30", "Ten" }, 1, "Y", "no programme starts at" },
        { { "--mark", "2026-12-08 24:30", "7" }, 2, "Y", "\"YYYY-MM-DD HH:MM\"" },
        { { "--mark", "tomorrow", "7" }, 2, "Y", "\"YYYY-MM-DD HH:MM\"" },
        { { "--mark", "2026-12-08 20:30" }, 2, "Y", "CHANNEL" },
        { { "--mark", "2026-12-08 20:30", "7", "--pad", "3" }, 2, "Y", "BEFORE,AFTER" },
        { { "--mark", "2026-12-08 20:30", "7", "--pad", "3,100" }, 2, "Y", "BEFORE,AFTER" },
        { { "--unmark", "2026-12-08 20:30", "7", "--pad", "3,7" }, 2, "Y", "--pad goes with" },
        { { "--pad", "3,7" }, 2, "Y", "--pad goes with" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.arguments.join(' ').toStdString());
        EXPECT_EQ(runPallaro(r.arguments, {}, &out, &err), r.status) << err.toStdString();
        EXPECT_TRUE((r.status == 0 ? out : err).contains(r.said))
            << out.toStdString() << err.toStdString();
        if (r.status != 0) {
            EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
        }
        EXPECT_EQ(fieldOf(day, "7", "2026-12-08 20:30"), r.field);
        EXPECT_EQ(fieldOf(day, "9", "2026-12-08 20:30"), "N");
    }
}

// The sample guide's XMLTV for Sydney, from today.
QString sampleGuide(const QString &folder)
{
    makeSample(folder);
    QProcess unzip;
    unzip.setWorkingDirectory(folder);
    unzip.start("/usr/bin/unzip", { "-o", folder + "/myxmltv/xmltvSydney.zip" });
    unzip.waitForFinished();
    return folder + "/xmltv.xml";
}

// A reload and a conversion into the output folder, started together many times: each
// waits for the other, and the hand mark is on the new day file every time.
TEST(DataFolderWriters, AReloadRacingAConversionLosesNoMark)
{
    TempHome home;
    QTemporaryDir provider;
    const QString guide = sampleGuide(provider.path());
    ASSERT_TRUE(QFileInfo::exists(guide));
    const QString output = Paths::outputFolder();
    QString out, err;
    ASSERT_EQ(runPallaro({ "--convert", guide, output }, {}, &out, &err), 0) << err.toStdString();
    const QString day = output + "/" + Clock::today().addDays(1).toString("yyyyMMdd") + ".tgd";
    const QList<QByteArray> first = readFile(day).split('\n').first().split('\t');
    ASSERT_EQ(first.size(), 8);
    const QString channel = QString::fromLatin1(first[0]), start = QString::fromLatin1(first[1]);
    ASSERT_EQ(runPallaro({ "--mark", start, channel, "--pad", "2,4" }, {}, &out, &err), 0)
        << err.toStdString();
    ASSERT_EQ(fieldOf(day, channel, start), "-02 +04");

    const QString pallaro = qEnvironmentVariable("PALLARO_EXECUTABLE");
    for (int run = 0; run < 8; ++run) {
        SCOPED_TRACE(run);
        QProcess reload, convert;
        useFixedClock(reload);
        useFixedClock(convert);
        reload.start(pallaro, { "--headless", "--reload" });
        convert.start(pallaro, { "--convert", guide, output });
        ASSERT_TRUE(reload.waitForFinished(120000) && convert.waitForFinished(120000));
        EXPECT_EQ(reload.exitCode(), 0) << reload.readAllStandardError().toStdString();
        EXPECT_EQ(convert.exitCode(), 0) << convert.readAllStandardError().toStdString();
        EXPECT_EQ(fieldOf(day, channel, start), "-02 +04");
    }
    // A conversion into another folder stays a plain one: no marks.
    QTemporaryDir elsewhere;
    ASSERT_EQ(runPallaro({ "--convert", guide, elsewhere.path() }, {}, &out, &err), 0);
    EXPECT_EQ(fieldOf(elsewhere.path() + "/" + QFileInfo(day).fileName(), channel, start), "N");
}

// A window holds a tick its prompt store has not written yet when another program converts
// a guide into the output folder: the window's next write keeps both the tick and the new
// guide, instead of one overwriting the other.
TEST(DataFolderWriters, AConversionWhileAWindowHoldsATickLosesNeither)
{
    AppFixture window;
    QTemporaryDir provider;
    const QString guide = sampleGuide(provider.path());
    const QString output = Paths::outputFolder();
    QString out, err;
    ASSERT_EQ(runPallaro({ "--convert", guide, output }, {}, &out, &err), 0) << err.toStdString();
    window.controller.awakeFromNib();
    window.controller.loadExistingTGDs();
    TGDPickerController table;
    KeywordController kwc(&window.slc, &table);
    window.slc.setKeywordController(&kwc);
    kwc.loadRules();
    ASSERT_TRUE(kwc.runReloadCycle(QString()));
    kwc.setEditStoreDelay(60000);
    const QString day = output + "/" + Clock::today().addDays(1).toString("yyyyMMdd") + ".tgd";
    const QList<QByteArray> first = readFile(day).split('\n').first().split('\t');
    ASSERT_EQ(first.size(), 8);
    const QString channel = QString::fromLatin1(first[0]), start = QString::fromLatin1(first[1]);
    TGDEntryPtr ticked;
    for (const TGDEntryPtr &e : kwc.allTGDEntries())
        if (e->channel == channel && e->rawStart == start)
            ticked = e;
    ASSERT_TRUE(ticked);
    kwc.editEntry(ticked, [](TGDEntry &e) {
        e.record = true;
        e.extStart = 1;
        e.extStop = 2;
    });
    kwc.waitForIdle();

    // The conversion brings a guide the window has not read: the day's second programme
    // retitled.
    const QByteArray second = readFile(day).split('\n').at(1).split('\t').value(3);
    ASSERT_FALSE(second.isEmpty());
    QByteArray changed = readFile(guide);
    changed.replace(">" + second + "</title>", ">Retitled By The New Guide</title>");
    ASSERT_TRUE(writeFile(guide, changed));
    ASSERT_EQ(runPallaro({ "--convert", guide, output }, {}, &out, &err), 0) << err.toStdString();
    EXPECT_EQ(fieldOf(day, channel, start), "N"); // the window's tick is not on disk yet

    kwc.flushWrites();
    EXPECT_EQ(fieldOf(day, channel, start), "-01 +02");
    EXPECT_TRUE(readFile(day).contains("\tRetitled By The New Guide\t"));
    // What the window holds is what the disk holds: its next cycle changes nothing.
    const QByteArray written = readFile(day);
    ASSERT_TRUE(kwc.runReloadCycle(QString()));
    EXPECT_EQ(readFile(day), written);
}

} // namespace
