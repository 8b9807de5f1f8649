// The script-based fetch's grabber and converter from the program folder, run through the
// real php and perl on real guides; their day files checked against the application's own
// XMLTV import of the same guide and read back by the application's day-file reader.
#include "base/Clock.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
#include "guide/XMLToEPG.h"
#include "guide/XMLTree.h"
#include "support/AppFixture.h"
#include "support/FixedClock.h"
#include "support/SmallDisk.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

namespace
{

const QString kProgramFolder = QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro/");
const QString kUkGuide = QStringLiteral(PALLARO_TEST_DATA "/app/uk/epg_2023-04-17.xml");

QString guide(const char *name)
{
    return QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + QLatin1String(name);
}

const auto byName = [](const auto &info) { return std::string(info.param.name); };

struct Outcome {
    int status = -1; // -1: crashed or timed out
    QString out, err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

QStringList files(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({ pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

class UkScriptsTest : public ::testing::Test
{
protected:
    QString support() const { return work.path(); }
    QString output() const { return support() + "/output"; }

    // The QProcess destructor kills a script that has not finished in time.
    Outcome run(const QString &program, const QStringList &arguments)
    {
        QProcess p;
        useFixedClock(p); // the converter keeps days from its own today
        p.setWorkingDirectory(support());
        p.start(program, arguments);
        Outcome r;
        if (p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit)
            r.status = p.exitCode();
        r.out = QString::fromLatin1(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    Outcome grabber() { return run("/usr/bin/php", { kProgramFolder + "getdat.php" }); }
    Outcome grab(const QString &url, const QString &channels = {})
    {
        QByteArray ini = "[source]\nurl = " + url.toUtf8() + "\n";
        if (!channels.isEmpty())
            ini += "channels = " + channels.toUtf8() + "\n";
        EXPECT_TRUE(writeFile(support() + "/getdat.ini", ini));
        return grabber();
    }
    Outcome convert(const QStringList &days = { "-days" })
    {
        return run(
            "/usr/bin/perl", QStringList { kProgramFolder + "dat2tgd.pl", "-oldtgd" } + days);
    }

    // Compares the converter's day files byte for byte with the application's import of the
    // same guide, keyed by the channels' first display names; answers how many there are.
    int expectSameAsImport(const QString &path, const QString &channels)
    {
        QHash<QString, QString> names;
        const XMLTree tree = XMLTree::treeWithURL(path).value();
        for (const XMLTree &c : tree.descendentNamed(QStringLiteral("tv"))->children())
            if (c.nameEquals("channel"))
                if (const std::optional<XMLTree> n = c.childNamed("display-name"))
                    names.insert(c.attributeNamed("id").value_or(""), n->description().trimmed());
        const QStringList wanted = channels.split(',', Qt::SkipEmptyParts)
                                       .replaceInStrings(QRegularExpression("\\s"), QString());
        XMLToEPG x;
        XMLTVProgrammeList list = x.importXML(path);
        x.fixData(list);
        std::erase_if(list, [&](const XMLTVProgramme &p) {
            return !wanted.isEmpty() && !wanted.contains(p.rawChannel.value_or(QString()));
        });
        for (XMLTVProgramme &p : list)
            p.chanName = names.value(*p.rawChannel, *p.rawChannel);
        const QString expected = work.path() + "/expected";
        EXPECT_TRUE(QDir().mkpath(expected));
        EXPECT_TRUE(x.exportTGD(list, expected).error.isEmpty());

        const QStringList days = files(output());
        EXPECT_EQ(days, files(expected));
        for (const QString &day : days)
            EXPECT_EQ(readFile(output() + "/" + day), readFile(expected + "/" + day))
                << day.toStdString();
        return int(days.size());
    }

    // Every day file of the output folder through the application's reader.
    TGDEntryList readDays()
    {
        TGDFile reader;
        for (const QString &name : files(output(), "*.tgd"))
            reader.loadTGDData(readFile(output() + "/" + name), name.left(8), true);
        return reader.getFileData();
    }

    TempHome home;
    QTemporaryDir work;
};

struct GuideCase {
    const char *name;
    QString path;
    const char *wanted; // the grabber's channel list; empty: all
    const char *zone;
    int channels; // the count the grabber shows, and the channel files it writes
    int days;
};

class RealGuide : public UkScriptsTest, public ::testing::WithParamInterface<GuideCase>
{
};

TEST_P(RealGuide, DayFilesMatchTheApplicationsImport)
{
    const GuideCase &c = GetParam();
    const LocalZone zone(c.zone);
    const Outcome g = grab("file://" + c.path, c.wanted);
    ASSERT_EQ(g.status, 0) << g.err.toStdString();
    EXPECT_EQ(g.out,
        QString("Fetching %1\n").arg(c.channels, 2, 10, QChar('0')) + QString(c.channels, '.')
            + "\n");
    EXPECT_EQ(files(support() + "/database").size(), c.channels);
    EXPECT_EQ(readFile(support() + "/cache/guide.xml"), readFile(c.path));

    const Outcome t = convert();
    ASSERT_EQ(t.status, 0) << t.err.toStdString();
    EXPECT_TRUE(t.err.isEmpty()) << t.err.toStdString();
    EXPECT_EQ(expectSameAsImport(c.path, c.wanted), c.days);
    const TGDEntryList read = readDays();
    EXPECT_FALSE(read.empty());
    for (const TGDEntryPtr &e : read) {
        EXPECT_TRUE(e->start.isValid()) << e->rawStart.toStdString();
        EXPECT_EQ(e->recordStatus, "N");
    }
}

INSTANTIATE_TEST_SUITE_P(Guides, RealGuide,
    ::testing::Values(
        // Times without offset.
        GuideCase {
            "uk_three", kUkGuide, "BBCOneEngland.uk, Channel4.uk,CBBC.uk", "Europe/London", 3, 4 },
        // +0000 on a daylight-saving change day, shown in another zone's local time.
        GuideCase { "max_no", guide("max.no_2021-03-28.xml"), "", "Australia/Sydney", 1, 2 },
        GuideCase {
            "nickelodeon", guide("nickelodeon.no_2021-12-20.xml"), "", "Europe/London", 1, 1 },
        // Mixed offsets, a named zone that is no time, -0400 across midnight.
        GuideCase { "sort", guide("sort.xml"), "", "Europe/London", 3, 3 }),
    byName);

// Values written out by hand, so the check does not rest on the import alone.
TEST_F(UkScriptsTest, AllChannelsAndAProgrammeAtMidnightInSummerTime)
{
    const LocalZone zone("Europe/London");
    // 159 channels: the count stops at 99 and 99 dots mean done.
    const Outcome g = grab("file://" + kUkGuide);
    ASSERT_EQ(g.status, 0) << g.err.toStdString();
    EXPECT_EQ(g.out, "Fetching 99\n" + QString(99, '.') + "\n");
    ASSERT_EQ(convert().status, 0);
    const TGDEntryList read = readDays();
    // 23:00 UTC is midnight in London's summer time: the next day's file.
    const auto it = std::find_if(read.begin(), read.end(), [](const TGDEntryPtr &e) {
        return e->title == "Fresh This Month" && e->rawStart == "2023-04-18 00:00";
    });
    ASSERT_NE(it, read.end());
    EXPECT_EQ(std::make_tuple((*it)->fileNameDataIsFrom, (*it)->channel, (*it)->duration,
                  (*it)->subAndCat, (*it)->rating),
        std::make_tuple(QString("20230418"), QString("4Music"), 60, QString(" []"), QString()));
}

// The script converter writes what the application's own writer writes for characters
// ISO 8859-1 lacks.
TEST_F(UkScriptsTest, ConverterWritesTheApplicationsStandIns)
{
    const QString title = QString::fromUtf8("A \u2013 \u201Cb\u201D \u2019c\u2026 \u20AC1\u2122 "
                                            "\u0141\u0153 \u017A e\u0301 \u65E5 \U0001F600 \u00E9");
    ASSERT_TRUE(writeFile(support() + "/database/001-x.dat",
        "#getdat 1\nC\tx\tX\nP\t1\t20230101200000 +0100\t20230101210000 +0100\t" + title.toUtf8()
            + "\t\t\t\t\n"));
    ASSERT_EQ(convert().status, 0);
    const QByteArray written = readFile(output() + "/20230101.tgd");
    QByteArray expected;
    tgd::appendField(expected, title);
    EXPECT_EQ(written.split('\t').value(3), expected);
}

// A disk too small for the new days leaves the old ones byte for byte: none is replaced
// before all are written.
TEST_F(UkScriptsTest, ConverterOnAFullDiskKeepsTheOldDays)
{
    const LocalZone zone("Europe/London");
    SmallDisk disk(output());
    if (!disk.mounted())
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root): " << disk.why().toStdString();
    ASSERT_EQ(grab("file://" + kUkGuide).status, 0);
    ASSERT_EQ(convert().status, 0);
    const QStringList days = files(output(), "*.tgd");
    ASSERT_GE(days.size(), 3);
    qint64 newDays = 0;
    QHash<QString, QByteArray> old;
    for (const QString &day : days) {
        const QByteArray fetched = readFile(output() + "/" + day);
        newDays += fetched.size();
        old[day] = fetched.left(fetched.indexOf('\n') + 1);
        ASSERT_TRUE(writeFile(output() + "/" + day, old[day]));
    }
    ASSERT_TRUE(disk.leaveFree(newDays / 2));

    const Outcome r = convert();
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.err.startsWith("dat2tgd: ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("No space left on device")) << r.err.toStdString();
    EXPECT_EQ(files(output()), QStringList(days) << "filler");
    for (const QString &day : days)
        EXPECT_EQ(readFile(output() + "/" + day), old[day]) << day.toStdString();
}

TEST_F(UkScriptsTest, FetchesOverHttpPlainAndCompressed)
{
    QTemporaryDir served;
    const QByteArray plain = readFile(guide("natgeo.no_2022-08-27.xml"));
    ASSERT_TRUE(writeFile(served.path() + "/guide.xml", plain));
    ASSERT_EQ(QProcess::execute("gzip", { "-k", served.path() + "/guide.xml" }), 0);
    const SampleServer server(served.path());

    QByteArray first;
    for (const char *name : { "guide.xml", "guide.xml.gz" }) {
        const Outcome g = grab(server.url(name));
        ASSERT_EQ(g.status, 0) << name << g.err.toStdString();
        EXPECT_EQ(g.out, "Fetching 01\n.\n");
        EXPECT_EQ(readFile(support() + "/cache/guide.xml"), plain);
        const QByteArray channel = readFile(support() + "/database/001-natgeo.no.dat");
        EXPECT_EQ(channel.count("\nP\t"), 24);
        if (first.isEmpty())
            first = channel;
        EXPECT_EQ(channel, first);
    }
    const Outcome missing = grab(server.url("nothere.xml"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.errLines().size(), 1);
    EXPECT_TRUE(missing.err.contains("the server answered HTTP/1.0 404"))
        << missing.err.toStdString();
}

// A real guide of eight days moved so that its third day is today.
struct DaysCase {
    const char *name;
    QStringList arguments;
    int first, last; // days from today
};

class DaysKept : public UkScriptsTest, public ::testing::WithParamInterface<DaysCase>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFile(work.path() + "/moved.xml",
            guideMovedTo(
                guide("tv_augment_automatic_type_5-2.xml"), QDate(2016, 7, 2), Clock::today())));
        ASSERT_EQ(grab("file://" + work.path() + "/moved.xml").status, 0);
    }
    static QString day(int fromToday)
    {
        return Clock::today().addDays(fromToday).toString("yyyyMMdd") + ".tgd";
    }
};

TEST_P(DaysKept, FromTodayOrAll)
{
    const DaysCase &c = GetParam();
    ASSERT_TRUE(writeFile(output() + "/19990101.tgd", "other day"));
    ASSERT_TRUE(writeFile(output() + "/" + day(0), "stale"));
    const Outcome r = convert(c.arguments);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QStringList expected { "19990101.tgd" };
    for (int d = c.first; d <= c.last; ++d)
        expected << day(d);
    EXPECT_EQ(files(output()), expected);
    EXPECT_EQ(readFile(output() + "/19990101.tgd"), "other day");
    EXPECT_NE(readFile(output() + "/" + day(0)), "stale");
    QFile::remove(output() + "/19990101.tgd");
    const TGDEntryList read = readDays();
    EXPECT_FALSE(read.empty());
    for (const TGDEntryPtr &e : read)
        EXPECT_EQ(e->rawStart.left(10).remove('-'), e->fileNameDataIsFrom);
}

INSTANTIATE_TEST_SUITE_P(Days, DaysKept,
    ::testing::Values(
        DaysCase { "no_number", { "-days" }, -2, 5 }, DaysCase { "three", { "-days", "3" }, 0, 2 }),
    byName);

// A failing script says why in one line and leaves the files of the last fetch as they were.
struct Failure {
    const char *name;
    const char *script; // "getdat" or "dat2tgd"
    const char *ini; // nullptr: no settings file; %1 the test data folder
    const char *database; // one channel file's content; nullptr: no database folder
    QStringList days; // the converter's arguments after -days
    const char *reason;
};

class ScriptFails : public UkScriptsTest, public ::testing::WithParamInterface<Failure>
{
};

TEST_P(ScriptFails, WithOneLineAndLeavesTheLastFetch)
{
    const Failure &c = GetParam();
    if (c.ini) {
        ASSERT_TRUE(writeFile(
            support() + "/getdat.ini", QString(c.ini).replace("%1", PALLARO_TEST_DATA).toUtf8()));
    }
    if (c.database) {
        ASSERT_TRUE(writeFile(support() + "/database/001-x.dat", c.database));
    }
    ASSERT_TRUE(writeFile(support() + "/cache/guide.xml", "old"));
    const bool grabs = std::string_view(c.script) == "getdat";
    const Outcome r = grabs ? grabber() : convert(QStringList { "-days" } + c.days);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QString());
    ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QString(c.script) + ": ")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
    EXPECT_EQ(
        files(support() + "/database"), c.database ? QStringList { "001-x.dat" } : QStringList());
    EXPECT_EQ(readFile(support() + "/database/001-x.dat"), QByteArray(c.database));
    EXPECT_EQ(readFile(support() + "/cache/guide.xml"), "old");
    EXPECT_EQ(QDir(support()).entryList({ "database.*" }, QDir::AllEntries), QStringList());
    EXPECT_FALSE(QFileInfo::exists(output()));
}

const char kChannelFile[]
    = "#getdat 1\nC\tx\tX\nP\t1\t20230101200000 +0100\t20230101210000 +0100\tT\t\t\t\t\n";

INSTANTIATE_TEST_SUITE_P(Failures, ScriptFails,
    ::testing::Values(
        Failure { "no_ini", "getdat", nullptr, "old", {}, "no settings file getdat.ini" },
        Failure { "not_well_formed", "getdat", "[source]\nurl = file://%1/guide/xmltv/broken.xml\n",
            "old", {}, "not well-formed XML (line 9" },
        Failure { "unknown_channels", "getdat",
            "[source]\nurl = file://%1/guide/xmltv/example.xml\nchannels = nope\n", "old", {},
            "none of the channels" },
        Failure { "closed_port", "getdat", "[source]\nurl = http://127.0.0.1:9/guide.xml\n", "old",
            {}, "Connection refused" },
        Failure { "other_scheme", "getdat", "[source]\nurl = ftp://127.0.0.1/guide.xml\n", "old",
            {}, "only http://, https:// and file://" },
        Failure { "no_database", "dat2tgd", nullptr, nullptr, {}, "no database folder" },
        Failure { "broken_record", "dat2tgd", nullptr, "#getdat 1\nC\tx\tX\nP\tbad\n", {},
            "line 3: not a record" },
        Failure { "words_for_days", "dat2tgd", nullptr, kChannelFile, { "abc" }, "whole number" },
        Failure { "unknown_option", "dat2tgd", nullptr, kChannelFile, { "1", "-x" },
            "Unknown option: x" }),
    byName);

} // namespace
