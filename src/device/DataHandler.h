#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <vector>

// One entry of the recorder's file system, decoded from or destined for a 114-byte
// directory entry (multi-byte fields big-endian):
//   0 MJD(2) 2 hour 3 min 4 sec 5 type(1 folder, 2 file) 6 size high(4) 10 size low(4)
//   14 name (95, ISO Latin 1, zero-filled) 109 five zero bytes.
struct TFFile {
    int rawMJD = 0;
    int hour = 0, min = 0, sec = 0;
    int type = 0;
    std::int32_t sizeMSB = 0, sizeLSB = 0;
    std::optional<QString> name;
    // Display values (convertRawDataToUseful); absent until added.
    std::optional<QDateTime> date; // a folder's is the empty string under "date"
    std::optional<QDateTime> sortdate;
    std::optional<double> fileSize;
    std::optional<QString> size;

    // The value under a quoted key ("rawMJD", "name", "size", ...); invalid when absent.
    QVariant value(const QString &key) const;
};

// What extractAttributes needs of a local file.
struct LocalFileAttributes {
    QDateTime modified;
    bool directory = false;
    std::uint64_t size = 0;
};

class DataHandler
{
public:
    static constexpr int kEntrySize = 114;
    static constexpr int kNameSize = 95;

    // Needs at least the 109 bytes up to the end of the name; none when shorter.
    static std::optional<TFFile> getTFFileFromSwappedHexData(const QByteArray &entry);
    static void convertRawDataToUseful(TFFile &file);
    static TFFile extractAttributes(const LocalFileAttributes &attributes);
    // The attributes of the file at path, its symbolic link not followed; none when absent.
    static std::optional<LocalFileAttributes> attributesOfFile(const QString &path);
    // Always 114 bytes: a longer name is cut to 95 bytes.
    static QByteArray getDataFromTFFile(const TFFile &file, const QString &name);

    // The size as shown in listings: " - ", "1023 B", "1.5 KB", "5.00 GB", ...
    static QString sizeText(double size);
    // The "sortdate" of a folder: earlier than any real date.
    static QDateTime distantPast();

    // Rows served to a table of entries.
    const std::vector<TFFile> &fileList() const { return fileList_; }
    void setFileList(const std::vector<TFFile> &files) { fileList_ = files; }
    int numberOfRows() const { return static_cast<int>(fileList_.size()); }
    QVariant objectValue(const QString &columnIdentifier, int row) const;

private:
    std::vector<TFFile> fileList_;
};
