#include "BinaryPlist.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>

using namespace brisko;
using Type = PlistValue::Type;

namespace {

PlistValue str(const char16_t *s)
{
    return PlistValue::string(QString::fromUtf16(s));
}

PlistValue arrayOf(std::initializer_list<PlistValue> items)
{
    return PlistValue::array(PlistValue::Array(items));
}

PlistValue nested(int depth)
{
    PlistValue v = PlistValue::integer(1);
    for (int i = 0; i < depth; ++i)
        v = arrayOf({v});
    return v;
}

// A neutral JSON form that both plistlib and libplist's XML can be brought to:
// integers as decimal text, reals and dates tagged, UIDs as libplist spells them.
QJsonValue canonical(const PlistValue &v)
{
    switch (v.type()) {
    case Type::Null:
    case Type::Fill: return QJsonValue::Null;
    case Type::Bool: return v.toBool();
    case Type::Integer:
        return QJsonObject{{u"int"_qs, v.isUnsignedBig() ? QString::number(v.toUnsigned())
                                                          : QString::number(v.toInteger())}};
    case Type::Real: return QJsonObject{{u"real"_qs, v.toReal()}};
    case Type::Date: return QJsonObject{{u"date"_qs, v.toDateSeconds()}};
    case Type::Data: return QJsonObject{{u"data"_qs, QString::fromLatin1(v.toData().toBase64())}};
    case Type::String: return v.toString();
    case Type::Uid:
        return QJsonObject{{u"CF$UID"_qs, QJsonObject{{u"int"_qs, QString::number(v.toUid())}}}};
    case Type::Array:
    case Type::Set: {
        QJsonArray a;
        for (const auto &item : v.items())
            a.append(canonical(item));
        return a;
    }
    case Type::Dictionary: {
        QJsonObject o;
        for (const auto &[k, item] : v.entries())
            o.insert(k, canonical(item));
        return o;
    }
    }
    return {};
}

// The XML property-list form libplist writes, in the same neutral JSON.
QJsonValue canonicalFromXml(QXmlStreamReader &xml)
{
    const QString name = xml.name().toString();
    if (name == u"dict") {
        QJsonObject o;
        QString key;
        while (xml.readNextStartElement()) {
            if (xml.name() == u"key")
                key = xml.readElementText();
            else
                o.insert(key, canonicalFromXml(xml));
        }
        return o;
    }
    if (name == u"array") {
        QJsonArray a;
        while (xml.readNextStartElement())
            a.append(canonicalFromXml(xml));
        return a;
    }
    if (name == u"true" || name == u"false") {
        xml.skipCurrentElement();
        return name == u"true";
    }
    const QString text = xml.readElementText();
    if (name == u"integer")
        return QJsonObject{{u"int"_qs, text}};
    if (name == u"real")
        return QJsonObject{{u"real"_qs, text.toDouble()}};
    if (name == u"string")
        return text;
    if (name == u"data")
        return QJsonObject{{u"data"_qs, QString::fromLatin1(
                                             QByteArray::fromBase64(text.simplified().remove(u' ').toLatin1())
                                                 .toBase64())}};
    if (name == u"date") {
        const QDateTime d = QDateTime::fromString(text, Qt::ISODate);
        return QJsonObject{{u"date"_qs, double(d.toSecsSinceEpoch()) - BinaryPlist::ReferenceDateOffset}};
    }
    return QJsonValue::Undefined;
}

QByteArray trailer(const QByteArray &file)
{
    return file.right(32);
}

// Writes object bytes with the given offset and reference widths; each entry of
// objects is the encoded object, refs inside already at refSize.
QByteArray craft(const QList<QByteArray> &objects, int offsetSize, int refSize, quint64 top = 0)
{
    QByteArray out("bplist00");
    QList<quint64> offsets;
    for (const QByteArray &o : objects) {
        offsets.append(quint64(out.size()));
        out += o;
    }
    const quint64 table = quint64(out.size());
    auto be = [&](quint64 v, int size) {
        for (int i = size - 1; i >= 0; --i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    for (quint64 o : offsets)
        be(o, offsetSize);
    out.append(QByteArray(6, '\0'));
    out.append(char(offsetSize));
    out.append(char(refSize));
    be(quint64(objects.size()), 8);
    be(top, 8);
    be(table, 8);
    return out;
}

QByteArray refBytes(quint64 ref, int size)
{
    QByteArray b;
    for (int i = size - 1; i >= 0; --i)
        b.append(char((ref >> (8 * i)) & 0xFF));
    return b;
}

} // namespace

class TestBinaryPlist : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void referenceAndOffsetSizes_data();
    void referenceAndOffsetSizes();
    void readsForeignEncodings_data();
    void readsForeignEncodings();
    void dedupesScalars();
    void parentPrecedesChildren();
    void nestingLimit();
    void refusesBadFiles_data();
    void refusesBadFiles();
    void pythonReadsAndRewrites();
    void libplistConvertsBothWays();

private:
    static PlistValue interopValue();
};

void TestBinaryPlist::roundTrip_data()
{
    QTest::addColumn<PlistValue>("value");
    QTest::addColumn<int>("marker"); // first byte of the top object, -1: not checked

    QTest::newRow("null") << PlistValue::null() << 0x00;
    QTest::newRow("fill") << PlistValue::fill() << 0x0F;
    QTest::newRow("false") << PlistValue::boolean(false) << 0x08;
    QTest::newRow("true") << PlistValue::boolean(true) << 0x09;
    QTest::newRow("int 0") << PlistValue::integer(0) << 0x10;
    QTest::newRow("int 255") << PlistValue::integer(255) << 0x10;
    QTest::newRow("int 256") << PlistValue::integer(256) << 0x11;
    QTest::newRow("int 65535") << PlistValue::integer(65535) << 0x11;
    QTest::newRow("int 65536") << PlistValue::integer(65536) << 0x12;
    QTest::newRow("int 2^32-1") << PlistValue::integer(0xFFFFFFFFll) << 0x12;
    QTest::newRow("int 2^32") << PlistValue::integer(0x100000000ll) << 0x13;
    QTest::newRow("int max") << PlistValue::integer(std::numeric_limits<qint64>::max()) << 0x13;
    QTest::newRow("int -1") << PlistValue::integer(-1) << 0x13;
    QTest::newRow("int min") << PlistValue::integer(std::numeric_limits<qint64>::min()) << 0x13;
    QTest::newRow("uint 2^63") << PlistValue::unsignedInteger(quint64(1) << 63) << 0x14;
    QTest::newRow("uint max") << PlistValue::unsignedInteger(~quint64(0)) << 0x14;
    QTest::newRow("uint small") << PlistValue::unsignedInteger(7) << 0x10;
    QTest::newRow("real") << PlistValue::real(3.25) << 0x23;
    QTest::newRow("real -0") << PlistValue::real(-0.0) << 0x23;
    QTest::newRow("real nan") << PlistValue::real(std::nan("")) << 0x23;
    QTest::newRow("real inf") << PlistValue::real(-std::numeric_limits<double>::infinity()) << 0x23;
    QTest::newRow("real32") << PlistValue::real32(1.5f) << 0x22;
    QTest::newRow("date") << PlistValue::date(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC)) << 0x33;
    QTest::newRow("date before 2001") << PlistValue::date(-1e9) << 0x33;
    QTest::newRow("data empty") << PlistValue::data({}) << 0x40;
    QTest::newRow("data 14") << PlistValue::data(QByteArray(14, '\xff')) << 0x4E;
    QTest::newRow("data 15") << PlistValue::data(QByteArray(15, '\0')) << 0x4F;
    QTest::newRow("data 300") << PlistValue::data(QByteArray(300, 'x')) << 0x4F;
    QTest::newRow("string empty") << PlistValue::string({}) << 0x50;
    QTest::newRow("ascii 14") << PlistValue::string(u"abcdefghijklmn"_qs) << 0x5E;
    QTest::newRow("ascii 15") << PlistValue::string(u"abcdefghijklmno"_qs) << 0x5F;
    QTest::newRow("ascii 0x7f") << str(u"\x7f") << 0x51;
    QTest::newRow("latin1 0x80") << str(u"\x80") << 0x61;
    QTest::newRow("utf16") << str(u"Zo\u00eb \u4e2d") << 0x65;
    QTest::newRow("surrogates") << str(u"\U0001F600") << 0x62;
    QTest::newRow("uid 0") << PlistValue::uid(0) << 0x80;
    QTest::newRow("uid 256") << PlistValue::uid(256) << 0x81;
    QTest::newRow("uid 2^32") << PlistValue::uid(quint64(1) << 32) << 0x87;
    QTest::newRow("array empty") << PlistValue::array({}) << 0xA0;
    PlistValue::Array fifteen;
    for (int i = 0; i < 15; ++i)
        fifteen.push_back(PlistValue::integer(i));
    QTest::newRow("array 15") << PlistValue::array(fifteen) << 0xAF;
    QTest::newRow("set") << PlistValue::set({PlistValue::integer(1), str(u"a")}) << 0xC2;
    QTest::newRow("dict") << PlistValue::dictionary({{u"b"_qs, PlistValue::integer(1)},
                                                     {u"a"_qs, arrayOf({str(u"x"), PlistValue::null()})}})
                          << 0xD2;
    QTest::newRow("dict empty") << PlistValue::dictionary({}) << 0xD0;
    QTest::newRow("shared") << arrayOf({str(u"same"), str(u"same"), arrayOf({str(u"same")})}) << 0xA3;
}

