#include "BezierPath.h"
#include "CTGradient.h"
#include "FennimarAttributedStrings.h"
#include "FennimarGraphics.h"
#include "GraphicsContext.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QRegularExpression>
#include <QTest>

using namespace Qt::StringLiterals;
namespace FG = FennimarGraphics;
using Points = QList<QPointF>;

namespace {

// The corners of a path: move and line points, and the points where an arc passes a
// quarter of its circle (an arc's ends in these tests); consecutive repeats dropped,
// rounded to 1/1000.
Points anchors(const QPainterPath &path)
{
    Points points;
    const auto add = [&points](QPointF p) {
        p = QPointF(std::round(p.x() * 1000) / 1000, std::round(p.y() * 1000) / 1000);
        if (points.isEmpty() || points.last() != p)
            points.append(p);
    };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.type == QPainterPath::CurveToDataElement)
            continue;
        if (e.type != QPainterPath::CurveToElement) {
            add(e);
            continue;
        }
        // A curve ends at a quarter point when it arrives there level or upright.
        const QPointF control = path.elementAt(i + 1), end = path.elementAt(i + 2);
        if (qAbs(control.x() - end.x()) < 1e-9 || qAbs(control.y() - end.y()) < 1e-9)
            add(end);
    }
    return points;
}

// The number of quarter circles the path's arcs pass.
int quarterCount(const QPainterPath &path)
{
    int n = 0;
    for (int i = 0; i < path.elementCount(); ++i) {
        if (path.elementAt(i).type != QPainterPath::CurveToElement)
            continue;
        const QPointF control = path.elementAt(i + 1), end = path.elementAt(i + 2);
        n += qAbs(control.x() - end.x()) < 1e-9 || qAbs(control.y() - end.y()) < 1e-9;
    }
    return n;
}

QImage canvas(int w, int h, QColor fill = Qt::transparent)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

// The pixel at a y-up position of the image.
QColor at(const QImage &image, int x, int yUp)
{
    return image.pixelColor(x, image.height() - 1 - yUp);
}

// Writes the image to $BRISKO_RENDER_DIR when set, to look at.
void keep(const QImage &image, const QString &name)
{
    const QString dir = qEnvironmentVariable("BRISKO_RENDER_DIR");
    if (!dir.isEmpty())
        image.save(QDir(dir).filePath(name + u".png"_s));
}

} // namespace

class TestFennimarGraphics : public QObject
{
    Q_OBJECT

private slots:
    void roundedRectCorners_data()
    {
        QTest::addColumn<qreal>("radius");
        QTest::addColumn<int>("mask");
        QTest::addColumn<Points>("expected");
        QTest::addColumn<int>("arcs");
        // (10, 20, 100, 50): radius 30 is cut to 25, the arcs centred on (35, 45) and (85, 45).
        QTest::newRow("all corners, radius clamped")
            << 30.0 << 15 << Points{{10, 45}, {35, 20}, {85, 20}, {110, 45}, {85, 70}, {35, 70}, {10, 45}}
            << 4;
        QTest::newRow("mask 0 is the plain rectangle")
            << 30.0 << 0 << Points{{10, 20}, {110, 20}, {110, 70}, {10, 70}, {10, 20}} << 0;
        QTest::newRow("mask 5, top corners only")
            << 30.0 << 5 << Points{{10, 20}, {110, 20}, {110, 45}, {85, 70}, {35, 70}, {10, 45}, {10, 20}}
            << 2;
        QTest::newRow("bottom-right, radius kept")
            << 10.0 << 8 << Points{{10, 20}, {100, 20}, {110, 30}, {110, 70}, {10, 70}, {10, 20}} << 1;
    }
    void roundedRectCorners()
    {
        QFETCH(qreal, radius);
        QFETCH(int, mask);
        QFETCH(Points, expected);
        QFETCH(int, arcs);
        const QPainterPath path =
            BezierPath::bezierPathWithRoundedRect(QRectF(10, 20, 100, 50), radius, mask);
        QCOMPARE(anchors(path), expected);
        QCOMPARE(quarterCount(path), arcs);
        QCOMPARE(path.boundingRect(), QRectF(10, 20, 100, 50));
        // Every curve point of an arc lies on the circle around its corner's centre.
        const qreal r = std::min(radius, 25.0);
        for (int i = 0; i < path.elementCount(); ++i) {
            if (path.elementAt(i).type != QPainterPath::CurveToElement)
                continue;
            const QPointF end = path.elementAt(i + 2);
            const QPointF centre(end.x() < 60 ? 10 + r : 110 - r, end.y() < 45 ? 20 + r : 70 - r);
            QVERIFY2(qAbs(QLineF(centre, end).length() - r) < 1e-6, qPrintable(QString::number(i)));
        }
    }

