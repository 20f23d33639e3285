#include "BinaryPlist.h"

#include <QTimeZone>

#include <bit>
#include <cstring>
#include <limits>

namespace brisko {

namespace {

const PlistValue::Array &emptyArray()
{
    static const PlistValue::Array empty;
    return empty;
}

const PlistValue::Dictionary &emptyDictionary()
{
    static const PlistValue::Dictionary empty;
    return empty;
}

QString fail(const QString &what)
{
    return u"binary property list: "_qs + what;
}

quint64 readBigEndian(const char *p, int size)
{
    quint64 v = 0;
    for (int i = 0; i < size; ++i)
        v = (v << 8) | quint8(p[i]);
    return v;
}

void writeBigEndian(char *p, quint64 v, int size)
{
    for (int i = size - 1; i >= 0; --i) {
        p[i] = char(v & 0xFF);
        v >>= 8;
    }
}

void appendBigEndian(QByteArray &out, quint64 v, int size)
{
    const qsizetype at = out.size();
    out.resize(at + size);
    writeBigEndian(out.data() + at, v, size);
}

// The smallest of 1, 2, 4 and 8 bytes that holds v: the sizes every reader accepts.
int sizeFor(quint64 v)
{
    if (v <= 0xFF)
        return 1;
    if (v <= 0xFFFF)
        return 2;
    if (v <= 0xFFFFFFFFull)
        return 4;
    return 8;
}

int log2Size(int size)
{
    return size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
}

int headerSize(quint64 count)
{
    return count < 15 ? 1 : 2 + sizeFor(count);
}

char *writeHeader(char *p, quint8 marker, quint64 count)
{
    if (count < 15) {
        *p++ = char(marker | count);
        return p;
    }
    *p++ = char(marker | 0x0F);
    const int size = sizeFor(count);
    *p++ = char(0x10 | log2Size(size));
    writeBigEndian(p, count, size);
    return p + size;
}

} // namespace

// ---------------------------------------------------------------------------------
// PlistValue

PlistValue PlistValue::fill()
{
    PlistValue v;
    v.m_type = Type::Fill;
    return v;
}

PlistValue PlistValue::boolean(bool b)
{
    PlistValue v;
    v.m_type = Type::Bool;
    v.m_v = b;
    return v;
}

PlistValue PlistValue::integer(qint64 i)
{
    PlistValue v;
    v.m_type = Type::Integer;
    v.m_v = i;
    return v;
}

PlistValue PlistValue::unsignedInteger(quint64 u)
{
    PlistValue v;
    v.m_type = Type::Integer;
    v.m_flag = u > quint64(std::numeric_limits<qint64>::max());
    v.m_v = qint64(u);
    return v;
}

PlistValue PlistValue::real(double d)
{
    PlistValue v;
    v.m_type = Type::Real;
    v.m_v = d;
    return v;
}

PlistValue PlistValue::real32(float f)
{
    PlistValue v = real(double(f));
    v.m_flag = true;
    return v;
}

PlistValue PlistValue::date(double seconds)
{
    PlistValue v;
    v.m_type = Type::Date;
    v.m_v = seconds;
    return v;
}

PlistValue PlistValue::date(const QDateTime &dateTime)
{
    return date(double(dateTime.toMSecsSinceEpoch()) / 1000.0 - BinaryPlist::ReferenceDateOffset);
}

PlistValue PlistValue::data(QByteArray d)
{
    PlistValue v;
    v.m_type = Type::Data;
    v.m_v = std::move(d);
    return v;
}

PlistValue PlistValue::string(QString s)
{
    PlistValue v;
    v.m_type = Type::String;
    v.m_v = std::move(s);
    return v;
}

PlistValue PlistValue::uid(quint64 u)
{
    PlistValue v;
    v.m_type = Type::Uid;
    v.m_v = qint64(u);
    return v;
}

PlistValue PlistValue::array(Array items)
{
    PlistValue v;
    v.m_type = Type::Array;
    v.m_v = std::make_shared<const Array>(std::move(items));
    return v;
}

PlistValue PlistValue::set(Array items)
{
    PlistValue v = array(std::move(items));
    v.m_type = Type::Set;
    return v;
}

PlistValue PlistValue::dictionary(Dictionary entries)
{
    PlistValue v;
    v.m_type = Type::Dictionary;
    v.m_v = std::make_shared<const Dictionary>(std::move(entries));
    return v;
}

bool PlistValue::toBool() const
{
    return m_type == Type::Bool && std::get<bool>(m_v);
}

qint64 PlistValue::toInteger() const
{
    if (m_type == Type::Integer)
        return std::get<qint64>(m_v);
    if (m_type == Type::Real)
        return qint64(std::get<double>(m_v));
    return 0;
}

quint64 PlistValue::toUnsigned() const
{
    return m_type == Type::Integer || m_type == Type::Uid ? quint64(std::get<qint64>(m_v)) : 0;
}

double PlistValue::toReal() const
{
    if (m_type == Type::Real || m_type == Type::Date)
        return std::get<double>(m_v);
    if (m_type == Type::Integer)
        return m_flag ? double(quint64(std::get<qint64>(m_v))) : double(std::get<qint64>(m_v));
    return 0;
}

double PlistValue::toDateSeconds() const
{
    return m_type == Type::Date ? std::get<double>(m_v) : 0;
}

QDateTime PlistValue::toDateTime() const
{
    if (m_type != Type::Date)
        return {};
    const double ms = (std::get<double>(m_v) + BinaryPlist::ReferenceDateOffset) * 1000.0;
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), QTimeZone::utc());
}