void TestBinaryPlist::roundTrip()
{
    QFETCH(PlistValue, value);
    QFETCH(int, marker);
    const auto file = BinaryPlist::write(value);
    QVERIFY(file.ok());
    QVERIFY(file->startsWith("bplist00"));
    QCOMPARE(quint8(file->at(8)), quint8(marker));
    const auto back = BinaryPlist::read(*file);
    QVERIFY2(back.ok(), qPrintable(back.error()));
    QVERIFY(*back == value);
}

void TestBinaryPlist::referenceAndOffsetSizes_data()
{
    QTest::addColumn<int>("strings");
    QTest::addColumn<int>("refSize");
    QTest::addColumn<int>("offsetSize");

    QTest::newRow("tiny") << 3 << 1 << 1;
    QTest::newRow("offsets past 255") << 60 << 1 << 2;
    QTest::newRow("256 objects") << 255 << 1 << 2;
    QTest::newRow("257 objects") << 256 << 2 << 2;
    QTest::newRow("offsets past 65535") << 8000 << 2 << 4;
    QTest::newRow("refs past 65535") << 70000 << 4 << 4;
}

void TestBinaryPlist::referenceAndOffsetSizes()
{
    QFETCH(int, strings);
    QFETCH(int, refSize);
    QFETCH(int, offsetSize);
    PlistValue::Array items;
    for (int i = 0; i < strings; ++i)
        items.push_back(PlistValue::string(u"item%1"_qs.arg(i)));
    const PlistValue value = PlistValue::array(items);
    const auto file = BinaryPlist::write(value);
    QVERIFY(file.ok());
    const QByteArray t = trailer(*file);
    QCOMPARE(int(t[6]), offsetSize);
    QCOMPARE(int(t[7]), refSize);
    const auto back = BinaryPlist::read(*file);
    QVERIFY2(back.ok(), qPrintable(back.error()));
    QVERIFY(*back == value);
}

