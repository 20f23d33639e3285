#include "Bundle.h"
#include "FennimarStrings.h"
#include "Localization.h"
#include "Localizer.h"
#include "StringsFile.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
using brisko::Localizer;
using Table = QHash<QString, QString>;

namespace {

QString fixtures()
{
    return QStringLiteral(BRISKO_TEST_DATA "/strings-files/resources");
}

// A reader that counts how often each table is read.
struct CountingReader
{
    std::shared_ptr<QHash<QString, int>> reads = std::make_shared<QHash<QString, int>>();

    Localizer::FileReader reader() const
    {
        return [reads = reads](const QString &path) {
            ++(*reads)[path.section(u'/', -2, -2)];
            return FennimarStrings::readFile(path);
        };
    }
    int englishReads() const { return reads->value(u"English.lproj"_s); }
};

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

} // namespace

class TestLocalization : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void parseMalformed_data();
    void parseMalformed();
    void parseLargeTable();

    void lookupByLanguage_data();
    void lookupByLanguage();
    void lookupOrder();
    void englishTableReadOnce();
    void englishTableRetriedAfterFailedRead();
    void keyValueAccess_data();
    void keyValueAccess();
    void installedHook();

    void shippedTables();
};

void TestLocalization::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Table>("expected");

    QTest::newRow("empty") << QString() << Table{};
    QTest::newRow("only comments") << u"/* a */\n// b\n  \t\n"_s << Table{};
    QTest::newRow("no spaces") << u"\"a\"=\"1\";\"b\"=\"2\";"_s
                               << Table{{u"a"_s, u"1"_s}, {u"b"_s, u"2"_s}};
    QTest::newRow("escapes") << u"\"k\\\"ey\" = \"q\\\" b\\\\ n\\n t\\t r\\r \\U00E9\\u00e8 \\'\";"_s
                             << Table{{u"k\"ey"_s, u"q\" b\\ n\n t\t r\r éè '"_s}};
    QTest::newRow("surrogate pair") << u"\"smile\" = \"\\UD83D\\UDE00\";"_s
                                    << Table{{u"smile"_s, u"\U0001F600"_s}};
    QTest::newRow("both comment kinds")
        << u"/* \"x\" = \"y\"; */\n// \"z\" = \"w\";\n\"a\" = \"b\"; // trailing \"c\"\n"
           "/* multi\n line */ \"c\" /* between */ = // here too\n \"d\" ;"_s
        << Table{{u"a"_s, u"b"_s}, {u"c"_s, u"d"_s}};
    QTest::newRow("comment markers inside strings")
        << u"\"a // b\" = \"/* c */\";"_s << Table{{u"a // b"_s, u"/* c */"_s}};
    QTest::newRow("separators inside strings")
        << u"\"a=b;\" = \"x;y = z\";"_s << Table{{u"a=b;"_s, u"x;y = z"_s}};
    QTest::newRow("value over two lines")
        << u"\"a\" = \"one\ntwo\";"_s << Table{{u"a"_s, u"one\ntwo"_s}};
    QTest::newRow("byte-order mark and CRLF")
        << u"\uFEFF\"a\" = \"1\";\r\n\"b\" = \"2\";\r\n"_s
        << Table{{u"a"_s, u"1"_s}, {u"b"_s, u"2"_s}};
    QTest::newRow("later entry wins")
        << u"\"a\" = \"first\";\n\"a\" = \"second\";"_s << Table{{u"a"_s, u"second"_s}};
}

void TestLocalization::parse()
{
    QFETCH(QString, text);
    QFETCH(Table, expected);

    const brisko::StringsFileResult result = brisko::StringsFile::parse(text);
    QVERIFY2(!result.error, qPrintable(result.error ? result.error->toString() : QString()));
    QCOMPARE(result.entries, expected);
}

