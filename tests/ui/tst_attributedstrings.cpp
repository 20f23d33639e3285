#include "FennimarAttributedStrings.h"
#include "FennimarAttributedStringsAdditions.h"
#include "FennimarColors.h"
#include "GraphicsContext.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QTest>

using namespace Qt::StringLiterals;
namespace FAS = FennimarAttributedStrings;
namespace Add = FennimarAttributedStringsAdditions;
using Style = std::optional<ParagraphStyle>;
using Kern = std::optional<qreal>;
using ShadowOpt = std::optional<Shadow>;

namespace {

QFont systemFont(qreal points, bool bold = false)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

QFont testFont()
{
    QFont font(u"DejaVu Sans"_s);
    font.setPointSizeF(12);
    return font;
}

QColor white(float level)
{
    return QColor::fromRgbF(level, level, level, 1);
}

// The ink of what the drawing paints on a 200 × 200 surface, as a y-up rectangle.
template <typename Draw> QRectF inkOf(Draw draw)
{
    QImage image(200, 200, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        GraphicsContext context(painter, image.height());
        draw(context);
    }
    int left = 200, right = -1, low = 200, high = -1;
    for (int y = 0; y < 200; ++y) {
        for (int x = 0; x < 200; ++x) {
            if (image.pixelColor(x, y).alpha() < 100)
                continue;
            const int yUp = 199 - y;
            left = std::min(left, x), right = std::max(right, x);
            low = std::min(low, yUp), high = std::max(high, yUp);
        }
    }
    return right < 0 ? QRectF() : QRectF(left, low, right - left + 1, high - low + 1);
}

} // namespace

