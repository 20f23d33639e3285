#include "KeyedArchive.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>
#include <QUuid>

#include <bit>
#include <cmath>
#include <deque>
#include <limits>

namespace brisko {

namespace {

const ArchiveValue::Array &emptyArray()
{
    static const ArchiveValue::Array empty;
    return empty;
}

const ArchiveValue::Dictionary &emptyDictionary()
{
    static const ArchiveValue::Dictionary empty;
    return empty;
}

QString fail(const QString &what)
{
    return u"keyed archive: "_qs + what;
}

constexpr auto ArchiverName = QLatin1StringView("NSKeyedArchiver");
constexpr qint64 ArchiveVersion = 100000;

} // namespace

// ---------------------------------------------------------------------------------
// ArchiveValue

ArchiveValue ArchiveValue::boolean(bool b)
{
    ArchiveValue v;
    v.m_type = Type::Bool;
    v.m_v = b;
    return v;
}

ArchiveValue ArchiveValue::integer(qint64 i)
{
    ArchiveValue v;
    v.m_type = Type::Integer;
    v.m_v = i;
    return v;
}

ArchiveValue ArchiveValue::real(double d)
{
    ArchiveValue v;
    v.m_type = Type::Real;
    v.m_v = d;
    return v;
}

ArchiveValue ArchiveValue::real32(float f)
{
    ArchiveValue v = real(double(f));
    v.m_real32 = true;
    return v;
}

ArchiveValue ArchiveValue::string(QString s, Mutability m)
{
    ArchiveValue v;
    v.m_type = Type::String;
    v.m_mutable = m;
    v.m_v = std::move(s);
    return v;
}

ArchiveValue ArchiveValue::data(QByteArray d, Mutability m)
{
    ArchiveValue v;
    v.m_type = Type::Data;
    v.m_mutable = m;
    v.m_v = std::move(d);
    return v;
}

ArchiveValue ArchiveValue::array(Array items, Mutability m)
{
    ArchiveValue v;
    v.m_type = Type::Array;
    v.m_mutable = m;
    v.m_v = std::make_shared<const Array>(std::move(items));
    return v;
}

ArchiveValue ArchiveValue::dictionary(Dictionary entries, Mutability m)
{
    ArchiveValue v;
    v.m_type = Type::Dictionary;
    v.m_mutable = m;
    v.m_v = std::make_shared<const Dictionary>(std::move(entries));
    return v;
}

bool ArchiveValue::toBool() const
{
    switch (m_type) {
    case Type::Bool: return std::get<bool>(m_v);
    case Type::Integer: return std::get<qint64>(m_v) != 0;
    case Type::Real: return std::get<double>(m_v) != 0;
    default: return false;
    }
}

qint64 ArchiveValue::toInteger() const
{
    switch (m_type) {
    case Type::Bool: return std::get<bool>(m_v) ? 1 : 0;
    case Type::Integer: return std::get<qint64>(m_v);
    case Type::Real: {
        const double d = std::get<double>(m_v);
        if (std::isnan(d))
            return 0;
        if (d >= 9223372036854775807.0)
            return std::numeric_limits<qint64>::max();
        if (d <= -9223372036854775808.0)
            return std::numeric_limits<qint64>::min();
        return qint64(d);
    }
    default: return 0;
    }
}

double ArchiveValue::toReal() const
{
    switch (m_type) {
    case Type::Bool: return std::get<bool>(m_v) ? 1 : 0;
    case Type::Integer: return double(std::get<qint64>(m_v));
    case Type::Real: return std::get<double>(m_v);
    default: return 0;
    }
}

QString ArchiveValue::toString() const
{
    return m_type == Type::String ? std::get<QString>(m_v) : QString();
}

QByteArray ArchiveValue::toData() const
{
    return m_type == Type::Data ? std::get<QByteArray>(m_v) : QByteArray();
}

const ArchiveValue::Array &ArchiveValue::items() const
{
    return m_type == Type::Array ? *std::get<std::shared_ptr<const Array>>(m_v) : emptyArray();
}

const ArchiveValue::Dictionary &ArchiveValue::entries() const
{
    return m_type == Type::Dictionary ? *std::get<std::shared_ptr<const Dictionary>>(m_v)
                                      : emptyDictionary();
}

const ArchiveValue *ArchiveValue::value(QStringView key) const
{
    for (const auto &[k, v] : entries()) {
        if (k == key)
            return &v;
    }
    return nullptr;
}

qsizetype ArchiveValue::size() const
{
    switch (m_type) {
    case Type::Array: return qsizetype(items().size());
    case Type::Dictionary: return qsizetype(entries().size());
    case Type::String: return std::get<QString>(m_v).size();
    case Type::Data: return std::get<QByteArray>(m_v).size();
    default: return 0;
    }
}

bool ArchiveValue::operator==(const ArchiveValue &other) const
{
    if (m_type != other.m_type || m_mutable != other.m_mutable || m_real32 != other.m_real32)
        return false;
    switch (m_type) {
    case Type::Null: return true;
    case Type::Real:
        return std::bit_cast<quint64>(std::get<double>(m_v))
            == std::bit_cast<quint64>(std::get<double>(other.m_v));
    case Type::Array: return items() == other.items();
    case Type::Dictionary: return entries() == other.entries();
    default: return m_v == other.m_v;
    }
}

namespace {

// Shared containers convert once: the JSON containers share their data on copy.
struct JsonConverter
{
    QHash<const void *, QJsonValue> done;