void TestLocalization::parseMalformed_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<Table>("kept");
    QTest::addColumn<int>("line");

    const Table a{{u"a"_s, u"1"_s}};
    QTest::newRow("missing semicolon") << u"\"a\" = \"1\";\n\"b\" = \"2\"\n\"c\" = \"3\";"_s << a << 2;
    QTest::newRow("missing semicolon at end") << u"\"a\" = \"1\";\n\n\"b\" = \"2\""_s << a << 3;
    QTest::newRow("unterminated value") << u"\"a\" = \"1\";\n\"b\" = \"2;\nc = 3;\n"_s << a << 2;
    QTest::newRow("backslash at end") << u"\"a\" = \"1\";\n\"b\" = \"x\\"_s << a << 2;
    QTest::newRow("unterminated comment") << u"\"a\" = \"1\";\n/* never\nclosed \"b\" = \"2\";"_s << a << 2;
    QTest::newRow("stray text") << u"\"a\" = \"1\";\r\n\r\nhello \"b\" = \"2\";"_s << a << 3;
    QTest::newRow("unquoted key") << u"a = \"1\";"_s << Table{} << 1;
    QTest::newRow("missing equals") << u"\"a\" = \"1\";\n\"b\" \"2\";"_s << a << 2;
    QTest::newRow("missing value") << u"\"a\" = \"1\";\n\"b\" = ;"_s << a << 2;
    QTest::newRow("key at end") << u"\"a\" = \"1\";\n\"b\""_s << a << 2;
    QTest::newRow("short \\U escape") << u"\"a\" = \"1\";\n\"b\" = \"\\U12G4\";"_s << a << 2;
}

void TestLocalization::parseMalformed()
{
    QFETCH(QString, text);
    QFETCH(Table, kept);
    QFETCH(int, line);

    const brisko::StringsFileResult result = brisko::StringsFile::parse(text);
    QCOMPARE(result.entries, kept);
    QVERIFY(result.error);
    QCOMPARE(result.error->line, line);
    QVERIFY(!result.error->message.isEmpty());
}

void TestLocalization::parseLargeTable()
{
    constexpr int count = 20000;
    QString text;
    for (int i = 0; i < count; ++i)
        text += u"/* entry %1 */\n\"Key%1\" = \"Value \\\"%1\\\" \\U00E9\";\n"_s.arg(i);

    QElapsedTimer timer;
    timer.start();
    const brisko::StringsFileResult result = brisko::StringsFile::parse(text);
    // Generous: only a parser that rescans the text per entry gets near this.
    QVERIFY(timer.elapsed() < 5000);
    QVERIFY(!result.error);
    QCOMPARE(result.entries.size(), count);
    QCOMPARE(result.entries.value(u"Key12345"_s), u"Value \"12345\" é"_s);
}

void TestLocalization::lookupByLanguage_data()
{
    QTest::addColumn<QStringList>("languages");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("greeting");

    QTest::newRow("traditional name") << QStringList{u"de"_s} << u"German"_s << u"Hallo"_s;
    QTest::newRow("region falls back to language") << QStringList{u"de-AT"_s} << u"German"_s << u"Hallo"_s;
    QTest::newRow("code folder, UTF-16") << QStringList{u"fr-FR"_s} << u"fr"_s << u"Bonjour, ça va\u00a0?"_s;
    QTest::newRow("code with region") << QStringList{u"es-MX"_s} << u"es_MX"_s << u"Hola"_s;
    QTest::newRow("first language with a table wins")
        << QStringList{u"ja"_s, u"it-IT"_s, u"de"_s, u"fr"_s} << u"German"_s << u"Hallo"_s;
    QTest::newRow("English preferred") << QStringList{u"en-US"_s, u"de"_s} << u"English"_s << u"Hello"_s;
    QTest::newRow("no table: English") << QStringList{u"es"_s} << QString() << u"Hello"_s;
    QTest::newRow("no languages") << QStringList{} << QString() << u"Hello"_s;
}

void TestLocalization::lookupByLanguage()
{
    QFETCH(QStringList, languages);
    QFETCH(QString, folder);
    QFETCH(QString, greeting);

    Localizer localizer(fixtures(), languages);
    QCOMPARE(localizer.localizedStringForKey(u"Greeting"_s), greeting);
    QCOMPARE(localizer.userLanguageFolder().value_or(QString()), folder);
}

void TestLocalization::lookupOrder()
{
    Localizer localizer(fixtures(), {u"de-DE"_s});
    QCOMPARE(localizer.localizedStringForKey(u"Greeting"_s), u"Hallo"_s);
    QCOMPARE(localizer.localizedStringForKey(u"OnlyEnglish"_s), u"Only in English"_s);
    // The German entry equals its key, and still beats the English text.
    QCOMPARE(localizer.localizedStringForKey(u"Untranslated"_s), u"Untranslated"_s);
    QCOMPARE(localizer.localizedStringForKey(u"Not in any table."_s), u"Not in any table."_s);
    QCOMPARE(localizer.localizedStringForKey(u""_s), u""_s);
    QCOMPARE(localizer.localizedStringForKey(QString()), QString());
    QCOMPARE(localizer.localizedStringForKey(std::nullopt), std::nullopt);

    // Without any table every key shows as itself.
    Localizer bare(QStringLiteral(BRISKO_TEST_DATA "/strings-files/no-such-folder"), {u"de"_s});
    QCOMPARE(bare.localizedStringForKey(u"Greeting"_s), u"Greeting"_s);
    QCOMPARE(bare.localizedStringForKey(std::nullopt), std::nullopt);
}

