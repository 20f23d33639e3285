#include "FennimarArrays.h"
#include "FennimarDictionaries.h"

#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

using StringMap = QMap<QString, QString>;

class TestFennimarArrays : public QObject
{
    Q_OBJECT

private slots:
    void objectAtIndex_data();
    void objectAtIndex();
    void prependAndDigits();
    void dictionaryInArray();
    void replaceAndTrim();
    void removeStringsFrom_data();
    void removeStringsFrom();
    void prefixSearches();
    void uniqueAndEqual_data();
    void uniqueAndEqual();
    void uniqueWithoutHash();
    void findObjectIsIdentity();
    void findString_data();
    void findString();
    void indexOfStringInArray();
    void doesOneOfTheseStrings_data();
    void doesOneOfTheseStrings();
    void arrayWithIndexSet();
    void splitArray_data();
    void splitArray();
    void moveObjectAtIndex_data();
    void moveObjectAtIndex();
    void moveObjectAtIndexRejectsBadRows_data();
    void moveObjectAtIndexRejectsBadRows();
    void moveObjectNextToAnother();
    void millionRecordsStayLinear();

    void keysWithPrefix();
    void tabSeparatedFile_data();
    void tabSeparatedFile();
    void filterAndContains();
    void keyForValueAndRemoval();
};

void TestFennimarArrays::objectAtIndex_data()
{
    QTest::addColumn<QStringList>("array");
    QTest::addColumn<int>("index");
    QTest::addColumn<std::optional<QString>>("expected");
    const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
    QTest::newRow("first") << abc << 0 << std::optional<QString>(u"a"_s);
    QTest::newRow("last") << abc << 2 << std::optional<QString>(u"c"_s);
    QTest::newRow("one past the end") << abc << 3 << std::optional<QString>();
    QTest::newRow("minus one") << abc << -1 << std::optional<QString>();
    QTest::newRow("empty array") << QStringList() << 0 << std::optional<QString>();
}

void TestFennimarArrays::objectAtIndex()
{
    QFETCH(QStringList, array);
    QFETCH(int, index);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(FennimarArrays::objectAtIndex(index, array), expected);
    QCOMPARE(FennimarArrays::safeObjectAtIndex(array, index), expected);
    QCOMPARE(FennimarArrays::objectAtIndex(index, array, u"default"_s), expected.value_or(u"default"_s));
}

void TestFennimarArrays::prependAndDigits()
{
    QCOMPARE(FennimarArrays::prependStringOntoArrayItems(u"/d/"_s, {u"a"_s, u"b"_s}),
             (QStringList{u"/d/a"_s, u"/d/b"_s}));
    QCOMPARE(FennimarArrays::arrayOfZeroToNine().join(QString()), u"0123456789"_s);
}

void TestFennimarArrays::dictionaryInArray()
{
    const QVariantMap anna{{u"EMAIL"_s, u"anna@example.com"_s}, {u"ID"_s, 1}};
    const QVariantMap bob{{u"EMAIL"_s, u"bob@example.com"_s}, {u"ID"_s, u"1"_s}};
    const QList<QVariantMap> records{anna, bob, bob};
    QCOMPARE(FennimarArrays::dictionaryInArray(records, u"EMAIL"_s, u"bob@example.com"_s), bob);
    // A number is not equal to its text.
    QCOMPARE(FennimarArrays::dictionaryInArray(records, u"ID"_s, u"1"_s), bob);
    QCOMPARE(FennimarArrays::dictionaryInArray(records, u"EMAIL"_s, u"BOB@example.com"_s), std::nullopt);
    QCOMPARE(FennimarArrays::dictionaryInArray(records, u"PHONE"_s, QString()), std::nullopt);

    const auto first = std::make_shared<StringMap>(StringMap{{u"EMAIL"_s, u"x@y"_s}});
    const auto second = std::make_shared<StringMap>(StringMap{{u"EMAIL"_s, u"x@y"_s}});
    const QList<std::shared_ptr<StringMap>> shared{nullptr, first, second};
    QCOMPARE(FennimarArrays::dictionaryInArray(shared, u"EMAIL"_s, u"x@y"_s).value(), first);
}

