#include "FennimarStrings.h"

#include "foundationlogging.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace Qt::StringLiterals;

namespace FennimarStrings {

namespace {

// ---------------------------------------------------------------------------------------
// Default (canonical-equivalence) search

// A matched stretch of the original text, [begin, end).
struct Hit
{
    qsizetype begin = -1;
    qsizetype end = -1;

    bool found() const { return begin >= 0; }
};

// Below U+0300 there are no combining marks, every character is its own NFC form and
// none composes with what precedes it, so such text compares canonically as it does
// literally, at every position.
bool isPlain(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x300; });
}

QString nfc(QStringView text)
{
    if (text.size() == 1 && text.front().unicode() < 0x300)
        return text.toString();
    return text.toString().normalized(QString::NormalizationForm_C);
}

char32_t codePointAt(QStringView text, qsizetype i)
{
    const QChar c = text[i];
    if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[i + 1]);
    return c.unicode();
}

// The text in NFC together with the positions where both forms can be cut alike: the
// boundaries between characters (a starter with the combining marks that follow it).
// origAt[k] and nfcAt[k] are the k-th such boundary in the original and in the NFC text.
class CanonicalText
{
public:
    explicit CanonicalText(QStringView text)
    {
        origAt.push_back(0);
        nfcAt.push_back(0);
        if (text.isEmpty())
            return;

        // Candidate cuts: before every code point of combining class 0.
        std::vector<qsizetype> starts{0};
        for (qsizetype i = 0; i < text.size();) {
            const char32_t cp = codePointAt(text, i);
            if (i > 0 && QChar::combiningClass(cp) == 0)
                starts.push_back(i);
            i += QChar::requiresSurrogates(cp) ? 2 : 1;
        }
        starts.push_back(text.size());

        // A few starters compose with the character before them (Hangul jamo, some
        // Indic vowel signs); a cut is kept only where normalising both sides apart
        // gives what normalising them together gives. A group that is one code unit
        // below U+0300 is its own NFC form and is not copied.
        normalized.reserve(text.size());
        qsizetype groupStart = 0;
        qsizetype groupEnd = starts[1];
        QString groupNfc;
        bool groupOwned = false;
        const auto startGroup = [&](qsizetype a, qsizetype b) {
            groupStart = a;
            groupEnd = b;
            groupOwned = !(b - a == 1 && text[a].unicode() < 0x300);
            if (groupOwned)
                groupNfc = nfc(text.sliced(a, b - a));
        };
        const auto groupView = [&]() {
            return groupOwned ? QStringView(groupNfc) : text.sliced(groupStart, groupEnd - groupStart);
        };
        startGroup(0, starts[1]);
        for (size_t k = 1; k + 1 < starts.size(); ++k) {
            const qsizetype a = starts[k];
            const qsizetype b = starts[k + 1];
            if (text[a].unicode() >= 0x300) {
                const QString segmentNfc = nfc(text.sliced(a, b - a));
                QString joined = nfc(text.sliced(groupStart, b - groupStart));
                const QStringView group = groupView();
                if (joined.size() != group.size() + segmentNfc.size() || !joined.startsWith(group) ||
                    QStringView(joined).sliced(group.size()) != segmentNfc) {
                    groupNfc = std::move(joined);
                    groupOwned = true;
                    groupEnd = b;
                    continue;
                }
            }
            normalized += groupView();
            origAt.push_back(a);
            nfcAt.push_back(normalized.size());
            startGroup(a, b);
        }
        normalized += groupView();
        origAt.push_back(text.size());
        nfcAt.push_back(normalized.size());

        // Should some exotic sequence still normalise differently in pieces, give up
        // the inner cuts rather than report wrong positions.
        const QString whole = text.toString().normalized(QString::NormalizationForm_C);
        if (whole != normalized) {
            normalized = whole;
            origAt = {0, text.size()};
            nfcAt = {0, whole.size()};
        }
    }