void TestLocalization::englishTableReadOnce()
{
    CountingReader counter;
    Localizer localizer(fixtures(), {u"de"_s}, counter.reader());

    QCOMPARE(localizer.localizedStringForKey(u"Greeting"_s), u"Hallo"_s);
    QCOMPARE(counter.englishReads(), 0);
    for (int i = 0; i < 50; ++i) {
        QCOMPARE(localizer.localizedStringForKey(u"OnlyEnglish"_s), u"Only in English"_s);
        QCOMPARE(localizer.localizedStringForKey(u"Missing %1"_s.arg(i)), u"Missing %1"_s.arg(i));
    }
    QCOMPARE(counter.englishReads(), 1);
    QCOMPARE(counter.reads->value(u"German.lproj"_s), 1);
}

void TestLocalization::englishTableRetriedAfterFailedRead()
{
    int attempts = 0;
    Localizer localizer(fixtures(), {u"de"_s}, [&attempts](const QString &path) -> std::optional<QString> {
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

void TestLocalization::keyValueAccess_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<std::optional<QString>>("value");

    QTest::newRow("underscore") << u"LOCALIZE_Search"_s << std::optional(u"Suchen"_s);
    QTest::newRow("other separator") << u"LOCALIZE:Search"_s << std::optional(u"Suchen"_s);
    QTest::newRow("English fallback") << u"LOCALIZE_OnlyEnglish"_s << std::optional(u"Only in English"_s);
    QTest::newRow("untranslated key") << u"LOCALIZE_Plain words"_s << std::optional(u"Plain words"_s);
    QTest::newRow("prefix alone") << u"LOCALIZE"_s << std::optional(QString());
    QTest::newRow("prefix and separator") << u"LOCALIZE_"_s << std::optional(QString());
    QTest::newRow("lower-case prefix") << u"localize_Search"_s << std::optional<QString>();
    QTest::newRow("other key") << u"Search"_s << std::optional<QString>();
}

void TestLocalization::keyValueAccess()
{
    QFETCH(QString, key);
    QFETCH(std::optional<QString>, value);

    Localizer localizer(fixtures(), {u"de"_s});
    if (!value) {
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable(u"valueForUndefinedKey: this class is not key value coding-compliant for the key "_s + key));
    }
    QCOMPARE(localizer.valueForUndefinedKey(key), value);
}

void TestLocalization::installedHook()
{
    {
        Localizer localizer(fixtures(), {u"de"_s});
        localizer.install();
        QCOMPARE(brisko::localizedString(u"Greeting"_s), u"Hallo"_s);
        QCOMPARE(brisko::tr(u"OnlyEnglish"_s), u"Only in English"_s);
        QCOMPARE(brisko::localizedString(std::nullopt), std::nullopt);
    }
    // A destroyed localizer no longer answers, and nothing dangles.
    QCOMPARE(brisko::localizedString(u"Greeting"_s), u"Greeting"_s);
    QCOMPARE(brisko::localizedString(u""_s), u""_s);
    brisko::setLocalizeFunction({});
}

void TestLocalization::shippedTables()
{
    const QString resources = brisko::Bundle::resourcePath();
    Table tables[2];
    const QString folders[2] = {u"English"_s, u"German"_s};
    for (int i = 0; i < 2; ++i) {
        const QString path = resources + u'/' + folders[i] + u".lproj/Localizable.strings"_s;
        const std::optional<QString> text = FennimarStrings::readFile(path);
        QVERIFY2(text, qPrintable(path));
        const brisko::StringsFileResult result = brisko::StringsFile::parse(*text);
        QVERIFY2(!result.error, qPrintable(folders[i] + u": "_s + result.error.value_or(brisko::StringsFileError{}).toString()));
        tables[i] = result.entries;
    }
    const Table &english = tables[0];
    const Table &german = tables[1];

    QStringList englishKeys = english.keys(), germanKeys = german.keys();
    englishKeys.sort();
    germanKeys.sort();
    QCOMPARE(germanKeys, englishKeys);

    for (auto it = english.cbegin(); it != english.cend(); ++it) {
        QVERIFY2(!it.value().isEmpty() && !german.value(it.key()).isEmpty(), qPrintable(it.key()));
        QVERIFY2(!placeholders(it.value()).contains(u"%"_s), qPrintable(it.key()));
        QCOMPARE(placeholders(german.value(it.key())), placeholders(it.value()));
    }

    const QStringList required = {
        // Dialogs and labels of the program.
        u"OK"_s, u"Cancel"_s, u"Send"_s, u"SendSelected"_s, u"SURETOSEND"_s, u"SURETOSEND_BODY"_s,
        u"FINALSURETOSEND"_s, u"FINALSURETOSEND_BODY"_s, u"NoAuthInfo_Head"_s, u"NoAuthInfo_Sub"_s,
        u"SetupAuth..."_s, u"SendVerificationMessages_Head"_s, u"SendVerificationMessages_Sub"_s,
        u"UserWillGetVerificationMail_Head"_s, u"UserWillGetVerificationMail_Sub"_s,
        u"Max24HrSend:"_s, u"MaxSendRate:"_s, u"SentLast24:"_s, u"Search"_s,
        u"FileExists_Main"_s, u"FileExists_Sub"_s, u"Overwrite"_s, u"Don't Move"_s, u"Don't Copy"_s,
        u"Make Unique"_s,
        // Window, menus and panels.
        u"Subject:"_s, u"From:"_s, u"Reply-To:"_s, u"Return-Path:"_s, u"PlainTextBody"_s, u"HTMLBody"_s,
        u"HTMLPreview"_s, u"InsertPlaceholder"_s, u"Recipients"_s, u"QuotaUnknown"_s, u"File"_s,
        u"Open…"_s, u"OpenRecent"_s, u"Save"_s, u"ImportList…"_s, u"ExportList…"_s, u"Quit"_s,
        u"Edit"_s, u"Undo"_s, u"Redo"_s, u"Cut"_s, u"Copy"_s, u"Paste"_s, u"SelectAll"_s,
        u"Message"_s, u"Bold"_s, u"Italic"_s, u"LineBreak"_s, u"AddRecipient"_s,
        u"RemoveRecipient"_s, u"Verify…"_s, u"Account"_s, u"AccountSettings…"_s, u"CheckQuota"_s,
        u"Statistics…"_s, u"Send…"_s, u"Help"_s, u"BriskoHelp"_s, u"CheckForUpdates"_s,
        u"AboutBrisko"_s, u"Sending"_s, u"%1 of %2"_s, u"AccountSettings"_s, u"AccessKey"_s,
        u"SecretKey"_s, u"Region"_s, u"Endpoint"_s, u"EndpointPlaceholder"_s,
        u"SignatureVersion"_s, u"SignatureV4"_s, u"Signature Version 3 (legacy)"_s,
        u"SMTPSettings"_s, u"SMTPHost"_s, u"SMTPPort"_s, u"SMTPUser"_s, u"SMTPPassword"_s,
        u"Done"_s, u"SendingStatistics"_s, u"Close"_s, u"UnsavedChanges_Head"_s,
        u"UnsavedChanges_Body"_s, u"DontSave"_s, u"SaveFailed_Head"_s, u"SaveFailed_Body"_s,
        u"OpenFailed_Head"_s, u"OpenFailed_Body"_s, u"No files"_s, u"Untitled"_s,
        u"CampaignFiles"_s, u"AboutBrisko_Body"_s,
    };
    for (const QString &key : required)
        QVERIFY2(english.contains(key), qPrintable(key));

    const QList<std::pair<QString, QStringList>> formats = {
        {u"FileExists_Main"_s, {u"%1"_s}},
        {u"UnsavedChanges_Body"_s, {u"%1"_s}},
        {u"SaveFailed_Body"_s, {u"%1"_s, u"%2"_s}},
        {u"OpenFailed_Body"_s, {u"%1"_s, u"%2"_s}},
        {u"%1 of %2"_s, {u"%1"_s, u"%2"_s}},
    };
    for (const auto &[key, expected] : formats)
        QCOMPARE(placeholders(english.value(key)), expected);

    // And the program's own localizer finds them.
    Localizer german_(resources, {u"de-CH"_s});
    QCOMPARE(german_.localizedStringForKey(u"Cancel"_s), u"Abbrechen"_s);
    Localizer english_(resources, {u"en-GB"_s});
    QCOMPARE(english_.valueForUndefinedKey(u"LOCALIZE_Search"_s), u"Search"_s);
}

QTEST_GUILESS_MAIN(TestLocalization)
#include "tst_localization.moc"
