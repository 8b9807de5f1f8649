#include "device/DataHandler.h"
#include "support/SydneyTime.h"

#include <gtest/gtest.h>

namespace
{

// A directory entry as the recorder sends it.
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

TEST(DataHandler, NamesAreCutAt95AndAtControlCharacters)
{
    const QByteArray e = DataHandler::getDataFromTFFile(TFFile {}, QString(130, QLatin1Char('x')));
    EXPECT_EQ(e.size(), 114);
    EXPECT_EQ(DataHandler::getTFFileFromSwappedHexData(e)->name, QString(95, QLatin1Char('x')));
    // Outside ISO Latin 1: no name bytes at all.
    EXPECT_EQ(
        DataHandler::getDataFromTFFile(TFFile {}, QString::fromUtf8("\u20ac.tgd")).mid(14, 95),
        QByteArray(95, '\0'));
    // Latin 1 survives; a format character (soft hyphen) or a control ends the name.
    for (const auto &[raw, name] :
        { std::make_pair("caf\xe9\xad.tgd", "café"), std::make_pair("a\x01z", "a") })
        EXPECT_EQ(DataHandler::getTFFileFromSwappedHexData(entry(0, 0, 0, 2, 0, 0, raw))->name,
            QString::fromUtf8(name));
    EXPECT_FALSE(DataHandler::getTFFileFromSwappedHexData(QByteArray(108, 'a')));
    EXPECT_TRUE(DataHandler::getTFFileFromSwappedHexData(QByteArray(109, 'a')));
}

TEST(DataHandler, SizeTexts)
{
    const std::pair<double, const char *> table[]
        = { { 0, " - " }, { 1, "1 B" }, { 1023, "1023 B" }, { 1024, "1.0 KB" }, { 1536, "1.5 KB" },
              { 1048575, "1024.0 KB" }, { 1048576, "1.00 MB" }, { 1073741824, "1.00 GB" },
              { 5368709120.0, "5.00 GB" }, { 1099511627776.0, "1.0000 TB" }, { -1, " ? " } };
    for (const auto &[size, text] : table)
        EXPECT_EQ(DataHandler::sizeText(size), text) << size;
}

TEST(DataHandler, DisplayValues)
{
    LocalZone zone;
    auto useful = [](const QByteArray &bytes) {
        TFFile f = *DataHandler::getTFFileFromSwappedHexData(bytes);
        DataHandler::convertRawDataToUseful(f);
        return f;
    };
    const TFFile f = useful(entry(51910, 0, 0, 2, 1, 1073741824, "a.tgd"));
    EXPECT_EQ(f.date->toLocalTime().toString("yyyy-MM-dd HH:mm"), "2001-01-01 00:00");
    EXPECT_EQ(f.value("sortdate").toDateTime(), *f.date);
    EXPECT_EQ(f.value("fileSize").toDouble(), 5368709120.0);
    EXPECT_EQ(f.value("size").toString(), "5.00 GB");
    // The low half arrives negative and is corrected.
    const TFFile g = useful(entry(54105, 20, 30, 2, 0, 3000000000u, "b"));
    EXPECT_EQ(*g.fileSize, 3000000000.0);
    EXPECT_EQ(g.date->toLocalTime().toString("yyyy-MM-dd HH:mm"), "2007-01-05 20:30");
    const TFFile folder = useful(entry(54105, 1, 2, 1, 0, 0, "EPG"));
    EXPECT_EQ(folder.value("date"), QVariant(QString("")));
    EXPECT_LT(*folder.sortdate, QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC));
    EXPECT_EQ(folder.value("size").toString(), " - ");

    DataHandler table;
    table.setFileList({ g, folder });
    EXPECT_EQ(table.numberOfRows(), 2);
    EXPECT_EQ(table.objectValue("name", 1).toString(), "EPG");
    EXPECT_FALSE(table.objectValue("nonsense", 0).isValid());
    EXPECT_FALSE(table.objectValue("name", 2).isValid());
}
