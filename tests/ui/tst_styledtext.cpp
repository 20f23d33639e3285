#include "FennimarAttributedStrings.h"
#include "FennimarColors.h"
#include "FennimarControls.h"
#include "FennimarImaging.h"
#include "StyledText.h"

#include <QDir>
#include <QFontDatabase>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QTemporaryDir>
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

QImage drawn(const StyledText &text, const QSize &size = QSize(200, 60))
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(QColor(0, 255, 0));
    text.draw(painter, QRectF(10, 10, size.width() - 20, size.height() - 20));
    return image;
}

// Centre of the ink, each pixel weighted by its opacity; a null point for no ink.
QPointF inkCentre(const QImage &image)
{
    qreal sum = 0, x = 0, y = 0;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            const qreal weight = qAlpha(image.pixel(column, row));
            sum += weight;
            x += weight * column;
            y += weight * row;
        }
    }
    return sum > 0 ? QPointF(x / sum, y / sum) : QPointF();
}

// The most opaque pixel.
QRgb strongestPixel(const QImage &image)
{
    QRgb strongest = 0;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            if (qAlpha(image.pixel(column, row)) > qAlpha(strongest))
                strongest = image.pixel(column, row);
        }
    }
    return strongest;
}

} // namespace

class TestStyledText : public QObject
{
    Q_OBJECT

private slots:
    void constructorAttributes_data();
    void constructorAttributes();
    void missingFontAndString();
    void appendAndReplace();
    void htmlRoundTrip();
    void documentFormats();
    void drawingPaintsTextAndShadow();
    void removeAllMenuItems();
    void imageNamedAndGrey();
};

void TestStyledText::constructorAttributes_data()
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
    QTest::newRow("style alone") << FAS::attributedString(u"Hi"_s, font, red, false, -1, ParagraphStyle{2}, 0)
                                 << Style(ParagraphStyle{ParagraphStyle::Centre}) << false << 0.0;
}

void TestStyledText::constructorAttributes()
{
    QFETCH(StyledText, text);
    QFETCH(Style, paragraphStyle);
    QFETCH(bool, shadow);
    QFETCH(qreal, kern);
    QCOMPARE(text.runs().size(), 1);
    const TextAttributes &attributes = text.runs().first().attributes;
    QCOMPARE(text.runs().first().length, 2);
    QCOMPARE(attributes.foreground, std::optional<QColor>(QColor(Qt::red)));
    QCOMPARE(attributes.font, testFont());
    QCOMPARE(attributes.kern, std::optional<qreal>(kern));
    QCOMPARE(attributes.paragraphStyle, paragraphStyle);
    QCOMPARE(attributes.shadow, shadow ? std::optional<Shadow>(Shadow{Qt::black, QPointF(2, -2), 4}) : std::nullopt);
}

