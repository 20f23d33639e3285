#include "CTGradient.h"
#include "KeyedArchive.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTest>

#include <functional>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(CTGradient)

namespace {

using Components = std::array<float, 4>;

bool near(const QColor &color, const Components &expected, float tolerance = 0.002f)
{
    const float got[4] = {float(color.redF()), float(color.greenF()), float(color.blueF()), float(color.alphaF())};
    for (int i = 0; i < 4; ++i) {
        if (std::fabs(got[i] - expected[i]) > tolerance)
            return false;
    }
    return true;
}

QString describe(const QColor &c)
{
    return u"(%1, %2, %3, %4)"_s.arg(c.redF()).arg(c.greenF()).arg(c.blueF()).arg(c.alphaF());
}

QImage canvas(int w, int h, QColor fill = Qt::transparent)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(fill);
    return image;
}

QImage render(const std::function<void(QPainter &)> &draw, int w, int h, QColor fill = Qt::transparent)
{
    QImage image = canvas(w, h, fill);
    QPainter painter(&image);
    draw(painter);
    painter.end();
    // Look at the images: BRISKO_GRADIENT_PNG_DIR=/some/folder
    if (const QByteArray dir = qgetenv("BRISKO_GRADIENT_PNG_DIR"); !dir.isEmpty())
        image.save(u"%1/%2.png"_s.arg(QString::fromLocal8Bit(dir), QString::fromLatin1(QTest::currentTestFunction()) + u'-'
                                                                         + QString::fromLatin1(QTest::currentDataTag())));
    return image;
}

int grey(const QImage &image, int x, int y)
{
    return qRed(image.pixel(x, y));
}

const CTGradient BlackToWhite = CTGradient::gradientWithBeginningColor(Qt::black, Qt::white);

} // namespace

class TestCTGradient : public QObject
{
    Q_OBJECT

private slots:
    void colorAtPosition_data()
    {
        QTest::addColumn<CTGradient>("gradient");
        QTest::addColumn<float>("position");
        QTest::addColumn<Components>("expected");
        const CTGradient aqua = CTGradient::aquaSelectedGradient();
        QTest::newRow("aqua 0.5: first of the pair") << aqua << 0.5f << Components{0.42f, 0.68f, 0.9f, 1};
        QTest::newRow("aqua 0.25") << aqua << 0.25f << Components{0.5f, 0.77f, 0.94f, 1};
        QTest::newRow("aqua 0.75") << aqua << 0.75f << Components{0.6f, 0.75f, 0.92f, 1};
        QTest::newRow("aqua past the edge") << aqua << 0.5001f << Components{0.64f, 0.8f, 0.94f, 1};
        QTest::newRow("aqua above 1") << aqua << 7.0f << Components{0.56f, 0.7f, 0.9f, 1};
        QTest::newRow("empty") << CTGradient() << 0.3f << Components{0, 0, 0, 0};
        const CTGradient one = CTGradient().addColorStop(QColor::fromRgbF(0.2f, 0.4f, 0.6f, 0.8f), 0.7f);
        QTest::newRow("one stop before") << one << 0.0f << Components{0.2f, 0.4f, 0.6f, 0.8f};
        QTest::newRow("title bar 0.5") << CTGradient::HUDTitleBarGradient() << 0.5f
                                       << Components{0.185f, 0.185f, 0.185f, 1};
        QTest::newRow("gloss 0.25") << CTGradient::glossGradient(0.6f) << 0.25f << Components{1, 1, 1, 0.3f};
        QTest::newRow("white gloss 0.25") << CTGradient::whiteGlossGradient(0.6f) << 0.25f
                                          << Components{0.5f, 0.5f, 0.5f, 0.3f};
        QTest::newRow("orange 0.75") << CTGradient::orangeGradient() << 0.75f << Components{0.885f, 0.515f, 0.105f, 1};
        QTest::newRow("with alpha") << aqua.gradientWithAlphaComponent(0.25f) << 0.25f
                                    << Components{0.5f, 0.77f, 0.94f, 0.25f};
    }
    void colorAtPosition()
    {
        QFETCH(CTGradient, gradient);
        QFETCH(float, position);
        QFETCH(Components, expected);
        const QColor color = gradient.colorAtPosition(position);
        QVERIFY2(near(color, expected), qPrintable(describe(color)));
    }

