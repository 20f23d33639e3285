#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The utility library's string helpers: whole-file text reading and writing, literal
// search and replace, cutting text between two markers (how service replies and the
// statistics report are taken apart), counting, trimming and small conversions.
// Everything is stateless; no function changes its arguments.
//
// Positions and lengths count UTF-16 code units, as QString does.
//
// Two comparisons are used, both case-sensitive:
//  - literal: code unit by code unit (replace, the closing marker of the between
//    functions, line-break removal, trim, the backwards index);
//  - default: canonically equivalent texts are equal, so a precomposed "é" matches "e"
//    followed by a combining acute accent. Text and search text are compared in NFC and
//    the positions found are mapped back to the original text. A match must cover whole
//    characters (a base character together with all its combining marks): "e" is not
//    found inside "e" + U+0301. Used by stringContains, stringContainsStringInArray,
//    splitString and the opening marker of the between functions and removeChunksFrom.
// An empty search text is never found by either comparison.
namespace FennimarStrings {

// The not-found location of a range (the largest signed 32-bit value).
inline constexpr qint64 NotFound = 2147483647;

struct Range
{
    qint64 location = NotFound;
    qint64 length = 0;

    bool found() const { return location != NotFound; }
    bool operator==(const Range &) const = default;
};

// The whole text of a file. The encoding is detected: a byte-order mark (UTF-8,
// UTF-16 LE/BE, UTF-32 LE/BE; the mark is not part of the text), otherwise valid UTF-8,
// otherwise Windows-1252 (its five unassigned bytes become the C1 controls of the same
// value). None when the file is missing, unreadable, or its bytes do not decode in the
// encoding its mark names (odd byte count, broken surrogates, code points out of range).
std::optional<QString> readFile(const QString &path);

// Writes the text as UTF-8 without a byte-order mark, in place (an existing file is
// truncated and rewritten, not replaced atomically). None on success, else the error text.
std::optional<QString> write(const QString &text, const QString &path);

// Every occurrence of search replaced, literal and case-sensitive, left to right,
// replaced text not rescanned. An empty search text leaves the text unchanged.
QString replace(const QString &search, const QString &replacement, const QString &text);

// True when search occurs in text (default comparison). False for an empty search text.
bool stringContains(const QString &text, const QString &search);

// The range from the first opening marker through the first closing marker after it.
// With no closing marker (none) the range runs to the end of the text.
//
// Choices where the markers do not fit together:
//  - a closing marker counts only when it begins at or after the end of the opening
//    marker; an occurrence that overlaps the opening marker (as when both markers are
//    the same text) is passed over and the search goes on after it. So
//    stringBetween("\"", "\"", "say \"hi\"") is "hi";
//  - when no closing marker is left after the opening marker, or the closing marker is
//    the empty text, the result is the not-found range (and none from stringBetween),
//    exactly as when the opening marker is missing.
Range findStringBetween(const QString &opening, const std::optional<QString> &closing, const QString &text);
// As findStringBetween, but ending at the last closing marker of the text.
Range findStringBetweenAndLastOccurenceOf(const QString &opening, const std::optional<QString> &closing,
                                          const QString &text);
// The text strictly between the markers of the ranges above; none when not found.
std::optional<QString> stringBetween(const QString &opening, const std::optional<QString> &closing,
                                     const QString &text);
std::optional<QString> stringBetweenAndLastOccurenceOf(const QString &opening,
                                                       const std::optional<QString> &closing,
                                                       const QString &text);

// Number of non-overlapping occurrences, left to right, ignoring case. None text gives
// 0; so does an empty search text.
qint64 numberOfOccurencesOf(const QString &search, const std::optional<QString> &text);
// The same over readFile(path); 0 when the file cannot be read.
qint64 numberOfOccurencesOfInFile(const QString &search, const QString &path);

// The text before and the text after the first separator (default comparison); only the
// whole text when the separator does not occur.
QStringList splitString(const QString &text, const QString &separator);

// Every line feed and every carriage return removed.
QString removeLineBreaks(const QString &text);

// Every double quote not already preceded by a backslash gets one; nothing else in the
// text changes.
QString escapeUnescapedQuotes(const QString &text);

// The decimal text of one value of the C library's rand().
QString randomString();

// True only for exactly "1" and "true".
bool boolForString(const std::optional<QString> &text);

// Without leading and trailing white space and line breaks (QChar::isSpace).
QString trimWhitespaceAndNewLines(const QString &text);
// Without leading and trailing tabs and space separators (Unicode category Zs).
QString trimWhitespace(const QString &text);

// "NIL VALUE" for an invalid variant; the text itself for a string; the number's text
// for numbers ("1"/"0" for booleans); for lists and maps a description in the
// "(\n    a,\n    b\n)" and "{\n    key = value;\n}" form; else the variant's own text
// conversion, or its debug form when it has none.
QString stringValueOfObject(const QVariant &object);

// True when any string of the array occurs in the text (stringContains, in order).
bool stringContainsStringInArray(const QString &text, const QStringList &array);

// True when any code unit of the text is greater than number.
bool stringContainsCharacterAbove(const QString &text, int number);

// The text with every stretch from an opening marker through the next closing marker
// (markers included, as findStringBetween finds them) deleted, repeated until none is left.
QString removeChunksFrom(const QString &text, const QString &opening, const QString &closing);

// With workBackwards: the highest position below startingFrom at which search begins
// (literal), -1 when there is none. A starting position where search would run past
// the end is brought back to the last position where it fits. Without workBackwards:
// logs "NOT IMPLEMENTED - See FennimarStrings - indexOfString" and returns -1.
int indexOfString(const QString &search, const QString &text, int startingFrom, bool workBackwards);

// Position of the first character of the line (lines counted from 1; every line feed
// and every carriage return ends a line, so "\r\n" counts as two). 0 for line 1 or
// below and for a line beyond the last one. A text ending in a line break has an empty
// last line that starts at the text's length.
qint64 locationOfLine(int line, const QString &data);

// Pieces cut around every code unit above 500: each run of units at or below 500 is one
// piece, each unit above 500 a piece of its own (so each half of a surrogate pair too).
// A text that begins or ends with such a unit has an empty first or last piece;
// the empty text gives one empty piece.
QStringList splitStringIntoCharRangeChunks(const QString &text);

// True when the text begins with one of the digits 0 to 9.
bool stringStartsWithANumber(const QString &text);

// The text without the prefix when it begins with it (once), else the text unchanged.
QString trim(const QString &prefix, const QString &text);

// The text without its last count code units; the empty text when count exceeds the
// length, the text unchanged when count is negative.
QString remove(qint64 count, const QString &text);

} // namespace FennimarStrings
