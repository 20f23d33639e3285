#pragma once

// Keyed archives: the object graph of NSKeyedArchiver stored in a binary property
// list. The top dictionary holds "$version", "$archiver", "$top" (with "root", the
// UID of the root object) and "$objects", where objects refer to each other by UID
// (their index), index 0 being "$null". Strings, numbers and immutable data appear
// as themselves; every other object is a dictionary whose "$class" is the UID of a
// class description ("$classname", "$classes").

#include "BinaryPlist.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QStringList>

#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace brisko {

// A value an archive holds: the property-list kinds of object, each string, data,
// array and dictionary remembering whether the archive stored its mutable form.
// Dictionaries keep their keys in the archive's order. Copies share their contents.
class ArchiveValue
{
public:
    enum class Type : quint8 { Null, Bool, Integer, Real, String, Data, Array, Dictionary };
    enum Mutability : bool { Immutable = false, Mutable = true };
    using Array = std::vector<ArchiveValue>;
    using Entry = std::pair<QString, ArchiveValue>;
    using Dictionary = std::vector<Entry>;

    ArchiveValue() = default; // null

    static ArchiveValue null() { return {}; }
    static ArchiveValue boolean(bool v);
    static ArchiveValue integer(qint64 v);
    static ArchiveValue real(double v);
    // A real kept in single precision (the platform's float numbers).
    static ArchiveValue real32(float v);
    static ArchiveValue string(QString v, Mutability m = Immutable);
    static ArchiveValue data(QByteArray v, Mutability m = Immutable);
    static ArchiveValue array(Array items, Mutability m = Immutable);
    static ArchiveValue dictionary(Dictionary entries, Mutability m = Immutable);

    Type type() const { return m_type; }
    bool isNull() const { return m_type == Type::Null; }
    bool is(Type t) const { return m_type == t; }
    bool isMutable() const { return m_mutable; }
    bool isReal32() const { return m_type == Type::Real && m_real32; }

    bool toBool() const;     // booleans, and numbers other than zero
    qint64 toInteger() const; // integers, booleans, and reals truncated
    double toReal() const;    // reals, integers and booleans
    QString toString() const;
    QByteArray toData() const;
    const Array &items() const;         // empty unless an array
    const Dictionary &entries() const;  // empty unless a dictionary
    const ArchiveValue *value(QStringView key) const; // nullptr when absent
    qsizetype size() const;

    // For display: data as Base64, null as null. QJsonObject orders its keys; use
    // toJsonText() where the archive's key order matters.
    QJsonValue toJson() const;
    QByteArray toJsonText(QJsonDocument::JsonFormat format = QJsonDocument::Indented) const;

    // Type, content and mutability; reals compare bitwise.
    bool operator==(const ArchiveValue &other) const;

private:
    Type m_type = Type::Null;
    bool m_mutable = false;
    bool m_real32 = false;
    std::variant<std::monostate, bool, qint64, double, QString, QByteArray,
                 std::shared_ptr<const Array>, std::shared_ptr<const Dictionary>>
        m_v;
};

// The coder of one custom object: keyed integers and reals, keyed objects, and the
// unkeyed sequence, stored under "$0", "$1", … in the order given. Numbers are stored
// in the object itself, other values as references.
class ArchiveObject
{
public:
    struct Field
    {
        QString key;
        ArchiveValue value;
        bool reference = false; // stored as a UID rather than in the object
    };

    // classes: the class chain, most derived first; by default the class and "NSObject".
    explicit ArchiveObject(QString className = QString(), QStringList classes = QStringList());

    const QString &className() const { return m_className; }
    const QStringList &classes() const { return m_classes; }
    const std::vector<Field> &fields() const { return m_fields; }

    void encodeInt(const QString &key, qint64 v);
    void encodeDouble(const QString &key, double v);
    void encodeFloat(const QString &key, float v);
    void encodeBool(const QString &key, bool v);
    void encodeObject(const QString &key, const ArchiveValue &v);
    // Unkeyed: numbers and booleans in the object, anything else as an object.
    void encodeValue(const ArchiveValue &v);

    bool contains(QStringView key) const;
    // Numbers convert between integer and real; none when the key is absent or
    // holds something other than a number.
    std::optional<qint64> decodeInt(QStringView key) const;
    std::optional<double> decodeDouble(QStringView key) const;
    std::optional<ArchiveValue> decodeObject(QStringView key) const;
    // The next unkeyed value; none once the sequence is exhausted.
    std::optional<ArchiveValue> decodeValue();