class TestAttributedStrings : public QObject
{
    Q_OBJECT

private slots:
    void styles_data()
    {
        QTest::addColumn<StyledText>("text");
        QTest::addColumn<QFont>("font");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<Style>("paragraphStyle");
        QTest::addColumn<Kern>("kern");
        QTest::addColumn<ShadowOpt>("shadow");
        QTest::addColumn<bool>("underline");
        const QColor red(Qt::red);
        const Style none;
        const Style left = ParagraphStyle{ParagraphStyle::Left};
        const Style centre = ParagraphStyle{ParagraphStyle::Centre};
        const QColor heading = FennimarColors::colorForSourceListHeading();

        // Short forms through the core constructor: kern 0 always, no paragraph style without alignment.
        QTest::newRow("font and colour") << FAS::attributedString(u"x"_s, testFont(), red) << testFont()
                                         << red << none << Kern(0) << ShadowOpt() << false;
        QTest::newRow("with shadow") << FAS::attributedString(u"x"_s, testFont(), red, true) << testFont()
                                     << red << none << Kern(0) << ShadowOpt(Shadow{Qt::black, {2, -2}, 4})
                                     << false;
        QTest::newRow("bold, default size") << FAS::boldAttributedString(u"x"_s, red) << systemFont(9, true)
                                            << red << none << Kern(0) << ShadowOpt() << false;
        QTest::newRow("bold, 14") << FAS::boldAttributedString(u"x"_s, red, 14) << systemFont(14, true) << red
                                  << none << Kern(0) << ShadowOpt() << false;
        QTest::newRow("colour only") << FAS::attributedStringColor(u"x"_s, red) << systemFont(9) << red
                                     << none << Kern(0) << ShadowOpt() << false;

        // Headings: through the constructor, the heading colour by default.
        QTest::newRow("source list heading")
            << FAS::attributedStringForSourceListHeading(u"x"_s) << systemFont(10, true) << heading << left
            << Kern(0) << ShadowOpt() << false;
        QTest::newRow("large heading, centred")
            << FAS::attributedStringForSourceListLargeHeading(u"x"_s, red, 2) << systemFont(12, true) << red
            << centre << Kern(0) << ShadowOpt() << false;
        QTest::newRow("small heading, no alignment")
            << FAS::attributedStringForSourceListSmallHeading(u"x"_s, std::nullopt, -1) << systemFont(8, true)
            << heading << none << Kern(0) << ShadowOpt() << false;
        QTest::newRow("styles list heading")
            << FAS::attributedStringForStylesListHeading(u"x"_s, red, 2) << systemFont(11, true) << red
            << centre << Kern(0) << ShadowOpt() << false;

        // The others carry only what they name: no kern.
        QTest::newRow("blue bar") << FAS::attributedStringForBlueBar(u"x"_s) << systemFont(9, true)
                                  << QColor(Qt::black) << none << Kern()
                                  << ShadowOpt(Shadow{Qt::white, {0, 0}, 4}) << false;
        QTest::newRow("link") << FAS::attributedStringForLink(u"x"_s) << systemFont(11) << QColor(Qt::blue)
                              << none << Kern() << ShadowOpt() << true;
        QTest::newRow("palette note") << FAS::attributedStringForPaletteNote(u"x"_s, 2) << systemFont(8.5)
                                      << white(0.3f) << centre << Kern() << ShadowOpt() << false;
        QTest::newRow("palette label") << FAS::attributedStringForPaletteLabel(u"x"_s, 0) << systemFont(9.5)
                                       << white(0.3f) << left << Kern() << ShadowOpt() << false;
        QTest::newRow("palette label, coloured")
            << FAS::attributedStringForPaletteLabel(u"x"_s, 2, red) << systemFont(9.5) << red << centre
            << Kern() << ShadowOpt() << false;
        QTest::newRow("navigator") << FAS::attributedStringForNavigator(u"x"_s, false, false)
                                   << systemFont(8.5, true) << white(1.0f / 3) << none << Kern()
                                   << ShadowOpt() << false;
        QTest::newRow("navigator, selected alternative")
            << FAS::attributedStringForNavigator(u"x"_s, true, true) << systemFont(8) << QColor(Qt::white)
            << none << Kern() << ShadowOpt() << false;
        QTest::newRow("HUD label") << FAS::attributedStringForHUDLabel(u"x"_s, 0) << systemFont(10)
                                   << white(2.0f / 3) << left << Kern() << ShadowOpt() << false;
        QTest::newRow("line ending") << FAS::attributedLineEndingWithFont(std::nullopt) << systemFont(10)
                                     << QColor(Qt::black) << none << Kern() << ShadowOpt() << false;
    }
    void styles()
    {
        QFETCH(StyledText, text);
        QFETCH(QFont, font);
        QFETCH(QColor, color);
        QFETCH(Style, paragraphStyle);
        QFETCH(Kern, kern);
        QFETCH(ShadowOpt, shadow);
        QFETCH(bool, underline);
        QCOMPARE(text.runs().size(), 1);
        const TextAttributes attributes = *text.attributesAt(0);
        QCOMPARE(attributes.font, font);
        QCOMPARE(attributes.foreground, std::optional<QColor>(color));
        QCOMPARE(attributes.paragraphStyle, paragraphStyle);
        QCOMPARE(attributes.kern, kern);
        QCOMPARE(attributes.shadow, shadow);
        QCOMPARE(attributes.underline, underline);
    }

    void lineEndings()
    {
        StyledText text = FAS::attributedString(u"a"_s, testFont(), Qt::red);
        FAS::appendAttributedLineEndingWithFont(testFont(), text);
        FAS::appendLineEnding(text);
        QCOMPARE(text.text(), u"a\r\r"_s);
        QCOMPARE(text.attributesAt(1)->font, testFont());
        QCOMPARE(text.attributesAt(2)->font, systemFont(10));
        QCOMPARE(text.attributesAt(2)->foreground, std::optional<QColor>(Qt::black));
    }

    void truncation()
    {
        const StyledText plain = FAS::attributedString(u"abcdefgh"_s, testFont(), Qt::black);
        StyledText text = plain;
        text.setAttributes(*FAS::attributedString(u"e"_s, testFont(), Qt::red).attributesAt(0), 4, 4);
        const StyledText fourAndEllipsis = FAS::attributedString(u"abcd\u2026"_s, testFont(), Qt::black);
        const qreal width = fourAndEllipsis.size().width();

        const StyledText cut = FAS::truncate(text, width + 0.01);
        QCOMPARE(cut.text(), u"abcd\u2026"_s);
        QCOMPARE(cut.attributesAt(4)->foreground,
                 std::optional<QColor>(Qt::red)); // the first cut character's
        QCOMPARE(FAS::truncate(text, width - 0.5).text(), u"abc\u2026"_s);
        QCOMPARE(FAS::truncate(text, text.size().width()), text); // fits: unchanged
        QVERIFY(FAS::truncate(text, 0).isEmpty());
        QVERIFY(FAS::truncate(text, 1).isEmpty()); // not even a\u2026 fits
        QVERIFY(FAS::truncate(FAS::attributedString(u"W"_s, testFont(), Qt::black), 1).isEmpty());
        QCOMPARE(FAS::truncate(FAS::attributedString(QString(5000, u'x'), testFont(), Qt::black), 100)
                         .size()
                         .width() <= 100,
                 true);
    }

