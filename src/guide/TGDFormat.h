#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <QStringView>
#include <optional>
#include <string_view>

// The byte layout of a TGD day-file line: eight TAB-separated fields, ISO 8859-1.
namespace tgd {

inline constexpr int kFieldCount = 8;

// A field as it may stand in a line: TAB, CR and LF each become one space, so no field
// can split a line.
QString cleanField(const QString &field);

// One line from eight fields, cleaned, ended by LF or CR LF, in ISO 8859-1. A character
// ISO 8859-1 cannot hold is written as a readable stand-in where one exists (a dash as "-",
// curly quotes as straight ones, "..." for an ellipsis, "EUR" for the euro sign, a letter
// without its marks) and as "?" where none does, so the line is never lost.
QByteArray encodeLine(const QStringList &fields, bool crlf);
// One field of such a line appended to `line`, cleaned and encoded the same way; the
// UTF-8 form reads the bytes straight.
void appendField(QByteArray &line, QStringView field);
void appendUtf8Field(QByteArray &line, std::string_view utf8);

// The record field of a programme marked for recording: "Y", or "-05 +10" with the
// start and stop extensions in minutes (magnitudes clamped to 99 so the field keeps
// its seven characters).
QString formatRecordStringForListing(std::optional<int> extStart, std::optional<int> extStop);

// What a record field says. "Y": recorded, extensions untouched. The seven-character form:
// recorded with both extensions. Anything else ("N", empty, damaged): not recorded,
// extensions untouched.
struct RecordField {
    bool record = false;
    std::optional<int> extStart;
    std::optional<int> extStop;
};
RecordField decodeRecordField(const QString &field);

// The integer value of a string's leading decimal digits (after optional blanks and a
// sign); 0 when there are none.
int leadingInt(const QString &text);

} // namespace tgd
