#include "FennimarAttributedStrings.h"
#include "StyledText.h"

#include <QFontDatabase>
#include <QPainter>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

using namespace Qt::StringLiterals;
namespace FAS = FennimarAttributedStrings;
using Style = std::optional<ParagraphStyle>;

namespace {

QFont testFont(qreal points = 12)
{
    QFont font(u"DejaVu Sans"_s);
    font.setPointSizeF(points);
    return font;
}

Qt::Alignment horizontal(const QTextBlock &block)
{
    return block.blockFormat().alignment() & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter);
}

QTextCharFormat formatOfCharacter(QTextDocument &document, int position)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

// Where the ink of text drawn with a green pen into (10, 10, 180, 40) lies, each pixel
// weighted by its opacity (null for no ink), and its most opaque pixel.
std::pair<QPointF, QRgb> drawn(const StyledText &text)
{
    QImage image(200, 60, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(QColor(0, 255, 0));
    text.draw(painter, QRectF(10, 10, 180, 40));
    QPointF sum;
    qreal weight = 0;
    QRgb strongest = 0;
    for (int i = 0; i < image.width() * image.height(); ++i) {
        const QPoint at(i % image.width(), i / image.width());
        const QRgb pixel = image.pixel(at);
        sum += qAlpha(pixel) * QPointF(at);
        weight += qAlpha(pixel);
        strongest = qAlpha(pixel) > qAlpha(strongest) ? pixel : strongest;
    }
    return {weight > 0 ? sum / weight : QPointF(), strongest};
}

} // namespace

class TestStyledText : public QObject
{
    Q_OBJECT

private slots:
    void constructorAttributes_data()
    {
        QTest::addColumn<StyledText>("text");
        QTest::addColumn<Style>("paragraphStyle");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<qreal>("kern");
        const QFont font = testFont();
        const QColor red(Qt::red);
        QTest::newRow("short form") << FAS::attributedString(u"Hi"_s, font, red) << Style() << false << 0.0;
        QTest::newRow("short immutable form") << FAS::immutableAttributedString(u"Hi"_s, font, red)
                                              << Style(ParagraphStyle{ParagraphStyle::Left}) << false << 0.0;
        QTest::newRow("shadow, centred, kerned")
            << FAS::attributedString(u"Hi"_s, font, red, true, ParagraphStyle::Centre, std::nullopt, 1.5)
            << Style(ParagraphStyle{ParagraphStyle::Centre}) << true << 1.5;
        QTest::newRow("style alone") << FAS::attributedString(u"Hi"_s, font, red, false, -1,
                                                              ParagraphStyle{2}, 0)
                                     << Style(ParagraphStyle{ParagraphStyle::Centre}) << false << 0.0;
    }

    void constructorAttributes()
    {
        QFETCH(StyledText, text);
        QFETCH(Style, paragraphStyle);
        QFETCH(bool, shadow);
        QFETCH(qreal, kern);
        QCOMPARE(text.runs().size(), 1);
        QCOMPARE(text.runs().first().length, 2);
        const TextAttributes &attributes = text.runs().first().attributes;
        QCOMPARE(attributes.foreground, std::optional<QColor>(QColor(Qt::red)));
        QCOMPARE(attributes.font, testFont());
        QCOMPARE(attributes.kern, std::optional<qreal>(kern));
        QCOMPARE(attributes.paragraphStyle, paragraphStyle);
        QCOMPARE(attributes.shadow,
                 shadow ? std::optional<Shadow>(Shadow{Qt::black, QPointF(2, -2), 4}) : std::nullopt);
    }

    void missingFontAndString()
    {
        // Alignment and a style together: the style wins, with its warning.
        QTest::ignoreMessage(QtWarningMsg,
                             "Alignment will be overriden by whatever is in your paragraph Style.");
        const StyledText both =
            FAS::attributedString(u"x"_s, testFont(), std::nullopt, false, 2, ParagraphStyle{1}, 0);
        QCOMPARE(both.attributesAt(0)->paragraphStyle, Style(ParagraphStyle{ParagraphStyle::Right}));

        QTest::ignoreMessage(QtWarningMsg, "FennimarAttributedStrings - FONT IS NIL");
        const StyledText text = FAS::attributedString(u"abc"_s, std::nullopt, std::nullopt);
        QFont expected = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        expected.setPointSizeF(10);
        QCOMPARE(text.attributesAt(0)->font, expected);
        QCOMPARE(text.attributesAt(0)->foreground, std::nullopt);

        const StyledText empty = FAS::immutableAttributedString(std::nullopt, testFont(), QColor(Qt::blue));
        QVERIFY(empty.runs().isEmpty());
        QCOMPARE(empty.toHtml(), QString());
    }

