#include "FennimarAttributedStrings.h"
#include "FennimarColors.h"
#include "FennimarControls.h"
#include "FennimarImaging.h"
#include "StyledText.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QImage>
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

namespace {

QFont testFont(qreal points = 12)
{
    QFont font(u"DejaVu Sans"_s);
    font.setPointSizeF(points);
    return font;
}

StyledText run(const QString &text, const QColor &color)
{
    return FAS::attributedString(text, testFont(), color);
}

// The character format at a document position (the format of the character after it).
QTextCharFormat formatAt(QTextDocument &document, int position)
{
    QTextCursor cursor(&document);
    cursor.setPosition(position + 1);
    return cursor.charFormat();
}

// The horizontal alignment, without the absolute flag.
Qt::Alignment horizontal(Qt::Alignment alignment)
{
    return alignment & (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter | Qt::AlignJustify);
}

// Bounding box of the pixels that are not fully transparent.
QRect inkBounds(const QImage &image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0)
                bounds |= QRect(x, y, 1, 1);
        }
    }
    return bounds;
}

// Centre of the ink, each pixel weighted by its opacity.
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

QImage drawn(const StyledText &text, const QSize &size = QSize(200, 60))
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    text.draw(painter, QRectF(10, 10, size.width() - 20, size.height() - 20));
    return image;
}

} // namespace

class TestStyledText : public QObject
{
    Q_OBJECT

private slots:
    void constructorForms_data();
    void constructorForms();
    void alignmentAndParagraphStyle_data();
    void alignmentAndParagraphStyle();
    void missingFontString();
    void appendAndEdit();
    void htmlConversion();
    void htmlParagraphsAndEscaping();
    void documentAndLayoutFormats();
    void drawingPaintsTextAndShadow();

    void removeAllMenuItems();
    void imageNamed();
    void veryVeryLightGray();
};

void TestStyledText::constructorForms_data()
{
    QTest::addColumn<StyledText>("text");
    QTest::addColumn<std::optional<ParagraphStyle>>("paragraphStyle");
    QTest::addColumn<std::optional<Shadow>>("shadow");
    QTest::addColumn<qreal>("kern");
    const QFont font = testFont();
    QTest::newRow("short form") << FAS::attributedString(u"Hello"_s, font, QColor(Qt::red))
                                << std::optional<ParagraphStyle>() << std::optional<Shadow>() << 0.0;
    QTest::newRow("short immutable form") << FAS::immutableAttributedString(u"Hello"_s, font, QColor(Qt::red))
                                          << std::optional<ParagraphStyle>(ParagraphStyle{ParagraphStyle::Left})
                                          << std::optional<Shadow>() << 0.0;
    QTest::newRow("shadow, centred, kerned")
        << FAS::attributedString(u"Hello"_s, font, QColor(Qt::red), true, ParagraphStyle::Centre, std::nullopt, 1.5)
        << std::optional<ParagraphStyle>(ParagraphStyle{ParagraphStyle::Centre})
        << std::optional<Shadow>(Shadow{QColor(Qt::black), QPointF(2, -2), 4}) << 1.5;
    QTest::newRow("immutable core form, no alignment")
        << FAS::immutableAttributedString(u"Hello"_s, font, QColor(Qt::red), false, -1, std::nullopt, -0.5)
        << std::optional<ParagraphStyle>() << std::optional<Shadow>() << -0.5;
}

void TestStyledText::constructorForms()
{
    QFETCH(StyledText, text);
    QFETCH(std::optional<ParagraphStyle>, paragraphStyle);
    QFETCH(std::optional<Shadow>, shadow);
    QFETCH(qreal, kern);
    QCOMPARE(text.text(), u"Hello"_s);
    QCOMPARE(text.runs().size(), 1);
    const AttributeRun &only = text.runs().first();
    QCOMPARE(only.start, 0);
    QCOMPARE(only.length, 5);
    QCOMPARE(only.attributes.foreground, std::optional<QColor>(QColor(Qt::red)));
    QCOMPARE(only.attributes.font, testFont());
    QCOMPARE(only.attributes.kern, std::optional<qreal>(kern));
    QCOMPARE(only.attributes.paragraphStyle, paragraphStyle);
    QCOMPARE(only.attributes.shadow, shadow);
}

