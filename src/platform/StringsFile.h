#pragma once

#include <QHash>
#include <QString>
#include <QStringView>

#include <optional>

namespace brisko {

// Where and why a strings file stopped parsing. Lines count from 1.
struct StringsFileError
{
    int line = 0;
    QString message;

    // "line 12: unterminated string"
    QString toString() const;
};

// The entries read from a strings file. When the text is malformed, `entries`
// holds every complete entry before the fault and `error` names the fault.
struct StringsFileResult
{
    QHash<QString, QString> entries;
    std::optional<StringsFileError> error;
};

// The string-table format of the program's resources:
//
//     /* block comment */
//     // line comment
//     "key" = "value";
//
// Keys and values are double-quoted and may span lines; the escapes \" \\ \n \t
// \r and \Uxxxx (or \uxxxx, four hex digits of a UTF-16 code unit) are decoded,
// any other backslash pair stands for the character after the backslash. A later
// entry for the same key replaces an earlier one. Decoding the file's bytes is
// the reader's business: the parser takes text (a leading byte-order mark is
// skipped).
namespace StringsFile {

StringsFileResult parse(QStringView text);

} // namespace StringsFile

} // namespace brisko