void TestFennimarArrays::replaceAndTrim()
{
    QStringList list{u"a"_s, u"b"_s, u"a"_s};
    FennimarArrays::replaceObjectsThatEqual(u"a"_s, u"z"_s, list);
    QCOMPARE(list, (QStringList{u"z"_s, u"b"_s, u"z"_s}));

    QCOMPARE(FennimarArrays::trimObjects({u" \ta\r\n"_s, u"b c"_s, u"\n"_s}), (QStringList{u"a"_s, u"b c"_s, QString()}));
}

void TestFennimarArrays::removeStringsFrom_data()
{
    QTest::addColumn<QStringList>("array");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QStringList>("withoutPrefix");
    QTest::addColumn<QStringList>("withoutSuffix");
    QTest::newRow("comments") << QStringList{u"#a"_s, u"#b"_s, u"c"_s} << u"#"_s << false << u"b"_s
                              << QStringList{u"c"_s} << QStringList{u"#a"_s, u"c"_s};
    QTest::newRow("indented, untrimmed") << QStringList{u"  #a"_s, u"b#"_s} << u"#"_s << false << u"#"_s
                                         << QStringList{u"  #a"_s, u"b#"_s} << QStringList{u"  #a"_s};
    QTest::newRow("indented, trimmed") << QStringList{u"  #a"_s, u"\n#b"_s, u"c"_s} << u"#"_s << true << u"x"_s
                                       << QStringList{u"c"_s} << QStringList{u"  #a"_s, u"\n#b"_s, u"c"_s};
    QTest::newRow("empty affixes match nothing") << QStringList{u"a"_s, QString()} << QString() << true << QString()
                                                 << QStringList{u"a"_s, QString()} << QStringList{u"a"_s, QString()};
}

void TestFennimarArrays::removeStringsFrom()
{
    QFETCH(QStringList, array);
    QFETCH(QString, prefix);
    QFETCH(bool, trim);
    QFETCH(QString, suffix);
    QFETCH(QStringList, withoutPrefix);
    QFETCH(QStringList, withoutSuffix);
    QStringList list = array;
    FennimarArrays::removeStringsFromWithPrefix(list, prefix, trim);
    QCOMPARE(list, withoutPrefix);
    list = array;
    FennimarArrays::removeStringsFromWithSuffix(list, suffix);
    QCOMPARE(list, withoutSuffix);
}

void TestFennimarArrays::prefixSearches()
{
    const QStringList list{u"1st"_s, u"Name"_s, u"9"_s, u"Nm"_s, u"x1"_s, QString()};
    QCOMPARE(FennimarArrays::objectsWithPrefix(u"N"_s, list), (QStringList{u"Name"_s, u"Nm"_s}));
    QCOMPARE(FennimarArrays::findStringsWithNumberPrefixInArray(list), (QStringList{u"1st"_s, u"9"_s}));
    QCOMPARE(FennimarArrays::reverseArray(QList<int>{1, 2, 3}), (QList<int>{3, 2, 1}));
}

void TestFennimarArrays::uniqueAndEqual_data()
{
    QTest::addColumn<QStringList>("array");
    QTest::addColumn<QStringList>("unique");
    QTest::addColumn<bool>("allEqual");
    QTest::newRow("empty") << QStringList() << QStringList() << false;
    QTest::newRow("one") << QStringList{u"x"_s} << QStringList{u"x"_s} << true;
    QTest::newRow("two equal") << QStringList{u"x"_s, u"x"_s} << QStringList{u"x"_s} << true;
    QTest::newRow("first-seen order") << QStringList{u"b"_s, u"a"_s, u"b"_s, u"c"_s, u"a"_s}
                                      << QStringList{u"b"_s, u"a"_s, u"c"_s} << false;
    QTest::newRow("case matters") << QStringList{u"x"_s, u"X"_s} << QStringList{u"x"_s, u"X"_s} << false;
}

void TestFennimarArrays::uniqueAndEqual()
{
    QFETCH(QStringList, array);
    QFETCH(QStringList, unique);
    QFETCH(bool, allEqual);
    QCOMPARE(FennimarArrays::findUniqueObjectsInArray(array), unique);
    QCOMPARE(FennimarArrays::areAllObjectsEqual(array), allEqual);
}

