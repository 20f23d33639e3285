// Base64 through OpenSSL's filter: the text QByteArray::toBase64 gives, the two line rules,
// and decoding back (also beyond one 512-byte read).

#include "Base64.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

class TestBase64 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownTexts_data();
    void knownTexts();
    void lineRules_data();
    void lineRules();
    void decoding_data();
    void decoding();
    void stringUtilities();
};

void TestBase64::knownTexts_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("withNewlines");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty, lines") << QByteArray() << true << QString();
    QTest::newRow("empty, one line") << QByteArray() << false << QString();
    QTest::newRow("one byte pads twice") << QByteArray("f") << false << u"Zg=="_s;
    QTest::newRow("two bytes pad once") << QByteArray("fo") << false << u"Zm8="_s;
    QTest::newRow("lines end with a line feed") << QByteArray("foobar") << true << u"Zm9vYmFy\n"_s;
    QTest::newRow("+ and / of the standard alphabet") << QByteArray("\xfb\xff\xbf", 3) << false << u"+/+/"_s;
    QByteArray fortyEight(48, 'a');
    QTest::newRow("48 bytes fill one line exactly")
        << fortyEight << true << QString::fromLatin1(fortyEight.toBase64()) + u'\n';
    QByteArray fortyNine(49, 'a');
    QTest::newRow("49 bytes spill onto a second line")
        << fortyNine << true
        << QString::fromLatin1(fortyNine.toBase64().left(64)) + u'\n'
               + QString::fromLatin1(fortyNine.toBase64().mid(64)) + u'\n';
}

void TestBase64::knownTexts()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, withNewlines);
    QFETCH(QString, expected);
    QCOMPARE(Base64::encodeBase64WithNewlines(data, withNewlines), expected);
}

void TestBase64::lineRules_data()
{
    QTest::addColumn<int>("length");
    for (int length : {1, 31, 32, 47, 48, 49, 95, 96, 97, 383, 384, 1000, 4099})
        QTest::addRow("%d bytes", length) << length;
}

void TestBase64::lineRules()
{
    QFETCH(int, length);
    QByteArray data(length, Qt::Uninitialized);
    QRandomGenerator generator(length);
    for (char &c : data)
        c = char(generator.bounded(256));
    const QString standard = QString::fromLatin1(data.toBase64());

    const QString oneLine = Base64::encodeBase64WithNewlines(data, false);
    QVERIFY(!oneLine.contains(u'\n'));
    QCOMPARE(oneLine, standard);

    const QString lines = Base64::encodeBase64WithNewlines(data, true);
    QVERIFY(lines.endsWith(u'\n'));
    const QStringList parts = lines.chopped(1).split(u'\n');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QVERIFY(parts.at(i).size() <= 64);
        if (i + 1 < parts.size())
            QCOMPARE(parts.at(i).size(), 64); // only the last line may be short
    }
    QCOMPARE(parts.join(QString()), standard);

    // Both forms read back, also where the text is longer than one 512-byte read.
    QCOMPARE(Base64::decodeBase64WithNewlines(lines, true), data);
    QCOMPARE(Base64::decodeBase64WithNewlines(oneLine, false), data);
}

void TestBase64::decoding_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("withNewlines");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("empty text gives empty data") << QString() << true << QByteArray();
    QTest::newRow("empty text, one-line mode") << QString() << false << QByteArray();
    QTest::newRow("no final line feed") << u"Zm9vYmFy"_s << true << QByteArray("foobar");
    QTest::newRow("one line") << u"Zm9vYmFy"_s << false << QByteArray("foobar");
    QTest::newRow("padding") << u"Zm8=\n"_s << true << QByteArray("fo");
    QTest::newRow("a signature") << u"XQ2Xvt7lcqoUWzNWlhMZ7R/m06X6L+JNLlgbYT2mQ4o="_s << false
                                 << QByteArray::fromBase64("XQ2Xvt7lcqoUWzNWlhMZ7R/m06X6L+JNLlgbYT2mQ4o=");
}

void TestBase64::decoding()
{
    QFETCH(QString, text);
    QFETCH(bool, withNewlines);
    QFETCH(QByteArray, expected);
    const QByteArray decoded = Base64::decodeBase64WithNewlines(text, withNewlines);
    QCOMPARE(decoded, expected);
    QVERIFY(!decoded.isNull() || expected.isEmpty());
}

void TestBase64::stringUtilities()
{
    const QByteArray data(200, '\x7f');
    const QString text = FennimarStrings::base64ForData(data);
    QCOMPARE(text, Base64::encodeBase64WithNewlines(data, true));
    QCOMPARE(FennimarStrings::dataForBase64(text), data);
}

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