    void stopsAreOrderedAndTheReceiverStays()
    {
        const QColor a(Qt::red), b(Qt::green), c(Qt::blue), d(Qt::yellow);
        const CTGradient base = CTGradient().addColorStop(a, 0.5f).addColorStop(b, 1);
        const CTGradient added = base.addColorStop(c, 0.2f).addColorStop(d, 0.5f);
        QCOMPARE(base.colorStopCount(), 2);
        QCOMPARE(added.colorStopCount(), 4);
        QCOMPARE(added.colorStopAtIndex(0), c);
        QCOMPARE(added.colorStopAtIndex(1), a);
        QCOMPARE(added.colorStopAtIndex(2), d); // after the stop already at 0.5
        QCOMPARE(added.colorStopAtIndex(3), b);

        const CTGradient three = CTGradient().addColorStop(a, 0).addColorStop(b, 0.5f).addColorStop(c, 1);
        const CTGradient two = three.removeColorStopAtPosition(0.5f);
        QCOMPARE(three.colorStopCount(), 3);
        QCOMPARE(two.colorStopCount(), 2);
        QCOMPARE(two.colorStopAtIndex(1), c);
        QCOMPARE(three.removeColorStopAtIndex(0).colorStopAtIndex(0), b);
        QCOMPARE(three.removeColorStopAtIndex(2).colorStopAtIndex(1), b);

        // A copy is independent of its source.
        CTGradient copy = three;
        copy = copy.removeColorStopAtIndex(1);
        QCOMPARE(three.colorStopCount(), 3);
        QVERIFY(copy != three);
        QCOMPARE(CTGradient::gradientWithBeginningColor(a, c), three.removeColorStopAtIndex(1));
    }

    void rangeErrors()
    {
        const CTGradient three = CTGradient().addColorStop(Qt::red, 0).addColorStop(Qt::green, 0.5f).addColorStop(Qt::blue, 1);
        const auto message = [](const std::function<void()> &call) -> QString {
            try {
                call();
            } catch (const CTGradientRangeException &e) {
                return QString::fromStdString(e.what());
            }
            return u"no exception"_s;
        };
        QCOMPARE(message([&] { (void)three.removeColorStopAtPosition(0.3f); }),
                 u"-[CTGradient removeColorStopAtPosition:]: no such colorStop at position (0.300000)"_s);
        QCOMPARE(message([&] { (void)three.removeColorStopAtIndex(3); }),
                 u"-[CTGradient removeColorStopAtIndex:]: index (3) beyond bounds"_s);
        QCOMPARE(message([&] { (void)three.colorStopAtIndex(9); }),
                 u"-[CTGradient colorStopAtIndex:]: index (9) beyond bounds"_s);
        QCOMPARE(message([] { (void)CTGradient().removeColorStopAtIndex(0); }),
                 u"-[CTGradient removeColorStopAtIndex:]: index (0) beyond bounds"_s);
        QCOMPARE(three.colorStopCount(), 3);
    }

    void archive()
    {
        const CTGradient three = CTGradient()
                                     .addColorStop(QColor::fromRgbF(0.1f, 0.2f, 0.3f, 0.4f), 0.25f)
                                     .addColorStop(QColor::fromRgbF(1, 0.5f, 0, 1), 0.25f)
                                     .addColorStop(QColor::fromRgbF(0, 0, 1, 0.5f), 0.9f);
        const QByteArray data = three.archivedData();
        QVERIFY(!data.isEmpty());
        const auto back = CTGradient::unarchive(data);
        QVERIFY(back);
        QCOMPARE(*back, three);
        QCOMPARE(CTGradient::unarchive(CTGradient().archivedData()), CTGradient());

        // The coder's own layout: floats first, then the count by key.
        brisko::ArchiveObject coder(u"CTGradient"_s);
        three.encodeWithCoder(coder);
        QCOMPARE(coder.decodeInt(u"CTGradientElementCount"), 3);
        const auto red = coder.decodeValue();
        QVERIFY(red && red->isReal32() && qAbs(red->toReal() - 0.1) < 1e-4);

        // Short or missing contents are refused.
        brisko::ArchiveObject shortCoder(u"CTGradient"_s);
        for (int i = 0; i < 9; ++i)
            shortCoder.encodeValue(brisko::ArchiveValue::real32(0.5f));
        shortCoder.encodeInt(u"CTGradientElementCount"_s, 2);
        QVERIFY(!CTGradient::initWithCoder(shortCoder));
        brisko::ArchiveObject noCount(u"CTGradient"_s);
        QVERIFY(!CTGradient::initWithCoder(noCount));
        QVERIFY(!CTGradient::unarchive("not an archive"));
    }