    // Used by the unarchiver.
    void addField(Field field);

private:
    const Field *find(QStringView key) const;

    QString m_className;
    QStringList m_classes;
    std::vector<Field> m_fields;
    int m_unkeyedWritten = 0;
    int m_unkeyedRead = 0;
};

// Writes keyed archives laid out as the platform's archiver does: "$objects"[0] is
// "$null", the root object takes UID 1, and every object takes the next UID when it
// is first met, before the objects it holds (for a dictionary all keys, then all
// values); its class description follows those, and each class is described once.
// Equal immutable strings and equal numbers are stored once.
//
// Containers can be written without a tree of values: reserve() the container's UID,
// encode its contents, then finishArray()/finishDictionary().
class KeyedArchiver
{
public:
    using Uid = quint32;
    static constexpr Uid NullUid = 0;

    KeyedArchiver();

    Uid encodeString(const QString &v, ArchiveValue::Mutability m = ArchiveValue::Immutable);
    Uid encodeData(const QByteArray &v, ArchiveValue::Mutability m = ArchiveValue::Immutable);
    Uid encodeInteger(qint64 v);
    Uid encodeReal(double v);
    Uid encodeReal32(float v);
    Uid encodeBool(bool v);

    Uid reserve();
    void finishArray(Uid uid, std::span<const Uid> items, ArchiveValue::Mutability m);
    // keys must be UIDs of strings.
    void finishDictionary(Uid uid, std::span<const Uid> keys, std::span<const Uid> values,
                          ArchiveValue::Mutability m);

    // Whole values; none when nested deeper than BinaryPlistReader::MaxDepth.
    std::optional<Uid> encode(const ArchiveValue &value);
    std::optional<Uid> encode(const ArchiveObject &object);

    // The archive file with root as its root object; call once. Every reserved UID must
    // be finished.
    QByteArray finish(Uid root);

    static PlistResult<QByteArray> archivedData(const ArchiveValue &root);
    static PlistResult<QByteArray> archivedData(const ArchiveObject &root);

private:
    using Ref = BinaryPlistWriter::Ref;
    Uid append(Ref ref);
    Uid classUid(const QString &name, const QStringList &chain);
    Uid classUid(QLatin1StringView name);
    Uid builtinClassUid(int kind);
    std::optional<Uid> encodeAt(const ArchiveValue &value, int depth);
    std::optional<Uid> encodeObjectAt(const ArchiveObject &object, int depth);

    BinaryPlistWriter m_writer;
    Ref m_topSlot;
    std::vector<Ref> m_objects;
    // Every string written, with its UID when it is an object of its own (0 when it
    // is only a key or a class name).
    struct StringSlot
    {
        Ref ref;
        Uid uid;
    };
    Ref stringRef(const QString &v);
    QHash<QString, StringSlot> m_strings;
    QHash<qint64, Uid> m_integers;
    QHash<quint64, Uid> m_reals;
    QHash<quint64, Uid> m_reals32;
    Uid m_bools[2] = {0, 0};
    QHash<QString, Uid> m_classes;
    Uid m_builtinClasses[6] = {};
    std::vector<Ref> m_uidScratch;
    Ref m_classKey, m_keysKey, m_objectsKey, m_stringKey, m_dataKey;
};

namespace KeyedUnarchiver {

// The root object as a value tree. Understands NSDictionary, NSArray, NSString,
// NSData (and their mutable forms), NSNumber and NSNull; any other class, a reference
// cycle, a UID out of range or a malformed file is an error.
PlistResult<ArchiveValue> unarchive(QByteArrayView data);

// The root object of any keyed archive as a value tree for display. Sets and ordered
// sets become arrays, dates ISO 8601 text in UTC, URLs and UUIDs their text, decimal
// numbers JSON numbers (their exact text when a double cannot hold them), and
// every other class a dictionary {"$class": name, …its fields in the file's order…}
// with references followed. A reference back to an object being decoded shows as
// {"$ref": UID}; a standard class in an unusual shape is shown field by field.
// Malformed files, UIDs out of range and over-large graphs are still errors.
PlistResult<ArchiveValue> render(QByteArrayView data);

// A root object of one of the given classes, with its fields decoded.
PlistResult<ArchiveObject> unarchiveObject(QByteArrayView data, const QStringList &classNames);

} // namespace KeyedUnarchiver

} // namespace brisko
