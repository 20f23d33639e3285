#include "KeyedArchive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QTest>

using namespace brisko;
using V = ArchiveValue;

namespace {

const QString Archives = QStringLiteral(BRISKO_TEST_DATA "/archives");

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

V s(const QString &text, V::Mutability m = V::Immutable)
{
    return V::string(text, m);
}

V record(const QString &email, const QString &name)
{
    return V::dictionary({{u"EMAIL"_qs, s(email)}, {u"NAME"_qs, s(name)}}, V::Mutable);
}

V campaign(const V::Array &recipients)
{
    return V::dictionary({{u"SUBJECT"_qs, s(u"Hi __NAME__"_qs)},
                          {u"FROM"_qs, s(u"a@b.c"_qs)},
                          {u"BODY"_qs, s(u"Dear __NAME__"_qs)},
                          {u"HTML"_qs, s(u"<p>Dear __NAME__</p>"_qs)},
                          {u"REPLYTO"_qs, s(QString())},
                          {u"RETURNPATH"_qs, s(QString())},
                          {u"COLUMNS"_qs, V::array({s(u"EMAIL"_qs), s(u"NAME"_qs)}, V::Mutable)},
                          {u"RECIPIENTS"_qs, V::array(recipients, V::Mutable)}},
                         V::Mutable);
}

// The two-recipient campaign that campaign_layout.archive lays out by hand.
V layoutCampaign()
{
    return campaign({record(u"x@y.z"_qs, u"Zo\u00eb"_qs), record(u"q@y.z"_qs, u"Hi __NAME__"_qs)});
}

using P = PlistValue;

P str(const char *text)
{
    return P::string(QString::fromUtf8(text));
}

// An archive laid out by hand, as other programs write them: objects[0] is "$null", the root is UID 1.
QByteArray handArchive(P::Array objects)
{
    objects.insert(objects.begin(), str("$null"));
    return *BinaryPlist::write(P::dictionary({{u"$version"_qs, P::integer(100000)},
                                              {u"$archiver"_qs, str("NSKeyedArchiver")},
                                              {u"$top"_qs, P::dictionary({{u"root"_qs, P::uid(1)}})},
                                              {u"$objects"_qs, P::array(std::move(objects))}}));
}

// A class description; the chain is the class, then `supers`, then NSObject.
P classOf(const char *name, QStringList supers = {})
{
    P::Array chain{str(name)};
    for (const QString &super : supers)
        chain.push_back(P::string(super));
    chain.push_back(str("NSObject"));
    return P::dictionary({{u"$classname"_qs, str(name)}, {u"$classes"_qs, P::array(chain)}});
}

P object(quint64 classUid, P::Dictionary fields = {})
{
    fields.insert(fields.begin(), {u"$class"_qs, P::uid(classUid)});
    return P::dictionary(std::move(fields));
}

P uids(std::initializer_list<quint64> list)
{
    P::Array items;
    for (const quint64 u : list)
        items.push_back(P::uid(u));
    return P::array(items);
}

} // namespace