void TestBinaryPlist::readsForeignEncodings_data()
{
    QTest::addColumn<int>("offsetSize");
    QTest::addColumn<int>("refSize");
    for (int offsetSize : {1, 3, 5, 8}) {
        for (int refSize : {1, 2, 4, 8})
            QTest::addRow("offsets %d refs %d", offsetSize, refSize) << offsetSize << refSize;
    }
}

// Encodings other writers use and ours never emits: odd widths, 16-byte negative
// integers, UIDs of 3 bytes, counts given with 2-byte integers, fill bytes.
void TestBinaryPlist::readsForeignEncodings()
{
    QFETCH(int, offsetSize);
    QFETCH(int, refSize);
    QList<QByteArray> objects;
    objects.append(QByteArray()); // the top array, filled below
    objects.append(QByteArray::fromHex("14ffffffffffffffffffffffffffffff00")); // -256 as 16 bytes
    objects.append(QByteArray::fromHex("1400000000000000000000000000000005")); // 5 in 16 bytes
    objects.append(QByteArray::fromHex("223fc00000"));                         // 1.5f
    objects.append(QByteArray::fromHex("82010203"));                           // UID 0x010203
    objects.append(QByteArray::fromHex("5f1100036162") + "c");                 // "abc", count as 2-byte int
    objects.append(QByteArray::fromHex("0f"));                                 // fill
    objects.append(QByteArray::fromHex("62d83dde00"));                         // U+1F600
    QByteArray top = QByteArray(1, char(0xA0 | (objects.size() - 1)));
    for (int i = 1; i < objects.size(); ++i)
        top += refBytes(quint64(i), refSize);
    objects[0] = top;
    const QByteArray file = craft(objects, offsetSize, refSize);

    const auto v = BinaryPlist::read(file);
    QVERIFY2(v.ok(), qPrintable(v.error()));
    const PlistValue expected = arrayOf({PlistValue::integer(-256), PlistValue::integer(5), PlistValue::real32(1.5f),
                                         PlistValue::uid(0x010203), str(u"abc"), PlistValue::fill(),
                                         str(u"\U0001F600")});
    QVERIFY(*v == expected);
}