    Hit find(QStringView needle, qsizetype from) const
    {
        const QString n = needle.toString().normalized(QString::NormalizationForm_C);
        // First boundary at or after `from` in the original text.
        const auto firstCut = std::lower_bound(origAt.begin(), origAt.end(), from);
        if (firstCut == origAt.end())
            return {};
        qsizetype nfcFrom = nfcAt[size_t(firstCut - origAt.begin())];
        for (;;) {
            const qsizetype i = normalized.indexOf(n, nfcFrom);
            if (i < 0)
                return {};
            const auto b = cutAt(i);
            const auto e = cutAt(i + n.size());
            if (b && e)
                return {origAt[*b], origAt[*e]};
            nfcFrom = i + 1;
        }
    }

private:
    std::optional<size_t> cutAt(qsizetype nfcPosition) const
    {
        const auto it = std::lower_bound(nfcAt.begin(), nfcAt.end(), nfcPosition);
        if (it == nfcAt.end() || *it != nfcPosition)
            return std::nullopt;
        return size_t(it - nfcAt.begin());
    }

    QString normalized;
    std::vector<qsizetype> origAt;
    std::vector<qsizetype> nfcAt;
};

// Text in NFC without combining marks: every code point is a whole character and no
// two neighbours compose, so positions in it are positions in its NFC form.
bool isStableNfc(const QString &text)
{
    for (qsizetype i = 0; i < text.size();) {
        const char32_t cp = codePointAt(text, i);
        if (QChar::combiningClass(cp) != 0)
            return false;
        i += QChar::requiresSurrogates(cp) ? 2 : 1;
    }
    return text.normalized(QString::NormalizationForm_C) == text;
}

Hit findLiteral(QStringView text, QStringView needle, qsizetype from)
{
    const qsizetype i = text.indexOf(needle, from);
    if (i < 0)
        return {};
    return {i, i + needle.size()};
}

Hit findDefault(const QString &text, const QString &needle, qsizetype from = 0)
{
    if (needle.isEmpty() || from > text.size())
        return {};
    if (isPlain(text) && isPlain(needle))
        return findLiteral(text, needle, from);
    if (isStableNfc(text))
        return findLiteral(text, needle.normalized(QString::NormalizationForm_C), from);
    return CanonicalText(text).find(needle, from);
}

// ---------------------------------------------------------------------------------------
// Markers

struct Markers
{
    Hit opening;
    Hit closing;
};

std::optional<Markers> locateMarkers(const QString &text, const QString &opening,
                                     const std::optional<QString> &closing, bool lastClosing,
                                     qsizetype from = 0)
{
    const Hit open = findDefault(text, opening, from);
    if (!open.found())
        return std::nullopt;
    if (!closing)
        return Markers{open, {text.size(), text.size()}};
    if (closing->isEmpty())
        return std::nullopt;
    // Closing markers that overlap the opening marker are passed over.
    const qsizetype at = lastClosing ? text.lastIndexOf(*closing) : text.indexOf(*closing, open.end);
    if (at < open.end)
        return std::nullopt;
    return Markers{open, {at, at + closing->size()}};
}

Range rangeOf(const std::optional<Markers> &m)
{
    if (!m)
        return {};
    return {m->opening.begin, m->closing.end - m->opening.begin};
}

std::optional<QString> textBetween(const QString &text, const std::optional<Markers> &m)
{
    if (!m)
        return std::nullopt;
    return text.sliced(m->opening.end, m->closing.begin - m->opening.end);
}

// ---------------------------------------------------------------------------------------
// Decoding

// The bytes of one code unit/point in the given byte order.
template <int Width> quint32 unitAt(const char *p, bool bigEndian)
{
    quint32 v = 0;
    for (int i = 0; i < Width; ++i) {
        const quint32 byte = quint8(p[bigEndian ? i : Width - 1 - i]);
        v = (v << 8) | byte;
    }
    return v;
}

