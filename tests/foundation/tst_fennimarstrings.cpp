#include "FennimarStrings.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using namespace Qt::StringLiterals;
namespace FS = FennimarStrings;

namespace {

// In the tables a null QString stands for "none".
std::optional<QString> opt(const QString &s)
{
    return s.isNull() ? std::nullopt : std::optional<QString>(s);
}

QString data(const char *name)
{
    return QStringLiteral(BRISKO_TEST_DATA "/strings/") + QLatin1StringView(name);
}

const QString eAcute = u"\u00e9"_s;      // precomposed
const QString eCombining = u"e\u0301"_s; // e + combining acute

} // namespace

class TestFennimarStrings : public QObject
{
    Q_OBJECT

private slots:
    void replaceAndContains()
    {
        QCOMPARE(FS::replace(u"ab"_s, u"x"_s, u"abab"_s), u"xx"_s);
        QCOMPARE(FS::replace(u"AB"_s, u"x"_s, u"abab"_s), u"abab"_s); // case-sensitive
        QCOMPARE(FS::replace(u"a"_s, u"aa"_s, u"aba"_s), u"aabaa"_s); // no rescan
        QCOMPARE(FS::replace(u""_s, u"x"_s, u"abc"_s), u"abc"_s);
        QCOMPARE(FS::replace(eAcute, u"x"_s, eCombining), eCombining); // literal
        QVERIFY(!FS::stringContains(u"errorresponse"_s, u"ErrorResponse"_s));
        QVERIFY(!FS::stringContains(u"abc"_s, u""_s));
        QVERIFY(FS::stringContains(u"caf"_s + eAcute, u"caf"_s + eCombining));
        QVERIFY(FS::stringContainsStringInArray(u"caf"_s + eCombining + u"!"_s, {u"x"_s, eAcute}));
        QVERIFY(!FS::stringContains(u"caf"_s + eCombining, u"cafe"_s)); // not inside a character
    }

    void between_data()
    {
        QTest::addColumn<QString>("opening");
        QTest::addColumn<QString>("closing"); // null: none
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("first"); // null: none
        QTest::addColumn<qint64>("firstLocation");
        QTest::addColumn<qint64>("firstLength");
        QTest::addColumn<QString>("last"); // null: none

        const QString reply = u"<a><Max24HourSend>200.0</Max24HourSend></a>"_s;
        const QString missing;
        QTest::newRow("element") << u"<Max24HourSend>"_s << u"</Max24HourSend>"_s << reply << u"200.0"_s
                                 << qint64(3) << qint64(36) << u"200.0"_s;
        QTest::newRow("no closing marker")
            << u"<Max24HourSend>"_s << missing << reply << u"200.0</Max24HourSend></a>"_s << qint64(3)
            << qint64(40) << u"200.0</Max24HourSend></a>"_s;
        QTest::newRow("markers missing")
            << u"<Message>"_s << u"</Message>"_s << reply << missing << FS::NotFound << qint64(0) << missing;
        QTest::newRow("closing only before opening")
            << u"<b>"_s << u"</a>"_s << u"</a><b>x"_s << missing << FS::NotFound << qint64(0) << missing;
        QTest::newRow("last occurrence")
            << u"<m>"_s << u"</m>"_s << u"<m>a</m>b</m>"_s << u"a"_s << qint64(0) << qint64(8) << u"a</m>b"_s;
        QTest::newRow("same marker") << u"\""_s << u"\""_s << u"say \"hi\" now \"x\""_s << u"hi"_s
                                     << qint64(4) << qint64(4) << u"hi\" now \"x"_s;
        QTest::newRow("empty closing")
            << u"<a>"_s << u""_s << u"<a>x"_s << missing << FS::NotFound << qint64(0) << missing;
        // The opening marker is matched canonically; positions are the text's own.
        QTest::newRow("canonical opening")
            << u"<"_s + eAcute + u">"_s << u"</x>"_s << u"..<"_s + eCombining + u">v</x>"_s << u"v"_s
            << qint64(2) << qint64(9) << u"v"_s;
    }

    void between()
    {
        QFETCH(QString, opening);
        QFETCH(QString, closing);
        QFETCH(QString, text);
        QFETCH(QString, first);
        QFETCH(qint64, firstLocation);
        QFETCH(qint64, firstLength);
        QFETCH(QString, last);

        QCOMPARE(FS::stringBetween(opening, opt(closing), text), opt(first));
        QCOMPARE(FS::stringBetweenAndLastOccurenceOf(opening, opt(closing), text), opt(last));
        QCOMPARE(FS::findStringBetween(opening, opt(closing), text), (FS::Range{firstLocation, firstLength}));
    }