QByteArray PlistValue::toData() const
{
    return m_type == Type::Data ? std::get<QByteArray>(m_v) : QByteArray();
}

QString PlistValue::toString() const
{
    return m_type == Type::String ? std::get<QString>(m_v) : QString();
}

quint64 PlistValue::toUid() const
{
    return m_type == Type::Uid ? quint64(std::get<qint64>(m_v)) : 0;
}

const PlistValue::Array &PlistValue::items() const
{
    if (m_type == Type::Array || m_type == Type::Set)
        return *std::get<std::shared_ptr<const Array>>(m_v);
    return emptyArray();
}

const PlistValue::Dictionary &PlistValue::entries() const
{
    if (m_type == Type::Dictionary)
        return *std::get<std::shared_ptr<const Dictionary>>(m_v);
    return emptyDictionary();
}

const PlistValue *PlistValue::value(QStringView key) const
{
    for (const auto &[k, v] : entries()) {
        if (k == key)
            return &v;
    }
    return nullptr;
}

qsizetype PlistValue::size() const
{
    switch (m_type) {
    case Type::Array:
    case Type::Set:
        return qsizetype(items().size());
    case Type::Dictionary:
        return qsizetype(entries().size());
    case Type::String:
        return std::get<QString>(m_v).size();
    case Type::Data:
        return std::get<QByteArray>(m_v).size();
    default:
        return 0;
    }
}

bool PlistValue::operator==(const PlistValue &other) const
{
    if (m_type != other.m_type || m_flag != other.m_flag)
        return false;
    switch (m_type) {
    case Type::Null:
    case Type::Fill:
        return true;
    case Type::Real:
    case Type::Date:
        return std::bit_cast<quint64>(std::get<double>(m_v))
            == std::bit_cast<quint64>(std::get<double>(other.m_v));
    case Type::Array:
    case Type::Set:
        return items() == other.items();
    case Type::Dictionary:
        return entries() == other.entries();
    default:
        return m_v == other.m_v;
    }
}

// ---------------------------------------------------------------------------------
// BinaryPlistReader

std::optional<QString> BinaryPlistReader::open(QByteArrayView data)
{
    m_data = {};
    m_count = 0;
    constexpr qsizetype TrailerSize = 32;
    if (data.size() < 8 || std::memcmp(data.data(), "bplist00", 8) != 0)
        return fail(u"missing the \"bplist00\" header"_qs);
    if (data.size() < 8 + 1 + 1 + TrailerSize)
        return fail(u"file too short (%1 bytes)"_qs.arg(data.size()));
    const char *t = data.data() + data.size() - TrailerSize;
    const int offsetSize = quint8(t[6]);
    const int refSize = quint8(t[7]);
    const quint64 count = readBigEndian(t + 8, 8);
    const quint64 top = readBigEndian(t + 16, 8);
    const quint64 tableOffset = readBigEndian(t + 24, 8);
    if (offsetSize < 1 || offsetSize > 8)
        return fail(u"bad offset size %1 in the trailer"_qs.arg(offsetSize));
    if (refSize < 1 || refSize > 8)
        return fail(u"bad object reference size %1 in the trailer"_qs.arg(refSize));
    if (count == 0)
        return fail(u"no objects"_qs);
    if (top >= count)
        return fail(u"top object %1 out of range (%2 objects)"_qs.arg(top).arg(count));
    const quint64 tableEnd = quint64(data.size() - TrailerSize);
    if (tableOffset < 9 || tableOffset > tableEnd)
        return fail(u"offset table at %1 outside the file"_qs.arg(tableOffset));
    if (count > (tableEnd - tableOffset) / quint64(offsetSize))
        return fail(u"offset table of %1 objects does not fit in the file"_qs.arg(count));
    m_data = data;
    m_count = count;
    m_top = top;
    m_offsetTable = qsizetype(tableOffset);
    m_offsetSize = offsetSize;
    m_refSize = refSize;
    return std::nullopt;
}

