#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "support/TempHome.h"

#include <QFile>
#include <QList>
#include <ctime>
#include <gtest/gtest.h>

namespace
{

class TGDFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("TZ", "Australia/Sydney");
        tzset();
        Settings::registerDefaults();
    }
    void TearDown() override
    {
        qunsetenv("TZ");
        tzset();
    }
    TempHome home;
};

QByteArray line(const QStringList &fields, const char *end = "\n")
{
    return fields.join(QLatin1Char('\t')).toLatin1() + end;
}

QList<QByteArrayList> fieldsOf(const QByteArray &content)
{
    QList<QByteArrayList> out;
    for (QByteArray l : content.split('\n')) {
        if (l.endsWith('\r'))
            l.chop(1);
        if (!l.isEmpty())
            out << l.split('\t');
    }
    return out;
}

} // namespace

TEST_F(TGDFileTest, ReadsLfAndCrLfLinesAlikeAndSkipsShortLines)
{
    const QStringList a = { "1,10", "2007-03-12 18:30", "30", "The News", "Evening [News]",
        "Headlines.", "G", "N" };
    const QStringList b
        = { "7", "2007-03-12 19:00", "60", "Lost", " [Drama]", "Island.", "M", "Y" };
    const QByteArray lf = line(a) + line(b);
    const QByteArray crlf = line(a, "\r\n") + line(b, "\r\n");
    const QByteArray noFinalBreak = line(a) + line(b, "");

    for (const QByteArray &bytes : { lf, crlf, noFinalBreak }) {
        TGDFile f;
        EXPECT_EQ(f.loadTGDData(bytes, "20070312", false), 2);
        ASSERT_EQ(f.getFileData().size(), 2u);
        EXPECT_EQ(f.getFileData()[0]->title, "The News");
        EXPECT_EQ(f.getFileData()[1]->recordStatus, "Y");
        EXPECT_EQ(f.getFileData()[1]->fileNameDataIsFrom, "20070312");
    }

    // Seven fields: skipped; nine: read, the ninth dropped.
    TGDFile f;
    const QByteArray mixed = line(a.mid(0, 7)) + line(b + QStringList { "extra" }) + "\n\r\n";
    EXPECT_EQ(f.loadTGDData(mixed, "20070312", false), 1);
    ASSERT_EQ(f.getFileData().size(), 1u);
    EXPECT_EQ(f.getFileData()[0]->recordStatus, "Y");
    EXPECT_EQ(f.dataToTGDForDate(std::nullopt), line(b, "\r\n"));
}

TEST_F(TGDFileTest, DecodesIso88591AndNonNumericDuration)
{
    TGDFile f;
    QByteArray bytes = "3\t2007-03-12 20:30\tabc\tCaf\xe9 Society\t [Film]\t\t\tN\n";
    EXPECT_EQ(f.loadTGDData(bytes, "20070312", false), 1);
    const TGDEntry &e = *f.getFileData()[0];
    EXPECT_EQ(e.title, QString::fromUtf8("Café Society"));
    EXPECT_EQ(e.duration, 0);
    EXPECT_EQ(f.dataToTGDForDate(QString("20070312")),
        QByteArray("3\t2007-03-12 20:30\t0\tCaf\xe9 Society\t [Film]\t\t\tN\r\n"));
}

TEST_F(TGDFileTest, RetainOldAppendsAndDayFilterSelects)
{
    TGDFile f;
    f.loadTGDData(line({ "2", "2007-03-12 06:00", "30", "A", "", "", "", "N" }), "20070312", false);
    f.loadTGDData(line({ "2", "2007-03-13 06:00", "30", "B", "", "", "", "N" }), "20070313", true);
    ASSERT_EQ(f.getFileData().size(), 2u);
    EXPECT_TRUE(f.dataToTGDForDate(QString("20070313")).contains("\tB\t"));
    EXPECT_FALSE(f.dataToTGDForDate(QString("20070313")).contains("\tA\t"));
    EXPECT_TRUE(f.dataToTGDForDate(QString("20991231")).isEmpty());
    f.loadTGDData(line({ "2", "2007-03-14 06:00", "30", "C", "", "", "", "N" }), "20070314", false);
    ASSERT_EQ(f.getFileData().size(), 1u);
}

