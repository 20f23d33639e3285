#include "FennimarArrays.h"
#include "FennimarDictionaries.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

using StringMap = QMap<QString, QString>;

class TestFennimarArrays : public QObject
{
    Q_OBJECT

private slots:
    void objectAtIndex()
    {
        const QStringList abc{u"a"_s, u"b"_s, u"c"_s};
        const std::optional<QString> none, c = u"c"_s;
        QCOMPARE(FennimarArrays::objectAtIndex(2, abc), c);
        QCOMPARE(FennimarArrays::objectAtIndex(3, abc), none);
        QCOMPARE(FennimarArrays::objectAtIndex(-1, abc), none);
        QCOMPARE(FennimarArrays::objectAtIndex(3, abc, u"default"_s), u"default"_s);
        QCOMPARE(FennimarArrays::objectAtIndex(0, QStringList()), std::nullopt);
    }

    void dictionaryInArray()
    {
        const QVariantMap anna{{u"EMAIL"_s, u"anna@example.com"_s}, {u"ID"_s, 1}};
        const QVariantMap bob{{u"EMAIL"_s, u"bob@example.com"_s}, {u"ID"_s, u"1"_s}};
        const QList<QVariantMap> records{anna, bob};
        QCOMPARE(FennimarArrays::dictionaryInArray(records, u"ID"_s, u"1"_s), bob); // the number 1 is not "1"
        QCOMPARE(FennimarArrays::dictionaryInArray(records, u"EMAIL"_s, u"BOB@example.com"_s), std::nullopt);

        const auto first = std::make_shared<StringMap>(StringMap{{u"EMAIL"_s, u"x@y"_s}});
        const QList<std::shared_ptr<StringMap>> shared{nullptr, first, std::make_shared<StringMap>(*first)};
        QCOMPARE(FennimarArrays::dictionaryInArray(shared, u"EMAIL"_s, u"x@y"_s).value(), first);
    }

    // Prefixes are matched after trimming only when asked; an empty affix matches nothing.
    void removeStringsFrom()
    {
        const QStringList lines{u"  #a"_s, u"\n#b"_s, u"#c"_s, u"d#"_s};
        QStringList list = lines;
        FennimarArrays::removeStringsFromWithPrefix(list, u"#"_s, false);
        QCOMPARE(list, (QStringList{u"  #a"_s, u"\n#b"_s, u"d#"_s}));
        list = lines;
        FennimarArrays::removeStringsFromWithPrefix(list, u"#"_s, true);
        QCOMPARE(list, QStringList{u"d#"_s});
        list = lines;
        FennimarArrays::removeStringsFromWithSuffix(list, u"#"_s);
        QCOMPARE(list, (QStringList{u"  #a"_s, u"\n#b"_s, u"#c"_s}));
        list = QStringList{u"a"_s, QString()};
        FennimarArrays::removeStringsFromWithPrefix(list, QString(), true);
        FennimarArrays::removeStringsFromWithSuffix(list, QString());
        QCOMPARE(list, (QStringList{u"a"_s, QString()}));
    }

    void uniqueEqualAndSplit()
    {
        QCOMPARE(
            FennimarArrays::findUniqueObjectsInArray(QStringList{u"b"_s, u"a"_s, u"b"_s, u"A"_s, u"a"_s}),
            (QStringList{u"b"_s, u"a"_s, u"A"_s})); // first-seen order
        QVERIFY(FennimarArrays::areAllObjectsEqual(QStringList{u"x"_s, u"x"_s}));
        QVERIFY(!FennimarArrays::areAllObjectsEqual(QStringList()));
        QVERIFY(!FennimarArrays::areAllObjectsEqual(QStringList{u"x"_s, u"X"_s}));
        const QList<int> five{0, 1, 2, 3, 4};
        QCOMPARE(FennimarArrays::splitArray(five, 2), (QList<QList<int>>{{0, 2, 4}, {1, 3}}));
        QCOMPARE(FennimarArrays::splitArray(five, 7), (QList<QList<int>>{{0}, {1}, {2}, {3}, {4}, {}, {}}));
        QCOMPARE(FennimarArrays::splitArray(five, 0), QList<QList<int>>());
    }

    void moveObjectAtIndex_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("message"); // empty: none logged
        QTest::newRow("0 to 3 (the end)") << 0 << 3 << u"BCA"_s << QString();
        QTest::newRow("2 to 0") << 2 << 0 << u"CAB"_s << QString();
        QTest::newRow("just after itself") << 1 << 2 << u"ABC"_s << QString();
        QTest::newRow("negative source")
            << -1 << 0 << u"ABC"_s << u"FennimarArrays.moveObjectAtIndex: rowToMove < 0"_s;
        QTest::newRow("source past the end")
            << 3 << 0 << u"ABC"_s << u"FennimarArrays.moveObjectAtIndex: rowToMove > ([ma count] - 1)"_s;
        QTest::newRow("destination past the end")
            << 0 << 4 << u"ABC"_s << u"FennimarArrays.moveObjectAtIndex: destination 4 outside 0...3"_s;
    }

    void moveObjectAtIndex()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, expected);
        QFETCH(QString, message);
        QList<QChar> list{u'A', u'B', u'C'};
        if (!message.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(message));
        FennimarArrays::moveObjectAtIndex(from, to, list);
        QCOMPARE(QString(list.constData(), list.size()), expected);

        QStringList named{u"A"_s, u"B"_s, u"C"_s, u"D"_s};
        FennimarArrays::moveObjectToAfter(u"A"_s, u"C"_s, named);
        FennimarArrays::moveObjectToBefore(u"D"_s, u"B"_s, named);
        QCOMPARE(named.join(QString()), u"DBCA"_s);
    }

    void tabSeparatedFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<StringMap>("expected");
        QTest::newRow("later line replaces, lines without tab skipped")
            << QByteArray("a\t1\nb\na\t2\tz") << StringMap{{u"a"_s, u"2"_s}};
        QTest::newRow("carriage return stays in the value")
            << QByteArray("k\tv\r\nk2\t\r\n") << StringMap{{u"k"_s, u"v\r"_s}, {u"k2"_s, u"\r"_s}};
        QTest::newRow("UTF-16 with mark")
            << QByteArray::fromHex("fffe610009006200") << StringMap{{u"a"_s, u"b"_s}};
    }

    void tabSeparatedFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(StringMap, expected);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"table.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QCOMPARE(FennimarDictionaries::dictionaryFromTabSeparatedFile(file.fileName()), expected);
        QCOMPARE(FennimarDictionaries::dictionaryFromTabSeparatedFile(dir.filePath(u"missing"_s)),
                 StringMap());
    }

    void keyForValueAndRemoval()
    {
        QVariantMap responses{{u"c@x"_s, -1}, {u"a@x"_s, 1}, {u"b@x"_s, -1}};
        QCOMPARE(FennimarDictionaries::keyForValue(-1, responses), std::optional<QString>(u"b@x"_s));
        QCOMPARE(FennimarDictionaries::keyForValue(7, responses), std::nullopt);
        QCOMPARE(FennimarDictionaries::keysinDictionary(responses, u"b"_s), QStringList{u"b@x"_s});
        QCOMPARE(FennimarDictionaries::filterObjectsFromDictionary(responses, {u"a@x"_s, u"z"_s}),
                 (QVariantMap{{u"a@x"_s, 1}}));
        FennimarDictionaries::removeKeysForObject(-1, responses);
        QCOMPARE(responses, (QVariantMap{{u"a@x"_s, 1}}));
    }
};

QTEST_GUILESS_MAIN(TestFennimarArrays)
#include "tst_fennimararrays.moc"