void TestStyledText::alignmentAndParagraphStyle_data()
{
    QTest::addColumn<int>("alignment");
    QTest::addColumn<std::optional<ParagraphStyle>>("given");
    QTest::addColumn<std::optional<ParagraphStyle>>("expected");
    QTest::addColumn<bool>("warns");
    using PS = std::optional<ParagraphStyle>;
    QTest::newRow("style wins over alignment") << 2 << PS(ParagraphStyle{ParagraphStyle::Right})
                                               << PS(ParagraphStyle{ParagraphStyle::Right}) << true;
    QTest::newRow("style alone") << -1 << PS(ParagraphStyle{ParagraphStyle::Centre})
                                 << PS(ParagraphStyle{ParagraphStyle::Centre}) << false;
    QTest::newRow("alignment alone") << 1 << PS() << PS(ParagraphStyle{ParagraphStyle::Right}) << false;
    QTest::newRow("justified passes through") << 3 << PS() << PS(ParagraphStyle{ParagraphStyle::Justified}) << false;
    QTest::newRow("neither") << -1 << PS() << PS() << false;
}

void TestStyledText::alignmentAndParagraphStyle()
{
    QFETCH(int, alignment);
    QFETCH(std::optional<ParagraphStyle>, given);
    QFETCH(std::optional<ParagraphStyle>, expected);
    QFETCH(bool, warns);
    if (warns)
        QTest::ignoreMessage(QtWarningMsg, "Alignment will be overriden by whatever is in your paragraph Style.");
    QTest::failOnWarning(QRegularExpression(u".*"_s));
    const StyledText text = FAS::attributedString(u"x"_s, testFont(), std::nullopt, false, alignment, given, 0);
    QCOMPARE(text.attributesAt(0)->paragraphStyle, expected);
}

void TestStyledText::missingFontString()
{
    QTest::ignoreMessage(QtWarningMsg, "FennimarAttributedStrings - FONT IS NIL");
    const StyledText text = FAS::attributedString(u"abc"_s, std::nullopt, std::nullopt);
    QFont expected = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    expected.setPointSizeF(10);
    const TextAttributes attributes = text.attributesAt(0).value();
    QCOMPARE(attributes.font, expected);
    QCOMPARE(attributes.font.pointSizeF(), 10.0);
    QCOMPARE(attributes.foreground, std::nullopt);

    const StyledText empty = FAS::immutableAttributedString(std::nullopt, testFont(), QColor(Qt::blue));
    QVERIFY(empty.isEmpty());
    QVERIFY(empty.runs().isEmpty());
    QCOMPARE(empty.toHtml(), QString());
    QCOMPARE(empty.size(), QSizeF(0, 0));
}

void TestStyledText::appendAndEdit()
{
    StyledText line = run(u"ab"_s, Qt::red);
    line.append(run(u"cd"_s, Qt::blue));
    line += run(u"ef"_s, Qt::blue);
    QCOMPARE(line.text(), u"abcdef"_s);
    QCOMPARE(line.runs().size(), 2); // the blue runs merge
    QCOMPARE(line.runs().at(1).start, 2);
    QCOMPARE(line.runs().at(1).length, 4);
    QCOMPARE(line.attributesAt(4)->foreground, std::optional<QColor>(QColor(Qt::blue)));
    QCOMPARE(line.attributesAt(6), std::nullopt);

    // Replacing takes the attributes of the first replaced character: "abc…" with the
    // ellipsis in blue.
    StyledText truncated = line;
    truncated.replace(3, 3, QString(QChar(0x2026)));
    QCOMPARE(truncated.text(), u"abc\u2026"_s);
    QCOMPARE(truncated.runs().size(), 2);
    QCOMPARE(truncated.attributesAt(3)->foreground, std::optional<QColor>(QColor(Qt::blue)));

    // Inserting without replacing takes the character before, or at the start the one after.
    StyledText inserted = line;
    inserted.replace(2, 0, u"X"_s);
    QCOMPARE(inserted.attributesAt(2)->foreground, std::optional<QColor>(QColor(Qt::red)));
    inserted.replace(0, 0, u"Y"_s);
    QCOMPARE(inserted.text(), u"YabXcdef"_s);
    QCOMPARE(inserted.runs().size(), 2);

    const StyledText middle = line.mid(1, 2);
    QCOMPARE(middle.text(), u"bc"_s);
    QCOMPARE(middle.runs().size(), 2);
    QCOMPARE(middle.runs().at(1).start, 1);

    StyledText recoloured = line;
    recoloured.setAttributes(line.attributesAt(0).value(), 2, 4);
    QCOMPARE(recoloured, run(u"abcdef"_s, Qt::red));
    QCOMPARE(recoloured.runs().size(), 1);
}