TEST_F(TGDFileTest, DerivesDisplayNamesAndColours)
{
    TGDFile f;
    QByteArray bytes;
    for (const char *ch : { "1,10", "6,61", "Channel 31", "33" })
        bytes += line({ ch, "2007-03-12 06:00", "30", "T", "", "", "", "N" });
    f.loadTGDData(bytes, "20070312", false);
    const auto &d = f.getFileData();
    EXPECT_EQ(d[0]->dispChannelString, "TEN");
    EXPECT_EQ(d[0]->dispChannelColour, TGDEntry::Colour::Green);
    EXPECT_EQ(d[1]->dispChannelString, "Prime/Southern Cross");
    EXPECT_EQ(d[2]->dispChannelString, "Channel 31");
    EXPECT_EQ(d[2]->dispChannelColour, TGDEntry::Colour::Red);
    EXPECT_EQ(d[3]->dispChannel, "SBS News");

    Settings::setValue("provider", "UK");
    f.fixData();
    EXPECT_EQ(d[2]->dispChannelColour, TGDEntry::Colour::Green);
}

TEST_F(TGDFileTest, DerivesTimesInLocalTime)
{
    TGDFile f;
    QByteArray bytes = line({ "2", "2007-03-12 23:30", "45", "Late", "", "", "", "N" })
        + line({ "2", "not a time", "45", "Broken", "", "", "", "N" })
        + line({ "2", "2007-02-30 10:00", "45", "No such day", "", "", "", "N" })
        // Sydney leaves daylight saving at 03:00 on 2007-03-25.
        + line({ "2", "2007-03-25 01:30", "120", "Across the change", "", "", "", "N" });
    f.loadTGDData(bytes, "20070312", false);
    const auto &d = f.getFileData();
    EXPECT_EQ(d[0]->startTime, "23:30");
    EXPECT_EQ(d[0]->start.date(), QDate(2007, 3, 12));
    EXPECT_EQ(d[0]->stop.date(), QDate(2007, 3, 13));
    EXPECT_EQ(d[0]->stop.time(), QTime(0, 15));
    for (int i : { 1, 2 }) {
        EXPECT_FALSE(d[i]->start.isValid()) << i;
        EXPECT_FALSE(d[i]->stop.isValid()) << i;
        EXPECT_TRUE(d[i]->startTime.isEmpty()) << i;
    }
    EXPECT_EQ(d[3]->start.secsTo(d[3]->stop), 120 * 60);
    EXPECT_EQ(d[3]->stop.time(), QTime(2, 30)); // two hours of real time, one hour back
}

TEST_F(TGDFileTest, SplitsSubTitleAndCategory)
{
    struct Case {
        const char *subAndCat, *sub, *cat;
    } cases[] = {
        { " [News]", " ", "News" },
        { "Paris in spring [Film]", "Paris in spring ", "Film - " },
        { " [Film] extra", " ", "Film -  extra" },
        { "The Empty Child [Drama] [Science Fiction]", "The Empty Child ",
            "Drama Science Fiction" },
        // Only "]" is trimmed from the third piece, so its trailing space keeps the "]".
        { " [Drama] [Movie] [Third]", " ", "Drama Movie] " },
        { "No category", "No category", "" },
        { "", "", "" },
    };
    for (const Case &c : cases) {
        TGDFile f;
        f.loadTGDData(line({ "2", "2007-03-12 06:00", "30", "T", c.subAndCat, "", "", "N" }),
            "20070312", false);
        const TGDEntry &e = *f.getFileData()[0];
        EXPECT_EQ(e.sub, QString(c.sub)) << c.subAndCat;
        EXPECT_EQ(e.cat, QString(c.cat)) << c.subAndCat;
    }
}

