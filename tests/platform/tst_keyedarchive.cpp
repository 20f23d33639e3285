#include "KeyedArchive.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
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

V campaign(const V::Array &recipients, const QString &subject = u"Hi __NAME__"_qs)
{
    return V::dictionary({{u"SUBJECT"_qs, s(subject)},
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

QString python()
{
    return QStandardPaths::findExecutable(u"python3"_qs);
}

} // namespace

class TestKeyedArchive : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void writesPlatformLayout();
    void builderMatchesValuePath();
    void readsPlatformLayout();
    void pythonResolvesOurArchive();
    void sharedObjectsAreNotCycles();
    void refusesBadArchives_data();
    void refusesBadArchives();
    void unknownClassIsNamed();
    void tooDeepToWrite();
    void customObjectCoding();
    void jsonForms();
    void mutatedFilesGiveErrors();
};

void TestKeyedArchive::roundTrip_data()
{
    QTest::addColumn<V>("value");
    QTest::newRow("campaign") << layoutCampaign();
    QTest::newRow("empty campaign") << campaign({});
    QTest::newRow("mixed") << V::dictionary(
        {{u"ms"_qs, s(u"mutable"_qs, V::Mutable)},
         {u"same"_qs, s(u"mutable"_qs)},
         {u"md"_qs, V::data("\x01\x02", V::Mutable)},
         {u"d"_qs, V::data(QByteArray())},
         {u"n"_qs, V::null()},
         {u"i"_qs, V::integer(-9000000000ll)},
         {u"r"_qs, V::real(2.5)},
         {u"f"_qs, V::real32(0.25f)},
         {u"t"_qs, V::boolean(true)},
         {u"fl"_qs, V::boolean(false)},
         {u"one"_qs, V::integer(1)},
         {u"a"_qs, V::array({V::null(), V::dictionary({})})},
         {u"u"_qs, s(u"\u00e9\u4e2d\U0001F600"_qs)}});
    QTest::newRow("root string") << s(u"alone"_qs);
    QTest::newRow("root null") << V::null();
}

void TestKeyedArchive::roundTrip()
{
    QFETCH(V, value);
    const auto file = KeyedArchiver::archivedData(value);
    QVERIFY(file.ok());
    const auto back = KeyedUnarchiver::unarchive(*file);
    QVERIFY2(back.ok(), qPrintable(back.error()));
    QVERIFY2(*back == value, back->toJsonText().constData());
}

// Our archive of the campaign is, object for object, the hand-made one.
void TestKeyedArchive::writesPlatformLayout()
{
    const auto ours = BinaryPlist::read(*KeyedArchiver::archivedData(layoutCampaign()));
    const auto expected = BinaryPlist::read(readFile(Archives + u"/campaign_layout.archive"_qs));
    QVERIFY(ours.ok());
    QVERIFY2(expected.ok(), qPrintable(expected.error()));
    const PlistValue::Array &a = ours->value(u"$objects")->items();
    const PlistValue::Array &b = expected->value(u"$objects")->items();
    QCOMPARE(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i)
        QVERIFY2(a[i] == b[i], qPrintable(u"object %1 differs"_qs.arg(i)));
    // Top-level keys in their order, "$top" and "$version" included.
    QVERIFY(*ours == *expected);
}

// Writing records through the builder gives the same file as the value tree.
void TestKeyedArchive::builderMatchesValuePath()
{
    const QList<std::pair<QString, QString>> people = {{u"x@y.z"_qs, u"Zo\u00eb"_qs},
                                                       {u"q@y.z"_qs, u"Hi __NAME__"_qs}};
    KeyedArchiver a;
    using Uid = KeyedArchiver::Uid;
    const Uid root = a.reserve();
    const QStringList keys = {u"SUBJECT"_qs, u"FROM"_qs, u"BODY"_qs, u"HTML"_qs, u"REPLYTO"_qs,
                              u"RETURNPATH"_qs, u"COLUMNS"_qs, u"RECIPIENTS"_qs};
    std::vector<Uid> keyUids, valueUids;
    for (const QString &k : keys)
        keyUids.push_back(a.encodeString(k));
    for (const QString &v : {u"Hi __NAME__"_qs, u"a@b.c"_qs, u"Dear __NAME__"_qs, u"<p>Dear __NAME__</p>"_qs,
                             QString(), QString()})
        valueUids.push_back(a.encodeString(v));
    const Uid columns = a.reserve();
    const Uid columnUids[] = {a.encodeString(u"EMAIL"_qs), a.encodeString(u"NAME"_qs)};
    a.finishArray(columns, columnUids, V::Mutable);
    valueUids.push_back(columns);
    const Uid list = a.reserve();
    std::vector<Uid> records;
    for (const auto &[email, name] : people) {
        const Uid r = a.reserve();
        const Uid k[] = {a.encodeString(u"EMAIL"_qs), a.encodeString(u"NAME"_qs)};
        const Uid v[] = {a.encodeString(email), a.encodeString(name)};
        a.finishDictionary(r, k, v, V::Mutable);
        records.push_back(r);
    }
    a.finishArray(list, records, V::Mutable);
    valueUids.push_back(list);
    a.finishDictionary(root, keyUids, valueUids, V::Mutable);
    QCOMPARE(a.finish(root), *KeyedArchiver::archivedData(layoutCampaign()));
}

void TestKeyedArchive::readsPlatformLayout()
{
    const auto v = KeyedUnarchiver::unarchive(readFile(Archives + u"/platform_layout.archive"_qs));
    QVERIFY2(v.ok(), qPrintable(v.error()));
    QCOMPARE(v->toJsonText(), readFile(Archives + u"/platform_layout.json"_qs));
    QVERIFY(v->isMutable());
    QVERIFY(v->value(u"SUBJECT")->isMutable());
    QVERIFY(v->value(u"MDATA")->isMutable());
    QVERIFY(!v->value(u"BLOB")->isMutable());
    QVERIFY(!v->value(u"LIST")->isMutable());
    QVERIFY(!v->value(u"DICT")->isMutable());
    QVERIFY(v->value(u"COUNT")->is(V::Type::Integer));
    QVERIFY(v->value(u"RATIO")->is(V::Type::Real));
    QVERIFY(v->value(u"ENABLED")->is(V::Type::Bool));
    QVERIFY(v->value(u"EMPTY")->isNull());
}

// plistlib reads our file, and its NSKeyedArchiver-shaped graph resolves to the same
// values, keys in the same order.
void TestKeyedArchive::pythonResolvesOurArchive()
{
    if (python().isEmpty())
        QSKIP("python3 is not installed");
    V::Array people;
    for (int i = 0; i < 50; ++i)
        people.push_back(record(u"user%1@example.org"_qs.arg(i), i % 3 ? u"N\u00e4me %1"_qs.arg(i) : u"EMAIL"_qs));
    V::Dictionary entries = campaign(people).entries();
    entries.emplace_back(u"EXTRA"_qs, V::dictionary({{u"ms"_qs, s(u"edited"_qs, V::Mutable)},
                                                     {u"md"_qs, V::data("raw", V::Mutable)},
                                                     {u"d"_qs, V::data("\0\1", V::Immutable)},
                                                     {u"none"_qs, V::null()},
                                                     {u"n"_qs, V::integer(-3)},
                                                     {u"r"_qs, V::real(0.1)},
                                                     {u"b"_qs, V::boolean(false)}}));
    const V value = V::dictionary(entries, V::Mutable);

    QTemporaryDir dir;
    const QString path = dir.filePath(u"campaign.brisko"_qs);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(*KeyedArchiver::archivedData(value));
    f.close();

    const QString script = uR"(
import base64, json, plistlib, sys
with open(sys.argv[1], "rb") as f:
    top = plistlib.load(f)
assert list(top) == ["$version", "$archiver", "$top", "$objects"], list(top)
assert top["$archiver"] == "NSKeyedArchiver" and top["$version"] == 100000
objects = top["$objects"]
assert objects[0] == "$null"
chains = {"NSMutableDictionary": ["NSMutableDictionary", "NSDictionary", "NSObject"],
          "NSDictionary": ["NSDictionary", "NSObject"],
          "NSMutableArray": ["NSMutableArray", "NSArray", "NSObject"],
          "NSArray": ["NSArray", "NSObject"],
          "NSMutableString": ["NSMutableString", "NSString", "NSObject"],
          "NSMutableData": ["NSMutableData", "NSData", "NSObject"]}
described = [o["$classname"] for o in objects if isinstance(o, dict) and "$classname" in o]
assert len(described) == len(set(described)), described
strings = [o for o in objects if isinstance(o, str)]
assert len(strings) == len(set(strings)), "a string is stored twice"
def resolve(ref):
    if ref.data == 0: return None
    o = objects[ref.data]
    if isinstance(o, bytes): return base64.b64encode(o).decode()
    if not isinstance(o, dict): return o
    cls = objects[o["$class"].data]
    assert cls["$classes"] == chains[cls["$classname"]], cls
    name = cls["$classname"]
    if name.endswith("Dictionary"):
        return {resolve(k): resolve(v) for k, v in zip(o["NS.keys"], o["NS.objects"])}
    if name.endswith("Array"): return [resolve(v) for v in o["NS.objects"]]
    if name == "NSMutableString": return o["NS.string"]
    if name == "NSMutableData": return base64.b64encode(o["NS.data"]).decode()
    raise ValueError(name)
print(json.dumps(resolve(top["$top"]["root"]), ensure_ascii=False, indent=4))
)"_qs;
    QProcess p;
    p.start(python(), {u"-c"_qs, script, path});
    QVERIFY(p.waitForFinished(30000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(p.readAllStandardOutput(), value.toJsonText());
}

// An object referenced twice is decoded once and is not mistaken for a cycle.
void TestKeyedArchive::sharedObjectsAreNotCycles()
{
    KeyedArchiver a;
    const auto root = a.reserve();
    const auto shared = a.reserve();
    const KeyedArchiver::Uid inner[] = {a.encodeString(u"x"_qs)};
    a.finishArray(shared, inner, V::Immutable);
    const KeyedArchiver::Uid items[] = {shared, shared};
    a.finishArray(root, items, V::Immutable);
    const auto v = KeyedUnarchiver::unarchive(a.finish(root));
    QVERIFY2(v.ok(), qPrintable(v.error()));
    QCOMPARE(v->toJsonText(QJsonDocument::Compact), QByteArray(R"([["x"],["x"]])"));
}

void TestKeyedArchive::refusesBadArchives_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("fragment");
    const QString folder = Archives + u"/bad"_qs;
    const QJsonObject expected = QJsonDocument::fromJson(readFile(folder + u"/expected.json"_qs)).object();
    const QStringList files = QDir(folder).entryList({u"*.bplist"_qs}, QDir::Files);
    QCOMPARE(files.size(), expected.size()); // every crafted file has its expectation
    // Files that are not even property lists are checked for their message by the
    // property-list test; here any error will do, as the archive's reading stops early.
    for (const QString &name : files) {
        const QJsonObject entry = expected.value(name).toObject();
        QTest::newRow(qPrintable(name))
            << folder + u'/' + name << (entry.value(u"plist").toBool() ? QString() : entry.value(u"error").toString());
    }
}

void TestKeyedArchive::refusesBadArchives()
{
    QFETCH(QString, path);
    QFETCH(QString, fragment);
    const auto v = KeyedUnarchiver::unarchive(readFile(path));
    QVERIFY(!v.ok());
    QVERIFY2(v.error().contains(fragment), qPrintable(v.error()));
}

void TestKeyedArchive::unknownClassIsNamed()
{
    ArchiveObject widget(u"BRSparkline"_qs);
    widget.encodeInt(u"points"_qs, 3);
    const auto inside = KeyedUnarchiver::unarchive(*KeyedArchiver::archivedData(widget));
    QVERIFY(!inside.ok());
    QCOMPARE(inside.error(), u"keyed archive: unknown class \"BRSparkline\" (object 1)"_qs);
}

void TestKeyedArchive::tooDeepToWrite()
{
    V v = V::integer(0);
    for (int i = 0; i <= BinaryPlistReader::MaxDepth; ++i)
        v = V::array({v});
    const auto file = KeyedArchiver::archivedData(v);
    QVERIFY(!file.ok());
    QVERIFY(file.error().contains(u"nesting"));
}

// The coder a gradient archives itself with: a count by key, then unkeyed floats.
void TestKeyedArchive::customObjectCoding()
{
    ArchiveObject out(u"CTGradient"_qs);
    for (int i = 0; i < 10; ++i)
        out.encodeValue(V::real32(float(i) / 8));
    out.encodeValue(s(u"a string"_qs));
    out.encodeInt(u"CTGradientElementCount"_qs, 2);
    out.encodeDouble(u"angle"_qs, 90.5);
    const auto file = KeyedArchiver::archivedData(out);
    QVERIFY(file.ok());

    // Laid out as the platform writes it: numbers in the object, "$class" last.
    const auto plist = BinaryPlist::read(*file);
    QVERIFY(plist.ok());
    const auto &objects = plist->value(u"$objects")->items();
    const PlistValue &object = objects.at(1);
    QCOMPARE(object.entries().front().first, u"$0"_qs);
    QVERIFY(object.value(u"$3")->isReal32());
    QCOMPARE(object.value(u"$10")->type(), PlistValue::Type::Uid);
    QCOMPARE(object.value(u"CTGradientElementCount")->toInteger(), 2);
    QCOMPARE(object.entries().back().first, u"$class"_qs);
    const PlistValue &cls = objects.at(object.value(u"$class")->toUid());
    QCOMPARE(cls.value(u"$classname")->toString(), u"CTGradient"_qs);
    QCOMPARE(cls.value(u"$classes")->items().size(), size_t(2));

    auto in = KeyedUnarchiver::unarchiveObject(*file, {u"CTGradient"_qs});
    QVERIFY2(in.ok(), qPrintable(in.error()));
    ArchiveObject gradient = *in;
    QCOMPARE(gradient.className(), u"CTGradient"_qs);
    QCOMPARE(gradient.classes(), QStringList({u"CTGradient"_qs, u"NSObject"_qs}));
    QCOMPARE(gradient.decodeInt(u"CTGradientElementCount"), 2);
    QCOMPARE(gradient.decodeDouble(u"angle"), 90.5);
    QCOMPARE(gradient.decodeInt(u"angle"), 90);
    QVERIFY(!gradient.decodeInt(u"missing"));
    for (int i = 0; i < 10; ++i) {
        const auto v = gradient.decodeValue();
        QVERIFY(v && v->isReal32());
        QCOMPARE(v->toReal(), double(i) / 8);
    }
    QCOMPARE(gradient.decodeValue(), std::optional<V>(s(u"a string"_qs)));
    QVERIFY(!gradient.decodeValue());

    const auto wrongClass = KeyedUnarchiver::unarchiveObject(*file, {u"NSColor"_qs});
    QVERIFY(!wrongClass.ok());
    QVERIFY(wrongClass.error().contains(u"\"CTGradient\""));
}

void TestKeyedArchive::jsonForms()
{
    const V v = V::dictionary({{u"z"_qs, V::data("\xff\x00", V::Mutable)},
                               {u"a"_qs, V::null()},
                               {u"text"_qs, s(u"quote \" slash \\ tab \t bell \a \u00e9"_qs)},
                               {u"list"_qs, V::array({V::integer(-1), V::real(1.5), V::boolean(true)})}});
    const QJsonValue json = v.toJson();
    QCOMPARE(json[u"z"].toString(), u"/w=="_qs);
    QVERIFY(json[u"a"].isNull());
    // The text form is the same JSON, with the archive's key order.
    const QByteArray text = v.toJsonText();
    QJsonParseError error;
    QCOMPARE(QJsonDocument::fromJson(text, &error).object(), json.toObject());
    QCOMPARE(error.error, QJsonParseError::NoError);
    QVERIFY(text.indexOf("\"z\"") < text.indexOf("\"a\""));
    QCOMPARE(V::real(qInf()).toJsonText(QJsonDocument::Compact), QByteArray("null"));
}

// Random damage to good archives: every result is a value or an error, never a crash
// or a hang. Bounded in time; the seed makes a failure repeatable.
void TestKeyedArchive::mutatedFilesGiveErrors()
{
    QList<QByteArray> seeds = {readFile(Archives + u"/platform_layout.archive"_qs),
                               readFile(Archives + u"/campaign_layout.archive"_qs),
                               *KeyedArchiver::archivedData(layoutCampaign())};
    ArchiveObject object(u"CTGradient"_qs);
    object.encodeValue(V::real32(1));
    object.encodeInt(u"CTGradientElementCount"_qs, 1);
    seeds.append(*KeyedArchiver::archivedData(object));

    QRandomGenerator random(20240229);
    QElapsedTimer timer;
    timer.start();
    int runs = 0, refused = 0;
    while (runs < 20000 && timer.elapsed() < 2000) {
        QByteArray data = seeds.at(random.bounded(seeds.size()));
        const int edits = 1 + random.bounded(4);
        for (int e = 0; e < edits && !data.isEmpty(); ++e) {
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
        const auto o = KeyedUnarchiver::unarchiveObject(data, {u"CTGradient"_qs});
        const auto p = BinaryPlist::read(data);
        if (!v.ok()) {
            ++refused;
            QVERIFY(!v.error().isEmpty());
        }
        Q_UNUSED(o);
        Q_UNUSED(p);
        ++runs;
    }
    QVERIFY(runs > 100);
    QVERIFY(refused > 0);
    qInfo("%d mutated files, %d refused", runs, refused);
}

QTEST_GUILESS_MAIN(TestKeyedArchive)
#include "tst_keyedarchive.moc"