void TestFennimarArrays::uniqueWithoutHash()
{
    const QVariantList list{2, u"a"_s, 2, 1, u"a"_s};
    QCOMPARE(FennimarArrays::findUniqueObjectsInArray(list), (QVariantList{2, u"a"_s, 1}));
}

void TestFennimarArrays::findObjectIsIdentity()
{
    const auto first = std::make_shared<QString>(u"same"_s);
    const auto second = std::make_shared<QString>(u"same"_s);
    const QList<std::shared_ptr<QString>> shared{first, second};
    QCOMPARE(FennimarArrays::findObject(second, shared), 1);
    QCOMPARE(FennimarArrays::findObject(std::make_shared<QString>(u"same"_s), shared), -1);

    QString a = u"v"_s, b = u"v"_s;
    const QList<QString *> plain{&a, &b};
    QCOMPARE(FennimarArrays::findObject(&b, plain), 1);
    QString c = u"v"_s;
    QCOMPARE(FennimarArrays::findObject(&c, plain), -1);
}

void TestFennimarArrays::findString_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("expected");
    // in: a b a c
    QTest::newRow("from 0") << 0 << 0;
    QTest::newRow("from 1") << 1 << 2;
    QTest::newRow("from 3") << 3 << -1;
    QTest::newRow("past the end") << 9 << -1;
    QTest::newRow("negative start") << -4 << 0;
}

void TestFennimarArrays::findString()
{
    QFETCH(int, start);
    QFETCH(int, expected);
    QCOMPARE(FennimarArrays::findString(u"a"_s, {u"a"_s, u"b"_s, u"a"_s, u"c"_s}, start), expected);
}

void TestFennimarArrays::indexOfStringInArray()
{
    const QStringList list{u"a.txt"_s, u"b.tsv"_s, u"c.tsv"_s};
    QCOMPARE(FennimarArrays::indexOfStringInArray(list, u".tsv"_s), 1);
    QCOMPARE(FennimarArrays::indexOfStringInArray(list, u".TSV"_s), -1);
    QCOMPARE(FennimarArrays::indexOfStringInArray(list, std::nullopt), -1);
    QCOMPARE(FennimarArrays::indexOfStringInArray(list, QString()), -1);
}

void TestFennimarArrays::doesOneOfTheseStrings_data()
{
    QTest::addColumn<QStringList>("strings");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    const QString response = u"<ErrorResponse><Message>Throttling</Message></ErrorResponse>"_s;
    QTest::newRow("one occurs") << QStringList{u"Success"_s, u"ErrorResponse"_s} << response << true;
    QTest::newRow("case-sensitive") << QStringList{u"errorresponse"_s} << response << false;
    QTest::newRow("none") << QStringList{u"x"_s, u"y"_s} << response << false;
    QTest::newRow("empty list") << QStringList() << response << false;
    QTest::newRow("empty string matches nothing") << QStringList{QString()} << response << false;
    QTest::newRow("canonically equivalent") << QStringList{u"caf\u00e9"_s} << u"un cafe\u0301 noir"_s << true;
}

void TestFennimarArrays::doesOneOfTheseStrings()
{
    QFETCH(QStringList, strings);
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(FennimarArrays::doesOneOfTheseStrings(strings, text), expected);
}

void TestFennimarArrays::arrayWithIndexSet()
{
    QCOMPARE(FennimarArrays::arrayWithIndexSet(QSet<int>{7, 2, 5}), (QList<uint>{2, 5, 7}));
    QCOMPARE(FennimarArrays::arrayWithIndexSet(QList<int>{3, 1, 3, -1, 0}), (QList<uint>{0, 1, 3}));
    QCOMPARE(FennimarArrays::arrayWithIndexSet(QList<int>()), QList<uint>());
}

void TestFennimarArrays::splitArray_data()
{
    QTest::addColumn<int>("parts");
    QTest::addColumn<QList<QList<int>>>("expected");
    QTest::newRow("five into two") << 2 << QList<QList<int>>{{0, 2, 4}, {1, 3}};
    QTest::newRow("into one") << 1 << QList<QList<int>>{{0, 1, 2, 3, 4}};
    QTest::newRow("more parts than elements") << 7 << QList<QList<int>>{{0}, {1}, {2}, {3}, {4}, {}, {}};
    QTest::newRow("into none") << 0 << QList<QList<int>>{};
}