class TestKeyedArchive : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<V>("value");
        QTest::newRow("campaign") << layoutCampaign();
        QTest::newRow("mixed") << V::dictionary(
            {{u"ms"_qs, s(u"mutable"_qs, V::Mutable)}, {u"same"_qs, s(u"mutable"_qs)}, {u"n"_qs, V::null()},
             {u"md"_qs, V::data("\x01\x02", V::Mutable)}, {u"d"_qs, V::data(QByteArray())},
             {u"t"_qs, V::boolean(true)}, {u"i"_qs, V::integer(-9000000000ll)}, {u"r"_qs, V::real(2.5)},
             {u"f"_qs, V::real32(0.25f)}, {u"one"_qs, V::integer(1)},
             {u"u"_qs, s(u"\u00e9\u4e2d\U0001F600"_qs)},
             {u"a"_qs, V::array({V::null(), V::dictionary({})})}});
        QTest::newRow("root string") << s(u"alone"_qs);
    }

    void roundTrip()
    {
        QFETCH(V, value);
        const auto back = KeyedUnarchiver::unarchive(*KeyedArchiver::archivedData(value));
        QVERIFY(back.ok() && *back == value);
    }

    // Our archive of the campaign is, object for object, the one laid out by hand.
    void writesPlatformLayout()
    {
        const auto ours = BinaryPlist::read(*KeyedArchiver::archivedData(layoutCampaign()));
        const auto expected = BinaryPlist::read(readFile(Archives + u"/campaign_layout.archive"_qs));
        QVERIFY(ours.ok() && expected.ok());
        QVERIFY(*ours == *expected); // every object, and the top-level keys in their order
    }

    // LIST and NAME share one object, which is decoded for both and not taken for a cycle.
    void readsPlatformLayout()
    {
        const auto v = KeyedUnarchiver::unarchive(readFile(Archives + u"/platform_layout.archive"_qs));
        QVERIFY2(v.ok(), qPrintable(v.error()));
        QCOMPARE(v->toJsonText(), readFile(Archives + u"/platform_layout.json"_qs));
        QVERIFY(v->isMutable() && v->value(u"SUBJECT")->isMutable() && v->value(u"MDATA")->isMutable());
        QVERIFY(!v->value(u"BLOB")->isMutable() && !v->value(u"LIST")->isMutable());
        QVERIFY(!v->value(u"DICT")->isMutable());
        QVERIFY(v->value(u"COUNT")->is(V::Type::Integer) && v->value(u"RATIO")->is(V::Type::Real));
        QVERIFY(v->value(u"ENABLED")->is(V::Type::Bool) && v->value(u"EMPTY")->isNull());
    }

    // Every crafted file of bad/ fails with the fragment bad/expected.json gives it; files that are
    // not even property lists fail so in the property-list reader, and the archive's reading with them.
    void refusesBadFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("fragment");
        QTest::addColumn<bool>("plist");
        const QString folder = Archives + u"/bad"_qs;
        const QJsonObject expected =
            QJsonDocument::fromJson(readFile(folder + u"/expected.json"_qs)).object();
        const QStringList files = QDir(folder).entryList({u"*.bplist"_qs}, QDir::Files);
        QCOMPARE(files.size(), expected.size()); // every crafted file has its expectation
        for (const QString &name : files) {
            QTest::newRow(qPrintable(name)) << folder + u'/' + name << expected[name][u"error"].toString()
                                            << expected[name][u"plist"].toBool();
        }
    }

    void refusesBadFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, fragment);
        QFETCH(bool, plist);
        const QByteArray data = readFile(path);
        const auto v = KeyedUnarchiver::unarchive(data);
        QVERIFY(!v.ok());
        if (!plist)
            QVERIFY2(v.error().contains(fragment), qPrintable(v.error()));
        const auto p = BinaryPlist::read(data);
        QCOMPARE(p.ok(), !plist);
        if (plist)
            QVERIFY2(p.error().startsWith(u"binary property list: ") && p.error().contains(fragment),
                     qPrintable(p.error()));
    }

    void unknownClassAndDepth()
    {
        ArchiveObject widget(u"BRSparkline"_qs);
        widget.encodeInt(u"points"_qs, 3);
        const auto inside = KeyedUnarchiver::unarchive(*KeyedArchiver::archivedData(widget));
        QVERIFY(!inside.ok());
        QCOMPARE(inside.error(), u"keyed archive: unknown class \"BRSparkline\" (object 1)"_qs);

        V v = V::integer(0);
        for (int i = 0; i <= BinaryPlistReader::MaxDepth; ++i)
            v = V::array({v});
        const auto tooDeep = KeyedArchiver::archivedData(v);
        QVERIFY(!tooDeep.ok() && tooDeep.error().contains(u"nesting"));
    }

    // Every standard value class shows as a plain value, every other class field by field;
    // the campaign reader still refuses what it does not know.
    void rendersEveryClass_data()
    {
        QTest::addColumn<QByteArray>("archive");
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("strict"); // the campaign reader accepts it too

        const auto set = [](const char *name, QStringList supers) {
            return handArchive({object(2, {{u"NS.objects"_qs, uids({3, 4, 0})}}), classOf(name, supers),
                                str("b"), P::integer(7)});
        };
        QTest::newRow("set") << set("NSSet", {}) << QByteArray(R"(["b",7,null])") << false;
        QTest::newRow("mutable set") << set("NSMutableSet", {u"NSSet"_qs}) << QByteArray(R"(["b",7,null])") << false;
        QTest::newRow("ordered set") << set("NSOrderedSet", {}) << QByteArray(R"(["b",7,null])") << false;
        QTest::newRow("mutable ordered set")
            << set("NSMutableOrderedSet", {u"NSOrderedSet"_qs}) << QByteArray(R"(["b",7,null])") << false;

        QTest::newRow("dates") << handArchive({object(4, {{u"NS.objects"_qs, uids({2, 3})}}),
                                               object(5, {{u"NS.time"_qs, P::real(0)}}),
                                               object(5, {{u"NS.time"_qs, P::real(-978307200.5)}}),
                                               classOf("NSArray"), classOf("NSDate")})
                               << QByteArray(R"(["2001-01-01T00:00:00.000Z","1969-12-31T23:59:59.500Z"])") << false;
        // Out of the years a date can be written in: its field as stored.
        QTest::newRow("date out of range") << handArchive({object(2, {{u"NS.time"_qs, P::real(1e300)}}),
                                                           classOf("NSDate")})
                                           << QByteArray(R"({"$class":"NSDate","NS.time":1e+300})") << false;

        QTest::newRow("urls") << handArchive({object(4, {{u"NS.objects"_qs, uids({2, 3})}}),
                                              object(5, {{u"NS.base"_qs, P::uid(0)}, {u"NS.relative"_qs, P::uid(6)}}),
                                              object(5, {{u"NS.base"_qs, P::uid(2)}, {u"NS.relative"_qs, P::uid(7)}}),
                                              classOf("NSArray"), classOf("NSURL"), str("https://example.com/dir/"),
                                              str("page.html?q=1")})
                              << QByteArray("[\"https://example.com/dir/\",\"https://example.com/dir/page.html?q=1\"]")
                              << false;

        QTest::newRow("uuid") << handArchive({object(2, {{u"NS.uuidbytes"_qs,
                                                          P::data(QByteArray::fromHex("0123456789abcdef0011223344556677"))}}),
                                              classOf("NSUUID")})
                              << QByteArray(R"("01234567-89AB-CDEF-0011-223344556677")") << false;

        // Decimal numbers: exact as JSON numbers while a double holds them, else as their text.
        const auto decimal = [](QByteArray mantissa, int exponent, bool negative) {
            const int length = int(mantissa.size() / 2);
            mantissa.resize(16, '\0');
            return handArchive({object(2, {{u"NS.exponent"_qs, P::integer(exponent)}, {u"NS.length"_qs, P::integer(length)},
                                           {u"NS.negative"_qs, P::boolean(negative)}, {u"NS.compact"_qs, P::boolean(true)},
                                           {u"NS.mantissa.bo"_qs, P::integer(1)}, {u"NS.mantissa"_qs, P::data(mantissa)}}),
                                classOf("NSDecimalNumber", {u"NSNumber"_qs, u"NSValue"_qs})});
        };
        QTest::newRow("decimal") << decimal("\x39\x30", -2, false) << QByteArray("123.45") << false;
        QTest::newRow("decimal integer") << decimal("\x39\x30", 2, true) << QByteArray("-1234500") << false;
        QTest::newRow("decimal beyond a double")
            << decimal(QByteArray::fromHex("ffffffffffffffff0100"), -3, true)
            << QByteArray(R"("-36893488147419103.231")") << false;

        QTest::newRow("data, numbers and null")
            << handArchive({object(2, {{u"NS.objects"_qs, uids({3, 4, 5, 6, 7, 8, 9, 0})}}),
                            classOf("NSMutableArray", {u"NSArray"_qs}),
                            object(10, {{u"NS.data"_qs, P::data("hi")}}), object(11, {{u"NS.data"_qs, P::data("\x01")}}),
                            P::integer(-5), P::real(2.5), P::real32(0.25f), P::boolean(true), object(12),
                            classOf("NSData"), classOf("NSMutableData", {u"NSData"_qs}), classOf("NSNull")})
            << QByteArray(R"(["aGk=","AQ==",-5,2.5,0.25,true,null,null])") << true;

        // Keys other than strings show as their JSON text.
        QTest::newRow("mutable dictionary and string")
            << handArchive({object(2, {{u"NS.keys"_qs, uids({3, 4})}, {u"NS.objects"_qs, uids({5, 5})}}),
                            classOf("NSMutableDictionary", {u"NSDictionary"_qs}), str("k"), P::integer(1),
                            object(6, {{u"NS.string"_qs, str("v")}}), classOf("NSMutableString", {u"NSString"_qs})})
            << QByteArray(R"({"k":"v","1":"v"})") << false;

        // Inline values, inline arrays of references and references to other objects.
        QTest::newRow("other class")
            << handArchive({object(2, {{u"title"_qs, P::uid(3)}, {u"count"_qs, P::integer(3)},
                                       {u"bytes"_qs, P::data("ab")}, {u"when"_qs, P::date(86400)},
                                       {u"parts"_qs, uids({4, 3})}, {u"$0"_qs, P::boolean(false)}}),
                            classOf("BRSparkline", {u"NSView"_qs}), str("t"),
                            object(5, {{u"NS.objects"_qs, uids({3})}}), classOf("NSSet")})
            << QByteArray(R"({"$class":"BRSparkline","title":"t","count":3,"bytes":"YWI=",)"
                          R"("when":"2001-01-02T00:00:00.000Z","parts":[["t"],"t"],"$0":false})")
            << false;
        QTest::newRow("points back at itself")
            << handArchive({object(2, {{u"next"_qs, P::uid(3)}}), classOf("Node"), object(2, {{u"next"_qs, P::uid(1)}})})
            << QByteArray(R"({"$class":"Node","next":{"$class":"Node","next":{"$ref":1}}})") << false;
        // A standard class stored in a shape of its own.
        QTest::newRow("unusual shape")
            << handArchive({object(2, {{u"NS.bytes"_qs, P::data("x")}}), classOf("NSString")})
            << QByteArray(R"({"$class":"NSString","NS.bytes":"eA=="})") << false;

        // Our own coder's custom objects.
        ArchiveObject gradient(u"CTGradient"_qs);
        gradient.encodeInt(u"count"_qs, 2);
        gradient.encodeObject(u"name"_qs, s(u"warm"_qs, V::Mutable));
        gradient.encodeValue(V::real32(0.5f));
        QTest::newRow("archiver's object") << *KeyedArchiver::archivedData(gradient)
                                           << QByteArray(R"({"$class":"CTGradient","count":2,"name":"warm","$0":0.5})")
                                           << false;
    }

    void rendersEveryClass()
    {
        QFETCH(QByteArray, archive);
        QFETCH(QByteArray, json);
        QFETCH(bool, strict);
        const auto shown = KeyedUnarchiver::render(archive);
        QVERIFY2(shown.ok(), qPrintable(shown.error()));
        QCOMPARE(shown->toJsonText(QJsonDocument::Compact), json);
        const auto campaign = KeyedUnarchiver::unarchive(archive);
        QCOMPARE(campaign.ok(), strict);
        if (strict)
            QCOMPARE(*campaign, *shown);
        else
            QVERIFY(!campaign.error().isEmpty());
    }

    // What is malformed stays an error when rendering, and a shared object is not expanded without end.
    void renderRefusesMalformed()
    {
        const auto outOfRange = KeyedUnarchiver::render(
            handArchive({object(2, {{u"child"_qs, P::uid(9)}}), classOf("Thing")}));
        QVERIFY(!outOfRange.ok() && outOfRange.error().contains(u"UID 9 out of range"));

        // Each level refers to the one below twice: 2^40 values as a tree.
        P::Array levels;
        for (quint64 i = 1; i <= 40; ++i)
            levels.push_back(object(41, {{u"a"_qs, P::uid(i + 1)}, {u"b"_qs, P::uid(i + 1)}}));
        levels.push_back(classOf("Pair"));
        levels[39] = str("leaf");
        const auto bomb = KeyedUnarchiver::render(handArchive(levels));
        QVERIFY(!bomb.ok() && bomb.error().contains(u"expands to more than"));
    }

    // The coder a gradient archives itself with: a count by key, then unkeyed floats.
    void customObjectCoding()
    {
        ArchiveObject out(u"CTGradient"_qs);
        for (int i = 0; i < 10; ++i)
            out.encodeValue(V::real32(float(i) / 8));
        out.encodeValue(s(u"a string"_qs));
        out.encodeInt(u"CTGradientElementCount"_qs, 2);
        out.encodeDouble(u"angle"_qs, 90.5);
        const auto file = KeyedArchiver::archivedData(out);
        QVERIFY(file.ok());

        auto in = KeyedUnarchiver::unarchiveObject(*file, {u"CTGradient"_qs});
        QVERIFY2(in.ok(), qPrintable(in.error()));
        ArchiveObject gradient = *in;
        QCOMPARE(gradient.classes(), QStringList({u"CTGradient"_qs, u"NSObject"_qs}));
        QCOMPARE(gradient.decodeInt(u"CTGradientElementCount"), 2);
        QCOMPARE(gradient.decodeDouble(u"angle"), 90.5);
        QVERIFY(!gradient.decodeInt(u"missing"));
        for (int i = 0; i < 10; ++i) {
            const auto v = gradient.decodeValue();
            QVERIFY(v && v->isReal32());
            QCOMPARE(v->toReal(), double(i) / 8);
        }
        QCOMPARE(gradient.decodeValue(), std::optional<V>(s(u"a string"_qs)));
        QVERIFY(!gradient.decodeValue());
        const auto wrongClass = KeyedUnarchiver::unarchiveObject(*file, {u"NSColor"_qs});
        QVERIFY(!wrongClass.ok() && wrongClass.error().contains(u"\"CTGradient\""));
    }

    // Random damage to good archives gives a value or an error, never a crash or a hang (fixed seed).
    void mutatedFilesGiveErrors()
    {
        ArchiveObject object(u"CTGradient"_qs);
        object.encodeValue(V::real32(1));
        object.encodeInt(u"CTGradientElementCount"_qs, 1);
        const QList<QByteArray> seeds = {readFile(Archives + u"/platform_layout.archive"_qs),
                                         readFile(Archives + u"/campaign_layout.archive"_qs),
                                         *KeyedArchiver::archivedData(object)};
        QRandomGenerator random(20240229);
        QElapsedTimer timer;
        timer.start();
        int runs = 0, refused = 0;
        for (; runs < 20000 && timer.elapsed() < 2000; ++runs) {
            QByteArray data = seeds.at(random.bounded(seeds.size()));
            for (int e = 1 + random.bounded(4); e > 0 && !data.isEmpty(); --e) {
                const qsizetype at = random.bounded(data.size());
                switch (random.bounded(5)) {
                case 0: data[at] = char(random.bounded(256)); break;
                case 1: data[at] = char(data[at] ^ (1 << random.bounded(8))); break;
                case 2: data.truncate(at); break;
                case 3: data[at] = char(random.bounded(2) ? 0xFF : 0x00); break;
                case 4: data.insert(at, data.mid(random.bounded(data.size()), 1 + random.bounded(16))); break;
                }
            }
            const auto v = KeyedUnarchiver::unarchive(data);
            (void)KeyedUnarchiver::unarchiveObject(data, {u"CTGradient"_qs});
            const auto shown = KeyedUnarchiver::render(data);
            QVERIFY(shown.ok() || !shown.error().isEmpty());
            (void)BinaryPlist::read(data);
            refused += v.ok() ? 0 : 1;
            QVERIFY(v.ok() || !v.error().isEmpty());
        }
        QVERIFY(runs > 100 && refused > 0);
    }
};

QTEST_GUILESS_MAIN(TestKeyedArchive)
#include "tst_keyedarchive.moc"
