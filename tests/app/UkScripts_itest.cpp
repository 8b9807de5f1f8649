// The script-based fetch's grabber and converter from the program folder, run through the
// real php and perl on real guides; their day files checked against the application's own
// XMLTV import of the same guide and read back by the application's day-file reader.
#include "guide/TGDFile.h"
#include "guide/XMLToEPG.h"
#include "guide/XMLTree.h"
#include "support/AppFixture.h"
#include "support/TempHome.h"

#include <QDate>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTemporaryDir>
#include <algorithm>
#include <ctime>
#include <gtest/gtest.h>

namespace
{

const QString kProgramFolder = QStringLiteral(PALLARO_BINARY_DIR "/share/pallaro/");
const QString kUkGuide = QStringLiteral(PALLARO_TEST_DATA "/app/uk/epg_2023-04-17.xml");

QString guide(const char *name)
{
    return QStringLiteral(PALLARO_TEST_DATA "/guide/xmltv/") + QLatin1String(name);
}

QString fileUrl(const QString &path)
{
    return QStringLiteral("file://") + path;
}

// Test names from the table rows.
const auto byName = [](const auto &info) { return std::string(info.param.name); };

struct Outcome {
    int status = -1;
    QString out, err;
    QStringList errLines() const { return err.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Local time is `zone` while alive, for this process and the scripts it starts.
struct Zone {
    explicit Zone(const char *zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~Zone()
    {
        qunsetenv("TZ");
        tzset();
    }
};

QStringList files(const QString &folder, const QString &pattern = QStringLiteral("*"))
{
    return QDir(folder).entryList({ pattern }, QDir::Files | QDir::Hidden, QDir::Name);
}

class UkScriptsTest : public ::testing::Test
{
protected:
    QString support() const { return work.path(); }

    Outcome run(const QString &program, const QStringList &arguments)
    {
        QProcess p;
        p.setWorkingDirectory(support());
        p.start(program, arguments);
        Outcome r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            r.err = QStringLiteral("timed out");
            return r;
        }
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLatin1(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }
    Outcome grab(const QString &url, const QString &channels = {})
    {
        QByteArray ini = "[source]\nurl = " + url.toUtf8() + "\n";
        if (!channels.isEmpty())
            ini += "channels = " + channels.toUtf8() + "\n";
        EXPECT_TRUE(writeFile(support() + "/getdat.ini", ini));
        return run(QStringLiteral("/usr/bin/php"), { kProgramFolder + "getdat.php" });
    }
    Outcome convert(const QStringList &days = { QStringLiteral("-days") })
    {
        return run(QStringLiteral("/usr/bin/perl"),
            QStringList { kProgramFolder + "dat2tgd.pl", QStringLiteral("-oldtgd") } + days);
    }
    QString output() const { return support() + "/output"; }

    // The application's import of the same guide, written as day files into `folder`, with
    // the channels the grabber takes and their first display names as channel keys.
    void importLikeTheApplication(
        const QString &path, const QString &channels, const QString &folder)
    {
        QHash<QString, QString> names;
        const std::optional<XMLTree> tree = XMLTree::treeWithURL(path);
        ASSERT_TRUE(tree);
        for (const XMLTree &c : tree->descendentNamed(QStringLiteral("tv"))->children())
            if (c.nameEquals("channel"))
                if (const std::optional<XMLTree> n = c.childNamed(QStringLiteral("display-name")))
                    names.insert(
                        c.attributeNamed("id").value_or(QString()), n->description().trimmed());
        const QStringList wanted = channels.split(QLatin1Char(','), Qt::SkipEmptyParts)
                                       .replaceInStrings(QRegularExpression("\\s"), QString());
        XMLToEPG x;
        XMLTVProgrammeList list = x.importXML(path);
        x.fixData(list);
        std::erase_if(list, [&](const XMLTVProgramme &p) {
            return !wanted.isEmpty() && !wanted.contains(p.rawChannel.value_or(QString()));
        });
        for (XMLTVProgramme &p : list)
            p.chanName = names.value(*p.rawChannel, *p.rawChannel);
        ASSERT_TRUE(QDir().mkpath(folder));
        EXPECT_TRUE(x.exportTGD(list, folder).error.isEmpty());
    }

    // Compares the converter's day files byte for byte with the import's; answers how many.
    int expectSameAsImport(const QString &path, const QString &channels)
    {
        const QString expected = work.path() + "/expected";
        importLikeTheApplication(path, channels, expected);
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
        for (const QString &name : files(output(), QStringLiteral("*.tgd")))
            reader.loadTGDData(readFile(output() + "/" + name), name.left(8), true);
        return reader.getFileData();
    }

    TempHome home;
    QTemporaryDir work;
};

// --- The grabber and converter on real guides, against the application's own import ---

struct GuideCase {
    const char *name;
    QString path;
    const char *channels; // the grabber's channel list; empty: all
    const char *zone;
    const char *count; // the count the grabber shows
    int channelFiles;
    int days;
};

class RealGuide : public UkScriptsTest, public ::testing::WithParamInterface<GuideCase>
{
};

TEST_P(RealGuide, DayFilesMatchTheApplicationsImport)
{
    const GuideCase &c = GetParam();
    const Zone zone(c.zone);
    const Outcome g = grab(fileUrl(c.path), QLatin1String(c.channels));
    ASSERT_EQ(g.status, 0) << g.err.toStdString();
    const int shown = QString::fromLatin1(c.count).toInt();
    EXPECT_EQ(g.out,
        QStringLiteral("Fetching %1\n%2\n").arg(QLatin1String(c.count), QString(shown, '.')));
    EXPECT_EQ(files(support() + "/database").size(), c.channelFiles);
    EXPECT_EQ(readFile(support() + "/cache/guide.xml"), readFile(c.path));

    const Outcome t = convert();
    ASSERT_EQ(t.status, 0) << t.err.toStdString();
    EXPECT_TRUE(t.err.isEmpty()) << t.err.toStdString();

    EXPECT_EQ(expectSameAsImport(c.path, QLatin1String(c.channels)), c.days);

    const TGDEntryList read = readDays();
    EXPECT_FALSE(read.empty());
    for (const TGDEntryPtr &e : read) {
        EXPECT_TRUE(e->start.isValid()) << e->rawStart.toStdString();
        EXPECT_EQ(e->recordStatus, QStringLiteral("N"));
    }
}

INSTANTIATE_TEST_SUITE_P(Guides, RealGuide,
    ::testing::Values(
        // 159 channels: the count stops at 99 and 99 dots mean done. Times without offset.
        GuideCase { "uk_all", kUkGuide, "", "Europe/London", "99", 159, 4 },
        GuideCase { "uk_three", kUkGuide, "BBCOneEngland.uk, Channel4.uk,CBBC.uk", "Europe/London",
            "03", 3, 4 },
        GuideCase { "uk_sydney", kUkGuide, "CBBC.uk", "Australia/Sydney", "01", 1, 4 },
        // +0000 on a daylight-saving change day, shown in another zone's local time.
        GuideCase { "max_no", guide("max.no_2021-03-28.xml"), "", "Australia/Sydney", "01", 1, 2 },
        // +0200 keeps its wall-clock time; letters of ISO 8859-1.
        GuideCase {
            "natgeo", guide("natgeo.no_2022-08-27.xml"), "", "America/New_York", "01", 1, 1 },
        GuideCase { "nickelodeon", guide("nickelodeon.no_2021-12-20.xml"), "", "Europe/London",
            "01", 1, 1 },
        // Mixed offsets, a named zone that is no time, -0400 across midnight.
        GuideCase { "sort", guide("sort.xml"), "", "Europe/London", "03", 3, 3 },
        // Two channels declared, sub-title and two categories, a programme without stop.
        GuideCase { "example", guide("example.xml"), "", "Europe/London", "02", 2, 1 },
        GuideCase { "crossing_midnight", guide("tv_augment_automatic_type_5-2.xml"), "",
            "Asia/Tokyo", "01", 1, 8 },
        GuideCase { "latin1_source", guide("test_livre.xml"), "", "Europe/London", "01", 1, 1 },
        GuideCase { "nested_rating", guide("test.xml"), "", "Europe/London", "02", 2, 1 }),
    byName);

TEST_F(UkScriptsTest, CharactersBeyondLatin1BecomeQuestionMarksAsInTheImport)
{
    const Zone zone("Europe/London");
    QByteArray text = readFile(guide("example.xml"));
    text.replace("Programme One", "Programme \xce\xa9ne \xf0\x9f\x8e\xac");
    ASSERT_TRUE(writeFile(work.path() + "/wide.xml", text));
    ASSERT_EQ(grab(fileUrl(work.path() + "/wide.xml")).status, 0);
    ASSERT_EQ(convert().status, 0);
    EXPECT_EQ(expectSameAsImport(work.path() + "/wide.xml", {}), 1);
    EXPECT_TRUE(readFile(output() + "/20220331.tgd").contains("\tProgramme ?ne ??\t"));
}

// Values written out by hand, so the check does not rest on the import alone.
struct Expected {
    const char *name;
    QString path;
    const char *zone;
    const char *day, *channel, *start;
    int duration;
    const char *title, *subAndCat, *rating;
};

class ProgrammeRead : public UkScriptsTest, public ::testing::WithParamInterface<Expected>
{
};

TEST_P(ProgrammeRead, HasTheExpectedFields)
{
    const Expected &x = GetParam();
    const Zone zone(x.zone);
    ASSERT_EQ(grab(fileUrl(x.path)).status, 0);
    ASSERT_EQ(convert().status, 0);
    const TGDEntryList read = readDays();
    const auto it = std::find_if(read.begin(), read.end(), [&](const TGDEntryPtr &e) {
        return e->title == QString::fromUtf8(x.title) && e->rawStart == QLatin1String(x.start);
    });
    ASSERT_NE(it, read.end()) << x.title;
    const TGDEntry &e = **it;
    EXPECT_EQ(e.fileNameDataIsFrom, QLatin1String(x.day));
    EXPECT_EQ(e.channel, QString::fromUtf8(x.channel));
    EXPECT_EQ(e.duration, x.duration);
    EXPECT_EQ(e.subAndCat, QString::fromUtf8(x.subAndCat));
    EXPECT_EQ(e.rating, QLatin1String(x.rating));
}

INSTANTIATE_TEST_SUITE_P(Programmes, ProgrammeRead,
    ::testing::Values(
        // 23:00 UTC is midnight in London's summer time: the next day's file.
        Expected { "uk_midnight", kUkGuide, "Europe/London", "20230418", "4Music",
            "2023-04-18 00:00", 60, "Fresh This Month", " []", "" },
        Expected { "max_no_sydney", guide("max.no_2021-03-28.xml"), "Australia/Sydney", "20210328",
            "max.no", "2021-03-28 15:00", 20, "How It's Made",
            "Wall Beds, Sundae Cups, Digital Paintings, and Badminton Rackets [series]", "" },
        Expected { "example_last_category", guide("example.xml"), "Europe/London", "20220331",
            "Channel One", "2022-03-31 19:00", 60, "Programme One", "Pilot [Drama]", "15" }),
    byName);

// --- The grabber's settings, channel files and failures ---

TEST_F(UkScriptsTest, SecondFetchReplacesTheChannelFilesAndNamesUnknownChannels)
{
    ASSERT_EQ(grab(fileUrl(guide("dups.xml"))).status, 0);
    EXPECT_EQ(files(support() + "/database").size(), 2);
    const Outcome g = grab(fileUrl(guide("dups.xml")), QStringLiteral("1, nope,1"));
    ASSERT_EQ(g.status, 0) << g.err.toStdString();
    EXPECT_EQ(g.out, QStringLiteral("Fetching 01\n.\n"));
    EXPECT_EQ(g.errLines(), QStringList { QStringLiteral("getdat: not in the document: nope") });
    EXPECT_EQ(files(support() + "/database"), QStringList { QStringLiteral("001-1.dat") });
    EXPECT_EQ(QDir(support()).entryList({ QStringLiteral("database.*") }, QDir::AllEntries),
        QStringList());
    ASSERT_EQ(convert().status, 0);
    const TGDEntryList read = readDays();
    ASSERT_EQ(read.size(), 5u);
    for (const TGDEntryPtr &e : read)
        EXPECT_EQ(e->channel, QStringLiteral("1"));
}

struct GrabFailure {
    const char *name;
    const char *ini; // nullptr: no settings file; %1 the guide folder, %2 a closed port
    const char *reason;
};

class GrabberFails : public UkScriptsTest, public ::testing::WithParamInterface<GrabFailure>
{
};

TEST_P(GrabberFails, WithOneLineAndLeavesTheLastFetch)
{
    const GrabFailure &c = GetParam();
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    ASSERT_TRUE(writeFile(support() + "/database/001-old.dat", "old"));
    ASSERT_TRUE(writeFile(support() + "/cache/guide.xml", "old"));
    if (c.ini) {
        ASSERT_TRUE(writeFile(support() + "/getdat.ini",
            QString::fromLatin1(c.ini)
                .replace(QStringLiteral("%1"), QStringLiteral(PALLARO_TEST_DATA))
                .replace(QStringLiteral("%2"), QString::number(port))
                .toUtf8()));
    }
    const Outcome r = run(QStringLiteral("/usr/bin/php"), { kProgramFolder + "getdat.php" });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, QString());
    ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("getdat: ")));
    EXPECT_TRUE(r.err.contains(QLatin1String(c.reason))) << r.err.toStdString();
    EXPECT_EQ(files(support() + "/database"), QStringList { QStringLiteral("001-old.dat") });
    EXPECT_EQ(readFile(support() + "/cache/guide.xml"), QByteArray("old"));
    EXPECT_EQ(QDir(support()).entryList({ QStringLiteral("database.*") }, QDir::AllEntries),
        QStringList());
}

INSTANTIATE_TEST_SUITE_P(Failures, GrabberFails,
    ::testing::Values(GrabFailure { "no_ini", nullptr, "no settings file getdat.ini" },
        GrabFailure { "no_url", "[source]\nchannels = a\n", "names no url" },
        GrabFailure { "broken_ini", "[source\nurl = x\n", "getdat.ini" },
        GrabFailure { "missing_file", "[source]\nurl = file://%1/guide/xmltv/nothere.xml\n",
            "no such readable file" },
        GrabFailure { "not_xmltv", "[source]\nurl = file://%1/keywords/broken/root-is-dict.plist\n",
            "not an XMLTV document (root element <plist>)" },
        GrabFailure { "not_well_formed", "[source]\nurl = file://%1/guide/xmltv/broken.xml\n",
            "not well-formed XML (line 9" },
        GrabFailure { "empty_file",
            "[source]\nurl = file://%1/guide/xmltv/empty-file_natgeo.no_2019-11-23.xml\n",
            "the document is empty" },
        GrabFailure { "no_channels", "[source]\nurl = file://%1/guide/xmltv/empty.xml\n",
            "lists no channels" },
        GrabFailure { "unknown_channels",
            "[source]\nurl = file://%1/guide/xmltv/example.xml\nchannels = nope\n",
            "none of the channels" },
        GrabFailure { "closed_port", "[source]\nurl = http://127.0.0.1:%2/guide.xml\n",
            "Connection refused" },
        GrabFailure { "other_scheme", "[source]\nurl = ftp://127.0.0.1/guide.xml\n",
            "only http://, https:// and file://" },
        GrabFailure { "relative_file_url", "[source]\nurl = file://guide.xml\n", "absolute path" }),
    byName);


TEST_F(UkScriptsTest, FetchesOverHttpPlainAndCompressed)
{
    QTemporaryDir served;
    const QByteArray plain = readFile(guide("natgeo.no_2022-08-27.xml"));
    ASSERT_TRUE(writeFile(served.path() + "/guide.xml", plain));
    QProcess gzip;
    gzip.setStandardOutputFile(served.path() + "/guide.xml.gz");
    gzip.start(QStringLiteral("gzip"), { QStringLiteral("-c"), served.path() + "/guide.xml" });
    ASSERT_TRUE(gzip.waitForFinished());
    const SampleServer server(served.path());

    QByteArray first;
    for (const char *name : { "guide.xml", "guide.xml.gz" }) {
        const Outcome g = grab(server.url(name));
        ASSERT_EQ(g.status, 0) << name << g.err.toStdString();
        EXPECT_EQ(g.out, QStringLiteral("Fetching 01\n.\n"));
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
    EXPECT_TRUE(missing.err.contains(QStringLiteral("the server answered HTTP/1.0 404")))
        << missing.err.toStdString();
}

// --- The converter's days and failures ---

// A real guide of eight days moved so that its third day is today.
class Days : public UkScriptsTest
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(writeFile(work.path() + "/moved.xml",
            guideMovedTo(guide("tv_augment_automatic_type_5-2.xml"), QDate(2016, 7, 2),
                QDate::currentDate())));
        ASSERT_EQ(grab(fileUrl(work.path() + "/moved.xml")).status, 0);
    }
    static QString day(int fromToday)
    {
        return QDate::currentDate().addDays(fromToday).toString(QStringLiteral("yyyyMMdd"));
    }
};