    QJsonValue convert(const ArchiveValue &v)
    {
        using Type = ArchiveValue::Type;
        switch (v.type()) {
        case Type::Null: return QJsonValue(QJsonValue::Null);
        case Type::Bool: return v.toBool();
        case Type::Integer: return v.toInteger();
        case Type::Real: return v.toReal();
        case Type::String: return v.toString();
        case Type::Data: return QString::fromLatin1(v.toData().toBase64());
        case Type::Array: {
            const void *key = &v.items();
            if (auto it = done.constFind(key); it != done.cend())
                return *it;
            QJsonArray a;
            for (const auto &item : v.items())
                a.append(convert(item));
            done.insert(key, a);
            return a;
        }
        case Type::Dictionary: {
            const void *key = &v.entries();
            if (auto it = done.constFind(key); it != done.cend())
                return *it;
            QJsonObject o;
            for (const auto &[k, item] : v.entries())
                o.insert(k, convert(item));
            done.insert(key, o);
            return o;
        }
        }
        return {};
    }
};

void appendJsonString(QByteArray &out, const QString &s)
{
    out.append('"');
    const QByteArray utf8 = s.toUtf8();
    for (const char c : utf8) {
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (quint8(c) < 0x20) {
                out.append("\\u00");
                out.append("0123456789abcdef"[quint8(c) >> 4]);
                out.append("0123456789abcdef"[quint8(c) & 0xF]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

void appendJson(QByteArray &out, const ArchiveValue &v, bool indented, int level)
{
    using Type = ArchiveValue::Type;
    // Indentation stops growing past 32 levels, so the text of a deep archive stays
    // proportional to its values.
    auto newline = [&](int l) {
        if (indented) {
            out.append('\n');
            out.append(QByteArray(4 * std::min(l, 32), ' '));
        }
    };
    switch (v.type()) {
    case Type::Null: out.append("null"); break;
    case Type::Bool: out.append(v.toBool() ? "true" : "false"); break;
    case Type::Integer: out.append(QByteArray::number(v.toInteger())); break;
    case Type::Real: {
        const double d = v.toReal();
        if (std::isfinite(d))
            out.append(QByteArray::number(d, 'g', QLocale::FloatingPointShortest));
        else
            out.append("null");
        break;
    }
    case Type::String: appendJsonString(out, v.toString()); break;
    case Type::Data: appendJsonString(out, QString::fromLatin1(v.toData().toBase64())); break;
    case Type::Array: {
        const auto &items = v.items();
        out.append('[');
        for (size_t i = 0; i < items.size(); ++i) {
            if (i)
                out.append(',');
            newline(level + 1);
            appendJson(out, items[i], indented, level + 1);
        }
        if (!items.empty())
            newline(level);
        out.append(']');
        break;
    }
    case Type::Dictionary: {
        const auto &entries = v.entries();
        out.append('{');
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i)
                out.append(',');
            newline(level + 1);
            appendJsonString(out, entries[i].first);
            out.append(indented ? ": " : ":");
            appendJson(out, entries[i].second, indented, level + 1);
        }
        if (!entries.empty())
            newline(level);
        out.append('}');
        break;
    }
    }
}

} // namespace

QJsonValue ArchiveValue::toJson() const
{
    JsonConverter converter;
    return converter.convert(*this);
}

QByteArray ArchiveValue::toJsonText(QJsonDocument::JsonFormat format) const
{
    QByteArray out;
    const bool indented = format == QJsonDocument::Indented;
    appendJson(out, *this, indented, 0);
    if (indented)
        out.append('\n');
    return out;
}

// ---------------------------------------------------------------------------------
// ArchiveObject

ArchiveObject::ArchiveObject(QString className, QStringList classes)
    : m_className(std::move(className)), m_classes(std::move(classes))
{
    if (m_classes.isEmpty() && !m_className.isEmpty())
        m_classes = QStringList{m_className, u"NSObject"_qs};
}

void ArchiveObject::encodeInt(const QString &key, qint64 v)
{
    m_fields.push_back({key, ArchiveValue::integer(v), false});
}

void ArchiveObject::encodeDouble(const QString &key, double v)
{
    m_fields.push_back({key, ArchiveValue::real(v), false});
}

void ArchiveObject::encodeFloat(const QString &key, float v)
{
    m_fields.push_back({key, ArchiveValue::real32(v), false});
}

void ArchiveObject::encodeBool(const QString &key, bool v)
{
    m_fields.push_back({key, ArchiveValue::boolean(v), false});
}

void ArchiveObject::encodeObject(const QString &key, const ArchiveValue &v)
{
    m_fields.push_back({key, v, true});
}

void ArchiveObject::encodeValue(const ArchiveValue &v)
{
    const QString key = u'$' + QString::number(m_unkeyedWritten++);
    const bool number = v.is(ArchiveValue::Type::Bool) || v.is(ArchiveValue::Type::Integer)
        || v.is(ArchiveValue::Type::Real);
    m_fields.push_back({key, v, !number});
}

void ArchiveObject::addField(Field field)
{
    m_fields.push_back(std::move(field));
}

const ArchiveObject::Field *ArchiveObject::find(QStringView key) const
{
    for (const Field &f : m_fields) {
        if (f.key == key)
            return &f;
    }
    return nullptr;
}

bool ArchiveObject::contains(QStringView key) const
{
    return find(key) != nullptr;
}

namespace {
bool isNumber(const ArchiveValue &v)
{
    return v.is(ArchiveValue::Type::Integer) || v.is(ArchiveValue::Type::Real)
        || v.is(ArchiveValue::Type::Bool);
}
} // namespace

std::optional<qint64> ArchiveObject::decodeInt(QStringView key) const
{
    const Field *f = find(key);
    if (!f || !isNumber(f->value))
        return std::nullopt;
    return f->value.toInteger();
}

std::optional<double> ArchiveObject::decodeDouble(QStringView key) const
{
    const Field *f = find(key);
    if (!f || !isNumber(f->value))
        return std::nullopt;
    return f->value.toReal();
}

std::optional<ArchiveValue> ArchiveObject::decodeObject(QStringView key) const
{
    const Field *f = find(key);
    if (!f)
        return std::nullopt;
    return f->value;
}

std::optional<ArchiveValue> ArchiveObject::decodeValue()
{
    const Field *f = find(QString(u'$' + QString::number(m_unkeyedRead)));
    if (!f)
        return std::nullopt;
    ++m_unkeyedRead;
    return f->value;
}

// ---------------------------------------------------------------------------------
// KeyedArchiver

KeyedArchiver::KeyedArchiver()
{
    m_topSlot = m_writer.reserve();
    append(stringRef(QStringLiteral("$null")));
    m_classKey = stringRef(QStringLiteral("$class"));
    m_keysKey = stringRef(QStringLiteral("NS.keys"));
    m_objectsKey = stringRef(QStringLiteral("NS.objects"));
    m_stringKey = stringRef(QStringLiteral("NS.string"));
    m_dataKey = stringRef(QStringLiteral("NS.data"));
}

BinaryPlistWriter::Ref KeyedArchiver::stringRef(const QString &v)
{
    if (auto it = m_strings.constFind(v); it != m_strings.cend())
        return it->ref;
    const Ref ref = m_writer.addStringUnchecked(v);
    m_strings.insert(v, {ref, NullUid});
    return ref;
}

KeyedArchiver::Uid KeyedArchiver::append(Ref ref)
{
    const Uid uid = Uid(m_objects.size());
    m_objects.push_back(ref);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::classUid(const QString &name, const QStringList &chain)
{
    if (auto it = m_classes.constFind(name); it != m_classes.cend())
        return *it;
    std::vector<Ref> chainRefs;
    chainRefs.reserve(size_t(chain.size()));
    for (const QString &c : chain)
        chainRefs.push_back(stringRef(c));
    const Ref keys[] = {stringRef(QStringLiteral("$classname")),
                        stringRef(QStringLiteral("$classes"))};
    const Ref values[] = {stringRef(name), m_writer.addArray(chainRefs)};
    const Uid uid = append(m_writer.addDictionary(keys, values));
    m_classes.insert(name, uid);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::classUid(QLatin1StringView name)
{
    // The chains of the classes the archiver writes itself.
    const QString n(name);
    if (auto it = m_classes.constFind(n); it != m_classes.cend())
        return *it;
    QStringList chain{n};
    if (n.startsWith(u"NSMutable"))
        chain.append(u"NS"_qs + n.mid(9));
    chain.append(u"NSObject"_qs);
    return classUid(n, chain);
}

KeyedArchiver::Uid KeyedArchiver::builtinClassUid(int kind)
{
    static constexpr QLatin1StringView Names[] = {
        QLatin1StringView("NSArray"),      QLatin1StringView("NSMutableArray"),
        QLatin1StringView("NSDictionary"), QLatin1StringView("NSMutableDictionary"),
        QLatin1StringView("NSMutableString"), QLatin1StringView("NSMutableData")};
    Uid &uid = m_builtinClasses[kind];
    if (uid == NullUid)
        uid = classUid(Names[kind]);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::encodeString(const QString &v, ArchiveValue::Mutability m)
{
    if (m == ArchiveValue::Mutable) {
        const Uid uid = append(m_topSlot);
        const Ref keys[] = {m_stringKey, m_classKey};
        const Ref values[] = {stringRef(v),
                              m_writer.addUid(builtinClassUid(4))};
        m_objects[uid] = m_writer.addDictionary(keys, values);
        return uid;
    }
    auto it = m_strings.find(v);
    if (it == m_strings.end()) {
        const Uid uid = append(m_writer.addStringUnchecked(v));
        m_strings.insert(v, {m_objects[uid], uid});
        return uid;
    }
    if (it->uid == NullUid)
        it->uid = append(it->ref);
    return it->uid;
}

KeyedArchiver::Uid KeyedArchiver::encodeData(const QByteArray &v, ArchiveValue::Mutability m)
{
    if (m == ArchiveValue::Mutable) {
        const Uid uid = append(m_topSlot);
        const Ref keys[] = {m_dataKey, m_classKey};
        const Ref values[] = {m_writer.addData(v),
                              m_writer.addUid(builtinClassUid(5))};
        m_objects[uid] = m_writer.addDictionary(keys, values);
        return uid;
    }
    return append(m_writer.addData(v));
}

KeyedArchiver::Uid KeyedArchiver::encodeInteger(qint64 v)
{
    if (auto it = m_integers.constFind(v); it != m_integers.cend())
        return *it;
    const Uid uid = append(m_writer.addInteger(v));
    m_integers.insert(v, uid);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::encodeReal(double v)
{
    const quint64 bits = std::bit_cast<quint64>(v);
    if (auto it = m_reals.constFind(bits); it != m_reals.cend())
        return *it;
    const Uid uid = append(m_writer.addReal(v));
    m_reals.insert(bits, uid);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::encodeReal32(float v)
{
    const quint64 bits = std::bit_cast<quint32>(v);
    if (auto it = m_reals32.constFind(bits); it != m_reals32.cend())
        return *it;
    const Uid uid = append(m_writer.addReal32(v));
    m_reals32.insert(bits, uid);
    return uid;
}

KeyedArchiver::Uid KeyedArchiver::encodeBool(bool v)
{
    Uid &slot = m_bools[v ? 1 : 0];
    if (slot == 0)
        slot = append(m_writer.addBool(v));
    return slot;
}

KeyedArchiver::Uid KeyedArchiver::reserve()
{
    return append(m_topSlot);
}

void KeyedArchiver::finishArray(Uid uid, std::span<const Uid> items, ArchiveValue::Mutability m)
{
    m_uidScratch.resize(items.size());
    for (size_t i = 0; i < items.size(); ++i)
        m_uidScratch[i] = m_writer.addUid(items[i]);
    const Ref objects = m_writer.addArray(m_uidScratch);
    const Uid cls = builtinClassUid(m == ArchiveValue::Mutable ? 1 : 0);
    const Ref keys[] = {m_objectsKey, m_classKey};
    const Ref values[] = {objects, m_writer.addUid(cls)};
    m_objects[uid] = m_writer.addDictionary(keys, values);
}

void KeyedArchiver::finishDictionary(Uid uid, std::span<const Uid> keyUids, std::span<const Uid> valueUids,
                                     ArchiveValue::Mutability m)
{
    Q_ASSERT(keyUids.size() == valueUids.size());
    m_uidScratch.resize(keyUids.size());
    for (size_t i = 0; i < keyUids.size(); ++i)
        m_uidScratch[i] = m_writer.addUid(keyUids[i]);
    const Ref keyArray = m_writer.addArray(m_uidScratch);
    for (size_t i = 0; i < valueUids.size(); ++i)
        m_uidScratch[i] = m_writer.addUid(valueUids[i]);
    const Ref valueArray = m_writer.addArray(m_uidScratch);
    const Uid cls = builtinClassUid(m == ArchiveValue::Mutable ? 3 : 2);
    const Ref keys[] = {m_keysKey, m_objectsKey, m_classKey};
    const Ref values[] = {keyArray, valueArray, m_writer.addUid(cls)};
    m_objects[uid] = m_writer.addDictionary(keys, values);
}

std::optional<KeyedArchiver::Uid> KeyedArchiver::encode(const ArchiveValue &value)
{
    return encodeAt(value, 0);
}

std::optional<KeyedArchiver::Uid> KeyedArchiver::encode(const ArchiveObject &object)
{
    return encodeObjectAt(object, 0);
}

std::optional<KeyedArchiver::Uid> KeyedArchiver::encodeAt(const ArchiveValue &value, int depth)
{
    using Type = ArchiveValue::Type;
    const auto m = value.isMutable() ? ArchiveValue::Mutable : ArchiveValue::Immutable;
    switch (value.type()) {
    case Type::Null: return NullUid;
    case Type::Bool: return encodeBool(value.toBool());
    case Type::Integer: return encodeInteger(value.toInteger());
    case Type::Real: return value.isReal32() ? encodeReal32(float(value.toReal())) : encodeReal(value.toReal());
    case Type::String: return encodeString(value.toString(), m);
    case Type::Data: return encodeData(value.toData(), m);
    case Type::Array:
    case Type::Dictionary: break;
    }
    if (depth >= BinaryPlistReader::MaxDepth)
        return std::nullopt;
    const Uid uid = reserve();
    if (value.is(Type::Array)) {
        const auto &items = value.items();
        std::vector<Uid> uids;
        uids.reserve(items.size());
        for (const auto &item : items) {
            auto u = encodeAt(item, depth + 1);
            if (!u)
                return std::nullopt;
            uids.push_back(*u);
        }
        finishArray(uid, uids, m);
    } else {
        const auto &entries = value.entries();
        const size_t n = entries.size();
        std::vector<Uid> uids(2 * n);
        for (size_t i = 0; i < n; ++i)
            uids[i] = encodeString(entries[i].first);
        for (size_t i = 0; i < n; ++i) {
            auto u = encodeAt(entries[i].second, depth + 1);
            if (!u)
                return std::nullopt;
            uids[n + i] = *u;
        }
        finishDictionary(uid, std::span(uids).first(n), std::span(uids).subspan(n), m);
    }
    return uid;
}

std::optional<KeyedArchiver::Uid> KeyedArchiver::encodeObjectAt(const ArchiveObject &object, int depth)
{
    const Uid uid = reserve();
    std::vector<Ref> keys, values;
    for (const auto &field : object.fields()) {
        keys.push_back(stringRef(field.key));
        const ArchiveValue &v = field.value;
        if (field.reference) {
            auto u = encodeAt(v, depth + 1);
            if (!u)
                return std::nullopt;
            values.push_back(m_writer.addUid(*u));
        } else if (v.is(ArchiveValue::Type::Bool)) {
            values.push_back(m_writer.addBool(v.toBool()));
        } else if (v.is(ArchiveValue::Type::Integer)) {
            values.push_back(m_writer.addInteger(v.toInteger()));
        } else {
            values.push_back(v.isReal32() ? m_writer.addReal32(float(v.toReal())) : m_writer.addReal(v.toReal()));
        }
    }
    keys.push_back(m_classKey);
    values.push_back(m_writer.addUid(classUid(object.className(), object.classes())));
    m_objects[uid] = m_writer.addDictionary(keys, values);
    return uid;
}

QByteArray KeyedArchiver::finish(Uid root)
{
    // Reserved objects are placeholders until finished (the top dictionary's slot);
    // one never finished is written as "$null".
    for (size_t i = 1; i < m_objects.size(); ++i) {
        Q_ASSERT_X(m_objects[i] != m_topSlot, "KeyedArchiver::finish", "reserved UID never finished");
        if (m_objects[i] == m_topSlot)
            m_objects[i] = m_objects[0];
    }
    const Ref objects = m_writer.addArray(m_objects);
    const Ref rootKey[] = {stringRef(QStringLiteral("root"))};
    const Ref rootValue[] = {m_writer.addUid(root)};
    const Ref top = m_writer.addDictionary(rootKey, rootValue);
    const Ref keys[] = {stringRef(QStringLiteral("$version")),
                        stringRef(QStringLiteral("$archiver")),
                        stringRef(QStringLiteral("$top")),
                        stringRef(QStringLiteral("$objects"))};
    const Ref values[] = {m_writer.addInteger(ArchiveVersion), stringRef(QString(ArchiverName)), top,
                          objects};
    m_writer.setDictionary(m_topSlot, keys, values);
    return m_writer.finish(m_topSlot);
}

PlistResult<QByteArray> KeyedArchiver::archivedData(const ArchiveValue &root)
{
    KeyedArchiver archiver;
    auto uid = archiver.encode(root);
    if (!uid)
        return PlistResult<QByteArray>::failure(
            fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth)));
    return archiver.finish(*uid);
}

PlistResult<QByteArray> KeyedArchiver::archivedData(const ArchiveObject &root)
{
    KeyedArchiver archiver;
    auto uid = archiver.encode(root);
    if (!uid)
        return PlistResult<QByteArray>::failure(
            fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth)));
    return archiver.finish(*uid);
}

// ---------------------------------------------------------------------------------
// KeyedUnarchiver

namespace {

enum class ClassKind : quint8 {
    Dictionary, MutableDictionary, Array, MutableArray, String, MutableString, Data, MutableData, Null,
    // Understood only when rendering for display (kinds from Set on).
    Set, MutableSet, OrderedSet, MutableOrderedSet, Date, Url, Uuid, Decimal,
    Other
};

// Dates as ISO 8601 text in UTC, for the years 1 to 9999; none outside them.
std::optional<QString> dateText(double secondsSinceReferenceDate)
{
    const double ms = std::round((secondsSinceReferenceDate + BinaryPlist::ReferenceDateOffset) * 1000.0);
    if (!std::isfinite(ms) || ms < -62135596800000.0 || ms > 253402300799999.0)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(qint64(ms), Qt::UTC).toString(Qt::ISODateWithMs);
}

struct ClassInfo
{
    ClassKind kind = ClassKind::Other;
    QString name;
    QStringList chain;
};

using Object = BinaryPlistReader::Object;
using PType = PlistValue::Type;

class Decoder
{
public:
    QString error;
    // Renders every class for display instead of refusing the ones a campaign never holds.
    bool lenient = false;

    std::optional<QString> open(QByteArrayView data)
    {
        if (auto e = m_reader.open(data))
            return e;
        auto top = m_reader.object(m_reader.topObject());
        if (!top)
            return top.error();
        if (top->type != PType::Dictionary)
            return fail(u"not a keyed archive (the top object is not a dictionary)"_qs);
        std::optional<Object> archiver, version, objects, topDict;
        for (quint64 i = 0; i < top->count; ++i) {
            auto key = m_reader.object(m_reader.reference(*top, i));
            if (!key)
                return key.error();
            std::optional<Object> *slot = m_reader.stringEquals(*key, QLatin1StringView("$archiver")) ? &archiver
                : m_reader.stringEquals(*key, QLatin1StringView("$version"))                          ? &version
                : m_reader.stringEquals(*key, QLatin1StringView("$objects"))                          ? &objects
                : m_reader.stringEquals(*key, QLatin1StringView("$top"))                              ? &topDict
                                                                                                       : nullptr;
            if (!slot)
                continue;
            auto value = m_reader.object(m_reader.reference(*top, top->count + i));
            if (!value)
                return value.error();
            *slot = *value;
        }
        if (!archiver || archiver->type != PType::String || !m_reader.stringEquals(*archiver, ArchiverName))
            return fail(u"not a keyed archive (\"$archiver\" is not \"NSKeyedArchiver\")"_qs);
        if (!version || version->type != PType::Integer)
            return fail(u"not a keyed archive (no \"$version\")"_qs);
        if (!objects || objects->type != PType::Array)
            return fail(u"\"$objects\" is missing or not an array"_qs);
        if (!topDict || topDict->type != PType::Dictionary)
            return fail(u"\"$top\" is missing or not a dictionary"_qs);
        m_objects = *objects;
        m_topDict = *topDict;
        // Four bytes per object the file claims; the rest only for the objects met.
        m_slotOf.assign(m_objects.count, 0);
        m_slots.clear();
        // Shared objects are decoded once, but whoever walks the tree meets them again
        // each time; a graph whose tree would be far larger than the file is refused,
        // counting as the property-list reader does.
        m_expansionLimit = m_reader.expansionLimit();
        return std::nullopt;
    }

    std::optional<quint64> rootUid()
    {
        for (quint64 i = 0; i < m_topDict.count; ++i) {
            auto key = m_reader.object(m_reader.reference(m_topDict, i));
            if (!key) {
                error = key.error();
                return std::nullopt;
            }
            if (!m_reader.stringEquals(*key, QLatin1StringView("root")))
                continue;
            auto value = m_reader.object(m_reader.reference(m_topDict, m_topDict.count + i));
            if (!value) {
                error = value.error();
                return std::nullopt;
            }
            if (value->type != PType::Uid) {
                error = fail(u"\"root\" is not a UID"_qs);
                return std::nullopt;
            }
            return m_reader.uid(*value);
        }
        error = fail(u"\"$top\" has no \"root\""_qs);
        return std::nullopt;
    }

    std::optional<ArchiveValue> decode(quint64 uid, int depth)
    {
        if (uid >= m_objects.count) {
            error = fail(u"UID %1 out of range (%2 objects)"_qs.arg(uid).arg(m_objects.count));
            return std::nullopt;
        }
        if (uid == 0)
            return ArchiveValue();
        if (const Slot *met = slot(uid); met && met->expanded > 0)
            return met->value;
        else if (met) {
            // Object graphs may point back at an object being decoded; a display shows where.
            if (lenient)
                return ArchiveValue::dictionary({{u"$ref"_qs, ArchiveValue::integer(qint64(uid))}});
            error = fail(u"reference cycle through object %1"_qs.arg(uid));
            return std::nullopt;
        }
        if (depth > BinaryPlistReader::MaxDepth) {
            error = fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth));
            return std::nullopt;
        }
        auto o = objectAt(uid);
        if (!o)
            return std::nullopt;
        open(uid);
        quint64 expanded = 1;
        auto v = decodeObject(uid, *o, depth, expanded);
        if (!v)
            return std::nullopt;
        Slot &done = *slot(uid);
        done.expanded = expanded;
        done.value = *v;
        return v;
    }

    PlistResult<ArchiveObject> decodeCustomRoot(quint64 uid, const QStringList &classNames)
    {
        using R = PlistResult<ArchiveObject>;
        if (uid == 0 || uid >= m_objects.count)
            return R::failure(fail(u"root UID %1 out of range (%2 objects)"_qs.arg(uid).arg(m_objects.count)));
        auto o = objectAt(uid);
        if (!o)
            return R::failure(error);
        if (o->type != PType::Dictionary)
            return R::failure(fail(u"the root object is not an object of a class"_qs));
        open(uid);
        std::optional<quint64> classRef;
        for (quint64 i = 0; i < o->count; ++i) {
            auto key = keyAt(*o, i);
            if (!key)
                return R::failure(error);
            if (m_reader.stringEquals(*key, QLatin1StringView("$class")))
                classRef = m_reader.reference(*o, o->count + i);
        }
        const std::optional<ClassInfo> cls = classRef ? classFor(*classRef) : std::nullopt;
        if (!cls) {
            if (error.isEmpty())
                error = fail(u"object %1 has no \"$class\""_qs.arg(uid));
            return R::failure(error);
        }
        if (!classNames.contains(cls->name))
            return R::failure(fail(u"unexpected class \"%1\" (object %2)"_qs.arg(cls->name).arg(uid)));
        ArchiveObject result(cls->name, cls->chain);
        for (quint64 i = 0; i < o->count; ++i) {
            auto key = keyAt(*o, i);
            if (!key)
                return R::failure(error);
            if (m_reader.stringEquals(*key, QLatin1StringView("$class")))
                continue;
            auto value = m_reader.object(m_reader.reference(*o, o->count + i));
            if (!value)
                return R::failure(value.error());
            ArchiveObject::Field field;
            field.key = m_reader.string(*key);
            switch (value->type) {
            case PType::Bool: field.value = ArchiveValue::boolean(m_reader.boolean(*value)); break;
            case PType::Integer: {
                auto n = integerValue(*value, uid);
                if (!n)
                    return R::failure(error);
                field.value = *n;
                break;
            }
            case PType::Real: field.value = realValue(*value); break;
            case PType::String: field.value = ArchiveValue::string(m_reader.string(*value)); break;
            case PType::Data: field.value = ArchiveValue::data(m_reader.data(*value)); break;
            case PType::Uid: {
                auto v = decode(m_reader.uid(*value), 1);
                if (!v)
                    return R::failure(error);
                field.value = *v;
                field.reference = true;
                break;
            }
            default:
                return R::failure(fail(u"field \"%1\" of object %2 has an unsupported type"_qs
                                           .arg(field.key).arg(uid)));
            }
            result.addField(std::move(field));
        }
        return result;
    }

private:
    std::optional<Object> objectAt(quint64 uid)
    {
        auto o = m_reader.object(m_reader.reference(m_objects, uid));
        if (!o) {
            error = o.error();
            return std::nullopt;
        }
        return *o;
    }

    std::optional<Object> keyAt(const Object &dict, quint64 i)
    {
        auto key = m_reader.object(m_reader.reference(dict, i));
        if (!key) {
            error = key.error();
            return std::nullopt;
        }
        if (key->type != PType::String) {
            error = fail(u"a dictionary in the file has a key that is not a string"_qs);
            return std::nullopt;
        }
        return *key;
    }

    std::optional<ArchiveValue> integerValue(const Object &o, quint64 uid)
    {
        const PlistValue n = m_reader.integer(o);
        if (n.isNull()) {
            error = fail(u"object %1 is an integer that does not fit in 64 bits"_qs.arg(uid));
            return std::nullopt;
        }
        // Above the signed range only as an approximation.
        return n.isUnsignedBig() ? ArchiveValue::real(n.toReal()) : ArchiveValue::integer(n.toInteger());
    }

    ArchiveValue realValue(const Object &o)
    {
        const double d = m_reader.real(o);
        return o.payloadEnd - o.payload == 4 ? ArchiveValue::real32(float(d)) : ArchiveValue::real(d);
    }

    std::optional<ClassInfo> classFor(quint64 uidRef)
    {
        auto ref = m_reader.object(uidRef);
        if (!ref) {
            error = ref.error();
            return std::nullopt;
        }
        if (ref->type != PType::Uid) {
            error = fail(u"\"$class\" is not a UID"_qs);
            return std::nullopt;
        }
        const quint64 uid = m_reader.uid(*ref);
        if (auto it = m_classes.constFind(uid); it != m_classes.cend())
            return *it;
        if (uid == 0 || uid >= m_objects.count) {
            error = fail(u"class UID %1 out of range (%2 objects)"_qs.arg(uid).arg(m_objects.count));
            return std::nullopt;
        }
        auto o = objectAt(uid);
        if (!o)
            return std::nullopt;
        if (o->type != PType::Dictionary) {
            error = fail(u"class description %1 is not a dictionary"_qs.arg(uid));
            return std::nullopt;
        }
        ClassInfo info;
        bool named = false;
        for (quint64 i = 0; i < o->count; ++i) {
            auto key = keyAt(*o, i);
            if (!key)
                return std::nullopt;
            const bool isName = m_reader.stringEquals(*key, QLatin1StringView("$classname"));
            const bool isChain = m_reader.stringEquals(*key, QLatin1StringView("$classes"));
            if (!isName && !isChain)
                continue;
            auto value = m_reader.object(m_reader.reference(*o, o->count + i));
            if (!value) {
                error = value.error();
                return std::nullopt;
            }
            if (isName && value->type == PType::String) {
                info.name = m_reader.string(*value);
                named = true;
            } else if (isChain && value->type == PType::Array) {
                for (quint64 k = 0; k < value->count; ++k) {
                    auto c = m_reader.object(m_reader.reference(*value, k));
                    if (c && c->type == PType::String)
                        info.chain.append(m_reader.string(*c));
                }
            }
        }
        if (!named) {
            error = fail(u"class description %1 has no \"$classname\""_qs.arg(uid));
            return std::nullopt;
        }
        static const QHash<QString, ClassKind> known = {
            {u"NSDictionary"_qs, ClassKind::Dictionary}, {u"NSMutableDictionary"_qs, ClassKind::MutableDictionary},
            {u"NSArray"_qs, ClassKind::Array},           {u"NSMutableArray"_qs, ClassKind::MutableArray},
            {u"NSString"_qs, ClassKind::String},         {u"NSMutableString"_qs, ClassKind::MutableString},
            {u"NSData"_qs, ClassKind::Data},             {u"NSMutableData"_qs, ClassKind::MutableData},
            {u"NSNull"_qs, ClassKind::Null},
        };
        static const QHash<QString, ClassKind> displayed = {
            {u"NSSet"_qs, ClassKind::Set},           {u"NSMutableSet"_qs, ClassKind::MutableSet},
            {u"NSOrderedSet"_qs, ClassKind::OrderedSet},
            {u"NSMutableOrderedSet"_qs, ClassKind::MutableOrderedSet},
            {u"NSDate"_qs, ClassKind::Date},         {u"NSURL"_qs, ClassKind::Url},
            {u"NSUUID"_qs, ClassKind::Uuid},         {u"NSDecimalNumber"_qs, ClassKind::Decimal},
        };
        info.kind = known.value(info.name, lenient ? displayed.value(info.name, ClassKind::Other) : ClassKind::Other);
        m_classes.insert(uid, info);
        return info;
    }

    // The referenced objects of a UID array ("NS.keys", "NS.objects").
    bool uidArray(std::optional<quint64> ref, const char *name, quint64 owner, std::vector<quint64> &out)
    {
        if (!ref) {
            error = fail(u"object %1 has no \"%2\""_qs.arg(owner).arg(QLatin1StringView(name)));
            return false;
        }
        auto a = m_reader.object(*ref);
        if (!a) {
            error = a.error();
            return false;
        }
        if (a->type != PType::Array) {
            error = fail(u"\"%1\" of object %2 is not an array"_qs.arg(QLatin1StringView(name)).arg(owner));
            return false;
        }
        out.resize(a->count);
        for (quint64 i = 0; i < a->count; ++i) {
            auto u = m_reader.object(m_reader.reference(*a, i));
            if (!u) {
                error = u.error();
                return false;
            }
            if (u->type != PType::Uid) {
                error = fail(u"\"%1\" of object %2 holds something other than UIDs"_qs
                                 .arg(QLatin1StringView(name)).arg(owner));
                return false;
            }
            out[i] = m_reader.uid(*u);
        }
        return true;
    }

    // A string or data stored in the object dictionary or by reference.
    std::optional<ArchiveValue> inlineOrReferenced(std::optional<quint64> ref, const char *name, quint64 owner,
                                                   ArchiveValue::Type type, int depth, quint64 &expanded)
    {
        if (!ref) {
            error = fail(u"object %1 has no \"%2\""_qs.arg(owner).arg(QLatin1StringView(name)));
            return std::nullopt;
        }
        auto o = m_reader.object(*ref);
        if (!o) {
            error = o.error();
            return std::nullopt;
        }
        std::optional<ArchiveValue> v;
        if (o->type == PType::Uid) {
            const quint64 uid = m_reader.uid(*o);
            v = decode(uid, depth + 1);
            if (!v || !grow(expanded, uid, uid))
                return std::nullopt;
        } else if (o->type == PType::String) {
            v = ArchiveValue::string(m_reader.string(*o));
            expanded += o->count / 16;
        } else if (o->type == PType::Data) {
            v = ArchiveValue::data(m_reader.data(*o));
            expanded += o->count / 16;
        }
        if (!v || v->type() != type) {
            error = fail(u"\"%1\" of object %2 has the wrong type"_qs.arg(QLatin1StringView(name)).arg(owner));
            return std::nullopt;
        }
        return v;
    }

    // Counts a decoded child into its parent's size as a tree; false past the limit.
    bool grow(quint64 &expanded, quint64 child, quint64 owner)
    {
        const Slot *met = child < m_slotOf.size() ? slot(child) : nullptr;
        expanded += std::max<quint64>(met ? met->expanded : 0, 1);
        if (expanded <= m_expansionLimit)
            return true;
        error = fail(u"object %1 expands to more than %2 values"_qs.arg(owner).arg(m_expansionLimit));
        return false;
    }

    // The members of a collection, decoded in order and counted into its owner's size.
    std::optional<ArchiveValue::Array> decodeItems(const std::vector<quint64> &uids, quint64 owner, int depth,
                                                   quint64 &expanded)
    {
        ArchiveValue::Array items;
        items.reserve(uids.size());
        for (const quint64 u : uids) {
            auto item = decode(u, depth + 1);
            if (!item || !grow(expanded, u, owner))
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return items;
    }

    std::optional<ArchiveValue> decodeObject(quint64 uid, const Object &o, int depth, quint64 &expanded)
    {
        switch (o.type) {
        case PType::Null: return ArchiveValue();
        case PType::Bool: return ArchiveValue::boolean(m_reader.boolean(o));
        case PType::Integer: return integerValue(o, uid);
        case PType::Real: return realValue(o);
        case PType::String:
            expanded += o.count / 16;
            return ArchiveValue::string(m_reader.string(o));
        case PType::Data:
            expanded += o.count / 16;
            return ArchiveValue::data(m_reader.data(o));
        case PType::Dictionary: break;
        default:
            if (lenient)
                return renderInline(o, uid, depth, expanded);
            error = fail(u"object %1 is a bare property-list value of an unsupported type"_qs.arg(uid));
            return std::nullopt;
        }

        std::optional<quint64> classRef, keysRef, objectsRef, stringRef, dataRef;
        for (quint64 i = 0; i < o.count; ++i) {
            auto key = keyAt(o, i);
            if (!key)
                return std::nullopt;
            const quint64 valueRef = m_reader.reference(o, o.count + i);
            if (m_reader.stringEquals(*key, QLatin1StringView("$class")))
                classRef = valueRef;
            else if (m_reader.stringEquals(*key, QLatin1StringView("NS.keys")))
                keysRef = valueRef;
            else if (m_reader.stringEquals(*key, QLatin1StringView("NS.objects")))
                objectsRef = valueRef;
            else if (m_reader.stringEquals(*key, QLatin1StringView("NS.string")))
                stringRef = valueRef;
            else if (m_reader.stringEquals(*key, QLatin1StringView("NS.data")))
                dataRef = valueRef;
        }
        if (!classRef) {
            if (lenient)
                return renderFields(o, nullptr, uid, depth, expanded);
            error = fail(u"object %1 has no \"$class\""_qs.arg(uid));
            return std::nullopt;
        }
        const std::optional<ClassInfo> cls = classFor(*classRef);
        if (!cls)
            return std::nullopt;
        if (lenient) {
            // A standard class stored in a shape other than the usual one is shown field by field.
            const bool usual = [&] {
                switch (cls->kind) {
                case ClassKind::String:
                case ClassKind::MutableString: return stringRef.has_value();
                case ClassKind::Data:
                case ClassKind::MutableData: return dataRef.has_value();
                case ClassKind::Dictionary:
                case ClassKind::MutableDictionary: return keysRef && objectsRef;
                case ClassKind::Other: return false;
                default: return true;
                }
            }();
            if (!usual)
                return renderFields(o, &cls->name, uid, depth, expanded);
            if (auto v = renderStandard(o, *cls, uid, objectsRef, depth, expanded))
                return v;
            if (!error.isEmpty())
                return std::nullopt;
            if (cls->kind >= ClassKind::Set)
                return renderFields(o, &cls->name, uid, depth, expanded);
        }
        const auto mutability = [&] {
            switch (cls->kind) {
            case ClassKind::MutableDictionary:
            case ClassKind::MutableArray:
            case ClassKind::MutableString:
            case ClassKind::MutableData: return ArchiveValue::Mutable;
            default: return ArchiveValue::Immutable;
            }
        }();

        switch (cls->kind) {
        case ClassKind::Null: return ArchiveValue();
        case ClassKind::String:
        case ClassKind::MutableString: {
            auto s = inlineOrReferenced(stringRef, "NS.string", uid, ArchiveValue::Type::String, depth, expanded);
            if (!s)
                return std::nullopt;
            return ArchiveValue::string(s->toString(), mutability);
        }
        case ClassKind::Data:
        case ClassKind::MutableData: {
            auto d = inlineOrReferenced(dataRef, "NS.data", uid, ArchiveValue::Type::Data, depth, expanded);
            if (!d)
                return std::nullopt;
            return ArchiveValue::data(d->toData(), mutability);
        }
        case ClassKind::Array:
        case ClassKind::MutableArray: {
            std::vector<quint64> uids;
            if (!uidArray(objectsRef, "NS.objects", uid, uids))
                return std::nullopt;
            auto items = decodeItems(uids, uid, depth, expanded);
            if (!items)
                return std::nullopt;
            return ArchiveValue::array(std::move(*items), mutability);
        }
        case ClassKind::Dictionary:
        case ClassKind::MutableDictionary: {
            std::vector<quint64> keyUids, valueUids;
            if (!uidArray(keysRef, "NS.keys", uid, keyUids) || !uidArray(objectsRef, "NS.objects", uid, valueUids))
                return std::nullopt;
            if (keyUids.size() != valueUids.size()) {
                error = fail(u"dictionary %1 has %2 keys but %3 values"_qs.arg(uid).arg(keyUids.size())
                                 .arg(valueUids.size()));
                return std::nullopt;
            }
            ArchiveValue::Dictionary entries;
            entries.reserve(keyUids.size());
            for (size_t i = 0; i < keyUids.size(); ++i) {
                auto key = decode(keyUids[i], depth + 1);
                if (!key)
                    return std::nullopt;
                if (lenient && !key->is(ArchiveValue::Type::String))
                    key = ArchiveValue::string(QString::fromUtf8(key->toJsonText(QJsonDocument::Compact)));
                if (!key->is(ArchiveValue::Type::String)) {
                    error = fail(u"dictionary %1 has a key that is not a string"_qs.arg(uid));
                    return std::nullopt;
                }
                auto value = decode(valueUids[i], depth + 1);
                if (!value || !grow(expanded, keyUids[i], uid) || !grow(expanded, valueUids[i], uid))
                    return std::nullopt;
                entries.emplace_back(key->toString(), std::move(*value));
            }
            return ArchiveValue::dictionary(std::move(entries), mutability);
        }
        case ClassKind::Set:
        case ClassKind::MutableSet:
        case ClassKind::OrderedSet:
        case ClassKind::MutableOrderedSet:
        case ClassKind::Date:
        case ClassKind::Url:
        case ClassKind::Uuid:
        case ClassKind::Decimal:
        case ClassKind::Other: break;
        }
        error = fail(u"unknown class \"%1\" (object %2)"_qs.arg(cls->name).arg(uid));
        return std::nullopt;
    }

    // Display only: the value of a field as stored in an object, references followed.
    std::optional<ArchiveValue> renderInline(const Object &o, quint64 owner, int depth, quint64 &expanded)
    {
        if (depth > BinaryPlistReader::MaxDepth) {
            error = fail(u"nesting deeper than %1 levels"_qs.arg(BinaryPlistReader::MaxDepth));
            return std::nullopt;
        }
        ++expanded;
        switch (o.type) {
        case PType::Null:
        case PType::Fill: return ArchiveValue();
        case PType::Bool: return ArchiveValue::boolean(m_reader.boolean(o));
        case PType::Integer: return integerValue(o, owner);
        case PType::Real: return realValue(o);
        case PType::Date: {
            const double seconds = m_reader.real(o);
            if (auto text = dateText(seconds))
                return ArchiveValue::string(*text);
            return ArchiveValue::real(seconds);
        }
        case PType::String:
            expanded += o.count / 16;
            return ArchiveValue::string(m_reader.string(o));
        case PType::Data:
            expanded += o.count / 16;
            return ArchiveValue::data(m_reader.data(o));
        case PType::Uid: {
            const quint64 uid = m_reader.uid(o);
            auto v = decode(uid, depth + 1);
            if (!v || (uid < m_objects.count && !grow(expanded, uid, owner)))
                return std::nullopt;
            return v;
        }
        case PType::Array:
        case PType::Set: {
            ArchiveValue::Array items;
            for (quint64 i = 0; i < o.count; ++i) {
                auto item = m_reader.object(m_reader.reference(o, i));
                if (!item) {
                    error = item.error();
                    return std::nullopt;
                }
                auto v = renderInline(*item, owner, depth + 1, expanded);
                if (!v)
                    return std::nullopt;
                items.push_back(std::move(*v));
            }
            return ArchiveValue::array(std::move(items));
        }
        case PType::Dictionary: return renderFields(o, nullptr, owner, depth + 1, expanded);
        }
        error = fail(u"object %1 holds a value of an unknown type"_qs.arg(owner));
        return std::nullopt;
    }

    // Display only: an object dictionary as {"$class": name, …its fields…} in the file's order
    // (without "$class" when className is null); keys that are not strings show as JSON.
    std::optional<ArchiveValue> renderFields(const Object &o, const QString *className, quint64 owner, int depth,
                                             quint64 &expanded)
    {
        ArchiveValue::Dictionary entries;
        if (className)
            entries.emplace_back(u"$class"_qs, ArchiveValue::string(*className));
        for (quint64 i = 0; i < o.count; ++i) {
            auto key = m_reader.object(m_reader.reference(o, i));
            if (!key) {
                error = key.error();
                return std::nullopt;
            }
            if (className && m_reader.stringEquals(*key, QLatin1StringView("$class")))
                continue;
            QString name;
            if (key->type == PType::String) {
                name = m_reader.string(*key);
            } else {
                auto k = renderInline(*key, owner, depth + 1, expanded);
                if (!k)
                    return std::nullopt;
                name = QString::fromUtf8(k->toJsonText(QJsonDocument::Compact));
            }
            auto value = m_reader.object(m_reader.reference(o, o.count + i));
            if (!value) {
                error = value.error();
                return std::nullopt;
            }
            auto v = renderInline(*value, owner, depth + 1, expanded);
            if (!v)
                return std::nullopt;
            entries.emplace_back(std::move(name), std::move(*v));
        }
        return ArchiveValue::dictionary(std::move(entries));
    }

    // Display only: the field under key, references followed; none (and no error) when absent.
    std::optional<ArchiveValue> field(const Object &o, QLatin1StringView key, quint64 owner, int depth,
                                      quint64 &expanded)
    {
        for (quint64 i = 0; i < o.count; ++i) {
            auto k = m_reader.object(m_reader.reference(o, i));
            if (!k || !m_reader.stringEquals(*k, key))
                continue;
            auto value = m_reader.object(m_reader.reference(o, o.count + i));
            if (!value) {
                error = value.error();
                return std::nullopt;
            }
            return renderInline(*value, owner, depth + 1, expanded);
        }
        return std::nullopt;
    }

    // Display only: sets, dates, URLs and UUIDs as plain values. None without an error when the
    // object does not have the usual fields of its class; the caller then shows them one by one.
    std::optional<ArchiveValue> renderStandard(const Object &o, const ClassInfo &cls, quint64 uid,
                                               std::optional<quint64> objectsRef, int depth, quint64 &expanded)
    {
        switch (cls.kind) {
        case ClassKind::Set:
        case ClassKind::MutableSet:
        case ClassKind::OrderedSet:
        case ClassKind::MutableOrderedSet: {
            if (!objectsRef)
                return std::nullopt;
            std::vector<quint64> uids;
            if (!uidArray(objectsRef, "NS.objects", uid, uids))
                return std::nullopt;
            auto items = decodeItems(uids, uid, depth, expanded);
            if (!items)
                return std::nullopt;
            const bool isMutable = cls.kind == ClassKind::MutableSet || cls.kind == ClassKind::MutableOrderedSet;
            return ArchiveValue::array(std::move(*items), isMutable ? ArchiveValue::Mutable : ArchiveValue::Immutable);
        }
        case ClassKind::Date: {
            auto time = field(o, QLatin1StringView("NS.time"), uid, depth, expanded);
            if (!time || !(time->is(ArchiveValue::Type::Real) || time->is(ArchiveValue::Type::Integer)))
                return std::nullopt;
            if (auto text = dateText(time->toReal()))
                return ArchiveValue::string(*text);
            return std::nullopt;
        }
        case ClassKind::Url: {
            auto relative = field(o, QLatin1StringView("NS.relative"), uid, depth, expanded);
            if (!relative || !relative->is(ArchiveValue::Type::String))
                return std::nullopt;
            auto base = field(o, QLatin1StringView("NS.base"), uid, depth, expanded);
            if (!error.isEmpty())
                return std::nullopt;
            if (!base || base->isNull())
                return relative;
            if (!base->is(ArchiveValue::Type::String))
                return std::nullopt;
            const QUrl resolved = QUrl(base->toString()).resolved(QUrl(relative->toString()));
            return ArchiveValue::string(resolved.toString(QUrl::FullyEncoded));
        }
        case ClassKind::Uuid: {
            auto bytes = field(o, QLatin1StringView("NS.uuidbytes"), uid, depth, expanded);
            if (!bytes || !bytes->is(ArchiveValue::Type::Data) || bytes->size() != 16)
                return std::nullopt;
            return ArchiveValue::string(QUuid::fromRfc4122(bytes->toData()).toString(QUuid::WithoutBraces).toUpper());
        }
        case ClassKind::Decimal: {
            // Sign, exponent and up to eight 16-bit words of mantissa, least significant first.
            const auto number = [&](const char *key) {
                return field(o, QLatin1StringView(key), uid, depth, expanded);
            };
            const auto exponent = number("NS.exponent"), length = number("NS.length");
            const auto negative = number("NS.negative"), words = number("NS.mantissa");
            const auto order = number("NS.mantissa.bo");
            if (!exponent || !length || !words || !words->is(ArchiveValue::Type::Data))
                return std::nullopt;
            const QByteArray bytes = words->toData();
            const qint64 count = length->toInteger();
            if (count < 0 || count > 8 || bytes.size() < 2 * count || exponent->toInteger() < -128 ||
                exponent->toInteger() > 127)
                return std::nullopt;
            if (count == 0)
                return negative && negative->toBool() ? ArchiveValue() : ArchiveValue::integer(0); // NaN: null
            const bool bigEndian = order && order->toInteger() == 0;
            unsigned __int128 mantissa = 0;
            for (qint64 w = count - 1; w >= 0; --w) {
                const auto hi = quint8(bytes[2 * w + (bigEndian ? 0 : 1)]), lo = quint8(bytes[2 * w + (bigEndian ? 1 : 0)]);
                mantissa = (mantissa << 16) | (hi << 8) | lo;
            }
            QByteArray digits;
            do {
                digits.prepend(char('0' + int(mantissa % 10)));
                mantissa /= 10;
            } while (mantissa != 0);
            const int scale = int(exponent->toInteger());
            QByteArray text = digits;
            if (scale >= 0) {
                text.append(QByteArray(scale, '0'));
            } else {
                if (text.size() <= -scale)
                    text.prepend(QByteArray(1 - scale - text.size(), '0'));
                text.insert(text.size() + scale, '.');
            }
            if (negative && negative->toBool())
                text.prepend('-');
            // Shown as a JSON number where a double holds it exactly, else as its exact text.
            bool exact = false;
            if (scale >= 0) {
                const qint64 n = text.toLongLong(&exact);
                if (exact)
                    return ArchiveValue::integer(n);
            }
            if (digits.size() <= 15)
                return ArchiveValue::real(text.toDouble());
            return ArchiveValue::string(QString::fromLatin1(text));
        }
        default: return std::nullopt;
        }
    }

    BinaryPlistReader m_reader;
    Object m_objects;
    Object m_topDict;
    // The objects met so far: open (being decoded, size 0) or done with their size as a tree
    // (at least 1) and value. Kept per object met rather than per object the file claims to
    // hold, so what a file costs follows what it really contains.
    struct Slot
    {
        quint64 expanded = 0;
        ArchiveValue value;
    };
    Slot *slot(quint64 uid)
    {
        const quint32 at = m_slotOf[uid];
        return at ? &m_slots[at - 1] : nullptr;
    }
    void open(quint64 uid)
    {
        m_slots.emplace_back();
        m_slotOf[uid] = quint32(m_slots.size());
    }
    std::vector<quint32> m_slotOf; // per UID: 1 + its slot, 0 while not met
    std::deque<Slot> m_slots;      // grows without moving what it holds
    quint64 m_expansionLimit = 0;
    QHash<quint64, ClassInfo> m_classes;
};

} // namespace

namespace KeyedUnarchiver {

PlistResult<ArchiveValue> unarchive(QByteArrayView data)
{
    Decoder decoder;
    if (auto e = decoder.open(data))
        return PlistResult<ArchiveValue>::failure(*e);
    auto root = decoder.rootUid();
    if (!root)
        return PlistResult<ArchiveValue>::failure(decoder.error);
    auto v = decoder.decode(*root, 0);
    if (!v)
        return PlistResult<ArchiveValue>::failure(decoder.error);
    return std::move(*v);
}

PlistResult<ArchiveValue> render(QByteArrayView data)
{
    Decoder decoder;
    decoder.lenient = true;
    if (auto e = decoder.open(data))
        return PlistResult<ArchiveValue>::failure(*e);
    auto root = decoder.rootUid();
    if (!root)
        return PlistResult<ArchiveValue>::failure(decoder.error);
    auto v = decoder.decode(*root, 0);
    if (!v)
        return PlistResult<ArchiveValue>::failure(decoder.error);
    return std::move(*v);
}

PlistResult<ArchiveObject> unarchiveObject(QByteArrayView data, const QStringList &classNames)
{
    Decoder decoder;
    if (auto e = decoder.open(data))
        return PlistResult<ArchiveObject>::failure(*e);
    auto root = decoder.rootUid();
    if (!root)
        return PlistResult<ArchiveObject>::failure(decoder.error);
    return decoder.decodeCustomRoot(*root, classNames);
}

} // namespace KeyedUnarchiver

} // namespace brisko