    void appendAndReplace()
    {
        const auto run = [](const QString &text, Qt::GlobalColor color) {
            return FAS::attributedString(text, testFont(), QColor(color));
        };
        StyledText line = run(u"ab"_s, Qt::red) + run(u"cd"_s, Qt::blue);
        line += run(u"ef"_s, Qt::blue);
        QCOMPARE(line.runs().size(), 2); // the blue runs merge
        // Replaced text takes the first replaced character's attributes, inserted text the
        // character's before it (at the start the one after).
        line.replace(3, 3, QString(QChar(0x2026)));
        line.replace(2, 0, u"X"_s);
        line.replace(0, 0, u"Y"_s);
        QCOMPARE(line, run(u"YabX"_s, Qt::red) + run(u"c\u2026"_s, Qt::blue));
    }

    void htmlAndDocument()
    {
        QFont bold = testFont(13);
        bold.setBold(true);
        StyledText text = FAS::attributedString(u"<b & c>  x"_s, bold, QColor(255, 0, 0), false,
                                                ParagraphStyle::Centre, std::nullopt, 3);
        text += FAS::immutableAttributedString(u"\nright\r\n\nend"_s, testFont(9), QColor(0, 0, 255, 128),
                                               false, ParagraphStyle::Right);

        // The HTML, read back by Qt, and the document built directly say the same.
        QTextDocument fromHtml;
        fromHtml.setHtml(text.toHtml());
        const std::unique_ptr<QTextDocument> built = text.toTextDocument();
        for (QTextDocument *document : {&fromHtml, built.get()}) {
            QCOMPARE(document->toPlainText(), u"<b & c>  x\nright\n\nend"_s);
            QCOMPARE(horizontal(document->firstBlock()), Qt::Alignment(Qt::AlignHCenter));
            QCOMPARE(horizontal(document->findBlockByNumber(1)), Qt::Alignment(Qt::AlignRight));

            const QTextCharFormat first = formatOfCharacter(*document, 0);
            QCOMPARE(first.fontFamilies().toStringList().value(0), u"DejaVu Sans"_s);
            QCOMPARE(first.fontPointSize(), 13.0);
            QCOMPARE(first.fontWeight(), int(QFont::Bold));
            QCOMPARE(first.foreground().color(), QColor(255, 0, 0));
            QCOMPARE(first.fontLetterSpacingType(), QFont::AbsoluteSpacing);
            QCOMPARE(first.fontLetterSpacing(), 3.0);

            const QTextCharFormat later = formatOfCharacter(*document, 12);
            QCOMPARE(later.fontPointSize(), 9.0);
            QCOMPARE(later.foreground().color(), QColor(0, 0, 255, 128));
        }
    }

    // Without a colour the text takes the painter's pen; invisible shadowed text leaves
    // only its shadow, black, two pixels right and down.
    void drawingPaintsTextAndShadow()
    {
        const auto [text, pen] = drawn(FAS::attributedString(u"Brisko"_s, testFont(16), std::nullopt));
        QVERIFY(QRectF(10, 10, 180, 40).contains(text));
        QCOMPARE(pen, qRgba(0, 255, 0, 255));
        const auto [shadow, ink] =
            drawn(FAS::attributedString(u"Brisko"_s, testFont(16), QColor(255, 255, 255, 0), true));
        QVERIFY(qAbs(shadow.x() - text.x() - 2) < 0.4 && qAbs(shadow.y() - text.y() - 2) < 0.4);
        QVERIFY(qAlpha(ink) > 0);
        QCOMPARE(ink & 0xffffff, 0u);
    }
};

QTEST_MAIN(TestStyledText)
#include "tst_styledtext.moc"