std::optional<QString> decodeUtf16(QByteArrayView bytes, bool bigEndian)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QString out(bytes.size() / 2, Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < out.size(); ++i)
        dst[i] = QChar(char16_t(unitAt<2>(bytes.data() + 2 * i, bigEndian)));
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (dst[i].isHighSurrogate()) {
            if (i + 1 >= out.size() || !dst[i + 1].isLowSurrogate())
                return std::nullopt;
            ++i;
        } else if (dst[i].isLowSurrogate()) {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<QString> decodeUtf32(QByteArrayView bytes, bool bigEndian)
{
    if (bytes.size() % 4 != 0)
        return std::nullopt;
    QString out;
    out.reserve(bytes.size() / 4);
    for (qsizetype i = 0; i < bytes.size(); i += 4) {
        const char32_t cp = unitAt<4>(bytes.data() + i, bigEndian);
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::nullopt;
        if (QChar::requiresSurrogates(cp)) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
    }
    return out;
}

std::optional<QString> decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString out = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return out;
}

// 0x80-0x9F of Windows-1252; the rest of the code page is Latin-1. The five unassigned
// bytes (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep the C1 control of their value.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QString decodeWindows1252(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    QChar *dst = out.data();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const quint8 b = quint8(bytes[i]);
        dst[i] = QChar(b >= 0x80 && b < 0xA0 ? windows1252High[b - 0x80] : char16_t(b));
    }
    return out;
}

std::optional<QString> decodeDetected(QByteArrayView bytes)
{
    const auto startsWith = [&](std::initializer_list<quint8> mark) {
        if (bytes.size() < qsizetype(mark.size()))
            return false;
        return std::equal(mark.begin(), mark.end(), bytes.begin(),
                          [](quint8 m, char b) { return m == quint8(b); });
    };
    // UTF-32 LE before UTF-16 LE: its mark begins with the UTF-16 LE one.
    if (startsWith({0x00, 0x00, 0xFE, 0xFF}))
        return decodeUtf32(bytes.sliced(4), true);
    if (startsWith({0xFF, 0xFE, 0x00, 0x00}))
        return decodeUtf32(bytes.sliced(4), false);
    if (startsWith({0xEF, 0xBB, 0xBF}))
        return decodeUtf8(bytes.sliced(3));
    if (startsWith({0xFE, 0xFF}))
        return decodeUtf16(bytes.sliced(2), true);
    if (startsWith({0xFF, 0xFE}))
        return decodeUtf16(bytes.sliced(2), false);
    if (auto utf8 = decodeUtf8(bytes))
        return utf8;
    return decodeWindows1252(bytes);
}

// ---------------------------------------------------------------------------------------
// Descriptions

QString describe(const QVariant &value, int indent);

// Strings in a description are quoted unless they are one plain word.
QString describeString(const QString &s)
{
    const bool plain = !s.isEmpty() && std::all_of(s.begin(), s.end(), [](QChar c) {
        return (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == u'_' || c == u'.' || c == u'$' ||
               c == u'/' || c == u':' || c == u'-';
    });
    if (plain)
        return s;
    QString quoted = s;
    quoted.replace(u"\\"_s, u"\\\\"_s).replace(u"\""_s, u"\\\""_s).replace(u"\n"_s, u"\\n"_s);
    return u'"' + quoted + u'"';
}

QString describeElement(const QVariant &value, int indent)
{
    if (value.typeId() == QMetaType::QString)
        return describeString(value.toString());
    return describe(value, indent);
}

QString describe(const QVariant &value, int indent)
{
    const QString pad(4 * indent, u' ');
    const QString innerPad(4 * (indent + 1), u' ');
    if (value.canConvert<QVariantList>() && value.typeId() != QMetaType::QString &&
        value.typeId() != QMetaType::QByteArray && !value.canConvert<QVariantMap>()) {
        const QVariantList list = value.toList();
        QStringList items;
        for (const QVariant &item : list)
            items << innerPad + describeElement(item, indent + 1);
        if (items.isEmpty())
            return u"()"_s;
        return u"(\n"_s + items.join(u",\n"_s) + u'\n' + pad + u')';
    }
    if (value.typeId() == QMetaType::QVariantMap || value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map = value.toMap();
        if (value.typeId() == QMetaType::QVariantHash) {
            const QVariantHash hash = value.toHash();
            for (auto it = hash.cbegin(); it != hash.cend(); ++it)
                map.insert(it.key(), it.value());
        }
        if (map.isEmpty())
            return u"{\n}"_s;
        QString out = u"{\n"_s;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            out += innerPad + describeString(it.key()) + u" = "_s + describeElement(it.value(), indent + 1) +
                   u";\n"_s;
        return out + pad + u'}';
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool() ? u"1"_s : u"0"_s;
    case QMetaType::QString:
        return value.toString();
    default:
        break;
    }
    if (value.canConvert<QString>())
        return value.toString();
    QString out;
    QDebug(&out).nospace() << value;
    return out;
}

} // namespace

