#include "PlaceholderMerge.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace brisko::PlaceholderMerge {

namespace {

using Entries = QList<std::pair<QString, QString>>;

// Offsets where "__" begins, in order ("___" gives two).
std::vector<qsizetype> underscorePairs(QStringView text)
{
    std::vector<qsizetype> pairs;
    const char16_t *d = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i underscore = _mm_set1_epi16(u'_');
    for (; i + 9 <= n; i += 8) {
        // Lanes where this unit and the next are both underscores.
        const __m128i here = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + i)), underscore);
        const __m128i next =
            _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(d + i + 1)), underscore);
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_and_si128(here, next)));
        while (mask) {
            const int bit = __builtin_ctz(mask);
            pairs.push_back(i + bit / 2);
            mask &= ~(3u << bit);
        }
    }
#endif
    for (; i + 1 < n; ++i) {
        if (d[i] == u'_' && d[i + 1] == u'_')
            pairs.push_back(i);
    }
    return pairs;
}

// A small set of 16-bit units, by their low six bits: a quick "surely absent" test.
struct UnitFilter
{
    quint64 bits = 0;
    void add(QChar c) { bits |= quint64(1) << (c.unicode() & 63); }
    bool mayHave(QChar c) const { return bits & (quint64(1) << (c.unicode() & 63)); }
};

inline size_t hashOf(QStringView s)
{
    size_t h = 1469598103934665603ull;
    for (const QChar c : s)
        h = (h ^ c.unicode()) * 1099511628211ull;
    return h;
}

// The keys of the entries, first occurrence of each, for looking names up in the
// template.
class KeyTable
{
public:
    explicit KeyTable(const Entries &entries)
    {
        size_t capacity = 16;
        while (capacity < size_t(entries.size()) * 2)
            capacity *= 2;
        m_slots.assign(capacity, -1);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const QString &key = entries.at(i).first;
            m_maxLength = std::max(m_maxLength, key.size());
            if (key.size() < 64)
                m_lengths |= quint64(1) << key.size();
            else
                m_longKeys = true;
            if (!key.isEmpty())
                m_firstUnits.add(key.front());
            for (const QChar c : key)
                m_units.add(c);
            size_t at = hashOf(key) & (capacity - 1);
            while (m_slots[at] >= 0 && entries.at(m_slots[at]).first != key)
                at = (at + 1) & (capacity - 1);
            if (m_slots[at] < 0)
                m_slots[at] = i;
        }
    }

    qsizetype maxLength() const { return m_maxLength; }
    // Whether some key may contain every unit of s.
    bool mayContain(QStringView s) const
    {
        return std::all_of(s.begin(), s.end(), [this](QChar c) { return m_units.mayHave(c); });
    }

    // The entry whose key is name, or -1.
    qsizetype find(QStringView name, const Entries &entries) const
    {
        if (name.size() < 64 ? !(m_lengths & (quint64(1) << name.size())) : !m_longKeys)
            return -1;
        if (!name.isEmpty() && !m_firstUnits.mayHave(name.front()))
            return -1;
        const size_t mask = m_slots.size() - 1;
        for (size_t at = hashOf(name) & mask; m_slots[at] >= 0; at = (at + 1) & mask) {
            if (entries.at(m_slots[at]).first == name)
                return m_slots[at];
        }
        return -1;
    }

private:
    std::vector<qsizetype> m_slots;
    qsizetype m_maxLength = 0;
    quint64 m_lengths = 0;
    bool m_longKeys = false;
    UnitFilter m_firstUnits;
    UnitFilter m_units;
};

struct Occurrence
{
    qsizetype at;
    qsizetype length;
    qsizetype entry;
};

