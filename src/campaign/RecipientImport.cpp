#include "RecipientImport.h"

#include "FennimarStrings.h"
#include "campaignlogging.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHashSeed>

#include <algorithm>
#include <array>
#include <cstring>

namespace brisko::RecipientImport {

namespace {

// What a byte can start, for the splitting loop.
enum ByteClass : quint8 {
    Plain = 0,
    FieldEnd = 1,
    Break = 2,      // U+000A..U+000D
    MaybeBreak = 3, // lead byte of U+0085 (C2 85) or of U+2028/U+2029 (E2 80 A8/A9)
};

using ClassTable = std::array<quint8, 256>;

ClassTable classTable(char separator)
{
    ClassTable table{};
    for (int c = 0x0A; c <= 0x0D; ++c)
        table[c] = Break;
    table[0xC2] = MaybeBreak;
    table[0xE2] = MaybeBreak;
    table[quint8(separator)] = FieldEnd;
    return table;
}

// Length of the line terminator at p, 0 when the byte there starts none.
inline int breakLength(const uchar *p, const uchar *end)
{
    const uchar c = *p;
    if (c >= 0x0A && c <= 0x0D)
        return 1;
    if (c == 0xC2)
        return end - p >= 2 && p[1] == 0x85 ? 2 : 0;
    if (c == 0xE2)
        return end - p >= 3 && p[1] == 0x80 && (p[2] == 0xA8 || p[2] == 0xA9) ? 3 : 0;
    return 0;
}

bool hasUtf8Mark(QByteArrayView bytes)
{
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xEF && uchar(bytes[1]) == 0xBB && uchar(bytes[2]) == 0xBF;
}

// A byte-order mark of UTF-16 or UTF-32 (UTF-8's is handled apart).
bool hasWideMark(QByteArrayView bytes)
{
    return bytes.size() >= 2 && ((uchar(bytes[0]) == 0xFE && uchar(bytes[1]) == 0xFF) ||
                                 (uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xFE) ||
                                 (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == 0 &&
                                  uchar(bytes[2]) == 0xFE && uchar(bytes[3]) == 0xFF));
}

// An upper guess of the number of lines, for reserving: a "\r\n" pair counts once.
qsizetype estimateLines(QByteArrayView bytes)
{
    qsizetype feeds = 0;
    qsizetype returns = 0;
    qsizetype others = 0;
    const uchar *p = reinterpret_cast<const uchar *>(bytes.data());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        feeds += p[i] == 0x0A;
        returns += p[i] == 0x0D;
        others += p[i] == 0x0B || p[i] == 0x0C;
    }
    return std::max(feeds, returns) + others + 1;
}

inline size_t hashOf(const char *p, qsizetype n)
{
    return qHashBits(p, size_t(n), QHashSeed::globalSeed());
}

// The addresses met in one file, by byte content: an open-addressing table of record
// numbers whose address lies in the shared bytes. Starts with room for 1000 addresses.
class SeenAddresses
{
public:
    // address(record) gives the stored record's address bytes.
    template<typename AddressOf>
    bool insert(QByteArrayView address, quint32 record, AddressOf &&addressOf)
    {
        if ((m_used + 1) * 2 > m_slots.size())
            grow(addressOf);
        const quint32 h = quint32(hashOf(address.data(), address.size()));
        size_t i = h & (m_slots.size() - 1);
        while (m_slots[i].recordPlusOne) {
            if (m_slots[i].hash == h && addressOf(m_slots[i].recordPlusOne - 1) == address)
                return false;
            i = (i + 1) & (m_slots.size() - 1);
        }
        m_slots[i] = {h, record + 1};
        ++m_used;
        return true;
    }

private:
    struct Slot
    {
        quint32 hash = 0;
        quint32 recordPlusOne = 0; // 0: free
    };

