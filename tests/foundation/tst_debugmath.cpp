#include "FennimarDebugging.h"
#include "FennimarMath.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

using namespace Qt::StringLiterals;
namespace FM = FennimarMath;

class TestDebugMath : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void randomNumberBetween_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("one value") << 5 << 5;
        QTest::newRow("three values") << 1 << 3;
        QTest::newRow("negative") << -2 << 0;
        QTest::newRow("whole int range") << INT_MIN << INT_MAX;
    }

    void randomNumberBetween()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QSet<int> seen;
        for (int i = 0; i < 300; ++i) {
            const int value = FM::randomNumberBetween(low, high);
            QVERIFY2(value >= low && value <= high, qPrintable(QString::number(value)));
            seen.insert(value);
        }
        if (qint64(high) - low < 10)
            QCOMPARE(seen.size(), high - low + 1);
    }

    void randomNumberBetweenReversedBounds()
    {
        QTest::ignoreMessage(QtWarningMsg, "FennimarMath.randomNumberBetween - high 1 is below low 4");
        QCOMPARE(FM::randomNumberBetween(4, 1), 4);
        QVERIFY(FM::randomString().startsWith(u'R') && FM::randomString().endsWith(u'F'));
    }

    void comparisons()
    {
        QVERIFY(FM::compareFloat(1.0, 1.05, 0.1));
        QVERIFY(!FM::compareFloat(1.0, 1.05, 0.01));
        QVERIFY(FM::rectIsAllZeros(QRectF(0.5, -0.5, 0, 0.99)));
        QVERIFY(!FM::rectIsAllZeros(QRectF(1, 0, 0, 0)));
        QVERIFY(!FM::rectIsAllZeros(QRectF(0, 0, 0, -1)));
        QVERIFY(FM::isRange({2, 3}, {0, 5}));
        QVERIFY(!FM::isRange({2, 4}, {0, 5}));
        QVERIFY(!FM::isRange({0, 1}, {1, 5}));
        QCOMPARE(FM::calculate(25, 200), 50.0);
    }

    void rectangles()
    {
        QCOMPARE(FM::centreOfRect(QRectF(10, 20, 30, 40)), QPointF(25, 40));
        QCOMPARE(FM::centreOfRectFlipped(QRectF(10, 20, 30, 40)), QPointF(25, 0));
        QCOMPARE(FM::pointBetween(QPointF(0, 0), QPointF(4, -2)), QPointF(2, -1));
        QCOMPARE(FM::roundRect(QRectF(1.4, 2.6, 3.5, 4.49), 0.5), QRectF(1.5, 3.5, 4, 4));
        // Integer rectangles are top, left, bottom, right.
        const FM::IntRect rect{10, 20, 50, 80};
        QCOMPARE(FM::rectToNSRect(rect), QRectF(20, 10, 60, 40));
        QCOMPARE(FM::offsetRect(rect, 1.9, -2.5), (FM::IntRect{7, 21, 47, 81}));
        QCOMPARE(FM::combineRects({QRectF(0, 0, 10, 10), QRectF(-5, 20, 2, 2), QRectF(8, 8, 10, 1)}),
                 QRectF(-5, 0, 23, 22));
        QCOMPARE(FM::combineTwoRects(QRectF(1, 1, 1, 1), QRectF(3, 3, 1, 1)), QRectF(1, 1, 3, 3));
        QCOMPARE(FM::combineRects({}), QRectF());
    }

    void roundNumber_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("places");
        QTest::addColumn<double>("rounded");
        QTest::newRow("up") << 2.341 << 2 << 2.35;
        QTest::newRow("exact stays") << 1.1 << 1 << 1.1;
        QTest::newRow("exact in binary too") << 0.29 << 2 << 0.29;
        QTest::newRow("carry") << 9.991 << 2 << 10.0;
        QTest::newRow("whole") << 2.001 << 0 << 3.0;
        QTest::newRow("negative toward zero") << -2.349 << 2 << -2.34;
    }

    void roundNumber()
    {
        QFETCH(double, value);
        QFETCH(int, places);
        QFETCH(double, rounded);
        QCOMPARE(FM::roundNumber(value, places), rounded);
    }

    // The marker file is looked for in the home folder of the moment.
    void reportExceptions()
    {
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(home.path()));
        const QByteArray looking = "Looking for '" + QFile::encodeName(home.path()) + "/.zilkdebugging'";
        QTest::ignoreMessage(QtInfoMsg, looking.constData());
        QTest::ignoreMessage(QtInfoMsg, "No touchfile...");
        const bool without = FennimarDebugging::reportExceptions();
        QFile(home.filePath(u".zilkdebugging"_s)).open(QIODevice::WriteOnly);
        QTest::ignoreMessage(QtInfoMsg, looking.constData());
        QTest::ignoreMessage(QtInfoMsg, "Found touchfile...");
        const bool with = FennimarDebugging::reportExceptions();
        qputenv("HOME", oldHome);
        QVERIFY(!without);
        QVERIFY(with);
    }

    void logLines()
    {
        QTest::ignoreMessage(QtInfoMsg, "FennimarDebugging - printArray - array is nil");
        FennimarDebugging::printArray(std::nullopt);
        QTest::ignoreMessage(QtInfoMsg, "FennimarDebugging - printArray - array is empty");
        FennimarDebugging::printArray(QVariantList());
        QTest::ignoreMessage(QtInfoMsg, "KEY:a, VALUE:1");
        FennimarDebugging::printDictionary({{u"a"_s, u"1"_s}});
        QTest::ignoreMessage(QtWarningMsg, "WARNING:disk full");
        FennimarDebugging::seriousWarning(u"disk full"_s);
        // Each child logs its parent, then is dumped one level further in.
        QObject root;
        root.setObjectName(u"root"_s);
        QObject child(&root);
        child.setObjectName(u"child"_s);
        QObject grandchild(&child);
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^DUMP:QObject\\(\"root\"\\)"_s));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^DUMP:QObject\\(\"root\"\\)"_s));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"^\t->DUMP:QObject\\(\"child\"\\)"_s));
        FennimarDebugging::dumpViewTree(&root);
    }
};

QTEST_MAIN(TestDebugMath)
#include "tst_debugmath.moc"