    void appendedShapes()
    {
        // Nothing for a height of 0.
        QPainterPath path;
        BezierPath::appendBezierPathWithRoundedRect(path, QRectF(0, 0, 50, 0), 5);
        BezierPath::appendBezierPathWithPlateInRect(path, QRectF(0, 0, 50, 0));
        QVERIFY(path.isEmpty());
        QVERIFY(FG::bezierPathWithRoundedRect(QRectF(0, 0, 50, 0), 5).isEmpty());

        // The appended rectangle keeps a radius larger than the rectangle allows.
        BezierPath::appendBezierPathWithRoundedRect(path, QRectF(0, 0, 100, 20), 4);
        QCOMPARE(anchors(path),
                 (Points{{0, 4}, {4, 0}, {96, 0}, {100, 4}, {100, 16}, {96, 20}, {4, 20}, {0, 16}, {0, 4}}));
        QCOMPARE(anchors(FG::bezierPathWithLozengeinRect(QRectF(0, 0, 100, 20))).first(), QPointF(0, 10));

        // The plate: left cap from the top round to the bottom, right cap back up.
        const QPainterPath plate = BezierPath::bezierPathWithPlateInRect(QRectF(0, 0, 100, 20));
        QCOMPARE(anchors(plate),
                 (Points{{10, 20}, {0, 10}, {10, 0}, {90, 0}, {100, 10}, {90, 20}, {10, 20}}));
        QCOMPARE(plate.boundingRect(), QRectF(0, 0, 100, 20));
    }

    void triangles_data()
    {
        QTest::addColumn<QPainterPath>("path");
        QTest::addColumn<Points>("expected");
        const QRectF r(0, 0, 10, 20);
        QTest::newRow("apex up") << BezierPath::bezierPathWithTriangleInRect(r, 0)
                                 << Points{{0, 0}, {5, 20}, {10, 0}, {0, 0}};
        QTest::newRow("apex down") << BezierPath::bezierPathWithTriangleInRect(r, 1)
                                   << Points{{0, 20}, {5, 0}, {10, 20}, {0, 20}};
        QTest::newRow("pointing left")
            << BezierPath::bezierPathWithTriangleInRect(r, 2) << Points{{10, 20}, {10, 0}, {0, 10}, {10, 20}};
        QTest::newRow("orientation 7 points right")
            << BezierPath::bezierPathWithTriangleInRect(r, 7) << Points{{0, 0}, {0, 20}, {10, 10}, {0, 0}};
        // The open figures: the up-pointing apex lies below y (up where y grows downward).
        QTest::newRow("open, up") << FG::bezierPathWithUpPointingTriangleInRect(r)
                                  << Points{{0, 0}, {10, 0}, {5, -20}, {0, 0}};
        QTest::newRow("open, down") << FG::bezierPathWithDownPointingTriangleInRect(r)
                                    << Points{{0, 0}, {10, 0}, {5, 20}, {0, 0}};
        QTest::newRow("open, right") << FG::bezierPathWithRightPointingTriangleInRect(r)
                                     << Points{{0, 0}, {10, 10}, {0, 20}, {0, 0}};
    }
    void triangles()
    {
        QFETCH(QPainterPath, path);
        QFETCH(Points, expected);
        QCOMPARE(anchors(path), expected);
    }

