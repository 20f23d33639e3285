#include "Bundle.h"
#include "FennimarStrings.h"
#include "Localization.h"
#include "Localizer.h"
#include "StringsFile.h"

#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using brisko::Localizer;
using Table = QHash<QString, QString>;

namespace {

const QString Fixtures = QStringLiteral(BRISKO_TEST_DATA "/strings-files/resources");

// The %1, %2 ... of a text, sorted; a '%' that starts nothing else is kept as "%".
QStringList placeholders(const QString &text)
{
    static const QRegularExpression pattern(u"%(\\d+)?"_s);
    QStringList found;
    for (const QRegularExpressionMatch &m : pattern.globalMatch(text))
        found.append(m.captured(0));
    found.sort();
    return found;
}

// The table of a shipped strings file; empty when it does not read or parse.
Table shippedTable(const QString &language)
{
    const QString path = brisko::Bundle::resourcePath() + u'/' + language + u".lproj/Localizable.strings"_s;
    const brisko::StringsFileResult result =
        brisko::StringsFile::parse(FennimarStrings::readFile(path).value_or(u"x"_s));
    return result.error ? Table() : result.entries;
}

} // namespace

class TestLocalization : public QObject
{
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Table>("expected"); // for malformed text: what parsed before the fault
        QTest::addColumn<int>("errorLine");  // 0: none
        const Table a{{u"a"_s, u"1"_s}};
        QTest::newRow("escapes") << u"\"k\\\"ey\" = \"q\\\" b\\\\ n\\n t\\t r\\r \\U00E9\\u00e8 \\'\";"_s
                                 << Table{{u"k\"ey"_s, u"q\" b\\ n\n t\t r\r \u00e9\u00e8 '"_s}} << 0;
        QTest::newRow("surrogate pair")
            << u"\"smile\" = \"\\UD83D\\UDE00\";"_s << Table{{u"smile"_s, u"\U0001F600"_s}} << 0;
        QTest::newRow("both comment kinds")
            << u"/* \"x\" = \"y\"; */\n// \"z\" = \"w\";\n\"a\" = \"b\"; // trailing \"c\"\n"
               "/* multi\n line */ \"c\" /* between */ = // here too\n \"d\" ;"_s
            << Table{{u"a"_s, u"b"_s}, {u"c"_s, u"d"_s}} << 0;
        QTest::newRow("markers inside strings")
            << u"\"a // b\" = \"/* c */\";\n\"a=b;\" = \"x;y = z\";"_s
            << Table{{u"a // b"_s, u"/* c */"_s}, {u"a=b;"_s, u"x;y = z"_s}} << 0;
        QTest::newRow("byte-order mark, CRLF, later entry wins")
            << u"\uFEFF\"a\" = \"0\";\r\n\"a\" = \"1\";\r\n"_s << a << 0;
        QTest::newRow("missing semicolon") << u"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";"_s << a << 2;
        QTest::newRow("unterminated value") << u"\"a\" = \"1\";\n\"b\" = \"2;\nc = 3;\n"_s << a << 2;
        QTest::newRow("unterminated comment")
            << u"\"a\" = \"1\";\n/* never\nclosed \"b\" = \"2\";"_s << a << 2;
        QTest::newRow("stray text") << u"\"a\" = \"1\";\r\n\r\nhello \"b\" = \"2\";"_s << a << 3;
        QTest::newRow("unquoted key") << u"a = \"1\";"_s << Table{} << 1;
        QTest::newRow("short \\U escape") << u"\"a\" = \"1\";\n\"b\" = \"\\U12G4\";"_s << a << 2;
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(Table, expected);
        QFETCH(int, errorLine);
        const brisko::StringsFileResult result = brisko::StringsFile::parse(text);
        QCOMPARE(result.entries, expected);
        QCOMPARE(result.error.value_or(brisko::StringsFileError{}).line, errorLine);
        QVERIFY(!result.error || !result.error->message.isEmpty());
    }

    void lookupByLanguage_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("greeting");
        QTest::newRow("region falls back to language")
            << QStringList{u"de-AT"_s} << u"German"_s << u"Hallo"_s;
        QTest::newRow("code folder, UTF-16")
            << QStringList{u"fr-FR"_s} << u"fr"_s << u"Bonjour, \u00e7a va\u00a0?"_s;
        QTest::newRow("code with region") << QStringList{u"es-MX"_s} << u"es_MX"_s << u"Hola"_s;
        QTest::newRow("first language with a table wins")
            << QStringList{u"ja"_s, u"it-IT"_s, u"de"_s, u"fr"_s} << u"German"_s << u"Hallo"_s;
        QTest::newRow("English preferred") << QStringList{u"en-US"_s, u"de"_s} << u"English"_s << u"Hello"_s;
        QTest::newRow("no table: English") << QStringList{u"es"_s} << QString() << u"Hello"_s;
    }

    void lookupByLanguage()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, folder);
        QFETCH(QString, greeting);
        Localizer localizer(Fixtures, languages);
        QCOMPARE(localizer.localizedStringForKey(u"Greeting"_s), greeting);
        QCOMPARE(localizer.userLanguageFolder().value_or(QString()), folder);
    }

    // User language, then English (read once, on the first miss), then the key itself.
    void lookupOrder()
    {
        QHash<QString, int> reads;
        Localizer localizer(Fixtures, {u"de-DE"_s}, [&reads](const QString &path) {
            ++reads[path.section(u'/', -2, -2)];
            return FennimarStrings::readFile(path);
        });
        QCOMPARE(localizer.localizedStringForKey(u"Greeting"_s), u"Hallo"_s);
        QCOMPARE(reads.value(u"English.lproj"_s), 0);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(localizer.localizedStringForKey(u"OnlyEnglish"_s), u"Only in English"_s);
            QCOMPARE(localizer.localizedStringForKey(u"Not in any table."_s), u"Not in any table."_s);
        }
        QCOMPARE(reads, (QHash<QString, int>{{u"German.lproj"_s, 1}, {u"English.lproj"_s, 1}}));
        // The German entry equals its key, and still beats the English text.
        QCOMPARE(localizer.localizedStringForKey(u"Untranslated"_s), u"Untranslated"_s);
        QCOMPARE(localizer.localizedStringForKey(std::nullopt), std::nullopt);

        // Without any table every key shows as itself.
        Localizer bare(QStringLiteral(BRISKO_TEST_DATA "/strings-files/no-such-folder"), {u"de"_s});
        QCOMPARE(bare.localizedStringForKey(u"Greeting"_s), u"Greeting"_s);
        QCOMPARE(bare.localizedStringForKey(std::nullopt), std::nullopt);
    }

    // An English table that failed to read is not kept as empty: the next miss tries again.
    void englishTableRetriedAfterFailedRead()
    {
        int attempts = 0;
        Localizer localizer(Fixtures, {u"de"_s}, [&attempts](const QString &path) -> std::optional<QString> {
            if (path.contains(u"English.lproj"_s) && ++attempts == 1)
                return std::nullopt;
            return FennimarStrings::readFile(path);
        });
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"could not read .*English.lproj"_s));
        QCOMPARE(localizer.localizedStringForKey(u"OnlyEnglish"_s), u"OnlyEnglish"_s);
        QCOMPARE(localizer.localizedStringForKey(u"OnlyEnglish"_s), u"Only in English"_s);
        QCOMPARE(localizer.localizedStringForKey(u"Elsewhere"_s), u"Elsewhere"_s);
        QCOMPARE(attempts, 2);
    }

    // Any separator after the prefix; anything else is logged and answered with none.
    void keyValueAccess()
    {
        Localizer localizer(Fixtures, {u"de"_s});
        QCOMPARE(localizer.valueForUndefinedKey(u"LOCALIZE_Search"_s), u"Suchen"_s);
        QCOMPARE(localizer.valueForUndefinedKey(u"LOCALIZE:Search"_s), u"Suchen"_s);
        QCOMPARE(localizer.valueForUndefinedKey(u"LOCALIZE"_s), u""_s);
        QTest::ignoreMessage(QtWarningMsg, "valueForUndefinedKey: this class is not key value "
                                           "coding-compliant for the key localize_Search");
        QCOMPARE(localizer.valueForUndefinedKey(u"localize_Search"_s), std::nullopt);
    }

    void installedHook()
    {
        {
            Localizer localizer(Fixtures, {u"de"_s});
            localizer.install();
            QCOMPARE(brisko::localizedString(u"Greeting"_s), u"Hallo"_s);
            QCOMPARE(brisko::tr(u"OnlyEnglish"_s), u"Only in English"_s);
        }
        // A destroyed localizer no longer answers, and nothing dangles.
        QCOMPARE(brisko::localizedString(u"Greeting"_s), u"Greeting"_s);
        brisko::setLocalizeFunction({});
    }

    void shippedTables()
    {
        const Table english = shippedTable(u"English"_s), german = shippedTable(u"German"_s);
        QVERIFY(!english.isEmpty());
        QStringList englishKeys = english.keys(), germanKeys = german.keys();
        englishKeys.sort();
        germanKeys.sort();
        QCOMPARE(germanKeys, englishKeys);
        for (auto it = english.cbegin(); it != english.cend(); ++it) {
            QVERIFY2(!it.value().isEmpty() && !german.value(it.key()).isEmpty(), qPrintable(it.key()));
            QVERIFY2(!placeholders(it.value()).contains(u"%"_s), qPrintable(it.key()));
            QCOMPARE(placeholders(german.value(it.key())), placeholders(it.value()));
        }
        QCOMPARE(Localizer(brisko::Bundle::resourcePath(), {u"en-GB"_s})
                     .valueForUndefinedKey(u"LOCALIZE_Search"_s),
                 u"Search"_s);
    }
};

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