    template<typename AddressOf>
    void grow(AddressOf &&)
    {
        std::vector<Slot> old;
        old.swap(m_slots);
        m_slots.assign(old.empty() ? 2048 : old.size() * 2, Slot{});
        const size_t mask = m_slots.size() - 1;
        for (const Slot &slot : old) {
            if (!slot.recordPlusOne)
                continue;
            size_t i = slot.hash & mask;
            while (m_slots[i].recordPlusOne)
                i = (i + 1) & mask;
            m_slots[i] = slot;
        }
    }

    std::vector<Slot> m_slots;
    size_t m_used = 0;
};

// Owns the records of one import side by side; each record handed out shares the
// block's lifetime.
struct RecordBlock
{
    std::vector<Recipient> records;
};

} // namespace

bool hasControlCharacter(QByteArrayView utf8)
{
    // Every byte of a multi-byte UTF-8 sequence is 0x80 or above.
    return std::any_of(utf8.begin(), utf8.end(), [](char c) { return uchar(c) < 0x20 || uchar(c) == 0x7F; });
}

bool isValidEmailAddress(QByteArrayView utf8)
{
    return utf8.contains('@') && utf8.contains('.') && !hasControlCharacter(utf8);
}

bool isValidEmailAddress(const std::optional<QString> &address)
{
    if (!address || !address->contains(u'@') || !address->contains(u'.'))
        return false;
    return std::none_of(address->cbegin(), address->cend(),
                        [](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
}

namespace {

// Reads the file in parts. With longLine given, reading stops once a run of bytes holding
// nothing that may end a line passes MaxLineBytes, and *longLine says so: such a file is
// refused anyway, and a line of a gigabyte need not be read whole for that. Any byte that
// may begin a line end (a control byte, or the lead byte of U+0085, U+2028, U+2029) ends
// the run, so a stop always means a line really is that long. Not for UTF-16/32 files,
// whose bytes are not the text's UTF-8.
std::optional<QByteArray> readParts(const QString &path, bool *longLine)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxBytes)
        return std::nullopt;
    constexpr qsizetype Part = 4 << 20;
    QByteArray bytes;
    bytes.resize(file.size()); // pages are only taken as they are written
    qsizetype done = 0;
    qint64 run = 0;
    bool watch = longLine != nullptr;
    while (true) {
        if (done == bytes.size())
            bytes.resize(done + Part); // the file grew meanwhile
        const qint64 got = file.read(bytes.data() + done, std::min(Part, bytes.size() - done));
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        if (watch && done == 0 && hasWideMark(QByteArrayView(bytes.constData(), got)))
            watch = false;
        if (watch) {
            const uchar *p = reinterpret_cast<const uchar *>(bytes.constData() + done);
            for (qint64 i = 0; i < got; ++i) {
                const uchar c = p[i];
                run = (c >= 0x0A && c <= 0x0D) || c == 0xC2 || c == 0xE2 ? 0 : run + 1;
            }
            if (run > MaxLineBytes) {
                *longLine = true;
                bytes.resize(done + got);
                return bytes;
            }
        }
        done += got;
    }
    bytes.resize(done);
    return bytes;
}

std::optional<QByteArray> readUtf8(const QString &path, bool *longLine)
{
    if (QFileInfo(path).isDir())
        return std::nullopt;
    std::optional<QByteArray> read = readParts(path, longLine);
    if (read && longLine && *longLine && hasUtf8Mark(*read))
        read->remove(0, 3);
    if (!read || (longLine && *longLine))
        return read;
    QByteArray bytes = std::move(*read);
    if (hasUtf8Mark(bytes)) {
        bytes.remove(0, 3);
        if (!QByteArrayView(bytes).isValidUtf8())
            return std::nullopt;
        return bytes;
    }
    if (!hasWideMark(bytes) && QByteArrayView(bytes).isValidUtf8())
        return bytes;
    // Another encoding: decoded exactly as every other text file of the program is.
    bytes.clear();
    bytes.squeeze();
    const std::optional<QString> text = FennimarStrings::readFile(path);
    if (!text)
        return std::nullopt;
    return text->toUtf8();
}

} // namespace