TEST_F(TGDFileTest, RecordStateComesFromTheRecordFieldAndIsResetByLaterReads)
{
    TGDFile f;
    QByteArray bytes;
    for (const char *r : { "N", "Y", "-05 +10", "+03 -07", "Yes" })
        bytes += line({ "2", "2007-03-12 06:00", "30", r, "", "", "", r });
    f.loadTGDData(bytes, "20070312", false);
    const auto &d = f.getFileData();
    EXPECT_FALSE(d[0]->record);
    EXPECT_FALSE(d[0]->extStart);
    EXPECT_TRUE(d[1]->record);
    EXPECT_FALSE(d[1]->extStart);
    EXPECT_FALSE(d[1]->extStop);
    EXPECT_TRUE(d[2]->record);
    EXPECT_EQ(d[2]->extStart, 5);
    EXPECT_EQ(d[2]->extStop, 10);
    EXPECT_EQ(d[3]->extStart, -3);
    EXPECT_EQ(d[3]->extStop, -7);
    EXPECT_TRUE(d[4]->record);

    // Marks made in memory are reset from the record field when another file is read
    // into the same list, and the channel colour is restored.
    const TGDEntryPtr kept = d[0];
    kept->record = true;
    kept->dispChannelColour = TGDEntry::Colour::Plain;
    f.loadTGDData(
        line({ "2", "2007-03-13 06:00", "30", "Next", "", "", "", "N" }), "20070313", true);
    EXPECT_FALSE(kept->record);
    EXPECT_EQ(kept->dispChannelColour, TGDEntry::Colour::Green);
    EXPECT_EQ(f.getFileData().size(), 6u);
}

TEST_F(TGDFileTest, RoundTripKeepsTheEightFieldsOfEveryLine)
{
    // A day as the import writer leaves it (LF), plus every record-field form.
    QByteArray bytes = readFile(QStringLiteral(PALLARO_TEST_DATA "/keywords/20070312.tgd"));
    ASSERT_FALSE(bytes.isEmpty());
    for (int m : { 0, 1, 9, 10, 99 })
        for (const char *form : { "-%1 +%2", "+%1 -%2", "-%1 -%2", "+%1 +%2" }) {
            const QString mm = QString::number(m).rightJustified(2, QLatin1Char('0'));
            bytes += line({ "9", "2007-03-12 21:00", "60", "Form", " [Test]", "", "M",
                QString(form).arg(mm, mm) });
        }
    bytes += line({ "9", "2007-03-12 22:00", "060", "Zero-led duration", "", "", "M", "Y" });

    TGDFile f;
    const int count = f.loadTGDData(bytes, "20070312", false);
    const QByteArray written = f.dataToTGDForDate(QString("20070312"));
    EXPECT_EQ(written.count("\r\n"), count);
    EXPECT_EQ(written.count('\n'), count);

    const auto in = fieldsOf(bytes);
    const auto out = fieldsOf(written);
    ASSERT_EQ(in.size(), out.size());
    for (qsizetype i = 0; i < in.size(); ++i) {
        QByteArrayList expected = in[i];
        if (expected[2] == "060")
            expected[2] = "60";
        // "-00 +00" is no extension at all: written as "Y".
        if (expected[7] == "-00 +00" || expected[7] == "+00 -00" || expected[7] == "-00 -00"
            || expected[7] == "+00 +00")
            expected[7] = "Y";
        EXPECT_EQ(out[i], expected) << i;
    }

    // Writing what was written reads back to the same bytes.
    TGDFile again;
    again.loadTGDData(written, "20070312", false);
    EXPECT_EQ(again.dataToTGDForDate(QString("20070312")), written);
}

TEST_F(TGDFileTest, WriterCleansFieldsAndMarksRecordings)
{
    auto e = std::make_shared<TGDEntry>();
    e->channel = "2";
    e->rawStart = "2007-03-12 06:00";
    e->duration = 30;
    e->title = QString::fromUtf8("Tab\there ★");
    e->description = "Two\nlines";
    e->record = true;
    e->extStart = 150;
    e->extStop = -3;
    EXPECT_EQ(TGDFile::dataToTGD({ e }),
        QByteArray("2\t2007-03-12 06:00\t30\tTab here ?\t\tTwo lines\t\t-99 -03\r\n"));
    e->record = false;
    EXPECT_TRUE(TGDFile::dataToTGD({ e }).endsWith("\tN\r\n"));
}
