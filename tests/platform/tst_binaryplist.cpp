#include "BinaryPlist.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace brisko;
using P = PlistValue;
using Type = PlistValue::Type;

namespace {

P str(const char16_t *s)
{
    return P::string(QString::fromUtf16(s));
}

P arrayOf(std::initializer_list<P> items)
{
    return P::array(P::Array(items));
}

// The value as the other tools give it back: reals in 8 bytes, UIDs as {"CF$UID": n}
// (plistutil's XML has no UID type).
P plain(const P &v)
{
    if (v.is(Type::Real))
        return P::real(v.toReal());
    if (v.is(Type::Uid))
        return P::dictionary({{u"CF$UID"_qs, P::integer(qint64(v.toUid()))}});
    if (v.is(Type::Array)) {
        P::Array items;
        for (const P &item : v.items())
            items.push_back(plain(item));
        return P::array(items);
    }
    if (!v.is(Type::Dictionary))
        return v;
    P::Dictionary entries;
    for (const auto &[key, item] : v.entries())
        entries.emplace_back(key, plain(item));
    return P::dictionary(entries);
}

// Big-endian bytes of v, size of them.
QByteArray be(quint64 v, int size)
{
    QByteArray b;
    for (int i = size - 1; i >= 0; --i)
        b.append(char((v >> (8 * i)) & 0xFF));
    return b;
}

// A file of the given encoded objects (the first is the top one) with the given widths.
QByteArray craft(const QList<QByteArray> &objects, int offsetSize, int refSize)
{
    QByteArray out("bplist00"), table;
    for (const QByteArray &o : objects) {
        table += be(quint64(out.size()), offsetSize);
        out += o;
    }
    return out + table + QByteArray(6, '\0') + char(offsetSize) + char(refSize) + be(objects.size(), 8) +
           be(0, 8) + be(out.size(), 8);
}

// Every kind of value and every size step, for the cross-checks with other tools.
P interopValue()
{
    P::Array many;
    for (int i = 0; i < 300; ++i)
        many.push_back(P::string(u"s%1"_qs.arg(i % 200)));
    return P::dictionary({
        {u"ints"_qs,
         arrayOf({P::integer(0), P::integer(255), P::integer(65536), P::integer(-42),
                  P::integer(std::numeric_limits<qint64>::min()), P::unsignedInteger(~quint64(0))})},
        {u"reals"_qs, arrayOf({P::real(0.1), P::real(-1e300), P::real32(0.5f)})},
        {u"flags"_qs, arrayOf({P::boolean(true), P::boolean(false)})},
        {u"date"_qs, P::date(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC))},
        {u"data"_qs, P::data(QByteArray("\x00\x01\xfe\xff", 4).repeated(20))},
        {u"ascii"_qs, str(u"plain text")},
        {u"unicode"_qs, str(u"Gr\u00fc\u00dfe \u4e16\u754c \U0001F600")},
        {u"uids"_qs, arrayOf({P::uid(1), P::uid(70000)})},
        {u"many"_qs, P::array(many)},
        {u"nested"_qs, P::dictionary({{u"empty"_qs, P::array({})}, {u"dict"_qs, P::dictionary({})}})},
    });
}

// What we read from a file, in plain() form; null when it does not read.
P ourReading(const QString &path)
{
    QFile f(path);
    const auto v = BinaryPlist::read(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    return v.ok() ? plain(*v) : P::null();
}

} // namespace

class TestBinaryPlist : public QObject
{
    Q_OBJECT

private slots:
    // Each value written and read back: the marker of its top object, offset and reference sizes.
    void roundTrip_data()
    {
        QTest::addColumn<PlistValue>("value");
        QTest::addColumn<int>("marker");
        QTest::addColumn<int>("offsetSize");
        QTest::addColumn<int>("refSize");
        const auto row = [](const char *name, const P &value, int marker, int offsetSize = 1,
                            int refSize = 1) {
            QTest::newRow(name) << value << marker << offsetSize << refSize;
        };
        const auto strings = [](int count) {
            P::Array items;
            for (int i = 0; i < count; ++i)
                items.push_back(P::string(u"item%1"_qs.arg(i)));
            return P::array(items);
        };
        row("null", P::null(), 0x00);
        row("fill", P::fill(), 0x0F);
        row("false", P::boolean(false), 0x08);
        row("true", P::boolean(true), 0x09);
        row("int 255", P::integer(255), 0x10);
        row("int 256", P::integer(256), 0x11);
        row("int 65535", P::integer(65535), 0x11);
        row("int 65536", P::integer(65536), 0x12);
        row("int 2^32-1", P::integer(0xFFFFFFFFll), 0x12);
        row("int 2^32", P::integer(0x100000000ll), 0x13);
        row("int min", P::integer(std::numeric_limits<qint64>::min()), 0x13);
        row("uint 2^63", P::unsignedInteger(quint64(1) << 63), 0x14);
        row("uint small", P::unsignedInteger(7), 0x10);
        row("real", P::real(3.25), 0x23);
        row("real nan", P::real(std::nan("")), 0x23);
        row("real32", P::real32(1.5f), 0x22);
        row("date before 2001", P::date(-1e9), 0x33);
        row("data 15", P::data(QByteArray(15, '\0')), 0x4F);
        row("string empty", P::string({}), 0x50);
        row("ascii 14", P::string(u"abcdefghijklmn"_qs), 0x5E);
        row("ascii 15", P::string(u"abcdefghijklmno"_qs), 0x5F);
        row("ascii 0x7f", str(u"\x7f"), 0x51);
        row("latin1 0x80", str(u"\x80"), 0x61);
        row("surrogates", str(u"\U0001F600"), 0x62);
        row("uid 0", P::uid(0), 0x80);
        row("uid 256", P::uid(256), 0x81);
        row("uid 2^32", P::uid(quint64(1) << 32), 0x87);
        row("array empty", P::array({}), 0xA0);
        row("set", P::set({P::integer(1), str(u"a")}), 0xC2);
        row("dict", P::dictionary({{u"b"_qs, P::integer(1)}, {u"a"_qs, arrayOf({str(u"x"), P::null()})}}),
            0xD2);
        row("shared", arrayOf({str(u"same"), str(u"same"), arrayOf({str(u"same")})}), 0xA3);
        // Stored once each however often they occur, and never merged with one another.
        row("alike scalars",
            arrayOf({P::real(0.0), P::real(-0.0), P::integer(1), P::boolean(true), P::real(1), P::real32(1),
                     P::uid(1), str(u"1"), P::data("1"), P::real(0.0)}),
            0xAA);
        row("array 15, offsets past 255", strings(60), 0xAF, 2, 1);
        row("256 objects", strings(255), 0xAF, 2, 1);
        row("257 objects", strings(256), 0xAF, 2, 2);
        row("offsets past 65535", strings(8000), 0xAF, 4, 2);
        row("refs past 65535", strings(70000), 0xAF, 4, 4);
    }