struct DaysCase {
    const char *name;
    QStringList arguments;
    int first, last; // days from today
};

class DaysKept : public Days, public ::testing::WithParamInterface<DaysCase>
{
};

TEST_P(DaysKept, FromTodayOrAll)
{
    const DaysCase &c = GetParam();
    ASSERT_TRUE(writeFile(output() + "/19990101.tgd", "other day"));
    ASSERT_TRUE(writeFile(output() + "/" + day(0) + ".tgd", "stale"));
    const Outcome r = convert(c.arguments);
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    QStringList expected { QStringLiteral("19990101.tgd") };
    for (int d = c.first; d <= c.last; ++d)
        expected << day(d) + ".tgd";
    EXPECT_EQ(files(output()), expected);
    EXPECT_EQ(readFile(output() + "/19990101.tgd"), QByteArray("other day"));
    EXPECT_NE(readFile(output() + "/" + day(0) + ".tgd"), QByteArray("stale"));
    QFile::remove(output() + "/19990101.tgd");
    const TGDEntryList read = readDays();
    EXPECT_FALSE(read.empty());
    for (const TGDEntryPtr &e : read)
        EXPECT_EQ(e->rawStart.left(10).remove(QLatin1Char('-')), e->fileNameDataIsFrom);
}

INSTANTIATE_TEST_SUITE_P(Days, DaysKept,
    ::testing::Values(DaysCase { "no_number", { QStringLiteral("-days") }, -2, 5 },
        DaysCase { "empty_number", { QStringLiteral("-days"), QString() }, -2, 5 },
        DaysCase { "one", { QStringLiteral("-days"), QStringLiteral("1") }, 0, 0 },
        DaysCase { "three", { QStringLiteral("-days"), QStringLiteral("3") }, 0, 2 },
        DaysCase { "beyond_the_guide", { QStringLiteral("-days"), QStringLiteral("30") }, 0, 5 }),
    byName);