// The merge done in one sweep: every placeholder the template itself holds replaced at
// once. Key-by-key replacement gives the same text unless a pass can meet a token that
// the template did not hold, one made by an earlier pass. That takes placeholders of the
// template overlapping one another, an inserted value holding two underscores in a row
// or beginning or ending with one, an empty value next to an underscore, or a key
// containing an inserted value (or, for an empty value, the two characters its removal
// brings together): without the others, every new token would have to enclose the
// inserted value in its key. None when any of these may happen.
std::optional<QString> mergeInOneSweep(const QString &text, const std::vector<qsizetype> &pairs,
                                       const Entries &entries)
{
    const KeyTable keys(entries);
    const QStringView view(text);
    const qsizetype n = view.size();
    const qsizetype longest = keys.maxLength();

    std::vector<Occurrence> occurrences;
    qsizetype end = 0; // end of the last occurrence
    for (size_t a = 0; a < pairs.size(); ++a) {
        const qsizetype p = pairs[a];
        for (size_t b = a + 1; b < pairs.size() && pairs[b] - p - 2 <= longest; ++b) {
            const qsizetype q = pairs[b];
            if (q < p + 2)
                continue;
            const qsizetype entry = keys.find(view.sliced(p + 2, q - p - 2), entries);
            if (entry < 0)
                continue;
            if (p < end)
                return std::nullopt; // overlaps the previous placeholder
            occurrences.push_back({p, q + 2 - p, entry});
            end = q + 2;
        }
    }
    if (occurrences.empty())
        return text;

    // What the values bring in.
    std::vector<signed char> checked(size_t(entries.size()), 0);
    for (const Occurrence &o : occurrences) {
        const QString &value = entries.at(o.entry).second;
        if (value.isEmpty()) {
            const QChar before = o.at > 0 ? view[o.at - 1] : QChar();
            const QChar after = o.at + o.length < n ? view[o.at + o.length] : QChar();
            if (before == u'_' || after == u'_')
                return std::nullopt;
            if (o.at > 0 && o.at + o.length < n) {
                const QChar joined[2] = {before, after};
                const QStringView join(joined, 2);
                if (keys.mayContain(join) && std::any_of(entries.begin(), entries.end(), [&](const auto &entry) {
                        return entry.first.contains(join);
                    }))
                    return std::nullopt;
            }
            continue;
        }
        signed char &state = checked[size_t(o.entry)];
        if (state == 0) {
            // Single underscores inside the value never pair up with anything.
            bool safe = !value.contains(u"__") && !value.startsWith(u'_') && !value.endsWith(u'_');
            if (safe && value.size() <= longest && keys.mayContain(value)) {
                safe = std::none_of(entries.begin(), entries.end(),
                                    [&](const auto &entry) { return entry.first.contains(value); });
            }
            state = safe ? 1 : -1;
        }
        if (state < 0)
            return std::nullopt;
    }

    qsizetype total = n;
    for (const Occurrence &o : occurrences)
        total += entries.at(o.entry).second.size() - o.length;
    QString out(total, Qt::Uninitialized);
    QChar *to = out.data();
    const auto copy = [&to](const QChar *from, qsizetype count) {
        std::memcpy(static_cast<void *>(to), from, size_t(count) * sizeof(QChar));
        to += count;
    };
    qsizetype done = 0;
    for (const Occurrence &o : occurrences) {
        copy(text.constData() + done, o.at - done);
        const QString &value = entries.at(o.entry).second;
        copy(value.constData(), value.size());
        done = o.at + o.length;
    }
    copy(text.constData() + done, n - done);
    return out;
}

// ---------------------------------------------------------------------------------------
// Key by key, for any template and values: the text is kept as a list of pieces
// (stretches of the template and of values), and each pass looks only where two
// underscores meet.

struct Piece
{
    const QChar *data;
    qsizetype size;
    qsizetype templateAt; // where the stretch lies in the template; -1 for value text
    bool underscores;     // value text only: whether it holds an underscore
};

// A place in the current text: a piece and an offset in it. An end may sit at the very
// end of its piece (offset == size).
struct Position
{
    qsizetype piece = 0;
    qsizetype offset = 0;

    bool operator<(const Position &other) const
    {
        return piece < other.piece || (piece == other.piece && offset < other.offset);
    }
};

class PieceMerger
{
public:
    PieceMerger(const QString &text, const std::vector<qsizetype> &pairs) : m_pairs(pairs)
    {
        if (!text.isEmpty())
            m_pieces.push_back({text.constData(), text.size(), 0, false});
    }

    void pass(QStringView token, const QString &value)
    {
        m_matches.clear();
        Position limit;
        forEachPair([&](Position at) {
            if (at < limit || !matchAt(at, token))
                return;
            limit = advance(at, token.size());
            m_matches.push_back({at, limit});
        });
        if (!m_matches.empty())
            rebuild(value);
    }

