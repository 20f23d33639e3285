#include "FennimarColors.h"
#include "FennimarUserDefaults.h"
#include "RidorIvuvud.h"

#include <QApplication>
#include <QColorDialog>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

class TestFennimarColors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void keywordTable()
    {
        const auto table = FennimarColors::namedColors();
        QCOMPARE(table.size(), 140);
        for (auto it = table.cbegin(); it != table.cend(); ++it) {
            QCOMPARE(it.key(), it.key().toLower());
            QVERIFY2(it.value().size() == 7 && it.value().startsWith(u'#') && it.value() == it.value().toLower(),
                     qPrintable(it.key()));
        }
        for (const char *absent : {"darkgrey", "darkslategrey", "dimgrey", "grey", "lightslategrey", "slategrey",
                                   "lightgray"})
            QVERIFY2(!table.contains(QLatin1StringView(absent)), absent);
        QCOMPARE(table.value(u"mediumpurple"_s), u"#9370d8"_s);
        QCOMPARE(table.value(u"palevioletred"_s), u"#d87093"_s);
        QCOMPARE(table.value(u"aqua"_s), table.value(u"cyan"_s));
        QCOMPARE(table.value(u"fuchsia"_s), table.value(u"magenta"_s));
        // The caller's copy is its own.
        auto copy = FennimarColors::namedColors();
        copy.remove(u"red"_s);
        QCOMPARE(FennimarColors::namedColors().value(u"red"_s), u"#ff0000"_s);
    }

    void keywordLookup_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("hex");
        QTest::newRow("AliceBlue") << u"AliceBlue"_s << u"#f0f8ff"_s;
        QTest::newRow("lightgrey") << u"lightgrey"_s << u"#d3d3d3"_s;
        QTest::newRow("lightgray") << u"lightgray"_s << QString();
        QTest::newRow("grey") << u"grey"_s << QString();
    }
    void keywordLookup()
    {
        QFETCH(QString, name);
        QFETCH(QString, hex);
        QCOMPARE(FennimarColors::hexColorForHTMLNamedColor(name).value_or(QString()), hex);
    }

    void colorText_data()
    {
        QTest::addColumn<QColor>("color");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("rgb");
        QTest::addColumn<QString>("rgba");
        QTest::newRow("clear") << QColor(Qt::transparent) << u""_s << u"0,0,0"_s << u"rgba(0,0,0,0.000000)"_s;
        QTest::newRow("red") << QColor::fromRgbF(1, 0, 0) << u"#FF0000"_s << u"255,0,0"_s
                             << u"rgba(255,0,0,1.000000)"_s;
        QTest::newRow("half-red") << QColor::fromRgbF(1, 0, 0, 0.5f) << u"rgba(255,0,0,0.500000)"_s
                                  << u"255,0,0"_s << u"rgba(255,0,0,0.500000)"_s;
        QTest::newRow("truncated") << QColor::fromRgbF(0.999f, 0.5f, 0.25f) << u"#FE7F3F"_s << u"254,127,63"_s
                                   << u"rgba(254,127,63,1.000000)"_s;
        QTest::newRow("grey") << QColor::fromRgbF(0.5f, 0.5f, 0.5f) << u"#7F7F7F"_s << u"127,127,127"_s
                              << u"rgba(127,127,127,1.000000)"_s;
        QTest::newRow("hsv") << QColor::fromHsv(120, 255, 255) << u"#00FF00"_s << u"0,255,0"_s
                             << u"rgba(0,255,0,1.000000)"_s;
        QTest::newRow("8-bit") << QColor(18, 52, 86, 51) << u"rgba(18,52,86,0.200000)"_s << u"18,52,86"_s
                               << u"rgba(18,52,86,0.200000)"_s;
        QTest::newRow("none") << QColor() << u""_s << u"0,0,0"_s << u"rgba(0,0,0,1.000000)"_s;
    }
    void colorText()
    {
        QFETCH(QColor, color);
        QFETCH(QString, html);
        QFETCH(QString, rgb);
        QFETCH(QString, rgba);
        QCOMPARE(FennimarColors::htmlColorForColor(color), html);
        QCOMPARE(FennimarColors::colorToCommaSeparatedRGB(color), rgb);
        QCOMPARE(FennimarColors::colorToCommaSeparatedRGBA(color), rgba);
    }

    // Every 8-bit value survives the trip through QColor's 16-bit channels and back.
    void everyByteRoundTrips()
    {
        for (int v = 0; v < 256; ++v) {
            const QString hex = QString::asprintf("#%02X%02X%02X", v, 255 - v, v / 2);
            QCOMPARE(FennimarColors::htmlColorForColor(*RidorIvuvud::NSColorForHTML(hex)), hex);
        }
    }

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("expected");
        const QColor white = QColor::fromRgbF(1, 1, 1);
        const QColor black = QColor::fromRgbF(0, 0, 0);
        QTest::newRow("#fff") << u"#fff"_s << white;
        QTest::newRow("fff") << u"fff"_s << white;
        QTest::newRow("#ffffff") << u"#ffffff"_s << white;
        QTest::newRow("keyword") << u"White"_s << white;
        QTest::newRow("six without #") << u"102030"_s << QColor(0x10, 0x20, 0x30);
        QTest::newRow("tail ignored") << u"#010203zz"_s << QColor(1, 2, 3);
        QTest::newRow("stops at non-hex") << u"#12345g"_s << QColor(0x01, 0x23, 0x45);
        QTest::newRow("no digits") << u"#zzzzzz"_s << black;
        QTest::newRow("transparent") << u"transparent"_s << QColor::fromRgbF(0, 0, 0, 0);
        QTest::newRow("rgba") << u"rgba(255, 0, 0, 0.5)"_s << QColor::fromRgbF(1, 0, 0, 0.5f);
        QTest::newRow("rgb") << u"rgb(0,128,255)"_s << QColor(0, 128, 255);
        QTest::newRow("rgb two parts") << u"rgb(0,0)"_s << black;
        QTest::newRow("rgb alpha ignored") << u"rgb(0,0,255,0.1)"_s << QColor(0, 0, 255);
        QTest::newRow("out of range clamped") << u"rgba(300,-4,0,7)"_s << QColor(255, 0, 0);
        QTest::newRow("units and words") << u"rgb(10px,abc,20)"_s << QColor(10, 0, 20);
    }
    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QColor, expected);
        const auto color = RidorIvuvud::NSColorForHTML(text);
        QVERIFY(color);
        QCOMPARE(color->rgba64(), expected.rgba64());
        QCOMPARE(color->spec(), QColor::Rgb);
    }

    void parseEdges()
    {
        QVERIFY(!RidorIvuvud::NSColorForHTML(u""_s));
        QCOMPARE(RidorIvuvud::NSColorForHTML(std::nullopt)->rgba64(), QColor(Qt::black).rgba64());

        for (const QString &bad : {u"#12"_s, u"12345"_s}) {
            QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.NSColorForHTML - Invalid HTML color");
            QTest::ignoreMessage(QtWarningMsg, qPrintable(u"HTMLCode:"_s + bad));
            QCOMPARE(RidorIvuvud::NSColorForHTML(bad)->rgba64(), QColor(Qt::black).rgba64());
        }
        // Invalid text is not cached: logged again on the next call.
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.NSColorForHTML - Invalid HTML color");
        QTest::ignoreMessage(QtWarningMsg, "HTMLCode:#12");
        RidorIvuvud::NSColorForHTML(u"#12"_s);
    }

    void cacheIdentity()
    {
        const auto first = RidorIvuvud::NSColorForHTML(u"#abcdef"_s);
        QCOMPARE(RidorIvuvud::NSColorForHTML(u"#abcdef"_s).get(), first.get());
        QCOMPARE(RidorIvuvud::NSColorForHTML(u"abcdef"_s).get(), first.get());
        // Short form and keyword land on the normalised text.
        QCOMPARE(RidorIvuvud::NSColorForHTML(u"#0ff"_s).get(), RidorIvuvud::NSColorForHTML(u"aqua"_s).get());
        QCOMPARE(RidorIvuvud::NSColorForHTML(u"cyan"_s).get(), RidorIvuvud::NSColorForHTML(u"#00ffff"_s).get());
        const auto rgba = RidorIvuvud::NSColorForHTML(u"rgba(1,2,3,0.4)"_s);
        QCOMPARE(RidorIvuvud::NSColorForHTML(u"rgba(1,2,3,0.4)"_s).get(), rgba.get());
        // Fresh objects where nothing is cached.
        QVERIFY(RidorIvuvud::NSColorForHTML(u"transparent"_s).get()
                != RidorIvuvud::NSColorForHTML(u"transparent"_s).get());
        QVERIFY(RidorIvuvud::NSColorForRGBHTML(u"rgb(1,2,3)"_s).get()
                != RidorIvuvud::NSColorForRGBHTML(u"rgb(1,2,3)"_s).get());
    }

    void otherForms()
    {
        QCOMPARE(FennimarColors::RGBColorForHTML(u"#ff8000"_s), (FennimarColors::RGBColor{65535, 32896, 0}));
        QCOMPARE(FennimarColors::RGBColorForHTML(u"rgb(0,0,255)"_s), (FennimarColors::RGBColor{0, 0, 65535}));
        QCOMPARE(FennimarColors::RGBColorForHTML(u""_s), FennimarColors::RGBColor{});
        QCOMPARE(FennimarColors::CGColorForHTML(u"navy"_s), QColor(0, 0, 128));
        QCOMPARE(FennimarColors::CGColorForHTML(u""_s), QColor(0, 0, 0));
        QCOMPARE(FennimarColors::CGColorFromNSColor(QColor::fromCmykF(0, 1, 1, 0)).spec(), QColor::Rgb);

        QColorDialog dialog;
        dialog.setCurrentColor(QColor(0x12, 0x34, 0x56));
        QCOMPARE(RidorIvuvud::htmlColorFor(&dialog), u"#123456"_s);
        QObject plain;
        QCOMPARE(RidorIvuvud::htmlColorFor(&plain), QString());
        QCOMPARE(RidorIvuvud::htmlColorFor(nullptr), QString());
    }

    void swatchIsFilledEdgeToEdge()
    {
        const QImage swatch = FennimarColors::imageSwatchForColor(QColor(10, 200, 30), QSizeF(16, 16));
        QCOMPARE(swatch.size(), QSize(16, 16));
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                QCOMPARE(swatch.pixel(x, y), qRgb(10, 200, 30));
    }

    void fixedAndSystemColors()
    {
        QCOMPARE(FennimarColors::htmlColorForColor(FennimarColors::fairlyDarkGrayColor()), u"#4C4C4C"_s);
        QCOMPARE(FennimarColors::htmlColorForColor(FennimarColors::veryDarkGrayColor()), u"#262626"_s);
        QCOMPARE(FennimarColors::htmlColorForColor(FennimarColors::veryLightGrayColor()), u"#F2F2F2"_s);
        QCOMPARE(FennimarColors::htmlColorForColor(FennimarColors::veryVeryLightGrayColor()), u"#F7F7F7"_s);

        QPalette palette = QApplication::palette();
        palette.setColor(QPalette::Highlight, QColor(200, 20, 20));
        palette.setColor(QPalette::AlternateBase, QColor(240, 241, 242));
        QApplication::setPalette(palette);
        QCOMPARE(FennimarColors::highlightColor(), QColor(200, 20, 20));
        QCOMPARE(FennimarColors::sourceListBackgroundColor(), QColor(240, 241, 242));

        FennimarUserDefaults::setObject(FennimarColors::BlueControlTint, u"ControlTint"_s);
        QVERIFY(!FennimarColors::isInGraphiteMode());
        QCOMPARE(FennimarColors::colorForControlTint(), QColor(200, 20, 20));
        QCOMPARE(FennimarColors::htmlColorForColor(FennimarColors::colorForSourceListHeading()), u"#8C0E0E"_s);

        FennimarUserDefaults::setObject(FennimarColors::GraphiteControlTint, u"ControlTint"_s);
        QVERIFY(FennimarColors::isInGraphiteMode());
        QCOMPARE(FennimarColors::colorForControlTint(), FennimarColors::colorForGraphite());
        QVERIFY(FennimarColors::colorForAqua() != FennimarColors::colorForGraphite());
    }
};

QTEST_MAIN(TestFennimarColors)
#include "tst_fennimarcolors.moc"