void TestBinaryPlist::dedupesScalars()
{
    const PlistValue value = arrayOf({str(u"a"), str(u"a"), PlistValue::integer(7), PlistValue::integer(7),
                                      PlistValue::uid(3), PlistValue::uid(3), PlistValue::real(1.5),
                                      PlistValue::real(1.5), PlistValue::data("xy"), PlistValue::data("xy"),
                                      PlistValue::boolean(true), PlistValue::boolean(true),
                                      PlistValue::dictionary({{u"a"_qs, str(u"a")}})});
    const auto file = BinaryPlist::write(value);
    QVERIFY(file.ok());
    BinaryPlistReader reader;
    QVERIFY(!reader.open(*file));
    // The array, one each of the six scalars, and the dictionary; "a" shared by key and value.
    QCOMPARE(reader.objectCount(), quint64(8));
    QVERIFY(*BinaryPlist::read(*file) == value);
}

void TestBinaryPlist::parentPrecedesChildren()
{
    const auto file = BinaryPlist::write(arrayOf({arrayOf({str(u"x")})}));
    QVERIFY(file.ok());
    BinaryPlistReader reader;
    QVERIFY(!reader.open(*file));
    QCOMPARE(reader.topObject(), quint64(0));
    const auto top = reader.object(0);
    QVERIFY(top.ok());
    QCOMPARE(reader.reference(*top, 0), quint64(1));
}

void TestBinaryPlist::nestingLimit()
{
    const auto deepest = BinaryPlist::write(nested(BinaryPlistReader::MaxDepth));
    QVERIFY(deepest.ok());
    QVERIFY(BinaryPlist::read(*deepest).ok());
    const auto tooDeep = BinaryPlist::write(nested(BinaryPlistReader::MaxDepth + 1));
    QVERIFY(!tooDeep.ok());
    QVERIFY(tooDeep.error().contains(u"nesting"));
}

void TestBinaryPlist::refusesBadFiles_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fragment");
    const QString folder = QStringLiteral(BRISKO_TEST_DATA "/archives/bad");
    QFile manifest(folder + u"/expected.json"_qs);
    QVERIFY(manifest.open(QIODevice::ReadOnly));
    const QJsonObject expected = QJsonDocument::fromJson(manifest.readAll()).object();
    QVERIFY(!expected.isEmpty());
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        const QJsonObject entry = it.value().toObject();
        if (entry.value(u"plist").toBool())
            QTest::newRow(qPrintable(it.key())) << folder + u'/' + it.key() << entry.value(u"error").toString();
    }
}

void TestBinaryPlist::refusesBadFiles()
{
    QFETCH(QString, path);
    QFETCH(QString, fragment);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const auto v = BinaryPlist::read(f.readAll());
    QVERIFY(!v.ok());
    QVERIFY2(v.error().contains(fragment), qPrintable(v.error()));
    QVERIFY(v.error().startsWith(u"binary property list: "));
}

PlistValue TestBinaryPlist::interopValue()
{
    PlistValue::Array many;
    for (int i = 0; i < 300; ++i)
        many.push_back(PlistValue::string(u"s%1"_qs.arg(i % 200)));
    return PlistValue::dictionary({
        {u"ints"_qs, arrayOf({PlistValue::integer(0), PlistValue::integer(255), PlistValue::integer(65536),
                              PlistValue::integer(-42), PlistValue::integer(std::numeric_limits<qint64>::min()),
                              PlistValue::unsignedInteger(~quint64(0))})},
        {u"reals"_qs, arrayOf({PlistValue::real(0.1), PlistValue::real(-1e300), PlistValue::real32(0.5f)})},
        {u"flags"_qs, arrayOf({PlistValue::boolean(true), PlistValue::boolean(false)})},
        {u"date"_qs, PlistValue::date(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC))},
        {u"data"_qs, PlistValue::data(QByteArray("\x00\x01\xfe\xff", 4).repeated(20))},
        {u"ascii"_qs, str(u"plain text")},
        {u"unicode"_qs, str(u"Gr\u00fc\u00dfe \u4e16\u754c \U0001F600")},
        {u"uids"_qs, arrayOf({PlistValue::uid(1), PlistValue::uid(70000)})},
        {u"many"_qs, PlistValue::array(many)},
        {u"nested"_qs, PlistValue::dictionary({{u"empty"_qs, PlistValue::array({})},
                                               {u"dict"_qs, PlistValue::dictionary({})}})},
    });
}

