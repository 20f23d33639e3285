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
            (void)BinaryPlist::read(data);
            refused += v.ok() ? 0 : 1;
            QVERIFY(v.ok() || !v.error().isEmpty());
        }
        QVERIFY(runs > 100 && refused > 0);
    }
};

QTEST_GUILESS_MAIN(TestKeyedArchive)
#include "tst_keyedarchive.moc"