void TestStyledText::missingFontAndString()
{
    // Alignment and a style together: the style wins, with its warning.
    QTest::ignoreMessage(QtWarningMsg, "Alignment will be overriden by whatever is in your paragraph Style.");
    const StyledText both = FAS::attributedString(u"x"_s, testFont(), std::nullopt, false, 2, ParagraphStyle{1}, 0);
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

void TestStyledText::appendAndReplace()
{
    const auto run = [](const QString &text, Qt::GlobalColor color) {
        return FAS::attributedString(text, testFont(), QColor(color));
    };
    StyledText line = run(u"ab"_s, Qt::red) + run(u"cd"_s, Qt::blue);
    line += run(u"ef"_s, Qt::blue);
    QCOMPARE(line.text(), u"abcdef"_s);
    QCOMPARE(line.runs().size(), 2); // the blue runs merge
    QCOMPARE(line.runs().at(1).length, 4);

    // Replaced text takes the first replaced character's attributes: "abc…", the … blue.
    StyledText truncated = line;
    truncated.replace(3, 3, QString(QChar(0x2026)));
    QCOMPARE(truncated.text(), u"abc\u2026"_s);
    QCOMPARE(truncated.attributesAt(3)->foreground, std::optional<QColor>(QColor(Qt::blue)));
    // Inserted text takes the character before, or at the start the one after.
    StyledText inserted = line;
    inserted.replace(2, 0, u"X"_s);
    inserted.replace(0, 0, u"Y"_s);
    QCOMPARE(inserted, run(u"YabX"_s, Qt::red) + run(u"cdef"_s, Qt::blue));
    QCOMPARE(line.mid(1, 2), run(u"b"_s, Qt::red) + run(u"c"_s, Qt::blue));
}

void TestStyledText::htmlRoundTrip()
{
    QFont bold = testFont(13);
    bold.setBold(true);
    bold.setItalic(true);
    StyledText text =
        FAS::attributedString(u"<b & c>  x"_s, bold, QColor(255, 0, 0), false, ParagraphStyle::Centre, std::nullopt, 3);
    text += FAS::immutableAttributedString(u"\nright\r\n\nend"_s, testFont(9), QColor(0, 0, 255, 128), false,
                                           ParagraphStyle::Right);

    QTextDocument document;
    document.setHtml(text.toHtml());
    QCOMPARE(document.toPlainText(), u"<b & c>  x\nright\n\nend"_s);
    QCOMPARE(horizontal(document.firstBlock()), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(horizontal(document.findBlockByNumber(1)), Qt::Alignment(Qt::AlignRight));

    const QTextCharFormat first = formatOfCharacter(document, 0);
    QCOMPARE(first.fontFamilies().toStringList().value(0), u"DejaVu Sans"_s);
    QCOMPARE(first.fontPointSize(), 13.0);
    QCOMPARE(first.fontWeight(), int(QFont::Bold));
    QVERIFY(first.fontItalic());
    QCOMPARE(first.foreground().color(), QColor(255, 0, 0));
    QCOMPARE(first.fontLetterSpacingType(), QFont::AbsoluteSpacing);
    QCOMPARE(first.fontLetterSpacing(), 3.0);

    const QTextCharFormat later = formatOfCharacter(document, 12);
    QCOMPARE(later.fontPointSize(), 9.0);
    QVERIFY(!later.fontItalic());
    QCOMPARE(later.foreground().color(), QColor(0, 0, 255, 128));
}

void TestStyledText::documentFormats()
{
    StyledText text = FAS::attributedString(u"red\r"_s, testFont(), QColor(Qt::red), false, ParagraphStyle::Right,
                                            std::nullopt, 2);
    text += FAS::attributedString(u"blue"_s, testFont(10), QColor(Qt::blue), false, ParagraphStyle::Centre);
    const QList<QTextLayout::FormatRange> ranges = text.toTextLayoutFormats();
    QCOMPARE(ranges.size(), 2);
    QCOMPARE(ranges.at(1).start, 4);
    QCOMPARE(ranges.at(0).format.font().letterSpacing(), 2.0);

    const auto document = text.toTextDocument();
    QCOMPARE(document->toPlainText(), u"red\nblue"_s);
    QCOMPARE(horizontal(document->firstBlock()), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(horizontal(document->lastBlock()), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(formatOfCharacter(*document, 5).fontPointSize(), 10.0);
}

void TestStyledText::drawingPaintsTextAndShadow()
{
    // Without a colour the text takes the painter's pen, and stays inside the rectangle.
    const QImage plain = drawn(FAS::attributedString(u"Brisko"_s, testFont(16), std::nullopt));
    const QPointF textCentre = inkCentre(plain);
    QCOMPARE(strongestPixel(plain), qRgba(0, 255, 0, 255));
    QImage outside = plain;
    {
        QPainter painter(&outside);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.fillRect(10, 10, 180, 40, Qt::transparent);
    }
    QVERIFY(inkCentre(outside).isNull());
    QVERIFY(inkCentre(drawn(FAS::attributedString(u"Brisko"_s, testFont(16), std::nullopt), QSize(20, 20))).isNull());

    // Invisible shadowed text leaves only its shadow: black, two pixels right and down.
    const QImage shadow = drawn(FAS::attributedString(u"Brisko"_s, testFont(16), QColor(255, 255, 255, 0), true));
    const QPointF shift = inkCentre(shadow) - textCentre;
    QVERIFY2(qAbs(shift.x() - 2) < 0.4 && qAbs(shift.y() - 2) < 0.4,
             qPrintable(u"shadow moved by %1, %2"_s.arg(shift.x()).arg(shift.y())));
    QVERIFY(qAlpha(strongestPixel(shadow)) > 0);
    QCOMPARE(strongestPixel(shadow) & 0xffffff, 0u);
}

void TestStyledText::removeAllMenuItems()
{
    QMenu empty;
    FennimarControls::removeAllMenuItems(&empty);
    QVERIFY(empty.actions().isEmpty());

    QMenu menu;
    QAction outside(u"kept alive"_s);
    QPointer<QAction> owned = menu.addAction(u"owned"_s);
    QPointer<QMenu> submenu = menu.addMenu(u"Recent"_s);
    menu.addSeparator();
    menu.addAction(&outside);
    menu.addAction(u"another"_s);
    QCOMPARE(menu.actions().size(), 5);
    FennimarControls::removeAllMenuItems(&menu);
    QVERIFY(menu.actions().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(owned.isNull() && submenu.isNull());
    QCOMPARE(outside.text(), u"kept alive"_s);
}

void TestStyledText::imageNamedAndGrey()
{
    QVERIFY(FennimarImaging::imageNamed(u"no-such-image-anywhere"_s).isNull());

    QTemporaryDir resources;
    QVERIFY(QDir(resources.path()).mkdir(u"images"_s));
    QImage red(4, 3, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(resources.filePath(u"images/status_ok.png"_s)));
    QVERIFY(red.scaled(6, 6).save(resources.filePath(u"banner.png"_s)));
    const QByteArray previous = qgetenv("BRISKO_RESOURCES");
    qputenv("BRISKO_RESOURCES", resources.path().toLocal8Bit());
    const QImage status = FennimarImaging::imageNamed(u"status_ok"_s);
    const QImage banner = FennimarImaging::imageNamed(u"banner.png"_s);
    qputenv("BRISKO_RESOURCES", previous);
    QCOMPARE(status.size(), QSize(4, 3));
    QCOMPARE(banner.size(), QSize(6, 6));

    const QColor grey = FennimarColors::veryVeryLightGrayColor();
    QCOMPARE(grey.alphaF(), 1.0f);
    QVERIFY(qAbs(grey.redF() - 0.97f) < 0.001f && grey.redF() == grey.greenF() && grey.greenF() == grey.blueF());
}

QTEST_MAIN(TestStyledText)
#include "tst_styledtext.moc"
