#pragma once

// Binary property lists ("bplist00"): a value type, a reader that validates every
// offset, count and reference it follows, and a writer that dedupes scalars and picks
// the smallest reference and offset sizes. Both run in linear time.

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <variant>
#include <vector>

namespace brisko {

// A value or the text of why there is none. Failures are returned, never thrown.
template<typename T>
class [[nodiscard]] PlistResult
{
public:
    PlistResult(T value) : m_value(std::move(value)) {}
    static PlistResult failure(QString message)
    {
        PlistResult r;
        r.m_error = std::move(message);
        return r;
    }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    const T &operator*() const & { return *m_value; }
    const T *operator->() const { return &*m_value; }
    const QString &error() const { return m_error; }

private:
    PlistResult() = default;
    std::optional<T> m_value;
    QString m_error;
};

// One property-list value. Containers are immutable once built and shared on copy,
// so copying a value is cheap whatever its size.
class PlistValue
{
public:
    enum class Type : quint8 {
        Null, Bool, Fill, Integer, Real, Date, Data, String, Uid, Array, Set, Dictionary
    };
    using Array = std::vector<PlistValue>;
    using Entry = std::pair<QString, PlistValue>;
    using Dictionary = std::vector<Entry>;

    PlistValue() = default; // null

    static PlistValue null() { return {}; }
    static PlistValue fill();
    static PlistValue boolean(bool v);
    static PlistValue integer(qint64 v);
    // Values above the signed range are stored as 16-byte integers.
    static PlistValue unsignedInteger(quint64 v);
    static PlistValue real(double v);
    // A real stored in 4 bytes.
    static PlistValue real32(float v);
    // Seconds since 2001-01-01 00:00:00 UTC.
    static PlistValue date(double secondsSinceReferenceDate);
    static PlistValue date(const QDateTime &dateTime);
    static PlistValue data(QByteArray v);
    static PlistValue string(QString v);
    static PlistValue uid(quint64 v);
    static PlistValue array(Array items);
    static PlistValue set(Array items);
    static PlistValue dictionary(Dictionary entries);

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool is(Type t) const { return m_type == t; }

    bool toBool() const;
    // Integers as signed; an unsigned value above the signed range wraps.
    qint64 toInteger() const;
    quint64 toUnsigned() const;
    // True for an integer above the signed 64-bit range.
    bool isUnsignedBig() const { return m_type == Type::Integer && m_flag; }
    // Reals and integers as double.
    double toReal() const;
    bool isReal32() const { return m_type == Type::Real && m_flag; }
    double toDateSeconds() const;
    QDateTime toDateTime() const;
    QByteArray toData() const;
    QString toString() const;
    quint64 toUid() const;
    // Items of an array or set; empty for anything else.
    const Array &items() const;
    const Dictionary &entries() const;
    // The value under a dictionary key; nullptr when absent or not a dictionary.
    const PlistValue *value(QStringView key) const;
    qsizetype size() const;

    // Same type and content (dictionaries in order); reals compare bitwise so NaN
    // equals itself.
    bool operator==(const PlistValue &other) const;

private:
    Type m_type = Type::Null;
    bool m_flag = false;
    std::variant<std::monostate, bool, qint64, double, QByteArray, QString,
                 std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>>
        m_v;
};

// A read-only view of a binary property list. open() checks the header, the trailer
// and the offset table; every object is checked when it is read, so a hostile file
// gives an error and never a read outside the data.
class BinaryPlistReader
{
public:
    static constexpr int MaxDepth = 512;

    struct Object
    {
        PlistValue::Type type = PlistValue::Type::Null;
        quint8 marker = 0;
        quint64 count = 0;       // bytes, UTF-16 units or elements (entries for a dictionary)
        qsizetype payload = 0;   // where the value's bytes or references start
        qsizetype payloadEnd = 0;
    };

    // The data must outlive the reader.
    std::optional<QString> open(QByteArrayView data);

    quint64 objectCount() const { return m_count; }
    quint64 topObject() const { return m_top; }
    int referenceSize() const { return m_refSize; }
    int offsetSize() const { return m_offsetSize; }

    PlistResult<Object> object(quint64 ref) const;
    // The i-th reference of an array or set; of a dictionary, keys come first
    // (0..count-1) then values (count..2*count-1). i must be in range.
    quint64 reference(const Object &o, quint64 i) const;