struct ConvertFailure {
    const char *name;
    const char *database; // nullptr: none; "FILE": a plain file; else one channel file's content
    QStringList arguments;
    const char *reason;
};

class ConverterFails : public UkScriptsTest, public ::testing::WithParamInterface<ConvertFailure>
{
};

const char kChannelFile[]
    = "#getdat 1\nC\tx\tX\nP\t1\t20230101200000 +0100\t20230101210000 +0100\tT\t\t\t\t\n";

TEST_P(ConverterFails, WithOneLineAndWritesNothing)
{
    const ConvertFailure &c = GetParam();
    if (c.database && QLatin1String(c.database) == QLatin1String("FILE")) {
        ASSERT_TRUE(writeFile(support() + "/database", "not a folder"));
    } else if (c.database && *c.database) {
        ASSERT_TRUE(writeFile(support() + "/database/001-x.dat", c.database));
    } else if (c.database) {
        ASSERT_TRUE(QDir().mkpath(support() + "/database"));
    }
    const Outcome r = convert(QStringList { QStringLiteral("-days") } + c.arguments);
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.errLines().size(), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("dat2tgd: ")));
    EXPECT_TRUE(r.err.contains(QLatin1String(c.reason))) << r.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(output()));
}

INSTANTIATE_TEST_SUITE_P(Failures, ConverterFails,
    ::testing::Values(ConvertFailure { "no_database", nullptr, {}, "no database folder" },
        ConvertFailure { "database_is_a_file", "FILE", {}, "no database folder" },
        ConvertFailure { "empty_database", "", {}, "holds no channel files" },
        ConvertFailure { "foreign_file", "hello\n", {}, "not a channel file" },
        ConvertFailure {
            "no_channel_line", "#getdat 1\nP\t1\t\t\t\t\t\t\t\n", {}, "names no channel" },
        ConvertFailure {
            "broken_record", "#getdat 1\nC\tx\tX\nP\tbad\n", {}, "line 3: not a record" },
        ConvertFailure {
            "words_for_days", kChannelFile, { QStringLiteral("abc") }, "whole number" },
        ConvertFailure { "zero_days", kChannelFile, { QStringLiteral("0") }, "whole number" },
        ConvertFailure { "unknown_option", kChannelFile,
            { QStringLiteral("1"), QStringLiteral("-x") }, "Unknown option: x" },
        ConvertFailure { "stray_argument", kChannelFile,
            { QStringLiteral("1"), QStringLiteral("more") }, "unexpected argument 'more'" }),
    byName);

} // namespace