    void countSplitEscapeBool()
    {
        QCOMPARE(FS::numberOfOccurencesOf(u"Send"_s, u"send SEND Send"_s), qint64(3));
        QCOMPARE(FS::numberOfOccurencesOf(u"\u00dcber"_s, u"\u00fcber \u00dcBER"_s), qint64(2));
        QCOMPARE(FS::numberOfOccurencesOf(u"Send"_s, std::nullopt), qint64(0));
        QCOMPARE(FS::numberOfOccurencesOf(u"aa"_s, u"aaaaa"_s), qint64(2));
        QCOMPARE(FS::numberOfOccurencesOf(u""_s, u"abc"_s), qint64(0));
        QCOMPARE(FS::numberOfOccurencesOfInFile(u"r\u00c9sum\u00c9"_s, data("help-page.html")), qint64(1));

        QCOMPARE(FS::splitString(u"a=b=c"_s, u"="_s), (QStringList{u"a"_s, u"b=c"_s}));
        QCOMPARE(FS::splitString(u"=a="_s, u"="_s), (QStringList{u""_s, u"a="_s}));
        QCOMPARE(FS::splitString(u"x"_s + eCombining + u"y"_s, eAcute), (QStringList{u"x"_s, u"y"_s}));

        QCOMPARE(FS::escapeUnescapedQuotes(u"say \"hi\""_s), u"say \\\"hi\\\""_s);
        QCOMPARE(FS::escapeUnescapedQuotes(u"\"a\\\"b\""_s), u"\\\"a\\\"b\\\""_s);
        // Text that looks like any stand-in (digits, as rand() gives) stays as it is.
        std::srand(7);
        const QString digits = QString::number(std::rand());
        std::srand(7);
        QCOMPARE(FS::escapeUnescapedQuotes(digits + u"\""_s), digits + u"\\\""_s);

        QVERIFY(FS::boolForString(u"1"_s) && FS::boolForString(u"true"_s));
        for (const auto &text : {std::optional(u"TRUE"_s), std::optional(u" true"_s), std::optional(u"0"_s),
                                 std::optional<QString>()})
            QVERIFY(!FS::boolForString(text));
    }

    // Line locations count CR LF as two line ends; backward search starts below `from`.
    void lineLocationAndBackwardSearch()
    {
        QCOMPARE(FS::locationOfLine(3, u"a\nb\nc"_s), qint64(4));
        QCOMPARE(FS::locationOfLine(9, u"a\nb\nc"_s), qint64(0));
        QCOMPARE(FS::locationOfLine(3, u"ab\r\ncd"_s), qint64(4));
        QCOMPARE(FS::locationOfLine(2, u"ab\n"_s), qint64(3));
        QCOMPARE(FS::indexOfString(u"ab"_s, u"abxab"_s, 3, true), 0);
        QCOMPARE(FS::indexOfString(u"ab"_s, u"abxab"_s, 4, true), 3);
        QCOMPARE(FS::indexOfString(u"ab"_s, u"xab"_s, 1, true), -1);
        QCOMPARE(FS::indexOfString(u"ab"_s, u"abxab"_s, 99, true), 3);
        // One-character search texts: the result is always below the start.
        QCOMPARE(FS::indexOfString(u"b"_s, u"ab"_s, 1, true), -1);
        QCOMPARE(FS::indexOfString(u"x"_s, u"xxabxxab"_s, 5, true), 4);
        QCOMPARE(FS::indexOfString(u"a"_s, u"xxabxxab"_s, 6, true), 2);
    }

    void indexOfStringForwardsIsNotImplemented()
    {
        QTest::ignoreMessage(QtWarningMsg, "NOT IMPLEMENTED - See FennimarStrings - indexOfString");
        QCOMPARE(FS::indexOfString(u"a"_s, u"aaa"_s, 0, false), -1);
    }

    void chunks()
    {
        QCOMPARE(FS::splitStringIntoCharRangeChunks(u"\u0400a\u0401\u0402b\u01f4"_s),
                 (QStringList{u""_s, u"\u0400"_s, u"a"_s, u"\u0401"_s, u"\u0402"_s, u"b\u01f4"_s}));
        QCOMPARE(FS::removeChunksFrom(u"a<!--x-->b<!--y-->c<!--z"_s, u"<!--"_s, u"-->"_s), u"abc<!--z"_s);
        // A chunk formed by joining the text around a removed one goes too.
        QCOMPARE(FS::removeChunksFrom(u"<<a>a>b"_s, u"<a"_s, u">"_s), u"b"_s);
    }

