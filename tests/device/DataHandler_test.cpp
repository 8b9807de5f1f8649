#include "device/DataHandler.h"

#include <QTimeZone>
#include <ctime>
#include <gtest/gtest.h>

namespace
{

class LocalZone
{
public:
    explicit LocalZone(const char *zone)
        : old_(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalZone()
    {
        if (old_.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", old_);
        tzset();
    }

private:
    QByteArray old_;
};

QByteArray entry(int mjd, int hour, int min, int type, std::uint32_t msb, std::uint32_t lsb,
    const QByteArray &name)
{
    QByteArray b;
    b.append(static_cast<char>(mjd >> 8)).append(static_cast<char>(mjd & 0xFF));
    b.append(static_cast<char>(hour)).append(static_cast<char>(min)).append('\0');
    b.append(static_cast<char>(type));
    for (std::uint32_t v : { msb, lsb })
        for (int s = 24; s >= 0; s -= 8)
            b.append(static_cast<char>((v >> s) & 0xFF));
    b.append(name.left(95));
    b.append(95 - qMin<qsizetype>(95, name.size()), '\0');
    b.append(5, '\0');
    return b;
}

} // namespace

TEST(DataHandler, EntryOfTheFifthOfJanuary2007)
{
    LocalZone zone("UTC");
    LocalFileAttributes a;
    a.modified = QDateTime(QDate(2007, 1, 5), QTime(20, 30, 15), Qt::UTC);
    a.size = 1234;
    const TFFile f = DataHandler::extractAttributes(a);
    EXPECT_EQ(f.rawMJD, 54105);
    EXPECT_EQ(f.hour, 20);
    EXPECT_EQ(f.min, 30);
    EXPECT_EQ(f.sec, 15);
    EXPECT_EQ(f.type, 2);
    const QByteArray e = DataHandler::getDataFromTFFile(f, "20070105.tgd");
    ASSERT_EQ(e.size(), 114);
    EXPECT_EQ(e.left(6), QByteArray::fromHex("D359141E0F02"));
    EXPECT_EQ(e.mid(6, 8), QByteArray::fromHex("00000000000004D2"));
    EXPECT_EQ(e.mid(14, 12), QByteArray("20070105.tgd"));
    EXPECT_EQ(e.mid(26), QByteArray(88, '\0'));

    // And back.
    const auto back = DataHandler::getTFFileFromSwappedHexData(e);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, QString("20070105.tgd"));
    EXPECT_EQ(back->rawMJD, 54105);
    EXPECT_EQ(back->sec, 15);
    EXPECT_EQ(back->sizeLSB, 1234);
}

TEST(DataHandler, LocalAttributesSplitTheSize)
{
    LocalFileAttributes a;
    a.modified = QDateTime::currentDateTimeUtc();
    a.size = 4294967296ULL;
    TFFile f = DataHandler::extractAttributes(a);
    EXPECT_EQ(f.sizeMSB, 1);
    EXPECT_EQ(f.sizeLSB, 0);
    a.size = 4294967295ULL;
    f = DataHandler::extractAttributes(a);
    EXPECT_EQ(f.sizeMSB, 0);
    EXPECT_EQ(f.sizeLSB, -1);
    a.directory = true;
    EXPECT_EQ(DataHandler::extractAttributes(a).type, 1);
}

TEST(DataHandler, NamesAreCutAt95AndAtControlCharacters)
{
    TFFile f;
    const QString longName(130, QLatin1Char('x'));
    const QByteArray e = DataHandler::getDataFromTFFile(f, longName);
    EXPECT_EQ(e.size(), 114);
    EXPECT_EQ(e.mid(14, 95), QByteArray(95, 'x'));
    EXPECT_EQ(DataHandler::getTFFileFromSwappedHexData(e)->name, QString(95, QLatin1Char('x')));

    // Outside ISO Latin 1: no name bytes at all.
    EXPECT_EQ(DataHandler::getDataFromTFFile(f, QString::fromUtf8("\u20ac.tgd")).mid(14, 95),
        QByteArray(95, '\0'));
    // Latin 1 survives; a format character (soft hyphen) ends the name.
    EXPECT_EQ(
        DataHandler::getTFFileFromSwappedHexData(entry(0, 0, 0, 2, 0, 0, "caf\xe9\xad.tgd"))->name,
        QString::fromUtf8("café"));
    EXPECT_EQ(DataHandler::getTFFileFromSwappedHexData(entry(0, 0, 0, 2, 0, 0, "a\x01z"))->name,
        QString("a"));
    EXPECT_FALSE(DataHandler::getTFFileFromSwappedHexData(QByteArray(108, 'a')));
    EXPECT_TRUE(DataHandler::getTFFileFromSwappedHexData(QByteArray(109, 'a')));
}

TEST(DataHandler, SizeTexts)
{
    const std::vector<std::pair<double, QString>> table = {
        { 0, " - " },
        { 1, "1 B" },
        { 1023, "1023 B" },
        { 1024, "1.0 KB" },
        { 1536, "1.5 KB" },
        { 1048575, "1024.0 KB" },
        { 1048576, "1.00 MB" },
        { 1073741824, "1.00 GB" },
        { 5368709120.0, "5.00 GB" },
        { 1099511627776.0, "1.0000 TB" },
        { -1, " ? " },
    };
    for (const auto &[size, text] : table)
        EXPECT_EQ(DataHandler::sizeText(size), text) << size;
}

TEST(DataHandler, DisplayValues)
{
    LocalZone zone("Australia/Sydney");
    TFFile f
        = *DataHandler::getTFFileFromSwappedHexData(entry(51910, 0, 0, 2, 1, 1073741824, "a.tgd"));
    DataHandler::convertRawDataToUseful(f);
    EXPECT_EQ(f.date->toLocalTime().toString("yyyy-MM-dd HH:mm"), "2001-01-01 00:00");
    EXPECT_EQ(f.value("sortdate").toDateTime(), *f.date);
    EXPECT_EQ(f.value("fileSize").toDouble(), 5368709120.0);
    EXPECT_EQ(f.value("size").toString(), "5.00 GB");

    // The low half arrives negative and is corrected.
    f = *DataHandler::getTFFileFromSwappedHexData(entry(54105, 20, 30, 2, 0, 3000000000u, "b"));
    EXPECT_LT(f.sizeLSB, 0);
    DataHandler::convertRawDataToUseful(f);
    EXPECT_EQ(*f.fileSize, 3000000000.0);
    EXPECT_EQ(f.date->toLocalTime().toString("yyyy-MM-dd HH:mm"), "2007-01-05 20:30");

    TFFile folder = *DataHandler::getTFFileFromSwappedHexData(entry(54105, 1, 2, 1, 0, 0, "EPG"));
    DataHandler::convertRawDataToUseful(folder);
    EXPECT_EQ(folder.value("date"), QVariant(QString("")));
    EXPECT_LT(*folder.sortdate, QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(folder.value("size").toString(), " - ");

    DataHandler table;
    table.setFileList({ f, folder });
    EXPECT_EQ(table.numberOfRows(), 2);
    EXPECT_EQ(table.objectValue("name", 1).toString(), "EPG");
    EXPECT_FALSE(table.objectValue("nonsense", 0).isValid());
    EXPECT_FALSE(table.objectValue("name", 2).isValid());
}