    // Scalar contents; the object must be of the matching type.
    bool boolean(const Object &o) const { return o.marker == 0x09; }
    PlistValue integer(const Object &o) const;
    double real(const Object &o) const;
    quint64 uid(const Object &o) const;
    QString string(const Object &o) const;
    QByteArray data(const Object &o) const;
    // Compares a string object with ASCII text without decoding it.
    bool stringEquals(const Object &o, QLatin1StringView text) const;

    // Decodes the value at ref and everything it holds. Each object is decoded once
    // and shared where it is referenced again; cycles and nesting deeper than
    // MaxDepth are refused.
    PlistResult<PlistValue> decode(quint64 ref) const;

    // How large a decoded tree may grow, counting one per value and one per 16 bytes of
    // text or data, with every shared object counted at each reference: sixteen values
    // per object and four per byte of the file, and at least about a million.
    quint64 expansionLimit() const;

private:
    QByteArrayView m_data;
    quint64 m_count = 0;
    quint64 m_top = 0;
    qsizetype m_offsetTable = 0;
    int m_offsetSize = 0;
    int m_refSize = 0;
};

// Builds a binary property list object by object. Scalars (strings, numbers, dates,
// data, UIDs) are stored once however often they are added; containers refer to
// objects added earlier or reserved. finish() picks the smallest reference and offset
// sizes of 1, 2, 4 and 8 bytes, the widths every reader accepts.
class BinaryPlistWriter
{
public:
    using Ref = quint32;

    BinaryPlistWriter();

    Ref addNull();
    Ref addFill();
    Ref addBool(bool v);
    Ref addInteger(qint64 v);
    Ref addUnsigned(quint64 v);
    Ref addReal(double v);
    Ref addReal32(float v);
    Ref addDate(double secondsSinceReferenceDate);
    Ref addData(QByteArrayView v);
    // ASCII when every character is below 0x80, UTF-16BE otherwise.
    Ref addString(const QString &v);
    Ref addString(QLatin1StringView v);
    // Stores v without looking for or recording an equal string: for callers that keep
    // their own table of the strings they wrote.
    Ref addStringUnchecked(const QString &v);
    Ref addUid(quint64 v);
    Ref addArray(std::span<const Ref> items);
    Ref addSet(std::span<const Ref> items);
    Ref addDictionary(std::span<const Ref> keys, std::span<const Ref> values);
    // Any scalar or container value, depth-first; none when nested deeper than
    // BinaryPlistReader::MaxDepth.
    std::optional<Ref> add(const PlistValue &value);

    // A slot for a container whose contents are given later, so a parent can take a
    // lower object number than its children.
    Ref reserve();
    void setArray(Ref slot, std::span<const Ref> items);
    void setDictionary(Ref slot, std::span<const Ref> keys, std::span<const Ref> values);

    quint64 objectCount() const { return m_objects.size(); }
    // The file with top as its top object. Every reserved slot must have been set (one
    // that was not is written as null).
    QByteArray finish(Ref top) const;

private:
    struct Record
    {
        quint64 start;  // into m_bytes (scalars) or m_refs (containers)
        quint64 length; // bytes, or references
        quint8 marker;  // 0 for a scalar, else the container marker (0xA0, 0xC0, 0xD0)
    };
    Ref appendScalar(qsizetype start);
    Ref appendContainer(quint8 marker, std::span<const Ref> a, std::span<const Ref> b);
    void setContainer(Ref slot, quint8 marker, std::span<const Ref> a, std::span<const Ref> b);
    void putHeader(quint8 marker, quint64 count);
    std::optional<Ref> addValue(const PlistValue &value, int depth);

    QByteArray m_bytes;
    std::vector<Ref> m_refs;
    std::vector<Record> m_objects;
    QHash<QByteArray, Ref> m_scalars; // encoded scalar -> object
    QHash<QString, Ref> m_strings;
    QHash<qint64, Ref> m_integers;
    std::vector<Ref> m_smallUids; // UID value -> object + 1
    QHash<quint64, Ref> m_bigUids;
    std::optional<Ref> m_null, m_true, m_false, m_fill;
};

namespace BinaryPlist {

// The whole file as one value tree.
PlistResult<PlistValue> read(QByteArrayView data);
// Fails only for values nested deeper than BinaryPlistReader::MaxDepth.
PlistResult<QByteArray> write(const PlistValue &value);

// Seconds between 1970-01-01 and 2001-01-01, the epoch of plist dates.
inline constexpr double ReferenceDateOffset = 978307200.0;

} // namespace BinaryPlist

} // namespace brisko