    void smallConversions()
    {
        QCOMPARE(FS::removeLineBreaks(u"a\r\nb\nc\r"_s), u"abc"_s);
        QCOMPARE(FS::trimWhitespace(u" \t\u00a0a b\n "_s), u"a b\n"_s);
        QCOMPARE(FS::trimWhitespaceAndNewLines(u" \r\n\ta b\u2028\n"_s), u"a b"_s);
        QCOMPARE(FS::trim(u"R:"_s, u"R:R:x"_s), u"R:x"_s);
        QCOMPARE(FS::remove(2, u"abcd"_s), u"ab"_s);
        QCOMPARE(FS::remove(9, u"abcd"_s), u""_s);
        QVERIFY(!FS::stringContainsCharacterAbove(u"ab\u00e9"_s, 0xe9));
        QCOMPARE(FS::stringValueOfObject(QVariant()), u"NIL VALUE"_s);
    }

    void readFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected"); // null: none

        const QString text = u"Gr\u00fc\u00dfe \u20ac \U0001F600\n"_s;
        const auto encoded = [&](QStringConverter::Encoding encoding) {
            return QByteArray(QStringEncoder(encoding)(text));
        };
        QTest::newRow("BOM UTF-8") << "\xEF\xBB\xBF"_ba + text.toUtf8() << text;
        QTest::newRow("BOM UTF-16LE") << "\xFF\xFE"_ba + encoded(QStringConverter::Utf16LE) << text;
        QTest::newRow("BOM UTF-16BE") << "\xFE\xFF"_ba + encoded(QStringConverter::Utf16BE) << text;
        QTest::newRow("BOM UTF-32LE")
            << QByteArray("\xFF\xFE\0\0", 4) + encoded(QStringConverter::Utf32LE) << text;
        QTest::newRow("BOM UTF-32BE")
            << QByteArray("\0\0\xFE\xFF", 4) + encoded(QStringConverter::Utf32BE) << text;
        QTest::newRow("plain UTF-8") << text.toUtf8() << text;
        QTest::newRow("empty") << QByteArray() << u""_s;
        QTest::newRow("Windows-1252") << "caf\xE9 \x80 \x93q\x94"_ba << u"caf\u00e9 \u20ac \u201cq\u201d"_s;
        QTest::newRow("encoded surrogate is Windows-1252") << "a\xED\xA0\x80"_ba << u"a\u00ed\u00a0\u20ac"_s;
        QTest::newRow("UTF-16 odd byte count") << QByteArray::fromHex("fffe610062") << QString();
        QTest::newRow("UTF-16 lone high surrogate") << QByteArray::fromHex("fffe61003dd86200") << QString();
        QTest::newRow("UTF-16 lone low surrogate") << QByteArray("\xFE\xFF\xDC\x00", 4) << QString();
        QTest::newRow("UTF-32 out of range") << QByteArray("\0\0\xFE\xFF\0\x11\0\0", 8) << QString();
        QTest::newRow("BOM UTF-8 then invalid") << "\xEF\xBB\xBF\xFF"_ba << QString();
    }

    void readFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QFile file(dir.filePath(u"in.txt"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QCOMPARE(FS::readFile(file.fileName()), opt(expected));
    }

    void readMissingAndWrite()
    {
        QCOMPARE(FS::readFile(data("missing.txt")), std::nullopt);
        QCOMPARE(FS::readFile(QStringLiteral(BRISKO_TEST_DATA)), std::nullopt);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out.tsv"_s);
        const QString text = u"EMAIL\tNAME\na@b.c\tJ\u00fcrgen \U0001F600\n"_s;
        QCOMPARE(FS::write(u"a much longer earlier content"_s, path), std::nullopt);
        QCOMPARE(FS::write(text, path), std::nullopt);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), text.toUtf8()); // no BOM, earlier content gone

        const auto missingFolder = FS::write(u"x"_s, dir.filePath(u"no/such/folder/out.txt"_s));
        QVERIFY(missingFolder && !missingFolder->isEmpty());
        QVERIFY(FS::write(u"x"_s, dir.path())); // a folder is not a file
    }
};

QTEST_GUILESS_MAIN(TestFennimarStrings)
#include "tst_fennimarstrings.moc"