void TestFennimarArrays::splitArray()
{
    QFETCH(int, parts);
    QFETCH(QList<QList<int>>, expected);
    QCOMPARE(FennimarArrays::splitArray(QList<int>{0, 1, 2, 3, 4}, parts), expected);
}

void TestFennimarArrays::moveObjectAtIndex_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 to 2") << 0 << 2 << u"BAC"_s;
    QTest::newRow("0 to 3 (the end)") << 0 << 3 << u"BCA"_s;
    QTest::newRow("2 to 0") << 2 << 0 << u"CAB"_s;
    QTest::newRow("1 to 0") << 1 << 0 << u"BAC"_s;
    QTest::newRow("onto itself") << 1 << 1 << u"ABC"_s;
    QTest::newRow("just after itself") << 1 << 2 << u"ABC"_s;
}

void TestFennimarArrays::moveObjectAtIndex()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, expected);
    QList<QChar> list{u'A', u'B', u'C'};
    FennimarArrays::moveObjectAtIndex(from, to, list);
    QCOMPARE(QString(list.constData(), list.size()), expected);
}

void TestFennimarArrays::moveObjectAtIndexRejectsBadRows_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("message");
    QTest::newRow("negative source") << -1 << 0 << u"FennimarArrays.moveObjectAtIndex: rowToMove < 0"_s;
    QTest::newRow("source past the end") << 3 << 0
                                         << u"FennimarArrays.moveObjectAtIndex: rowToMove > ([ma count] - 1)"_s;
    QTest::newRow("destination past the end") << 0 << 4 << u"FennimarArrays.moveObjectAtIndex: destination 4 outside 0...3"_s;
}

void TestFennimarArrays::moveObjectAtIndexRejectsBadRows()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, message);
    QStringList list{u"A"_s, u"B"_s, u"C"_s};
    QTest::ignoreMessage(QtWarningMsg, qPrintable(message));
    FennimarArrays::moveObjectAtIndex(from, to, list);
    QCOMPARE(list, (QStringList{u"A"_s, u"B"_s, u"C"_s}));
}

void TestFennimarArrays::moveObjectNextToAnother()
{
    QStringList list{u"A"_s, u"B"_s, u"C"_s, u"D"_s};
    FennimarArrays::moveObjectToAfter(u"A"_s, u"C"_s, list);
    QCOMPARE(list, (QStringList{u"B"_s, u"C"_s, u"A"_s, u"D"_s}));
    FennimarArrays::moveObjectToBefore(u"D"_s, u"B"_s, list);
    QCOMPARE(list, (QStringList{u"D"_s, u"B"_s, u"C"_s, u"A"_s}));
    FennimarArrays::moveObjectToAfter(u"A"_s, u"A"_s, list);
    QCOMPARE(list, (QStringList{u"D"_s, u"B"_s, u"C"_s, u"A"_s}));
}