// -------------------------------------------------------------------------------------------
// Files

std::optional<QString> readFile(const QString &path)
{
    if (QFileInfo(path).isDir())
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return decodeDetected(bytes);
}

std::optional<QString> write(const QString &text, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return file.errorString();
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size())
        return file.errorString();
    if (!file.flush())
        return file.errorString();
    file.close();
    if (file.error() != QFileDevice::NoError)
        return file.errorString();
    return std::nullopt;
}

// -------------------------------------------------------------------------------------------
// Search and replace

QString replace(const QString &search, const QString &replacement, const QString &text)
{
    if (search.isEmpty())
        return text;
    qsizetype at = text.indexOf(search);
    if (at < 0)
        return text;
    QString out;
    out.reserve(text.size() + std::max<qsizetype>(0, replacement.size() - search.size()) * 16);
    qsizetype done = 0;
    while (at >= 0) {
        out += QStringView(text).sliced(done, at - done);
        out += replacement;
        done = at + search.size();
        at = text.indexOf(search, done);
    }
    out += QStringView(text).sliced(done);
    return out;
}

bool stringContains(const QString &text, const QString &search)
{
    return findDefault(text, search).found();
}

bool stringContainsStringInArray(const QString &text, const QStringList &array)
{
    return std::any_of(array.begin(), array.end(),
                       [&](const QString &search) { return stringContains(text, search); });
}

bool stringContainsCharacterAbove(const QString &text, int number)
{
    return std::any_of(text.begin(), text.end(), [number](QChar c) { return int(c.unicode()) > number; });
}

Range findStringBetween(const QString &opening, const std::optional<QString> &closing, const QString &text)
{
    return rangeOf(locateMarkers(text, opening, closing, false));
}

Range findStringBetweenAndLastOccurenceOf(const QString &opening, const std::optional<QString> &closing,
                                          const QString &text)
{
    return rangeOf(locateMarkers(text, opening, closing, true));
}

std::optional<QString> stringBetween(const QString &opening, const std::optional<QString> &closing,
                                     const QString &text)
{
    return textBetween(text, locateMarkers(text, opening, closing, false));
}

std::optional<QString> stringBetweenAndLastOccurenceOf(const QString &opening,
                                                       const std::optional<QString> &closing,
                                                       const QString &text)
{
    return textBetween(text, locateMarkers(text, opening, closing, true));
}

qint64 numberOfOccurencesOf(const QString &search, const std::optional<QString> &text)
{
    if (!text || search.isEmpty())
        return 0;
    qint64 count = 0;
    for (qsizetype at = text->indexOf(search, 0, Qt::CaseInsensitive); at >= 0;
         at = text->indexOf(search, at + search.size(), Qt::CaseInsensitive))
        ++count;
    return count;
}

qint64 numberOfOccurencesOfInFile(const QString &search, const QString &path)
{
    return numberOfOccurencesOf(search, readFile(path));
}