    void roundTrip()
    {
        QFETCH(PlistValue, value);
        QFETCH(int, marker);
        QFETCH(int, offsetSize);
        QFETCH(int, refSize);
        const auto file = BinaryPlist::write(value);
        QVERIFY(file.ok() && file->startsWith("bplist00"));
        QCOMPARE(quint8(file->at(8)), quint8(marker));
        QCOMPARE(int(file->at(file->size() - 26)), offsetSize);
        QCOMPARE(int(file->at(file->size() - 25)), refSize);
        const auto back = BinaryPlist::read(*file);
        QVERIFY(back.ok() && *back == value);
    }

    // Encodings other writers use and ours never emits: odd widths, 16-byte negative
    // integers, UIDs of 3 bytes, counts given with 2-byte integers, fill bytes.
    void readsForeignEncodings()
    {
        const QList<QByteArray> objects = {
            QByteArray::fromHex("14ffffffffffffffffffffffffffffff00"), // -256 as 16 bytes
            QByteArray::fromHex("1400000000000000000000000000000005"), // 5 in 16 bytes
            QByteArray::fromHex("223fc00000"),                         // 1.5f
            QByteArray::fromHex("82010203"),                           // UID 0x010203
            QByteArray::fromHex("5f1100036162") + "c",                 // "abc", count as 2-byte int
            QByteArray::fromHex("0f"),                                 // fill
            QByteArray::fromHex("62d83dde00"),                         // U+1F600
        };
        const P expected = arrayOf({P::integer(-256), P::integer(5), P::real32(1.5f), P::uid(0x010203),
                                    str(u"abc"), P::fill(), str(u"\U0001F600")});
        for (int offsetSize : {1, 3, 5, 8}) {
            for (int refSize : {1, 2, 4, 8}) {
                QByteArray top(1, char(0xA0 | objects.size()));
                for (int i = 1; i <= objects.size(); ++i)
                    top += be(quint64(i), refSize);
                const auto v =
                    BinaryPlist::read(craft(QList<QByteArray>{top} + objects, offsetSize, refSize));
                QVERIFY2(v.ok() && *v == expected,
                         qPrintable(u"widths %1, %2"_qs.arg(offsetSize).arg(refSize)));
            }
        }
    }

    void nestingLimit()
    {
        P deepest = P::integer(1);
        for (int i = 0; i < BinaryPlistReader::MaxDepth; ++i)
            deepest = arrayOf({deepest});
        const auto written = BinaryPlist::write(deepest);
        QVERIFY(written.ok() && BinaryPlist::read(*written).ok());
        const auto tooDeep = BinaryPlist::write(arrayOf({deepest}));
        QVERIFY(!tooDeep.ok() && tooDeep.error().contains(u"nesting"));
    }

    // plistlib, and plistutil by way of its XML, read our file and write what they read with
    // their own binary writers; we read those files back to the same values.
    void otherToolsAgree()
    {
        const QString python = QStandardPaths::findExecutable(u"python3"_qs);
        if (python.isEmpty())
            QSKIP("python3 is not installed");
        QTemporaryDir dir;
        const QString ours = dir.filePath(u"ours"_qs), xml = dir.filePath(u"xml"_qs),
                      lib = dir.filePath(u"plistlib"_qs), util = dir.filePath(u"plistutil"_qs);
        QFile file(ours);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(*BinaryPlist::write(interopValue())) > 0);
        file.close();
        const P expected = plain(interopValue());
        const QString script = u"import plistlib as p, sys\n"
                               "p.dump(p.load(open(sys.argv[1], 'rb')), open(sys.argv[2], 'wb'),\n"
                               "       fmt=p.FMT_BINARY, sort_keys=False)"_qs;
        QCOMPARE(QProcess::execute(python, {u"-c"_qs, script, ours, lib}), 0);
        QVERIFY(ourReading(lib) == expected);
        const QString tool = QStandardPaths::findExecutable(u"plistutil"_qs);
        if (tool.isEmpty())
            QSKIP("plistutil (libplist-utils) is not installed");
        QCOMPARE(QProcess::execute(tool, {u"-i"_qs, ours, u"-o"_qs, xml, u"-f"_qs, u"xml"_qs}), 0);
        QCOMPARE(QProcess::execute(tool, {u"-i"_qs, xml, u"-o"_qs, util, u"-f"_qs, u"bin"_qs}), 0);
        QVERIFY(ourReading(util) == expected);
    }
};

QTEST_GUILESS_MAIN(TestBinaryPlist)
#include "tst_binaryplist.moc"