// plistlib reads our file to the same values and writes them with its own writer;
// we read that file back.
void TestBinaryPlist::pythonReadsAndRewrites()
{
    const QString python = QStandardPaths::findExecutable(u"python3"_qs);
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    QTemporaryDir dir;
    const PlistValue value = interopValue();
    const QString ours = dir.filePath(u"ours.plist"_qs);
    const QString theirs = dir.filePath(u"theirs.plist"_qs);
    QFile f(ours);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(*BinaryPlist::write(value));
    f.close();

    const QString script = uR"(
import base64, datetime, json, plistlib, sys
def canon(v):
    if isinstance(v, bool): return v
    if isinstance(v, int): return {"int": str(v)}
    if isinstance(v, float): return {"real": v}
    if isinstance(v, bytes): return {"data": base64.b64encode(v).decode()}
    if isinstance(v, datetime.datetime):
        return {"date": (v - datetime.datetime(2001, 1, 1)).total_seconds()}
    if isinstance(v, plistlib.UID): return {"CF$UID": {"int": str(v.data)}}
    if isinstance(v, list): return [canon(x) for x in v]
    if isinstance(v, dict): return {k: canon(x) for k, x in v.items()}
    return v
with open(sys.argv[1], "rb") as f:
    value = plistlib.load(f)
with open(sys.argv[2], "wb") as f:
    plistlib.dump(value, f, fmt=plistlib.FMT_BINARY)
print(json.dumps(canon(value)))
)"_qs;
    QProcess p;
    p.start(python, {u"-c"_qs, script, ours, theirs});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(QJsonDocument::fromJson(p.readAllStandardOutput()).object(), canonical(value).toObject());

    QFile t(theirs);
    QVERIFY(t.open(QIODevice::ReadOnly));
    const auto back = BinaryPlist::read(t.readAll());
    QVERIFY2(back.ok(), qPrintable(back.error()));
    QCOMPARE(canonical(*back).toObject(), canonical(value).toObject());
}

// plistutil turns our binary file into XML that says the same, and turns that XML
// into a binary file of its own that we read.
void TestBinaryPlist::libplistConvertsBothWays()
{
    const QString plistutil = QStandardPaths::findExecutable(u"plistutil"_qs);
    if (plistutil.isEmpty())
        QSKIP("plistutil (libplist-utils) is not installed");
    QTemporaryDir dir;
    const PlistValue value = interopValue();
    const QString ours = dir.filePath(u"ours.plist"_qs);
    const QString xml = dir.filePath(u"theirs.xml"_qs);
    const QString theirs = dir.filePath(u"theirs.plist"_qs);
    QFile f(ours);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(*BinaryPlist::write(value));
    f.close();

    QCOMPARE(QProcess::execute(plistutil, {u"-i"_qs, ours, u"-o"_qs, xml, u"-f"_qs, u"xml"_qs}), 0);
    QFile x(xml);
    QVERIFY(x.open(QIODevice::ReadOnly));
    QXmlStreamReader reader(&x);
    QVERIFY(reader.readNextStartElement()); // plist
    QVERIFY(reader.readNextStartElement());
    QCOMPARE(canonicalFromXml(reader).toObject(), canonical(value).toObject());

    QCOMPARE(QProcess::execute(plistutil, {u"-i"_qs, xml, u"-o"_qs, theirs, u"-f"_qs, u"bin"_qs}), 0);
    QFile t(theirs);
    QVERIFY(t.open(QIODevice::ReadOnly));
    const auto back = BinaryPlist::read(t.readAll());
    QVERIFY2(back.ok(), qPrintable(back.error()));
    // libplist's XML has no UID type: they come back as {"CF$UID": n}, as canonical() spells them.
    QCOMPARE(canonical(*back).toObject(), canonical(value).toObject());
}

QTEST_GUILESS_MAIN(TestBinaryPlist)
#include "tst_binaryplist.moc"