    void axialFill_data()
    {
        QTest::addColumn<float>("angle");
        QTest::newRow("0") << 0.0f;
        QTest::newRow("90") << 90.0f;
        QTest::newRow("180") << 180.0f;
        QTest::newRow("-90") << -90.0f;
    }
    void axialFill()
    {
        QFETCH(float, angle);
        const QImage image = render([&](QPainter &p) { BlackToWhite.fillRect(p, QRectF(0, 0, 100, 20), angle); }, 100, 20);
        const bool horizontal = angle == 0 || angle == 180;
        const bool reversed = angle == 180 || angle == -90;
        // 0 runs left to right, 90 bottom to top (y grows downward on screen).
        const int first = horizontal ? grey(image, 0, 10) : grey(image, 50, 19);
        const int last = horizontal ? grey(image, 99, 10) : grey(image, 50, 0);
        QVERIFY2((reversed ? last : first) < 10 && (reversed ? first : last) > 245,
                 qPrintable(u"%1 .. %2"_s.arg(first).arg(last)));
        if (horizontal) {
            QVERIFY(qAbs(grey(image, 50, 10) - 128) < 6);
            for (int y = 0; y < 20; ++y)
                QCOMPARE(grey(image, 37, y), grey(image, 37, 10));
        } else {
            QVERIFY(qAbs(grey(image, 50, 10) - 128) < 10);
            for (int x = 0; x < 100; ++x)
                QCOMPARE(grey(image, x, 5), grey(image, 50, 5));
        }
        QCOMPARE(qAlpha(image.pixel(3, 3)), 255);
    }

    // At 45 degrees the fill spans the rectangle's corners: bottom left 0, top right 1.
    void diagonalAndClipping()
    {
        const QImage image = render(
            [&](QPainter &p) { BlackToWhite.drawSwatchInRect(p, QRectF(10, 10, 100, 20)); }, 120, 40);
        QVERIFY(grey(image, 10, 29) < 8);
        QVERIFY(grey(image, 109, 10) > 247);
        QVERIFY(qAbs(grey(image, 60, 20) - 128) < 6);
        QCOMPARE(qAlpha(image.pixel(5, 5)), 0); // nothing outside the rectangle
        QCOMPARE(qAlpha(image.pixel(115, 35)), 0);
    }

    void hardEdges_data()
    {
        QTest::addColumn<CTGradient>("gradient");
        QTest::addColumn<QColor>("below");
        QTest::addColumn<QColor>("above");
        QTest::newRow("aqua normal") << CTGradient::aquaNormalGradient() << QColor::fromRgbF(0.83f, 0.83f, 0.83f)
                                     << QColor::fromRgbF(0.95f, 0.95f, 0.95f);
        QTest::newRow("aqua pressed") << CTGradient::aquaPressedGradient() << QColor::fromRgbF(0.64f, 0.64f, 0.64f)
                                      << QColor::fromRgbF(0.8f, 0.8f, 0.8f);
        QTest::newRow("aqua selected") << CTGradient::aquaSelectedGradient() << QColor::fromRgbF(0.42f, 0.68f, 0.9f)
                                       << QColor::fromRgbF(0.64f, 0.8f, 0.94f);
    }
    // Drawn at 90 degrees on 20 × 100: the lower half ends at the first colour of the pair,
    // the upper half starts at the second, with no blend between.
    void hardEdges()
    {
        QFETCH(CTGradient, gradient);
        QFETCH(QColor, below);
        QFETCH(QColor, above);
        const QImage image = render([&](QPainter &p) { gradient.fillRect(p, QRectF(0, 0, 20, 100), 90); }, 20, 100);
        const QColor justBelow = image.pixelColor(10, 50), justAbove = image.pixelColor(10, 49);
        for (auto [got, want] : {std::pair{justBelow, below}, std::pair{justAbove, above}}) {
            QVERIFY2(qAbs(got.red() - want.red()) <= 3 && qAbs(got.green() - want.green()) <= 3
                         && qAbs(got.blue() - want.blue()) <= 3,
                     qPrintable(describe(got) + u" ≠ "_s + describe(want)));
        }
    }

    void radialFill()
    {
        const QImage image = render([&](QPainter &p) { BlackToWhite.radialFillRect(p, QRectF(0, 0, 100, 40)); }, 100, 40);
        QVERIFY(grey(image, 50, 20) < 8);
        QVERIFY(qAbs(grey(image, 75, 20) - 128) < 8); // 25 of a radius of 50
        QVERIFY(qAbs(grey(image, 50, 0) - 102) < 8);  // 20 of 50
        QVERIFY(grey(image, 0, 20) > 245);
        QVERIFY(grey(image, 0, 0) > 250); // beyond the circle the last colour goes on
    }

    void emptyGradientDrawsNothing()
    {
        const QImage image = render([&](QPainter &p) { CTGradient().fillRect(p, QRectF(0, 0, 10, 10), 30); }, 10, 10,
                                    Qt::red);
        QCOMPARE(image.pixel(5, 5), qRgb(255, 0, 0));
    }
};

QTEST_MAIN(TestCTGradient)
#include "tst_ctgradient.moc"