void TestStyledText::htmlConversion()
{
    QFont bold = testFont(13);
    bold.setBold(true);
    bold.setItalic(true);
    StyledText text = FAS::attributedString(u"Sent  to"_s, bold, QColor(255, 0, 0), false, ParagraphStyle::Centre,
                                            std::nullopt, 3);
    text.append(FAS::attributedString(u" all"_s, testFont(9), QColor(0, 0, 255, 128)));

    QTextDocument document;
    document.setHtml(text.toHtml());
    QCOMPARE(document.toPlainText(), u"Sent  to all"_s);
    QCOMPARE(horizontal(document.firstBlock().blockFormat().alignment()), Qt::Alignment(Qt::AlignHCenter));

    const QTextCharFormat first = formatAt(document, 0);
    QCOMPARE(first.fontFamilies().toStringList().value(0), u"DejaVu Sans"_s);
    QCOMPARE(first.fontPointSize(), 13.0);
    QCOMPARE(first.fontWeight(), int(QFont::Bold));
    QVERIFY(first.fontItalic());
    QCOMPARE(first.foreground().color(), QColor(255, 0, 0));
    QCOMPARE(first.fontLetterSpacingType(), QFont::AbsoluteSpacing);
    QCOMPARE(first.fontLetterSpacing(), 3.0);

    const QTextCharFormat last = formatAt(document, 9);
    QCOMPARE(last.fontPointSize(), 9.0);
    QVERIFY(!last.fontItalic());
    QCOMPARE(last.foreground().color().blue(), 255);
    QCOMPARE(last.foreground().color().alpha(), 128);
    QVERIFY(last.fontLetterSpacing() == 0 || last.fontLetterSpacingType() != QFont::AbsoluteSpacing);
}

