#include "FennimarFileSystem.h"
#include "FennimarUserDefaults.h"
#include "FennimarWeb.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
namespace FW = FennimarWeb;

class TestFennimarWeb : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void entityTable()
    {
        const auto table = FW::charactersToEscape();
        QCOMPARE(table.size(), 250);
        QCOMPARE(FW::charactersToEscape(true).size(), 248);
        QVERIFY(!FW::charactersToEscape(true).contains(u"60"_s));
        const QList<std::pair<QString, QString>> telling{{u"34"_s, u"quot"_s},   {u"160"_s, u"nbsp"_s},
                                                         {u"402"_s, u"fnof"_s},  {u"8230"_s, u"hellip"_s},
                                                         {u"8250"_s, u"rsaquo"_s}, {u"62"_s, u"gt"_s}};
        for (const auto &[code, name] : telling)
            QCOMPARE(table.value(code), name);
        QVERIFY(!table.contains(u"38"_s) && !table.contains(u"8364"_s));
    }

    void htmlEntities_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::newRow("markup") << u"a<b & \"c\""_s << u"a&lt;b &amp; &#34;c&#34;"_s;
        QTest::newRow("no-break space") << u"\u00a0"_s << u"&nbsp;"_s;
        QTest::newRow("entity typed as text") << u"&nbsp;"_s << u"&amp;nbsp;"_s;
        QTest::newRow("non-ASCII") << u"caf\u00e9 \u2014 \u03a9\u20ac\u4e2d"_s << u"caf&eacute; &mdash; &Omega;\u20ac\u4e2d"_s;
        // Text that looks like a stand-in for "&" is text like any other.
        QTest::newRow("stand-in look-alike")
            << u"_AMPPLACEHOLDER3434634562345634512310987t67234562323452673_"_s
            << u"_AMPPLACEHOLDER3434634562345634512310987t67234562323452673_"_s;
    }

    void htmlEntities()
    {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QCOMPARE(FW::escapeCharactersForHTML(text), escaped);
    }

    void unescapeHtml()
    {
        QCOMPARE(FW::unEscapeCharactersForHTML(u"&lt;&eacute;&quot;"_s), u"&lt;\u00e9\""_s);
        QCOMPARE(FW::unEscapeCharactersForHTML(u"&amp;&euro;&#34;&Eacute;&EACUTE;&nbsp"_s),
                 u"&amp;&euro;&#34;\u00c9&EACUTE;&nbsp"_s);
        // Every entity but lt and gt comes back as its character.
        const QString all = FW::escapeCharactersForHTML(u"\u00a0\u00ff\u0152\u2030\u27e9\u25ca"_s);
        QCOMPARE(FW::unEscapeCharactersForHTML(all), u"\u00a0\u00ff\u0152\u2030\u27e9\u25ca"_s);
    }

    void percentEscapes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("escapedAll");
        QTest::newRow("example") << u"50% off [now]"_s << u"50%25%20off%20%5bnow%5d"_s << u"50%25%20off%20%5bnow%5d"_s;
        QTest::newRow("line break") << u"a\nb\r"_s << u"a\nb\r"_s << u"a%0ab%0d"_s;
        QTest::newRow("whole set") << u" !\"#$%&'()*+,-[]?<>{}"_s
                                   << u"%20%21%22%23%24%25%26%27%28%29%2a%2b%2c%2d%5b%5d%3f%3c%3e%7b%7d"_s
                                   << u"%20%21%22%23%24%25%26%27%28%29%2a%2b%2c%2d%5b%5d%3f%3c%3e%7b%7d"_s;
        QTest::newRow("kept") << u"a.b/c:d;e=f@g_h~\u00e9"_s << u"a.b/c:d;e=f@g_h~\u00e9"_s
                              << u"a.b/c:d;e=f@g_h~\u00e9"_s;
        QTest::newRow("marker look-alike") << u"_FennimarMagicMarkerInZilk_2d"_s << u"_FennimarMagicMarkerInZilk_2d"_s
                                           << u"_FennimarMagicMarkerInZilk_2d"_s;
    }

    void percentEscapes()
    {
        QFETCH(QString, text);
        QFETCH(QString, escaped);
        QFETCH(QString, escapedAll);
        QCOMPARE(FW::escapeCharactersForHTMLOrHTTP(text), escaped);
        QCOMPARE(FW::escapeAllCharactersForHTMLOrHTTP(text), escapedAll);
        QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(escapedAll), text);
    }

    void percentDecoding()
    {
        QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(u"a%20b"_s), u"a b"_s);
        QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(u"caf%C3%A9"_s), u"caf\u00e9"_s);
        QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(u"\u00e9%20"_s), u"\u00e9 "_s);
        for (const QString &bad : {u"caf%C3"_s, u"%zz"_s, u"100%"_s, u"%e9"_s})
            QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(bad), std::nullopt);
        QCOMPARE(FW::unEscapeCharactersForHTMLOrHTTP(std::nullopt), std::nullopt);
        QTest::ignoreMessage(QtWarningMsg, "FennimarWeb.escapeCharactersForHTMLOrHTTP - Input arg was nil....");
        QCOMPARE(FW::escapeCharactersForHTMLOrHTTP(std::nullopt), QString());
    }

    void urlForms()
    {
        QCOMPARE(FW::urlStringToPath(u"url(file:///tmp/My%20Pic.png)"_s), u"/tmp/My Pic.png"_s);
        QCOMPARE(FW::cleanUpURLlyFilePath(u"url('file:///tmp/a.png')"_s), u"/tmp/a.png"_s);
        QCOMPARE(FW::cleanUpURLlyFilePath(u"'b (1).png')"_s), u"b (1).png"_s);
        QCOMPARE(FW::pathForURL(QUrl::fromLocalFile(u"/tmp/My Pic.png"_s)), u"/tmp/My%20Pic.png"_s);
        QCOMPARE(FW::pathForURL(QUrl(u"https://example.com/a"_s)), u"https://example.com/a"_s);
        QVERIFY(!FW::validateXHTMLAttribute_name(u"1abc"_s) && !FW::validateXHTMLAttribute_id(u"a b"_s));
        QVERIFY(FW::validateXHTMLAttribute_name(u"abc1"_s));
    }

    void sites()
    {
        const QString user = QDir(QDir::homePath()).dirName();
        QCOMPARE(FW::homeSiteURL(), QUrl(u"http://127.0.0.1/~"_s + user + u"/"_s));
        // No online disk is mounted here: no address, whatever the prefix.
        FennimarUserDefaults::setObject(u"http://disk.example/"_s, QString(FW::OnlineDiskSitePrefixKey));
        QCOMPARE(FW::dotMacSiteURL(), std::nullopt);
        QTest::ignoreMessage(QtWarningMsg, "THIS DOES NOT WORK");
        QCOMPARE(FW::findWebBrowsersUsingLaunchServices(), std::nullopt);
    }

    void browsers()
    {
        const QString apps = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
        QVERIFY(QDir().mkpath(apps + u"/web"_s));
        const auto entry = [&](const QString &file, const QByteArray &name) {
            QFile out(apps + u'/' + file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write("[Desktop Entry]\nType=Application\nName=" + name + "\nExec=true\n");
        };
        entry(u"web/Opera.desktop"_s, "Opera browser");
        entry(u"org.example.chromium.desktop"_s, "Chromium");
        entry(u"Firefoxy.desktop"_s, "Firefox Nightly");
        const QStringList found = FW::findWebBrowsers();
        QVERIFY(found.contains(apps + u"/web/Opera.desktop"_s));
        QVERIFY(found.contains(apps + u"/org.example.chromium.desktop"_s));
        QVERIFY(!found.contains(apps + u"/Firefoxy.desktop"_s));
    }
};

QTEST_MAIN(TestFennimarWeb)
#include "tst_fennimarweb.moc"