PlistResult<BinaryPlistReader::Object> BinaryPlistReader::object(quint64 ref) const
{
    using R = PlistResult<Object>;
    using Type = PlistValue::Type;
    if (ref >= m_count)
        return R::failure(fail(u"reference %1 out of range (%2 objects)"_qs.arg(ref).arg(m_count)));
    const quint64 offset =
        readBigEndian(m_data.data() + m_offsetTable + qsizetype(ref) * m_offsetSize, m_offsetSize);
    const quint64 end = quint64(m_offsetTable);
    if (offset < 8 || offset >= end)
        return R::failure(fail(u"object %1 at offset %2 outside the object area"_qs.arg(ref).arg(offset)));
    const char *base = m_data.data();
    Object o;
    o.marker = quint8(base[offset]);
    const int high = o.marker >> 4;
    const int low = o.marker & 0x0F;
    quint64 pos = offset + 1;

    // Counts of fifteen and more follow the marker as an integer object.
    auto readCount = [&]() -> std::optional<QString> {
        if (low != 0x0F) {
            o.count = quint64(low);
            return std::nullopt;
        }
        if (pos >= end)
            return fail(u"object %1 is truncated"_qs.arg(ref));
        const quint8 intMarker = quint8(base[pos]);
        if ((intMarker & 0xF0) != 0x10 || (intMarker & 0x0F) > 3)
            return fail(u"object %1 has a malformed count"_qs.arg(ref));
        const int size = 1 << (intMarker & 0x0F);
        if (end - pos - 1 < quint64(size))
            return fail(u"object %1 is truncated"_qs.arg(ref));
        o.count = readBigEndian(base + pos + 1, size);
        pos += 1 + quint64(size);
        return std::nullopt;
    };
    // The object's payload of count units of unit bytes must lie before the offset table.
    auto take = [&](quint64 units, quint64 unit) -> std::optional<QString> {
        if (units > (end - pos) / unit)
            return fail(u"object %1 claims %2 items, more than the file holds"_qs.arg(ref).arg(units));
        o.payload = qsizetype(pos);
        o.payloadEnd = qsizetype(pos + units * unit);
        return std::nullopt;
    };

    std::optional<QString> error;
    switch (high) {
    case 0x0:
        switch (o.marker) {
        case 0x00: o.type = Type::Null; break;
        case 0x08:
        case 0x09: o.type = Type::Bool; break;
        case 0x0F: o.type = Type::Fill; break;
        default: error = fail(u"object %1 has unknown type 0x%2"_qs.arg(ref).arg(uint(o.marker), 2, 16, QChar(u'0')));
        }
        break;
    case 0x1:
        if (low > 4)
            error = fail(u"object %1 is an integer of unsupported size"_qs.arg(ref));
        else {
            o.type = Type::Integer;
            error = take(1, quint64(1) << low);
        }
        break;
    case 0x2:
        if (low != 2 && low != 3)
            error = fail(u"object %1 is a real of unsupported size"_qs.arg(ref));
        else {
            o.type = Type::Real;
            error = take(1, quint64(1) << low);
        }
        break;
    case 0x3:
        if (o.marker != 0x33)
            error = fail(u"object %1 is a malformed date"_qs.arg(ref));
        else {
            o.type = Type::Date;
            error = take(1, 8);
        }
        break;
    case 0x4:
    case 0x5:
    case 0x6:
        o.type = high == 0x4 ? Type::Data : Type::String;
        error = readCount();
        if (!error)
            error = take(o.count, high == 0x6 ? 2 : 1);
        break;
    case 0x8:
        if (low > 7)
            error = fail(u"object %1 is a UID wider than 8 bytes"_qs.arg(ref));
        else {
            o.type = Type::Uid;
            error = take(1, quint64(low) + 1);
        }
        break;
    case 0xA:
    case 0xC:
    case 0xD:
        o.type = high == 0xA ? Type::Array : high == 0xC ? Type::Set : Type::Dictionary;
        error = readCount();
        if (!error) {
            if (high == 0xD && o.count > std::numeric_limits<quint64>::max() / 2)
                error = fail(u"object %1 claims %2 items, more than the file holds"_qs.arg(ref).arg(o.count));
            else
                error = take(high == 0xD ? o.count * 2 : o.count, quint64(m_refSize));
        }
        break;
    default:
        error = fail(u"object %1 has unknown type 0x%2"_qs.arg(ref).arg(uint(o.marker), 2, 16, QChar(u'0')));
    }
    if (error)
        return R::failure(*error);
    return o;
}