void TestStyledText::htmlParagraphsAndEscaping()
{
    StyledText text = FAS::immutableAttributedString(u"<b & \"c\">\nright\r\n\nend"_s, testFont(), std::nullopt);
    text.setAttributes(FAS::immutableAttributedString(u"x"_s, testFont(), std::nullopt, false,
                                                      ParagraphStyle::Right)
                           .attributesAt(0)
                           .value(),
                       10, 5);
    const QString html = text.toHtml();
    QVERIFY(Qt::mightBeRichText(html));
    QVERIFY(!html.contains(u"color:"_s)); // no colour given, none written

    QTextDocument document;
    document.setHtml(html);
    QCOMPARE(document.toPlainText(), u"<b & \"c\">\nright\n\nend"_s);
    QCOMPARE(document.blockCount(), 4);
    QCOMPARE(horizontal(document.findBlockByNumber(0).blockFormat().alignment()), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(horizontal(document.findBlockByNumber(1).blockFormat().alignment()), Qt::Alignment(Qt::AlignRight));
}

void TestStyledText::documentAndLayoutFormats()
{
    StyledText text = FAS::attributedString(u"red\rblue"_s, testFont(), QColor(Qt::red), false, ParagraphStyle::Right,
                                            std::nullopt, 2);
    text.setAttributes(FAS::attributedString(u"x"_s, testFont(10), QColor(Qt::blue), false, ParagraphStyle::Centre)
                           .attributesAt(0)
                           .value(),
                       4, 4);

    const QList<QTextLayout::FormatRange> ranges = text.toTextLayoutFormats();
    QCOMPARE(ranges.size(), 2);
    QCOMPARE(ranges.at(0).start, 0);
    QCOMPARE(ranges.at(0).length, 4);
    QCOMPARE(ranges.at(0).format.foreground().color(), QColor(Qt::red));
    QCOMPARE(ranges.at(0).format.font().letterSpacing(), 2.0);
    QCOMPARE(ranges.at(1).start, 4);
    QCOMPARE(ranges.at(1).format.fontPointSize(), 10.0);

    const auto document = text.toTextDocument();
    QCOMPARE(document->toPlainText(), u"red\nblue"_s);
    QCOMPARE(document->documentMargin(), 0.0);
    QCOMPARE(horizontal(document->firstBlock().blockFormat().alignment()), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(horizontal(document->lastBlock().blockFormat().alignment()), Qt::Alignment(Qt::AlignHCenter));
    QCOMPARE(formatAt(*document, 5).foreground().color(), QColor(Qt::blue));
    QVERIFY(text.size().width() > 0);
}

void TestStyledText::drawingPaintsTextAndShadow()
{
    const StyledText plain = FAS::attributedString(u"Brisko"_s, testFont(16), QColor(Qt::white));
    const StyledText shadowed = FAS::attributedString(u"Brisko"_s, testFont(16), QColor(Qt::white), true);

    const QImage plainImage = drawn(plain);
    const QRect plainInk = inkBounds(plainImage);
    QVERIFY(!plainInk.isEmpty());
    QVERIFY(QRect(10, 10, 180, 40).contains(plainInk));

    // The shadow falls two pixels right of and below the text, in black, blurred past the offset.
    const QRect shadowInk = inkBounds(drawn(shadowed));
    QVERIFY(shadowInk.right() > plainInk.right() + 2);
    QVERIFY(shadowInk.bottom() > plainInk.bottom() + 2);
    const QRgb below = drawn(shadowed).pixel(plainInk.left() + 1, plainInk.bottom() + 2);
    QVERIFY(qAlpha(below) > 0 && qRed(below) == 0); // black, premultiplied
    // Invisible text leaves only its shadow to measure.
    const StyledText shadowOnly = FAS::attributedString(u"Brisko"_s, testFont(16), QColor(255, 255, 255, 0), true);
    const QPointF shift = inkCentre(drawn(shadowOnly)) - inkCentre(plainImage);
    QVERIFY2(qAbs(shift.x() - 2) < 0.4 && qAbs(shift.y() - 2) < 0.4,
             qPrintable(u"shadow centre moved by %1, %2"_s.arg(shift.x()).arg(shift.y())));

    // Text without a colour takes the painter's pen.
    QImage penImage(QSize(200, 60), QImage::Format_ARGB32_Premultiplied);
    penImage.fill(Qt::transparent);
    {
        QPainter painter(&penImage);
        painter.setPen(QColor(0, 255, 0));
        FAS::attributedString(u"Brisko"_s, testFont(16), std::nullopt).draw(painter, QRectF(10, 10, 180, 40));
    }
    bool green = false;
    for (int y = 0; y < penImage.height() && !green; ++y) {
        for (int x = 0; x < penImage.width() && !green; ++x) {
            const QRgb p = penImage.pixel(x, y);
            green = qAlpha(p) == 255 && qGreen(p) == 255 && qRed(p) == 0;
        }
    }
    QVERIFY(green);

    // Nothing spills out of the rectangle, and an empty rectangle draws nothing.
    QVERIFY(QRect(10, 10, 30, 10).contains(inkBounds([&] {
        QImage image(QSize(200, 60), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        plain.draw(painter, QRectF(10, 10, 30, 10));
        return image;
    }())));
    QVERIFY(inkBounds(drawn(plain, QSize(20, 20))).isEmpty());
}

void TestStyledText::removeAllMenuItems()
{
    QMenu empty;
    FennimarControls::removeAllMenuItems(&empty);
    QVERIFY(empty.actions().isEmpty());
    FennimarControls::removeAllMenuItems(nullptr);

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
    QVERIFY(owned.isNull());
    QVERIFY(submenu.isNull());
    QCOMPARE(outside.text(), u"kept alive"_s);
}

void TestStyledText::imageNamed()
{
    QVERIFY(FennimarImaging::imageNamed(u"no-such-image-anywhere"_s).isNull());
    QVERIFY(FennimarImaging::imageNamed(QString()).isNull());

    QTemporaryDir resources;
    QVERIFY(QDir(resources.path()).mkdir(u"images"_s));
    QImage red(4, 3, QImage::Format_ARGB32);
    red.fill(Qt::red);
    QVERIFY(red.save(resources.filePath(u"images/status_ok.png"_s)));
    QVERIFY(red.scaled(6, 6).save(resources.filePath(u"banner.png"_s)));
    QFile broken(resources.filePath(u"images/broken.png"_s));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write("not an image");
    broken.close();

    const QByteArray previous = qgetenv("BRISKO_RESOURCES");
    qputenv("BRISKO_RESOURCES", resources.path().toLocal8Bit());
    const QImage status = FennimarImaging::imageNamed(u"status_ok"_s);
    const QImage banner = FennimarImaging::imageNamed(u"banner.png"_s);
    const QImage unreadable = FennimarImaging::imageNamed(u"broken"_s);
    qputenv("BRISKO_RESOURCES", previous);

    QCOMPARE(status.size(), QSize(4, 3));
    QCOMPARE(status.pixelColor(0, 0), QColor(Qt::red));
    QCOMPARE(banner.size(), QSize(6, 6));
    QVERIFY(unreadable.isNull());
}

void TestStyledText::veryVeryLightGray()
{
    const QColor gray = FennimarColors::veryVeryLightGrayColor();
    QCOMPARE(gray.alphaF(), 1.0f);
    QVERIFY(qAbs(gray.redF() - 0.97f) < 0.001f);
    QCOMPARE(gray.redF(), gray.greenF());
    QCOMPARE(gray.greenF(), gray.blueF());
}

QTEST_MAIN(TestStyledText)
#include "tst_styledtext.moc"
