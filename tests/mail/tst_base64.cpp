// Base64 through OpenSSL's filter: known texts both ways, the two line rules, and decoding
// back also beyond one 512-byte read.

#include "Base64.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

class TestBase64 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void knownTexts_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("withNewlines");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty, lines") << QByteArray() << true << QString();
        QTest::newRow("empty, one line") << QByteArray() << false << QString();
        QTest::newRow("one byte pads twice") << QByteArray("f") << false << u"Zg=="_s;
        QTest::newRow("two bytes pad once") << QByteArray("fo") << true << u"Zm8=\n"_s;
        QTest::newRow("lines end with a line feed") << QByteArray("foobar") << true << u"Zm9vYmFy\n"_s;
        QTest::newRow("+ and / of the standard alphabet")
            << QByteArray("\xfb\xff\xbf", 3) << false << u"+/+/"_s;
    }

    void knownTexts()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, withNewlines);
        QFETCH(QString, text);
        QCOMPARE(Base64::encodeBase64WithNewlines(data, withNewlines), text);
        QCOMPARE(Base64::decodeBase64WithNewlines(text, withNewlines), data);
        if (withNewlines) // the last line feed may be missing
            QCOMPARE(Base64::decodeBase64WithNewlines(text.trimmed(), true), data);
    }

    void lineRules_data()
    {
        QTest::addColumn<int>("length");
        for (int length : {1, 31, 32, 47, 48, 49, 95, 96, 97, 383, 384, 385, 1000, 4099})
            QTest::addRow("%d bytes", length) << length;
    }

    void lineRules()
    {
        QFETCH(int, length);
        QByteArray data(length, Qt::Uninitialized);
        QRandomGenerator generator(length);
        for (char &c : data)
            c = char(generator.bounded(256));
        const QString standard = QString::fromLatin1(data.toBase64());

        const QString oneLine = Base64::encodeBase64WithNewlines(data, false);
        QCOMPARE(oneLine, standard); // no line feed at all, whatever the length

        const QString lines = Base64::encodeBase64WithNewlines(data, true);
        QVERIFY(lines.endsWith(u'\n'));
        const QStringList parts = lines.chopped(1).split(u'\n');
        for (qsizetype i = 0; i + 1 < parts.size(); ++i)
            QCOMPARE(parts.at(i).size(), 64); // only the last line may be short
        QVERIFY(parts.last().size() <= 64);
        QCOMPARE(parts.join(QString()), standard);

        // Both forms read back, also where the text is longer than one 512-byte read.
        QCOMPARE(Base64::decodeBase64WithNewlines(lines, true), data);
        QCOMPARE(Base64::decodeBase64WithNewlines(oneLine, false), data);
    }
};

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