    void replaceAll_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("replacement");
        QTest::addColumn<int>("options");
        QTest::addColumn<qsizetype>("location");
        QTest::addColumn<qsizetype>("length");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("result");
        QTest::newRow("both") << u"aa"_s << u"a"_s << u"b"_s << 0 << qsizetype(0) << qsizetype(2) << 2
                              << u"bb"_s;
        QTest::newRow("longer") << u"a-a-a"_s << u"a"_s << u"xyz"_s << 0 << qsizetype(0) << qsizetype(5) << 3
                                << u"xyz-xyz-xyz"_s;
        QTest::newRow("absent") << u"abc"_s << u"z"_s << u"y"_s << 0 << qsizetype(0) << qsizetype(3) << 0
                                << u"abc"_s;
        QTest::newRow("replacement holds the target")
            << u"aaa"_s << u"a"_s << u"aa"_s << 0 << qsizetype(0) << qsizetype(3) << 3 << u"aaaaaa"_s;
        QTest::newRow("shorter") << u"abab-ab"_s << u"ab"_s << u""_s << 0 << qsizetype(0) << qsizetype(7) << 3
                                 << u"-"_s;
        QTest::newRow("inside a range")
            << u"aaaaa"_s << u"a"_s << u"b"_s << 0 << qsizetype(1) << qsizetype(3) << 3 << u"abbba"_s;
        QTest::newRow("range past the end")
            << u"aaa"_s << u"a"_s << u"b"_s << 0 << qsizetype(2) << qsizetype(50) << 1 << u"aab"_s;
        QTest::newRow("case-insensitive") << u"aAa"_s << u"A"_s << u"b"_s << Add::CaseInsensitiveSearch
                                          << qsizetype(0) << qsizetype(3) << 3 << u"bbb"_s;
        QTest::newRow("anchored") << u"aba"_s << u"a"_s << u"c"_s << Add::AnchoredSearch << qsizetype(0)
                                  << qsizetype(3) << 1 << u"cba"_s;
        QTest::newRow("empty target")
            << u"abc"_s << u""_s << u"x"_s << 0 << qsizetype(0) << qsizetype(3) << 0 << u"abc"_s;
    }
    void replaceAll()
    {
        QFETCH(QString, text);
        QFETCH(QString, target);
        QFETCH(QString, replacement);
        QFETCH(int, options);
        QFETCH(qsizetype, location);
        QFETCH(qsizetype, length);
        QFETCH(int, count);
        QFETCH(QString, result);
        StyledText styled = FAS::attributedString(text, testFont(), Qt::black);
        QCOMPARE(Add::replaceOccurrencesOfString(styled, target, replacement, options, {location, length}),
                 count);
        QCOMPARE(styled.text(), result);
    }

    void replacementAttributes()
    {
        StyledText text = FAS::attributedString(u"a-"_s, testFont(), Qt::black) +
                          FAS::attributedString(u"a"_s, testFont(), Qt::red);
        StyledText plain = text;
        QCOMPARE(Add::replaceOccurrencesOfString(plain, u"a"_s, u"xy"_s, 0, {0, 3}), 2);
        QCOMPARE(plain.attributesAt(0)->foreground, std::optional<QColor>(Qt::black));
        QCOMPARE(plain.attributesAt(4)->foreground, std::optional<QColor>(Qt::red));

        TextAttributes blue;
        blue.font = testFont();
        blue.foreground = QColor(Qt::blue);
        QCOMPARE(Add::replaceOccurrencesOfStringAttributes(text, u"a"_s, u"xy"_s, blue, 0, {0, 3}), 2);
        QCOMPARE(text.text(), u"xy-xy"_s);
        QCOMPARE(text.attributesAt(0)->foreground, std::optional<QColor>(Qt::blue));
        QCOMPARE(text.attributesAt(4)->foreground, std::optional<QColor>(Qt::blue));
        QCOMPARE(text.attributesAt(2)->foreground, std::optional<QColor>(Qt::black));
    }

    void htmlIsPlainText()
    {
        QFont bold = testFont();
        bold.setBold(true);
        const StyledText text =
            FAS::concatAttributedStrings(FAS::attributedString(u"A"_s, bold, Qt::black),
                                         FAS::attributedString(u"<b"_s, testFont(), Qt::black));
        QCOMPARE(text.runs().size(), 2);
        QCOMPARE(FAS::htmlForAttributedString(text), u"A<b"_s);
    }

    void imageAttachment()
    {
        QImage image(16, 12, QImage::Format_ARGB32);
        image.fill(Qt::red);
        const StyledText text = FAS::attributedStringWithImage(image);
        QCOMPARE(text.text(), QString(QChar(0xFFFC)));
        const TextAttachment attachment = *text.attributesAt(0)->attachment;
        QCOMPARE(attachment.fileName, u"image.tiff"_s);
        QCOMPARE(attachment.preferredFileName, u"image.tiff"_s);
        QVERIFY(attachment.contents.startsWith("II*") || attachment.contents.startsWith("MM"));
        QVERIFY(text.size().width() >= 16 && text.size().height() >= 12); // laid out as the image

        image.setText(u"Name"_s, u"logo"_s);
        QCOMPARE(FAS::attributedStringWithImage(image).attributesAt(0)->attachment->fileName, u"logo.tiff"_s);
    }

    void drawingAtPoints_data()
    {
        QTest::addColumn<int>("alignment");
        QTest::newRow("starts at the point") << 0;
        QTest::newRow("ends at the point") << 1;
        QTest::newRow("centred on the point") << 2;
        QTest::newRow("unknown: nothing") << 5;
    }
    void drawingAtPoints()
    {
        QFETCH(int, alignment);
        const StyledText text = FAS::attributedString(u"HHHH"_s, testFont(), Qt::black);
        const QRectF ink =
            inkOf([&](GraphicsContext &c) { FAS::drawString(c, text, QPointF(100, 50), alignment); });
        if (alignment > 2) {
            QVERIFY(ink.isNull());
            return;
        }
        // The ink of an H lies a point or two inside its advance.
        const qreal edge[] = {ink.left(), ink.right(), ink.center().x()};
        QVERIFY2(qAbs(edge[alignment] - 100) <= 3, qPrintable(QString::number(edge[alignment])));
        QVERIFY(ink.bottom() > 50 && ink.top() < 50 + text.size().height()); // above the point, y up
    }

    void drawingCentredAndRotated()
    {
        const StyledText text = FAS::attributedString(u"HHHH"_s, testFont(), Qt::black);
        const QRectF box(20, 40, 160, 100);
        QRectF ink = inkOf(
            [&](GraphicsContext &c) { FAS::drawAttributedStringCenteredVerticalyInRect(c, text, box); });
        QVERIFY(qAbs(ink.center().y() - box.center().y()) <= 3);
        QVERIFY(qAbs(ink.left() - box.left()) <= 3);
        ink = inkOf([&](GraphicsContext &c) {
            FAS::drawAttributedStringCenteredVerticalyInRect(c, text, box, true);
        });
        QVERIFY(qAbs(ink.center().x() - box.center().x()) <= 3);

        // Turned a quarter counter-clockwise about the point: the text runs up from it, to its left.
        ink = inkOf(
            [&](GraphicsContext &c) { FAS::drawAttributedStringAtPoint(c, text, QPointF(100, 60), 90); });
        QVERIFY2(ink.right() <= 101 && ink.left() > 100 - text.size().height() - 1,
                 qPrintable(QString::number(ink.left())));
        QVERIFY(ink.top() >= 59 && ink.bottom() > 60 + text.size().width() / 2);
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestAttributedStrings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_attributedstrings.moc"
