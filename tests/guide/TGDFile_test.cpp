#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "support/SydneyTime.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

namespace
{

class TGDFileTest : public ::testing::Test
{
protected:
    void SetUp() override { Settings::registerDefaults(); }

    // Reads the bytes as the day 12 March 2007 into a fresh list.
    const TGDEntryList &load(const QByteArray &bytes)
    {
        f.loadTGDData(bytes, "20070312", false);
        return f.getFileData();
    }

    LocalZone zone;
    TempHome home;
    TGDFile f;
};

QByteArray line(const QStringList &fields, const char *end = "\n")
{
    return fields.join(QLatin1Char('\t')).toLatin1() + end;
}

// A line of channel 2 at 06:00 on the day read, with these fields changed.
QByteArray lineWith(std::initializer_list<std::pair<int, QString>> changes)
{
    QStringList fields = { "2", "2007-03-12 06:00", "30", "T", "", "", "", "N" };
    for (const auto &[i, v] : changes)
        fields[i] = v;
    return line(fields);
}

} // namespace

TEST_F(TGDFileTest, OnlyLinesWithEightFieldsAndAStartAreProgrammes)
{
    const QStringList a = { "1,10", "2007-03-12 18:30", "30", "The News", "Evening [News]",
        "Headlines.", "G", "N" };
    const QStringList b
        = { "7", "2007-03-12 19:00", "60", "Lost", " [Drama]", "Island.", "M", "Y" };
    const struct {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        { "LF", line(a) + line(b) },
        { "CR LF", line(a, "\r\n") + line(b, "\r\n") },
        { "no final break", line(a) + line(b, "") },
        { "seven fields, nine fields",
            line(a.mid(0, 7)) + line(a + QStringList { "x" }) + line(b) },
        { "blank lines", "\n\r\n" + line(a) + "\r\r\n" + line(b) },
        { "only TABs", line(a) + "\t\t\t\t\t\t\t\tY\n" + line(b) },
        { "no start", line(a) + lineWith({ { 1, "not a time" }, { 7, "Y" } }) + line(b) },
        { "no such day", line(a) + lineWith({ { 1, "2007-02-30 10:00" } }) + line(b) },
        { "hour 24", line(a) + lineWith({ { 1, "2007-03-12 24:00" } }) + line(b) },
        { "one long line", QByteArray(1 << 20, 'x') + "\n" + line(a) + line(b) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(f.loadTGDData(c.bytes, "20070312", false), 2);
        EXPECT_EQ(f.dataToTGDForDate(std::nullopt), line(a, "\r\n") + line(b, "\r\n"));
        EXPECT_EQ(f.getFileData()[1]->fileNameDataIsFrom, "20070312");
    }
    // A programme the guide gave no title is still a programme, and survives write-back.
    QStringList untitled = a;
    untitled[3].clear();
    EXPECT_EQ(f.loadTGDData(line(a) + line(untitled) + line(b), "20070312", false), 3);
    EXPECT_EQ(f.dataToTGDForDate(std::nullopt),
        line(a, "\r\n") + line(untitled, "\r\n") + line(b, "\r\n"));
}

TEST_F(TGDFileTest, DecodesIso88591AndNonNumericDuration)
{
    const TGDEntry &e = *load("3\t2007-03-12 20:30\tabc\tCaf\xe9 Society\t [Film]\t\t\tN\n")[0];
    EXPECT_EQ(e.title, QString::fromUtf8("Café Society"));
    EXPECT_EQ(e.duration, 0);
    EXPECT_EQ(f.dataToTGDForDate(QString("20070312")),
        QByteArray("3\t2007-03-12 20:30\t0\tCaf\xe9 Society\t [Film]\t\t\tN\r\n"));
}

TEST_F(TGDFileTest, RetainOldAppendsAndDayFilterSelects)
{
    load(lineWith({ { 3, "A" } }));
    f.loadTGDData(lineWith({ { 1, "2007-03-13 06:00" }, { 3, "B" } }), "20070313", true);
    ASSERT_EQ(f.getFileData().size(), 2u);
    EXPECT_EQ(f.dataToTGDForDate(QString("20070313")),
        QByteArray("2\t2007-03-13 06:00\t30\tB\t\t\t\tN\r\n"));
    EXPECT_TRUE(f.dataToTGDForDate(QString("20991231")).isEmpty());
    EXPECT_EQ(load(lineWith({})).size(), 1u);
}

TEST_F(TGDFileTest, DerivesDisplayNamesAndColours)
{
    const TGDEntryList &d = load(lineWith({ { 0, "1,10" } }) + lineWith({ { 0, "6,61" } })
        + lineWith({ { 0, "Channel 31" } }) + lineWith({ { 0, "33" } }));
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
    // Sydney leaves daylight saving at 03:00 on 2007-03-25.
    const TGDEntryList &d = load(lineWith({ { 1, "2007-03-12 23:30" }, { 2, "45" } })
        + lineWith({ { 1, "2007-03-25 01:30" }, { 2, "120" } }));
    EXPECT_EQ(d[0]->startTime, "23:30");
    EXPECT_EQ(d[0]->stop, QDateTime(QDate(2007, 3, 13), QTime(0, 15)));
    EXPECT_EQ(d[1]->start.secsTo(d[1]->stop), 120 * 60);
    EXPECT_EQ(d[1]->stop.time(), QTime(2, 30)); // two hours of real time, one hour back

    // A programme made elsewhere with a start that does not parse has no times.
    TGDEntry e = *d[0];
    e.rawStart = "not a time";
    TGDFile::fixEntry(e, false);
    EXPECT_FALSE(e.start.isValid() || e.stop.isValid() || !e.startTime.isEmpty());
}

TEST_F(TGDFileTest, SplitsSubTitleAndCategory)
{
    const struct {
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
    for (const auto &c : cases) {
        const TGDEntry &e = *load(lineWith({ { 4, c.subAndCat } }))[0];
        EXPECT_EQ(e.sub, QString(c.sub)) << c.subAndCat;
        EXPECT_EQ(e.cat, QString(c.cat)) << c.subAndCat;
    }
}

TEST_F(TGDFileTest, OnlyTheRecordFieldsOwnFormsMarkAProgramme)
{
    // The field as read, and as written back; "Y" and a field that marks nothing leave
    // the extensions absent.
    const std::pair<QString, const char *> cases[] = { { "N", "N" }, { "Y", "Y" },
        { "-05 +10", "-05 +10" }, { "+03 -07", "+03 -07" }, { "", "N" }, { QString(QChar(0)), "N" },
        { "Yes", "N" }, { "y", "N" }, { "-5 +10", "N" }, { "-05 +1x", "N" }, { "-05_+10", "N" },
        { "*05 +10", "N" }, { "-05 *10", "N" }, { "-05 +10 ", "N" } };
    for (const auto &[field, written] : cases) {
        SCOPED_TRACE(field.toStdString());
        const TGDEntry &e = *load(lineWith({ { 7, field } }))[0];
        EXPECT_EQ(e.recordStatus, field);
        EXPECT_EQ(e.record, written != QByteArray("N"));
        EXPECT_EQ(bool(e.extStart) || bool(e.extStop), field.size() == 7 && e.record);
        EXPECT_TRUE(f.dataToTGDForDate(std::nullopt).endsWith(QByteArray("\t") + written + "\r\n"));
    }

    // Marks made in memory are reset from the record field when another file is read
    // into the same list, and the channel colour is restored.
    const TGDEntryPtr kept = load(lineWith({}))[0];
    kept->record = true;
    kept->dispChannelColour = TGDEntry::Colour::Plain;
    f.loadTGDData(lineWith({ { 1, "2007-03-13 06:00" } }), "20070313", true);
    EXPECT_FALSE(kept->record);
    EXPECT_EQ(kept->dispChannelColour, TGDEntry::Colour::Green);
}

TEST_F(TGDFileTest, RoundTripKeepsTheEightFieldsOfEveryLine)
{
    // A day as the import writer leaves it (LF), plus every record-field form.
    QByteArray bytes = readFile(QStringLiteral(PALLARO_TEST_DATA "/keywords/20070312.tgd"));
    ASSERT_FALSE(bytes.isEmpty());
    for (int m : { 0, 1, 9, 10, 99 })
        for (const char *form : { "-%1 +%2", "+%1 -%2", "-%1 -%2", "+%1 +%2" }) {
            const QString mm = QString::number(m).rightJustified(2, QLatin1Char('0'));
            bytes += lineWith({ { 7, QString(form).arg(mm, mm) } });
        }
    bytes += lineWith({ { 2, "060" }, { 7, "Y" } });

    f.loadTGDData(bytes, "20070312", false);
    const QByteArray written = f.dataToTGDForDate(QString("20070312"));
    // CR LF ends, the duration as a number, and both extensions 0 as no extension at all.
    QByteArray expected = QByteArray(bytes).replace("\t060\t", "\t60\t").replace("\n", "\r\n");
    for (const char *zero : { "-00 +00", "+00 -00", "-00 -00", "+00 +00" })
        expected.replace(zero, "Y");
    EXPECT_EQ(written, expected);
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