    QString result() const
    {
        qsizetype total = 0;
        for (const Piece &piece : m_pieces)
            total += piece.size;
        QString out(total, Qt::Uninitialized);
        QChar *to = out.data();
        for (const Piece &piece : m_pieces) {
            std::memcpy(static_cast<void *>(to), piece.data, size_t(piece.size) * sizeof(QChar));
            to += piece.size;
        }
        return out;
    }

private:
    // Calls f with the start of every pair of underscores, in text order: those inside a
    // piece, then the one spanning a piece's end and the next piece's start. Template
    // stretches keep the template's order, so one cursor walks the template's pairs.
    template<typename F>
    void forEachPair(F &&f) const
    {
        auto pair = m_pairs.begin();
        const qsizetype count = qsizetype(m_pieces.size());
        for (qsizetype i = 0; i < count; ++i) {
            const Piece &piece = m_pieces[size_t(i)];
            if (piece.templateAt >= 0) {
                const qsizetype last = piece.templateAt + piece.size - 1; // a pair must start before
                while (pair != m_pairs.end() && *pair < piece.templateAt)
                    ++pair;
                for (; pair != m_pairs.end() && *pair < last; ++pair)
                    f(Position{i, *pair - piece.templateAt});
            } else if (piece.underscores) {
                const QStringView view(piece.data, piece.size);
                for (qsizetype at = view.indexOf(u'_'); at >= 0 && at + 1 < view.size();
                     at = view.indexOf(u'_', at + 1)) {
                    if (view[at + 1] == u'_')
                        f(Position{i, at});
                }
            }
            if (piece.data[piece.size - 1] == u'_' && i + 1 < count && m_pieces[size_t(i + 1)].data[0] == u'_')
                f(Position{i, piece.size - 1});
        }
    }

    bool matchAt(Position at, QStringView token) const
    {
        const Piece *piece = &m_pieces[size_t(at.piece)];
        if (piece->size - at.offset >= token.size()) {
            // Both begin with "__"; most places differ right after it.
            return piece->data[at.offset + 2] == token[2] &&
                   QStringView(piece->data + at.offset, token.size()) == token;
        }
        qsizetype i = at.piece;
        qsizetype offset = at.offset;
        for (const QChar c : token) {
            while (offset == piece->size) {
                if (++i == qsizetype(m_pieces.size()))
                    return false;
                piece = &m_pieces[size_t(i)];
                offset = 0;
            }
            if (piece->data[offset++] != c)
                return false;
        }
        return true;
    }

    // The place n characters after at (which must lie within the text).
    Position advance(Position at, qsizetype n) const
    {
        while (n > m_pieces[size_t(at.piece)].size - at.offset) {
            n -= m_pieces[size_t(at.piece)].size - at.offset;
            ++at.piece;
            at.offset = 0;
        }
        at.offset += n;
        return at;
    }

    // Replaces every match of the pass by the value.
    void rebuild(const QString &value)
    {
        std::vector<Piece> &pieces = m_spare;
        pieces.clear();
        pieces.reserve(m_pieces.size() + m_matches.size() * 2);
        const auto keep = [&](const Piece &piece, qsizetype from, qsizetype to) {
            if (to <= from)
                return;
            const bool underscores =
                piece.templateAt < 0 && QStringView(piece.data + from, to - from).contains(u'_');
            pieces.push_back({piece.data + from, to - from, piece.templateAt >= 0 ? piece.templateAt + from : -1,
                              underscores});
        };
        const bool valueUnderscores = value.contains(u'_');
        qsizetype i = 0;
        qsizetype offset = 0;
        for (const auto &[start, end] : m_matches) {
            for (; i < start.piece; ++i, offset = 0)
                keep(m_pieces[size_t(i)], offset, m_pieces[size_t(i)].size);
            keep(m_pieces[size_t(i)], offset, start.offset);
            if (!value.isEmpty())
                pieces.push_back({value.constData(), value.size(), -1, valueUnderscores});
            i = end.piece;
            offset = end.offset;
        }
        for (; i < qsizetype(m_pieces.size()); ++i, offset = 0)
            keep(m_pieces[size_t(i)], offset, m_pieces[size_t(i)].size);
        m_pieces.swap(pieces);
    }

    const std::vector<qsizetype> &m_pairs; // template offsets where "__" begins
    std::vector<Piece> m_pieces;           // never empty pieces
    std::vector<Piece> m_spare;            // the next list, while a pass rebuilds it
    std::vector<std::pair<Position, Position>> m_matches;
};

} // namespace

QString merge(const QString &text, const QList<std::pair<QString, QString>> &entries)
{
    const std::vector<qsizetype> pairs = underscorePairs(text);
    if (pairs.empty() || entries.isEmpty())
        return text; // no pass can find a token
    if (std::optional<QString> swept = mergeInOneSweep(text, pairs, entries))
        return *std::move(swept);

    PieceMerger merger(text, pairs);
    QString token;
    for (const auto &[key, value] : entries) {
        token.clear();
        token.append(u"__").append(key).append(u"__");
        merger.pass(token, value);
    }
    return merger.result();
}

} // namespace brisko::PlaceholderMerge