std::optional<QByteArray> readUtf8(const QString &path)
{
    return readUtf8(path, nullptr);
}

Result importText(QByteArray utf8, Separator separator)
{
    Result result;
    if (utf8.size() > MaxBytes) {
        result.status = Status::TooLarge;
        return result;
    }
    const uchar *const begin = reinterpret_cast<const uchar *>(utf8.constData());
    const uchar *const end = begin + utf8.size();
    const ClassTable table = classTable(char(separator));

    // The heading row.
    const uchar *p = begin;
    const uchar *fieldStart = p;
    const uchar *lineEnd = end;
    int terminator = 0;
    while (p < end) {
        const quint8 cls = table[*p];
        if (cls == FieldEnd) {
            result.headings.append(QString::fromUtf8(reinterpret_cast<const char *>(fieldStart), p - fieldStart));
            fieldStart = ++p;
        } else if (cls >= Break && (terminator = breakLength(p, end)) > 0) {
            lineEnd = p;
            break;
        } else {
            ++p;
        }
    }
    if (lineEnd - begin > MaxLineBytes) {
        qCDebug(lcCampaign).noquote() << "RecipientImport.importText - the heading row is longer than"
                                     << MaxLineBytes << "bytes";
        result = {};
        result.status = Status::LineTooLong;
        result.line = 1;
        return result;
    }
    result.headings.append(QString::fromUtf8(reinterpret_cast<const char *>(fieldStart), lineEnd - fieldStart));
    if (!result.headings.contains(EmailKey)) {
        result.status = Status::NoEmailHeading;
        return result;
    }

    // Distinct keys in order of first appearance; heading j fills key columnOf[j].
    auto source = std::make_shared<RecordSource>();
    QHash<QString, int> keyIndex;
    std::vector<int> columnOf;
    columnOf.reserve(size_t(result.headings.size()));
    for (const QString &heading : std::as_const(result.headings)) {
        if (heading.startsWith(ProgramColumnPrefix)) {
            columnOf.push_back(-1);
            continue;
        }
        auto it = keyIndex.constFind(heading);
        if (it == keyIndex.constEnd()) {
            it = keyIndex.insert(heading, int(source->keys.size()));
            source->keys.append(heading);
        }
        columnOf.push_back(*it);
    }
    const size_t keyCount = size_t(source->keys.size());
    const size_t headingCount = columnOf.size();
    const size_t emailColumn = size_t(keyIndex.value(EmailKey.toString()));

    std::vector<quint32> &spans = source->spans;
    const qsizetype lineGuess = estimateLines(QByteArrayView(lineEnd, end - lineEnd));
    if (qint64(lineGuess) * qint64(keyCount) > MaxValues) {
        qCInfo(lcCampaign).noquote() << "RecipientImport.importText - too many values:" << lineGuess << "lines of"
                                     << keyCount << "columns";
        result.status = Status::TooLarge;
        return result;
    }
    spans.reserve(size_t(lineGuess) * keyCount * 2);

    const auto addressOf = [&](quint32 record) {
        const size_t at = (size_t(record) * keyCount + emailColumn) * 2;
        return QByteArrayView(begin + spans[at], qsizetype(spans[at + 1] - spans[at]));
    };
    SeenAddresses seen;
    Counts &counts = result.counts;
    quint32 taken = 0;
    qsizetype lineNumber = 1;

    p = lineEnd + terminator;
    if (terminator == 1 && *lineEnd == 0x0D && p < end && *p == 0x0A)
        ++p; // the empty line inside "\r\n"
    while (p < end) {
        // One line: note where each field lies while looking for the line's end.
        const uchar *lineStart = p;
        const size_t base = size_t(taken) * keyCount * 2;
        spans.resize(base); // what a dropped line left
        spans.resize(base + keyCount * 2, RecordSource::Absent);
        size_t field = 0;
        fieldStart = p;
        lineEnd = end;
        terminator = 0;
        while (p < end) {
            const quint8 cls = table[*p];
            if (cls == Plain) {
                ++p;
            } else if (cls == FieldEnd) {
                if (field < headingCount && columnOf[field] >= 0) {
                    const size_t at = base + size_t(columnOf[field]) * 2;
                    spans[at] = quint32(fieldStart - begin);
                    spans[at + 1] = quint32(p - begin);
                }
                ++field;
                fieldStart = ++p;
            } else if ((terminator = breakLength(p, end)) > 0) {
                lineEnd = p;
                break;
            } else {
                ++p;
            }
        }
        p = lineEnd + terminator;
        const bool crlf = terminator == 1 && *lineEnd == 0x0D && p < end && *p == 0x0A;
        if (crlf)
            ++p;
        ++lineNumber;
        if (lineEnd - lineStart > MaxLineBytes) {
            qCDebug(lcCampaign).noquote() << "RecipientImport.importText - line" << lineNumber << "is longer than"
                                         << MaxLineBytes << "bytes";
            Result refused;
            refused.status = Status::LineTooLong;
            refused.line = lineNumber;
            refused.headings = result.headings;
            return refused;
        }
        if (lineEnd == lineStart) {
            ++counts.blankLines;
            continue;
        }
        if (field < headingCount && columnOf[field] >= 0) {
            const size_t at = base + size_t(columnOf[field]) * 2;
            spans[at] = quint32(fieldStart - begin);
            spans[at + 1] = quint32(lineEnd - begin);
        }

        if (spans[base + emailColumn * 2] == RecordSource::Absent) {
            ++counts.missingAddress;
            continue;
        }
        if (hasControlCharacter(addressOf(taken))) {
            ++counts.controlAddress;
            continue;
        }
        if (!isValidEmailAddress(addressOf(taken))) {
            ++counts.invalidAddress;
            continue;
        }
        if (!seen.insert(addressOf(taken), taken, addressOf)) {
            ++counts.repeatedAddress;
            continue;
        }
        if (qint64(taken + 1) * qint64(keyCount) > MaxValues) {
            qCInfo(lcCampaign).noquote() << "RecipientImport.importText - too many values after" << taken
                                         << "records of" << keyCount << "columns";
            result.status = Status::TooLarge;
            result.counts = {};
            return result;
        }
        ++taken;
    }
    spans.resize(size_t(taken) * keyCount * 2);
    if (spans.capacity() > spans.size() + spans.size() / 4)
        spans.shrink_to_fit();
    counts.taken = taken;

    source->bytes = std::move(utf8);
    const std::shared_ptr<const RecordSource> shared = std::move(source);
    auto block = std::make_shared<RecordBlock>();
    block->records.reserve(taken);
    result.records.reserve(taken);
    for (quint32 i = 0; i < taken; ++i) {
        block->records.emplace_back(shared, quint32(i * keyCount));
        result.records.append(RecipientPtr(block, &block->records.back()));
    }
    result.status = Status::Ok;
    return result;
}

Result importFile(const QString &path, Separator separator)
{
    if (const QFileInfo info(path); info.isFile() && info.size() > MaxBytes) {
        qCInfo(lcCampaign).noquote() << "RecipientImport.importFile - too large:" << path;
        Result result;
        result.status = Status::TooLarge;
        return result;
    }
    bool longLine = false;
    std::optional<QByteArray> bytes = readUtf8(path, &longLine);
    if (longLine) {
        // What was read holds every line before the long one and more than the limit of it.
        qCDebug(lcCampaign).noquote() << "RecipientImport.importFile - stopped reading at a long line:" << path;
        Result result = importText(std::move(*bytes), separator);
        Q_ASSERT(result.status != Status::Ok);
        return result;
    }
    if (!bytes) {
        qCInfo(lcCampaign).noquote() << "RecipientImport.importFile - could not read" << path;
        return {};
    }
    return importText(std::move(*bytes), separator);
}

} // namespace brisko::RecipientImport
