// Base64 through OpenSSL's filter: the two line rules against Qt's own encoding, and decoding
// back, also beyond one 512-byte read.

#include "Base64.h"

#include <QRandomGenerator>
#include <QTest>

using namespace brisko;

class TestBase64 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lineRules_data()
    {
        QTest::addColumn<int>("length");
        for (int length : {0, 1, 2, 3, 47, 48, 49, 95, 96, 97, 383, 384, 385, 1000, 4099})
            QTest::addRow("%d bytes", length) << length;
    }

    // One line: no line feed at all. Lines: 64 characters but the last, each ending in a line
    // feed, which may be missing when read back.
    void lineRules()
    {
        QFETCH(int, length);
        QByteArray data(length, Qt::Uninitialized);
        QRandomGenerator generator(length);
        for (char &c : data)
            c = char(generator.bounded(256));
        const QString standard = QString::fromLatin1(data.toBase64());
        QString lines;
        for (qsizetype at = 0; at < standard.size(); at += 64)
            lines += standard.mid(at, 64) + u'\n';

        QCOMPARE(Base64::encodeBase64WithNewlines(data, false), standard);
        QCOMPARE(Base64::encodeBase64WithNewlines(data, true), lines);
        QCOMPARE(Base64::decodeBase64WithNewlines(standard, false), data);
        QCOMPARE(Base64::decodeBase64WithNewlines(lines, true), data);
        QCOMPARE(Base64::decodeBase64WithNewlines(lines.trimmed(), true), data);
    }
};

QTEST_GUILESS_MAIN(TestBase64)
#include "tst_base64.moc"
