#pragma once

#include "Recipient.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

// Reading a recipient list: plain text with one recipient per line and a heading row,
// fields separated by commas or by tabs.
//
// The rules, as the window and brisko-cli apply them:
//  - Lines end at any of U+000A..U+000D, U+0085, U+2028, U+2029; a carriage return
//    followed by a line feed therefore leaves an empty line between them, and empty
//    lines are skipped.
//  - Line 1 is the heading row. Every occurrence of the separator ends a field; there
//    is no quoting or escaping, so quote characters are ordinary text. Headings and
//    values are taken exactly as they stand (no trimming, no change of case).
//  - One heading must be exactly "EMAIL"; otherwise the file is refused.
//  - For each further line, heading j names field j. A line with fewer fields has no
//    entry for the missing ones; fields beyond the last heading are dropped; of two
//    equal headings the later one's field wins (when the line reaches it). Headings
//    beginning with "_BRISKO_" name the table's own columns and never become keys.
//  - A line longer than MaxLineBytes (the heading row included) refuses the whole file.
//  - A line whose "EMAIL" value is missing or fails isValidEmailAddress is dropped, and
//    so is a line repeating an address met earlier in the same file (compared byte for
//    byte): the first occurrence wins. Addresses already in the campaign do not count.
//
// How it is kept: the file is read once; text that is not UTF-8 is converted to UTF-8
// once. Records keep offsets into those shared bytes (RecordSource) and a value is
// decoded only when it is read, so a million-line list costs little more than its bytes.
// The address test and the duplicate check work on the bytes themselves.
namespace brisko::RecipientImport {

enum class Separator : char {
    Comma = ',',
    Tab = '\t',
};

enum class Status {
    Ok,             // headings found; records (possibly none) built
    Unreadable,     // the file could not be read or decoded
    NoEmailHeading, // the heading row has no field that is exactly "EMAIL"
    TooLarge,       // the list would need more room than one import allows (see limits)
    LineTooLong,    // a line is longer than MaxLineBytes (Result::line says which)
};

// Lines after the heading row, by what became of them.
struct Counts
{
    qsizetype taken = 0;            // appended as records
    qsizetype missingAddress = 0;   // dropped: no field under the "EMAIL" heading
    qsizetype invalidAddress = 0;   // dropped: the address lacks "@" or "."
    qsizetype controlAddress = 0;   // dropped: the address holds a control character
    qsizetype repeatedAddress = 0;  // dropped: the address appeared earlier in this file
    qsizetype blankLines = 0;       // skipped: empty (the empty line inside "\r\n" is not counted)

    qsizetype dropped() const { return missingAddress + invalidAddress + controlAddress + repeatedAddress; }
};

struct Result
{
    Status status = Status::Unreadable;
    QStringList headings; // the heading row's fields in order, as they stand (for the columns)
    RecipientList records;
    Counts counts;
    qsizetype line = 0; // LineTooLong: the line's number, counting from 1 (a "\r\n" ends one line)
};

// Limits of one import: offsets are 32-bit, and the values of all records together
// (lines times distinct columns, checked before anything is taken, and again as records
// are taken) may not pass MaxValues: 67,108,864 values, half a gigabyte of offsets.
inline constexpr qint64 MaxBytes = 0xFFFFFFF0LL;
inline constexpr qint64 MaxValues = qint64(1) << 26;
// No recipient's line is this long: a longer one means the file is not a list (or is
// hostile), and the import is refused before anything is taken. Counted in UTF-8 bytes,
// the line's terminator left out.
inline constexpr qint64 MaxLineBytes = qint64(1) << 20;

// The address test: true exactly when the text holds an "@" and a "." anywhere and no
// control character (U+0000..U+001F, U+007F), which would end up in a header or the
// request raw. A missing value is not an address.
bool isValidEmailAddress(const std::optional<QString> &address);
bool isValidEmailAddress(QByteArrayView utf8);

// True when the text holds a control character (U+0000..U+001F, U+007F).
bool hasControlCharacter(QByteArrayView utf8);

// The file's text as UTF-8: UTF-8 as it stands (without a byte-order mark), anything
// else decoded as FennimarStrings::readFile decodes it and converted once. None when the
// file is missing, unreadable, larger than MaxBytes, or its bytes do not decode.
std::optional<QByteArray> readUtf8(const QString &path);

// Splits UTF-8 text into headings and records by the rules above. The records share
// the bytes.
Result importText(QByteArray utf8, Separator separator);

// readUtf8 and importText.
Result importFile(const QString &path, Separator separator);

} // namespace brisko::RecipientImport