quint64 BinaryPlistReader::reference(const Object &o, quint64 i) const
{
    return readBigEndian(m_data.data() + o.payload + qsizetype(i) * m_refSize, m_refSize);
}

PlistValue BinaryPlistReader::integer(const Object &o) const
{
    const char *p = m_data.data() + o.payload;
    const int size = int(o.payloadEnd - o.payload);
    if (size < 8)
        return PlistValue::integer(qint64(readBigEndian(p, size)));
    if (size == 8)
        return PlistValue::integer(qint64(readBigEndian(p, 8)));
    // 16 bytes: kept when the value fits in 64 bits, signed or unsigned.
    const quint64 high = readBigEndian(p, 8);
    const quint64 low = readBigEndian(p + 8, 8);
    if (high == 0)
        return PlistValue::unsignedInteger(low);
    if (high == ~quint64(0) && (low >> 63))
        return PlistValue::integer(qint64(low));
    return {};
}

double BinaryPlistReader::real(const Object &o) const
{
    const char *p = m_data.data() + o.payload;
    if (o.payloadEnd - o.payload == 4)
        return double(std::bit_cast<float>(quint32(readBigEndian(p, 4))));
    return std::bit_cast<double>(readBigEndian(p, 8));
}

quint64 BinaryPlistReader::uid(const Object &o) const
{
    return readBigEndian(m_data.data() + o.payload, int(o.payloadEnd - o.payload));
}

QString BinaryPlistReader::string(const Object &o) const
{
    const char *p = m_data.data() + o.payload;
    if ((o.marker >> 4) == 0x5)
        return QString::fromLatin1(p, qsizetype(o.count));
    QString s(qsizetype(o.count), Qt::Uninitialized);
    char16_t *d = reinterpret_cast<char16_t *>(s.data());
    for (quint64 i = 0; i < o.count; ++i)
        d[i] = char16_t((quint8(p[2 * i]) << 8) | quint8(p[2 * i + 1]));
    return s;
}

QByteArray BinaryPlistReader::data(const Object &o) const
{
    return QByteArray(m_data.data() + o.payload, o.payloadEnd - o.payload);
}

bool BinaryPlistReader::stringEquals(const Object &o, QLatin1StringView text) const
{
    if (o.type != PlistValue::Type::String || o.count != quint64(text.size()))
        return false;
    const char *p = m_data.data() + o.payload;
    if ((o.marker >> 4) == 0x5)
        return std::memcmp(p, text.data(), size_t(text.size())) == 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (p[2 * i] != 0 || p[2 * i + 1] != text.data()[i])
            return false;
    }
    return true;
}

namespace {

// Depth-first decoding with one cache slot per object: linear in the file's size even
// when objects are shared, and a cycle is seen as an object met again while open.
struct TreeDecoder
{
    const BinaryPlistReader &reader;
    std::vector<quint8> state; // 0 unseen, 1 open, 2 done
    std::vector<PlistValue> cache;
    // Per object, its size as a tree: one per value and one per 16 bytes of text or data.
    // Shared objects are decoded once, but whoever walks the result meets them at every
    // reference: a tree far larger than the file is refused.
    std::vector<quint64> expanded;
    quint64 limit = 0;
    QString error;

    bool grow(quint64 &size, quint64 child, quint64 owner)
    {
        size += expanded[child];
        if (size <= limit)
            return true;
        error = fail(u"object %1 expands to more than %2 values"_qs.arg(owner).arg(limit));
        return false;
    }