    void roundedArrows_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<Points>("expected");
        // (0, 0, 100, 20), arrow width -1: 10.
        QTest::newRow("right") << 1
                               << Points{{10, 0}, {90, 0}, {100, 10}, {90, 20}, {10, 20}, {0, 10}, {10, 0}};
        QTest::newRow("left") << 2
                              << Points{{10, 0}, {90, 0}, {100, 10}, {90, 20}, {10, 20}, {0, 10}, {10, 0}};
        QTest::newRow("both round") << 3 << Points{{10, 0},  {90, 0}, {100, 10}, {90, 20},
                                                   {10, 20}, {0, 10}, {10, 0}};
    }
    void roundedArrows()
    {
        QFETCH(int, direction);
        QFETCH(Points, expected);
        const QPainterPath path = FG::bezierPathWithRoundedArrow(QRectF(0, 0, 100, 20), -1, direction);
        QCOMPARE(anchors(path), expected);
        QCOMPARE(path.boundingRect(), QRectF(0, 0, 100, 20));
        // The tip is a corner, the round end a curve: which end is round tells the direction.
        const bool tipRight = direction == 1, tipLeft = direction == 2;
        QCOMPARE(quarterCount(path), tipRight || tipLeft ? 2 : 4);
        if (tipRight)
            QVERIFY(path.contains(QPointF(99, 10)) && !path.contains(QPointF(1, 1)));
        if (tipLeft)
            QVERIFY(path.contains(QPointF(1, 10)) && !path.contains(QPointF(99, 1)));

        // A given arrow width moves the tip's shoulders.
        QCOMPARE(anchors(FG::bezierPathWithRoundedArrow(QRectF(0, 0, 100, 20), 30, 1)).at(1), QPointF(70, 0));
    }

    void arrowWithoutDirection()
    {
        QTest::failOnWarning(QRegularExpression(u".*"_s));
        QVERIFY(FG::bezierPathWithRoundedArrow(QRectF(0, 0, 100, 20), -1, 0).isEmpty());
    }

    void arrowWithUnknownDirection()
    {
        QTest::ignoreMessage(QtWarningMsg,
                             "bezierPathWithRoundedArrow:(NSRect) rect arrowWidth:(float) arrowWidth "
                             "direction:(int) facing_direction");
        QTest::ignoreMessage(QtWarningMsg, "direction not implemented");
        QTest::ignoreMessage(QtWarningMsg, "and this, WILL NOT RENDER!");
        QVERIFY(FG::bezierPathWithRoundedArrow(QRectF(0, 0, 100, 20), -1, 4).isEmpty());
    }

    void sawtooth()
    {
        const QPainterPath path = FG::bezierPathRectangleWithSawtoothEdges(QRectF(0, 0, 100, 40), 2, 5);
        QCOMPARE(anchors(path), (Points{{5, 0},
                                        {95, 0},
                                        {100, 10},
                                        {95, 20},
                                        {100, 30},
                                        {95, 40},
                                        {5, 40},
                                        {0, 30},
                                        {5, 20},
                                        {0, 10},
                                        {5, 0}}));
        QCOMPARE(path.elementAt(path.elementCount() - 1).type, QPainterPath::LineToElement);
    }

    void glossyFill_data()
    {
        QTest::addColumn<bool>("flip");
        QTest::addColumn<QRectF>("pathRect");
        QTest::addColumn<QRectF>("glossRect");
        QTest::addColumn<qreal>("angle");
        QTest::newRow("plain") << false << QRectF(10, 20, 100, 50) << QRectF(10, 20, 100, 25) << 90.0;
        QTest::newRow("flipped") << true << QRectF(10, 45, 100, 50) << QRectF(10, 45, 100, 25) << -90.0;
    }
    void glossyFill()
    {
        QFETCH(bool, flip);
        QFETCH(QRectF, pathRect);
        QFETCH(QRectF, glossRect);
        QFETCH(qreal, angle);
        const FG::GlossyFillGeometry geometry = FG::glossyFillGeometry(QRectF(10, 20, 100, 50), flip);
        QCOMPARE(geometry.pathRect, pathRect);
        QCOMPARE(geometry.glossRect, glossRect);
        QCOMPARE(geometry.glossAngle, angle);
        QCOMPARE(geometry.border, QLineF(10, 20.5, 110, 20.5));

        // Drawn: red where the path is, lighter where the gloss lies, strongest at its outer edge.
        QImage image = canvas(120, 100);
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            FG::glossyFillBezierPath(context, std::nullopt, Qt::red, QRectF(10, 20, 100, 50), flip, true);
        }
        keep(image, flip ? u"glossy-flipped"_s : u"glossy"_s);
        const int glossY = int(glossRect.center().y());
        const int plainY = int(glossRect.y() + (glossRect.y() > pathRect.y() ? -5 : glossRect.height() + 5));
        const QColor gloss = at(image, 60, glossY), plain = at(image, 60, plainY);
        QCOMPARE(plain.rgb(), qRgb(255, 0, 0));
        QVERIFY2(gloss.green() > 20 && gloss.red() == 255, qPrintable(gloss.name()));
        const int outer = flip ? int(glossRect.bottom()) - 1 : int(glossRect.top()) + 1;
        const int inner = flip ? int(glossRect.top()) + 1 : int(glossRect.bottom()) - 1;
        QVERIFY(at(image, 60, outer).green() > at(image, 60, inner).green() + 50);
        QCOMPARE(at(image, 60, int(pathRect.top()) - 2).alpha(), 0); // nothing below the path
    }

    void fades_data()
    {
        QTest::addColumn<bool>("bands");
        QTest::newRow("gradient") << false;
        QTest::newRow("band by band") << true;
    }
    void fades()
    {
        QFETCH(bool, bands);
        const auto fade = bands ? FG::drawFadeOLD : FG::drawFade;
        QImage image = canvas(10, 100);
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            fade(context, QRectF(0, 0, 10, 100), QColor(255, 0, 0), QColor(0, 0, 255), false);
        }
        keep(image, bands ? u"fade-bands"_s : u"fade"_s);
        // Red at the bottom edge, blue at the top, evenly between.
        QVERIFY(at(image, 5, 0).red() > 245 && at(image, 5, 0).blue() < 10);
        QVERIFY(at(image, 5, 99).blue() > 245 && at(image, 5, 99).red() < 10);
        QVERIFY(qAbs(at(image, 5, 50).red() - 127) < 6);

        // A height of 0 paints nothing but the border: half the end colour's alpha, bottom edge.
        QImage empty = canvas(10, 10);
        {
            QPainter painter(&empty);
            GraphicsContext context(painter, empty.height());
            fade(context, QRectF(0, 2, 10, 0), QColor(255, 0, 0), QColor(0, 0, 255), true);
        }
        const QColor border = at(empty, 5, 2).alpha() ? at(empty, 5, 2) : at(empty, 5, 1);
        QVERIFY2(border.alpha() > 0 && border.alpha() < 128 && border.red() == 0, qPrintable(border.name()));
        QCOMPARE(at(empty, 5, 5).alpha(), 0);
    }

    void checkerboard()
    {
        QImage image = canvas(41, 41);
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            FG::drawCheckerBox(context, QRectF(0, 0, 40, 40), 10, Qt::black, Qt::white);
            FG::drawCheckerBox(context, QRectF(0, 0, 40, 40), 0, Qt::red, Qt::red); // draws nothing
        }
        keep(image, u"checkerboard"_s);
        for (int row = 0; row < 4; ++row) {
            for (int column = 0; column < 4; ++column) {
                const QColor expected = (row + column) % 2 ? Qt::white : Qt::black;
                QCOMPARE(at(image, 5 + 10 * column, 5 + 10 * row), expected);
            }
        }
    }

    void shadows()
    {
        QCOMPARE(FG::standardShadow(), (Shadow{Qt::black, {2, -2}, 4}));
        QCOMPARE(FG::standardFlippedShadow(), (Shadow{Qt::black, {2, 2}, 4}));
        QCOMPARE(FG::standardLabelShadow(), (Shadow{Qt::black, {0, 0}, 2}));
        QCOMPARE(FG::subtleShadow(), (Shadow{Qt::black, {0, 0}, 2}));
        Shadow changed = FG::standardShadow();
        changed.color = Qt::white;
        QCOMPARE(FG::standardShadow().color, QColor(Qt::black));

        // The standard shadow falls right of and below what casts it, as seen on screen.
        QImage image = canvas(60, 60);
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            FG::setStandardShadow(context);
            context.setFillColor(Qt::white);
            context.fillRect(QRectF(20, 20, 20, 20));
            FG::setNoShadow(context);
            context.fillRect(QRectF(0, 50, 5, 5));
        }
        keep(image, u"shadow"_s);
        QVERIFY(at(image, 41, 19).alpha() > 60); // right, below
        QCOMPARE(at(image, 41, 19).red(), 0);
        QVERIFY(at(image, 19, 41).alpha() < 10); // left, above
        QVERIFY(at(image, 6, 49).alpha() == 0);  // shadows switched off
    }

    void titleBar()
    {
        const QImage image = FG::hudTitleBar(QRectF(5, 5, 80, 20));
        keep(image, u"titlebar"_s);
        QCOMPARE(image.size(), QSize(80, 20));
        // Only the upper corners are round.
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        QCOMPARE(image.pixelColor(79, 0).alpha(), 0);
        QVERIFY(image.pixelColor(0, 19).alpha() > 200);
        QVERIFY(image.pixelColor(79, 19).alpha() > 200);
        QVERIFY(image.pixelColor(40, 0).alpha() > 200);
    }

    void tagAndCallout()
    {
        QImage image = canvas(200, 100, Qt::white);
        QPainterPath outline;
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            const StyledText text = FennimarAttributedStrings::attributedString(u"Tag"_s, QFont(), Qt::white);
            FG::drawTagMarkerInRect(context, QRectF(10, 10, 80, 20), true, QColor(40, 120, 220), Qt::black,
                                    text, std::nullopt, -4, 12, false, 1);
            outline = FG::drawRoundedLabelWithArrowWithText(context, u"Callout"_s, QPointF(140, 50),
                                                            QColor(250, 200, 40), Qt::black);
        }
        keep(image, u"tag-and-callout"_s);
        const QColor body = at(image, 20, 12);
        QVERIFY2(body.blue() > 150 && body.red() < 120, qPrintable(body.name()));
        QCOMPARE(at(image, 11, 29), QColor(Qt::white)); // outside the round left end

        // The callout stands 6 points above its tip, 15 high, round at both ends.
        const QRectF bounds = outline.boundingRect();
        QCOMPARE(bounds.top(), 50.0);
        QCOMPARE(bounds.bottom(), 71.0);
        QCOMPARE(bounds.center().x(), 140.0);
        QCOMPARE(anchors(outline).first(), QPointF(140, 50));
        QCOMPARE(anchors(outline).last(), QPointF(140, 50));
        const QColor pill = at(image, int(bounds.left()) + 4, 68);
        QVERIFY2(pill.red() > 200 && pill.blue() < 150, qPrintable(pill.name()));
    }

    void textIsUpright()
    {
        QImage image = canvas(100, 60);
        {
            QPainter painter(&image);
            GraphicsContext context(painter, image.height());
            QFont font(u"DejaVu Sans"_s);
            font.setPointSizeF(20);
            context.drawText(FennimarAttributedStrings::attributedString(u"T"_s, font, Qt::black),
                             QPointF(10, 10));
        }
        // A T: its bar is above its stem, and its ink sits above the point (y up).
        int top = -1, bottom = -1, widest = -1, widestRow = -1;
        for (int y = 0; y < image.height(); ++y) {
            int ink = 0;
            for (int x = 0; x < image.width(); ++x)
                ink += image.pixelColor(x, y).alpha() > 128;
            if (ink && top < 0)
                top = y;
            if (ink)
                bottom = y;
            if (ink > widest)
                widest = ink, widestRow = y;
        }
        QVERIFY(bottom < image.height() - 10);
        QVERIFY(top >= 0 && widestRow - top < 5); // the bar is at the top on screen
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    TestFennimarGraphics test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_fennimargraphics.moc"