QStringList splitString(const QString &text, const QString &separator)
{
    const Hit hit = findDefault(text, separator);
    if (!hit.found())
        return {text};
    return {text.first(hit.begin), text.sliced(hit.end)};
}

QString removeChunksFrom(const QString &text, const QString &opening, const QString &closing)
{
    // Nothing before a deleted stretch held an opening marker, so in plain text the next
    // search starts where a marker could have formed across the join. With combining
    // marks a deletion can regroup the characters before it, so the search starts over.
    const bool plain = isPlain(text) && isPlain(opening);
    QString out = text;
    qsizetype from = 0;
    while (const auto m = locateMarkers(out, opening, closing, false, from)) {
        out.remove(m->opening.begin, m->closing.end - m->opening.begin);
        from = plain ? std::max<qsizetype>(0, m->opening.begin - opening.size() + 1) : 0;
    }
    return out;
}

int indexOfString(const QString &search, const QString &text, int startingFrom, bool workBackwards)
{
    if (!workBackwards) {
        qCWarning(lcFoundation, "NOT IMPLEMENTED - See FennimarStrings - indexOfString");
        return -1;
    }
    const qsizetype last = std::min<qsizetype>(qsizetype(startingFrom) - 1, text.size() - search.size());
    if (last < 0)
        return -1;
    if (search.isEmpty())
        return int(last);
    // The start is passed explicitly: lastIndexOf() without one on a view cut to length
    // also looks at the code unit just past the view.
    return int(QStringView(text).lastIndexOf(QStringView(search), last));
}

qint64 locationOfLine(int line, const QString &data)
{
    if (line <= 1)
        return 0;
    int breaks = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data[i] == u'\n' || data[i] == u'\r') {
            if (++breaks == line - 1)
                return i + 1;
        }
    }
    return 0;
}

// -------------------------------------------------------------------------------------------
// Small conversions

QString removeLineBreaks(const QString &text)
{
    QString out = text;
    out.remove(u'\n');
    out.remove(u'\r');
    return out;
}

QString escapeUnescapedQuotes(const QString &text)
{
    // One pass: a quote right after a backslash is already escaped. No stand-in text is
    // swapped in and out, so nothing but the unescaped quotes can change.
    QString out;
    out.reserve(text.size() + 8);
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'"' && (i == 0 || text[i - 1] != u'\\'))
            out += u'\\';
        out += text[i];
    }
    return out;
}

QString randomString()
{
    return QString::number(std::rand());
}

bool boolForString(const std::optional<QString> &text)
{
    return text && (*text == u"1"_s || *text == u"true"_s);
}

QString trimWhitespaceAndNewLines(const QString &text)
{
    return text.trimmed();
}

QString trimWhitespace(const QString &text)
{
    const auto blank = [](QChar c) { return c == u'\t' || c.category() == QChar::Separator_Space; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QString stringValueOfObject(const QVariant &object)
{
    if (!object.isValid())
        return u"NIL VALUE"_s;
    return describe(object, 0);
}

QStringList splitStringIntoCharRangeChunks(const QString &text)
{
    QStringList pieces;
    QString run;
    bool previousWasHigh = false;
    for (QChar c : text) {
        if (c.unicode() > 500) {
            if (!previousWasHigh)
                pieces << run;
            pieces << QString(c);
            run.clear();
            previousWasHigh = true;
        } else {
            run += c;
            previousWasHigh = false;
        }
    }
    pieces << run;
    return pieces;
}

bool stringStartsWithANumber(const QString &text)
{
    return !text.isEmpty() && text.front() >= u'0' && text.front() <= u'9';
}

QString trim(const QString &prefix, const QString &text)
{
    if (!prefix.isEmpty() && text.startsWith(prefix))
        return text.sliced(prefix.size());
    return text;
}

QString remove(qint64 count, const QString &text)
{
    if (count <= 0)
        return text;
    if (count >= text.size())
        return QString();
    return text.first(text.size() - count);
}

} // namespace FennimarStrings