    std::optional<PlistValue> decode(quint64 ref, int depth)
    {
        using Type = PlistValue::Type;
        if (ref >= state.size()) {
            error = fail(u"reference %1 out of range (%2 objects)"_qs.arg(ref).arg(state.size()));
            return std::nullopt;
        }
        if (state[ref] == 2)
            return cache[ref];
        if (state[ref] == 1) {
            error = fail(u"reference cycle through object %1"_qs.arg(ref));
            return std::nullopt;
        }
        if (depth > BinaryPlistReader::MaxDepth) {
            error = fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth));
            return std::nullopt;
        }
        auto o = reader.object(ref);
        if (!o) {
            error = o.error();
            return std::nullopt;
        }
        PlistValue v;
        quint64 size = 1;
        switch (o->type) {
        case Type::Null: break;
        case Type::Fill: v = PlistValue::fill(); break;
        case Type::Bool: v = PlistValue::boolean(reader.boolean(*o)); break;
        case Type::Integer:
            v = reader.integer(*o);
            if (v.isNull()) {
                error = fail(u"object %1 is an integer that does not fit in 64 bits"_qs.arg(ref));
                return std::nullopt;
            }
            break;
        case Type::Real:
            v = o->payloadEnd - o->payload == 4 ? PlistValue::real32(float(reader.real(*o)))
                                                : PlistValue::real(reader.real(*o));
            break;
        case Type::Date: v = PlistValue::date(reader.real(*o)); break;
        case Type::Data:
            v = PlistValue::data(reader.data(*o));
            size += o->count / 16;
            break;
        case Type::String:
            v = PlistValue::string(reader.string(*o));
            size += o->count / 16;
            break;
        case Type::Uid: v = PlistValue::uid(reader.uid(*o)); break;
        case Type::Array:
        case Type::Set:
        case Type::Dictionary: {
            state[ref] = 1;
            if (o->type == Type::Dictionary) {
                PlistValue::Dictionary entries;
                entries.reserve(o->count);
                for (quint64 i = 0; i < o->count; ++i) {
                    const quint64 keyRef = reader.reference(*o, i);
                    auto key = decode(keyRef, depth + 1);
                    if (!key || !grow(size, keyRef, ref))
                        return std::nullopt;
                    if (key->type() != Type::String) {
                        error = fail(u"dictionary %1 has a key that is not a string"_qs.arg(ref));
                        return std::nullopt;
                    }
                    const quint64 valueRef = reader.reference(*o, o->count + i);
                    auto value = decode(valueRef, depth + 1);
                    if (!value || !grow(size, valueRef, ref))
                        return std::nullopt;
                    entries.emplace_back(key->toString(), std::move(*value));
                }
                v = PlistValue::dictionary(std::move(entries));
            } else {
                PlistValue::Array items;
                items.reserve(o->count);
                for (quint64 i = 0; i < o->count; ++i) {
                    const quint64 itemRef = reader.reference(*o, i);
                    auto item = decode(itemRef, depth + 1);
                    if (!item || !grow(size, itemRef, ref))
                        return std::nullopt;
                    items.push_back(std::move(*item));
                }
                v = o->type == Type::Set ? PlistValue::set(std::move(items))
                                         : PlistValue::array(std::move(items));
            }
            break;
        }
        }
        state[ref] = 2;
        expanded[ref] = size;
        cache[ref] = v;
        return v;
    }
};

} // namespace

quint64 BinaryPlistReader::expansionLimit() const
{
    return std::max<quint64>(16 * m_count + 4 * quint64(m_data.size()), 1 << 20);
}

PlistResult<PlistValue> BinaryPlistReader::decode(quint64 ref) const
{
    if (m_count == 0)
        return PlistResult<PlistValue>::failure(fail(u"not open"_qs));
    TreeDecoder decoder{*this, std::vector<quint8>(m_count, 0), std::vector<PlistValue>(m_count),
                        std::vector<quint64>(m_count, 0), expansionLimit(), {}};
    auto v = decoder.decode(ref, 0);
    if (!v)
        return PlistResult<PlistValue>::failure(decoder.error);
    return std::move(*v);
}

// ---------------------------------------------------------------------------------
// BinaryPlistWriter

BinaryPlistWriter::BinaryPlistWriter() = default;