// A million recipients: anything quadratic here would run for hours.
void TestFennimarArrays::millionRecordsStayLinear()
{
    constexpr int count = 1'000'000;
    QStringList addresses;
    addresses.reserve(count);
    for (int i = 0; i < count; ++i)
        addresses.append(u"user%1@example.com"_s.arg(i % (count / 2)));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(FennimarArrays::findUniqueObjectsInArray(addresses).size(), count / 2);
    QCOMPARE(FennimarArrays::doesString(u"USER499999@EXAMPLE.COM"_s, addresses, true), count / 2 - 1);
    QStringList pruned = addresses;
    FennimarArrays::removeStringsFromWithPrefix(pruned, u"user1"_s);
    QVERIFY(pruned.size() < count);

    struct Record
    {
        virtual ~Record() = default;
    };
    struct Marker : Record
    {
    };
    QList<std::shared_ptr<Record>> records;
    records.reserve(count);
    for (int i = 0; i < count; ++i)
        records.append(i % 3 ? std::make_shared<Marker>() : std::make_shared<Record>());
    FennimarArrays::removeObjectsOfClass<Marker>(records);
    QCOMPARE(records.size(), (count + 2) / 3);

    QHash<QString, QString> statuses;
    for (int i = 0; i < count; i += 2)
        statuses.insert(u"r%1"_s.arg(i), i % 4 ? u"Success!"_s : u"Throttling"_s);
    FennimarDictionaries::removeKeysForObject(u"Throttling"_s, statuses);
    QCOMPARE(statuses.size(), count / 4);
    QVERIFY2(clock.elapsed() < 60'000, "helpers took over a minute on a million records");
}

void TestFennimarArrays::keysWithPrefix()
{
    const QVariantMap map{{u"_BRISKO_INDEX"_s, 1}, {u"EMAIL"_s, 2}, {u"_BRISKO_STATUS"_s, 3}};
    QCOMPARE(FennimarDictionaries::keysinDictionary(map, u"_BRISKO_"_s),
             (QStringList{u"_BRISKO_INDEX"_s, u"_BRISKO_STATUS"_s}));
    QVERIFY(FennimarDictionaries::keysinDictionary(map, QString()).isEmpty());
}

void TestFennimarArrays::tabSeparatedFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<StringMap>("expected");
    QTest::newRow("later line replaces, lines without tab skipped")
        << QByteArray("a\t1\nb\na\t2\tz") << StringMap{{u"a"_s, u"2"_s}};
    QTest::newRow("carriage return stays in the value")
        << QByteArray("k\tv\r\nk2\tv2\r\n") << StringMap{{u"k"_s, u"v\r"_s}, {u"k2"_s, u"v2\r"_s}};
    QTest::newRow("empty fields") << QByteArray("\tx\ny\t\n") << StringMap{{QString(), u"x"_s}, {u"y"_s, QString()}};
    QTest::newRow("UTF-8 with mark") << QByteArray("\xEF\xBB\xBFna\xC3\xAFve\tyes\n")
                                     << StringMap{{u"na\u00efve"_s, u"yes"_s}};
    QTest::newRow("UTF-16 with mark") << QByteArray("\xFF\xFE" "a\0\t\0b\0", 8) << StringMap{{u"a"_s, u"b"_s}};
    QTest::newRow("empty file") << QByteArray() << StringMap();
}

void TestFennimarArrays::tabSeparatedFile()
{
    QFETCH(QByteArray, content);
    QFETCH(StringMap, expected);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"table.txt"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(FennimarDictionaries::dictionaryFromTabSeparatedFile(path), expected);
    QCOMPARE(FennimarDictionaries::dictionaryFromTabSeparatedFile(dir.filePath(u"missing"_s)), StringMap());
}

void TestFennimarArrays::filterAndContains()
{
    const StringMap map{{u"SUBJECT"_s, u"s"_s}, {u"BODY"_s, u"b"_s}, {u"SENDER"_s, u"f"_s}};
    QCOMPARE(FennimarDictionaries::filterObjectsFromDictionary(map, {u"BODY"_s, u"SENDER"_s, u"NOPE"_s}),
             (StringMap{{u"BODY"_s, u"b"_s}, {u"SENDER"_s, u"f"_s}}));
    QCOMPARE(FennimarDictionaries::filterObjectsFromDictionary(map, {u"body"_s}), StringMap());
    QVERIFY(FennimarDictionaries::dictionary(map, u"BODY"_s));
    QVERIFY(!FennimarDictionaries::dictionary(map, u"Body"_s));
}

void TestFennimarArrays::keyForValueAndRemoval()
{
    QVariantMap responses{{u"c@x"_s, -1}, {u"a@x"_s, 1}, {u"b@x"_s, -1}};
    QCOMPARE(FennimarDictionaries::keyForValue(-1, responses), std::optional<QString>(u"b@x"_s));
    QCOMPARE(FennimarDictionaries::keyForValue(7, responses), std::nullopt);
    FennimarDictionaries::removeKeysForObject(-1, responses);
    QCOMPARE(responses, (QVariantMap{{u"a@x"_s, 1}}));
}

QTEST_GUILESS_MAIN(TestFennimarArrays)
#include "tst_fennimararrays.moc"
