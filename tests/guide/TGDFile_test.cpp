#include "base/Settings.h"
#include "guide/TGDFile.h"
#include "guide/TGDFormat.h"
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

// A line of channel 2 at 06:00 on the day read, with these fields changed.
QByteArray lineWith(std::initializer_list<std::pair<int, QString>> changes)
{
    QStringList fields = { "2", "2007-03-12 06:00", "30", "T", "", "", "", "N" };
    for (const auto &[i, v] : changes)
        fields[i] = v;
    return fields.join(QLatin1Char('\t')).toLatin1() + "\n";
}

} // namespace

TEST_F(TGDFileTest, DecodesIso88591AndNonNumericDuration)
{
    const TGDEntry &e = *load("3\t2007-03-12 20:30\tabc\tCaf\xe9 Society\t [Film]\t\t\tN\n")[0];
    EXPECT_EQ(e.title, QString::fromUtf8("Café Society"));
    EXPECT_EQ(e.duration, 0);
    EXPECT_EQ(f.dataToTGDForDate(QString("20070312")),
        QByteArray("3\t2007-03-12 20:30\t0\tCaf\xe9 Society\t [Film]\t\t\tN\r\n"));
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

// What a character ISO 8859-1 lacks becomes, alike from the import's UTF-8 and from text in
// memory (a write-back).
TEST(TGDFormat, CharactersOutsideIso88591GetReadableStandIns)
{
    const struct {
        const char *utf8;
        QByteArray latin1;
    } rows[] = {
        { "Doctor Who \u2013 The Eleventh Hour \u2014 Part 1",
            "Doctor Who - The Eleventh Hour - Part 1" },
        { "\u201CQuoted\u201D and \u2018single\u2019", "\"Quoted\" and 'single'" },
        { "Wait for it\u2026", "Wait for it..." },
        { "\u20AC5 deal\u2122", "EUR5 dealTM" },
        { "\u0141\u00F3d\u017A \u0152uvre",
            "L\xF3"
            "dz OEuvre" },
        { "Caf\u00E9 e\u0301 \u01FB", "Caf\xE9 e a" },
        { "\u65E5\u672C \U0001F600 end", "?? ? end" },
        { "tab\there\r\nline", "tab here  line" },
        { "zero\u200Bwidth\u00A0space", "zerowidth\xA0space" },
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.utf8);
        QByteArray fromUtf8, fromText;
        tgd::appendUtf8Field(fromUtf8, r.utf8);
        tgd::appendField(fromText, QString::fromUtf8(r.utf8));
        EXPECT_EQ(fromUtf8, r.latin1);
        EXPECT_EQ(fromText, r.latin1);
    }
}