BinaryPlistWriter::Ref BinaryPlistWriter::appendScalar(qsizetype start)
{
    const Ref ref = Ref(m_objects.size());
    m_objects.push_back({quint64(start), quint64(m_bytes.size() - start), 0});
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addNull()
{
    if (!m_null) {
        const qsizetype start = m_bytes.size();
        m_bytes.append(char(0x00));
        m_null = appendScalar(start);
    }
    return *m_null;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addFill()
{
    if (!m_fill) {
        const qsizetype start = m_bytes.size();
        m_bytes.append(char(0x0F));
        m_fill = appendScalar(start);
    }
    return *m_fill;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addBool(bool v)
{
    auto &slot = v ? m_true : m_false;
    if (!slot) {
        const qsizetype start = m_bytes.size();
        m_bytes.append(char(v ? 0x09 : 0x08));
        slot = appendScalar(start);
    }
    return *slot;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addInteger(qint64 v)
{
    const auto it = m_integers.constFind(v);
    if (it != m_integers.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    const int size = v < 0 ? 8 : sizeFor(quint64(v));
    m_bytes.append(char(0x10 | log2Size(size)));
    appendBigEndian(m_bytes, quint64(v), size);
    const Ref ref = appendScalar(start);
    m_integers.insert(v, ref);
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addUnsigned(quint64 v)
{
    if (v <= quint64(std::numeric_limits<qint64>::max()))
        return addInteger(qint64(v));
    QByteArray encoded;
    encoded.append(char(0x14));
    appendBigEndian(encoded, 0, 8);
    appendBigEndian(encoded, v, 8);
    const auto it = m_scalars.constFind(encoded);
    if (it != m_scalars.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    m_bytes.append(encoded);
    const Ref ref = appendScalar(start);
    m_scalars.insert(encoded, ref);
    return ref;
}

namespace {
QByteArray encodeEightByte(quint8 marker, double v)
{
    QByteArray encoded;
    encoded.append(char(marker));
    appendBigEndian(encoded, std::bit_cast<quint64>(v), 8);
    return encoded;
}
} // namespace

BinaryPlistWriter::Ref BinaryPlistWriter::addReal(double v)
{
    const QByteArray encoded = encodeEightByte(0x23, v);
    const auto it = m_scalars.constFind(encoded);
    if (it != m_scalars.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    m_bytes.append(encoded);
    const Ref ref = appendScalar(start);
    m_scalars.insert(encoded, ref);
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addReal32(float v)
{
    QByteArray encoded;
    encoded.append(char(0x22));
    appendBigEndian(encoded, std::bit_cast<quint32>(v), 4);
    const auto it = m_scalars.constFind(encoded);
    if (it != m_scalars.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    m_bytes.append(encoded);
    const Ref ref = appendScalar(start);
    m_scalars.insert(encoded, ref);
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addDate(double seconds)
{
    const QByteArray encoded = encodeEightByte(0x33, seconds);
    const auto it = m_scalars.constFind(encoded);
    if (it != m_scalars.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    m_bytes.append(encoded);
    const Ref ref = appendScalar(start);
    m_scalars.insert(encoded, ref);
    return ref;
}

void BinaryPlistWriter::putHeader(quint8 marker, quint64 count)
{
    const qsizetype at = m_bytes.size();
    m_bytes.resize(at + headerSize(count));
    writeHeader(m_bytes.data() + at, marker, count);
}

BinaryPlistWriter::Ref BinaryPlistWriter::addData(QByteArrayView v)
{
    QByteArray encoded;
    encoded.reserve(v.size() + 10);
    encoded.resize(headerSize(quint64(v.size())));
    writeHeader(encoded.data(), 0x40, quint64(v.size()));
    encoded.append(v);
    const auto it = m_scalars.constFind(encoded);
    if (it != m_scalars.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    m_bytes.append(encoded);
    const Ref ref = appendScalar(start);
    m_scalars.insert(encoded, ref);
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addString(const QString &v)
{
    const auto it = m_strings.constFind(v);
    if (it != m_strings.cend())
        return *it;
    const Ref ref = addStringUnchecked(v);
    m_strings.insert(v, ref);
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::addStringUnchecked(const QString &v)
{
    const qsizetype start = m_bytes.size();
    const char16_t *s = reinterpret_cast<const char16_t *>(v.utf16());
    const qsizetype n = v.size();
    bool ascii = true;
    for (qsizetype i = 0; i < n; ++i) {
        if (s[i] >= 0x80) {
            ascii = false;
            break;
        }
    }
    putHeader(ascii ? 0x50 : 0x60, quint64(n));
    const qsizetype at = m_bytes.size();
    m_bytes.resize(at + (ascii ? n : 2 * n));
    char *d = m_bytes.data() + at;
    if (ascii) {
        for (qsizetype i = 0; i < n; ++i)
            d[i] = char(s[i]);
    } else {
        for (qsizetype i = 0; i < n; ++i) {
            d[2 * i] = char(s[i] >> 8);
            d[2 * i + 1] = char(s[i] & 0xFF);
        }
    }
    return appendScalar(start);
}

BinaryPlistWriter::Ref BinaryPlistWriter::addString(QLatin1StringView v)
{
    return addString(QString(v));
}

BinaryPlistWriter::Ref BinaryPlistWriter::addUid(quint64 v)
{
    if (v < m_smallUids.size() && m_smallUids[v] != 0)
        return m_smallUids[v] - 1;
    if (const auto it = m_bigUids.constFind(v); it != m_bigUids.cend())
        return *it;
    const qsizetype start = m_bytes.size();
    const int size = sizeFor(v);
    m_bytes.append(char(0x80 | (size - 1)));
    appendBigEndian(m_bytes, v, size);
    const Ref ref = appendScalar(start);
    // UIDs number the objects of an archive, so they stay below a few times the
    // object count: those go in a table, the rare others in a hash.
    if (v < m_smallUids.size() || v <= 4 * quint64(m_objects.size()) + 4096) {
        if (v >= m_smallUids.size())
            m_smallUids.resize(std::max<size_t>(v + 1, m_smallUids.size() * 2), 0);
        m_smallUids[v] = ref + 1;
    } else {
        m_bigUids.insert(v, ref);
    }
    return ref;
}

BinaryPlistWriter::Ref BinaryPlistWriter::appendContainer(quint8 marker, std::span<const Ref> a,
                                                          std::span<const Ref> b)
{
    const Ref ref = Ref(m_objects.size());
    m_objects.push_back({0, 0, marker});
    setContainer(ref, marker, a, b);
    return ref;
}

void BinaryPlistWriter::setContainer(Ref slot, quint8 marker, std::span<const Ref> a,
                                     std::span<const Ref> b)
{
    Record &r = m_objects[slot];
    r.marker = marker;
    r.start = m_refs.size();
    r.length = a.size() + b.size();
    m_refs.insert(m_refs.end(), a.begin(), a.end());
    m_refs.insert(m_refs.end(), b.begin(), b.end());
}

BinaryPlistWriter::Ref BinaryPlistWriter::addArray(std::span<const Ref> items)
{
    return appendContainer(0xA0, items, {});
}

BinaryPlistWriter::Ref BinaryPlistWriter::addSet(std::span<const Ref> items)
{
    return appendContainer(0xC0, items, {});
}

BinaryPlistWriter::Ref BinaryPlistWriter::addDictionary(std::span<const Ref> keys,
                                                        std::span<const Ref> values)
{
    Q_ASSERT(keys.size() == values.size());
    return appendContainer(0xD0, keys, values);
}

BinaryPlistWriter::Ref BinaryPlistWriter::reserve()
{
    const Ref ref = Ref(m_objects.size());
    m_objects.push_back({0, 0, 0xFF}); // 0xFF: not yet set
    return ref;
}

void BinaryPlistWriter::setArray(Ref slot, std::span<const Ref> items)
{
    setContainer(slot, 0xA0, items, {});
}

void BinaryPlistWriter::setDictionary(Ref slot, std::span<const Ref> keys, std::span<const Ref> values)
{
    Q_ASSERT(keys.size() == values.size());
    setContainer(slot, 0xD0, keys, values);
}

std::optional<BinaryPlistWriter::Ref> BinaryPlistWriter::add(const PlistValue &value)
{
    return addValue(value, 0);
}

std::optional<BinaryPlistWriter::Ref> BinaryPlistWriter::addValue(const PlistValue &value, int depth)
{
    using Type = PlistValue::Type;
    switch (value.type()) {
    case Type::Null: return addNull();
    case Type::Fill: return addFill();
    case Type::Bool: return addBool(value.toBool());
    case Type::Integer:
        return value.isUnsignedBig() ? addUnsigned(value.toUnsigned()) : addInteger(value.toInteger());
    case Type::Real: return value.isReal32() ? addReal32(float(value.toReal())) : addReal(value.toReal());
    case Type::Date: return addDate(value.toDateSeconds());
    case Type::Data: return addData(value.toData());
    case Type::String: return addString(value.toString());
    case Type::Uid: return addUid(value.toUid());
    case Type::Array:
    case Type::Set:
    case Type::Dictionary:
        break;
    }
    if (depth >= BinaryPlistReader::MaxDepth)
        return std::nullopt;
    const Ref slot = reserve();
    std::vector<Ref> refs;
    if (value.type() == Type::Dictionary) {
        const auto &entries = value.entries();
        refs.resize(entries.size() * 2);
        for (size_t i = 0; i < entries.size(); ++i)
            refs[i] = addString(entries[i].first);
        for (size_t i = 0; i < entries.size(); ++i) {
            auto r = addValue(entries[i].second, depth + 1);
            if (!r)
                return std::nullopt;
            refs[entries.size() + i] = *r;
        }
        setDictionary(slot, std::span(refs).first(entries.size()), std::span(refs).subspan(entries.size()));
    } else {
        const auto &items = value.items();
        refs.reserve(items.size());
        for (const auto &item : items) {
            auto r = addValue(item, depth + 1);
            if (!r)
                return std::nullopt;
            refs.push_back(*r);
        }
        setContainer(slot, value.type() == Type::Set ? 0xC0 : 0xA0, refs, {});
    }
    return slot;
}

QByteArray BinaryPlistWriter::finish(Ref top) const
{
    const quint64 count = m_objects.size();
    Q_ASSERT(top < count);
    const int refSize = sizeFor(count - 1);

    // First pass: where each object starts.
    std::vector<quint64> offsets(count);
    quint64 pos = 8;
    for (quint64 i = 0; i < count; ++i) {
        const Record &r = m_objects[i];
        Q_ASSERT_X(r.marker != 0xFF, "BinaryPlistWriter::finish", "reserved slot never set");
        offsets[i] = pos;
        if (r.marker == 0)
            pos += r.length;
        else if (r.marker == 0xFF)
            pos += 1; // a slot never set is written as null
        else
            pos += quint64(headerSize(r.marker == 0xD0 ? r.length / 2 : r.length)) + r.length * refSize;
    }
    const quint64 tableOffset = pos;
    const int offsetSize = sizeFor(count ? offsets.back() : 8);
    const quint64 total = tableOffset + count * quint64(offsetSize) + 32;

    QByteArray out(qsizetype(total), Qt::Uninitialized);
    char *p = out.data();
    std::memcpy(p, "bplist00", 8);
    p += 8;
    const char *bytes = m_bytes.constData();
    for (quint64 i = 0; i < count; ++i) {
        const Record &r = m_objects[i];
        if (r.marker == 0) {
            std::memcpy(p, bytes + r.start, r.length);
            p += r.length;
            continue;
        }
        if (r.marker == 0xFF) {
            *p++ = 0;
            continue;
        }
        p = writeHeader(p, r.marker, r.marker == 0xD0 ? r.length / 2 : r.length);
        const Ref *refs = m_refs.data() + r.start;
        switch (refSize) {
        case 1:
            for (quint64 k = 0; k < r.length; ++k)
                *p++ = char(refs[k]);
            break;
        case 2:
            for (quint64 k = 0; k < r.length; ++k) {
                p[0] = char(refs[k] >> 8);
                p[1] = char(refs[k]);
                p += 2;
            }
            break;
        default:
            for (quint64 k = 0; k < r.length; ++k) {
                writeBigEndian(p, refs[k], refSize);
                p += refSize;
            }
        }
    }
    for (quint64 i = 0; i < count; ++i) {
        writeBigEndian(p, offsets[i], offsetSize);
        p += offsetSize;
    }
    std::memset(p, 0, 6);
    p[6] = char(offsetSize);
    p[7] = char(refSize);
    writeBigEndian(p + 8, count, 8);
    writeBigEndian(p + 16, top, 8);
    writeBigEndian(p + 24, tableOffset, 8);
    return out;
}

// ---------------------------------------------------------------------------------

namespace BinaryPlist {

PlistResult<PlistValue> read(QByteArrayView data)
{
    BinaryPlistReader reader;
    if (auto error = reader.open(data))
        return PlistResult<PlistValue>::failure(*error);
    return reader.decode(reader.topObject());
}

PlistResult<QByteArray> write(const PlistValue &value)
{
    BinaryPlistWriter writer;
    auto top = writer.add(value);
    if (!top)
        return PlistResult<QByteArray>::failure(
            fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth)));
    return writer.finish(*top);
}

} // namespace BinaryPlist

} // namespace brisko
