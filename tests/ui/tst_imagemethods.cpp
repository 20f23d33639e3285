#include "GraphicsContext.h"
#include "RidorIvuvud.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

using namespace Qt::StringLiterals;

namespace {

QImage filled(int w, int h, QColor color)
{
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(color);
    return image;
}

// Draws on a transparent 100 × 100 surface through a y-up context.
template <typename Draw> QImage drawn(Draw draw)
{
    QImage image = filled(100, 100, Qt::transparent);
    QPainter painter(&image);
    GraphicsContext context(painter, image.height());
    draw(context);
    return image;
}

int alphaAt(const QImage &image, int x, int yUp)
{
    return image.pixelColor(x, image.height() - 1 - yUp).alpha();
}

} // namespace

class TestImageMethods : public QObject
{
    Q_OBJECT

private slots:
    void proportionalScale()
    {
        QImage wide = filled(200, 100, Qt::red);
        const QImage copy = RidorIvuvud::proportionalImageScale(wide, 50, true);
        QCOMPARE(copy.deviceIndependentSize(), QSizeF(100, 50));
        QCOMPARE(wide.deviceIndependentSize(), QSizeF(200, 100)); // the clone was sized

        const QImage same = RidorIvuvud::proportionalImageScale(wide, 50, false);
        QCOMPARE(wide.deviceIndependentSize(), QSizeF(100, 50));
        QCOMPARE(same.deviceIndependentSize(), QSizeF(100, 50));
        QCOMPARE(wide.size(), QSize(200, 100)); // no pixel lost
        RidorIvuvud::imageFixSize(wide);
        QCOMPARE(wide.deviceIndependentSize(), QSizeF(200, 100));

        QImage tall = filled(30, 90, Qt::red);
        QCOMPARE(RidorIvuvud::proportionalImageScale(tall, 60, true).deviceIndependentSize(),
                 QSizeF(60, 180));
        QImage square = filled(80, 80, Qt::red);
        QCOMPARE(RidorIvuvud::proportionalImageScale(square, 20, true).deviceIndependentSize(),
                 QSizeF(20, 20));
        QCOMPARE(RidorIvuvud::proportionalImageScale(square, 0, false).deviceIndependentSize(),
                 QSizeF(80, 80));
    }

    void scaleToFit()
    {
        const QImage source = filled(100, 50, Qt::red);
        const QImage result = RidorIvuvud::scaleImage(source, 40, 40);
        QCOMPARE(result.size(), QSize(40, 40));
        QCOMPARE(source.size(), QSize(100, 50));
        // 40 × 20 in the middle, 10 empty rows above and below.
        for (int y : {0, 9, 30, 39})
            QCOMPARE(result.pixelColor(20, y).alpha(), 0);
        for (int y : {10, 20, 29}) {
            QCOMPARE(result.pixelColor(0, y), QColor(Qt::red));
            QCOMPARE(result.pixelColor(39, y), QColor(Qt::red));
        }
    }

    void viewToImage()
    {
        QWidget view;
        view.resize(10, 7);
        view.setAutoFillBackground(true);
        QPalette palette = view.palette();
        palette.setColor(QPalette::Window, Qt::green);
        view.setPalette(palette);
        const QImage image = RidorIvuvud::createCoreImage(&view);
        QCOMPARE(image.size(), QSize(10, 7));
        QCOMPARE(image.bytesPerLine(), 48); // 40 rounded up to a multiple of 16
        QCOMPARE(image.pixelColor(9, 6), QColor(Qt::green));

        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.createCoreImage - no view to draw");
        QVERIFY(RidorIvuvud::createCoreImage(nullptr).isNull());
    }

    void arrowsAndLinkLines()
    {
        // Apex below the base (y up); turned half round it points up.
        QImage image = drawn([](GraphicsContext &c) { RidorIvuvud::drawArrowAtx(c, 50, 50, 20, 0); });
        QVERIFY(alphaAt(image, 60, 40) > 200);
        QCOMPARE(alphaAt(image, 60, 60), 0);
        image = drawn([](GraphicsContext &c) { RidorIvuvud::drawArrowAtx(c, 50, 50, 20, 180); });
        QVERIFY(alphaAt(image, 40, 60) > 200);
        QCOMPARE(alphaAt(image, 40, 40), 0);

        image = drawn([](GraphicsContext &c) {
            RidorIvuvud::drawLinkLineFrom(c, QPointF(20, 50), QPointF(80, 50), Qt::blue);
        });
        QVERIFY(alphaAt(image, 50, 49) > 200);          // the line, a point low
        QVERIFY(image.pixelColor(50, 50).blue() > 200); // in the colour
        QVERIFY(alphaAt(image, 15, 49) > 100);          // the ring's left side around (19, 49)
        QCOMPARE(alphaAt(image, 19, 49), 0);            // its hollow middle
        QVERIFY(alphaAt(image, 75, 48) > 100);          // the end ring around (79, 48)
    }

    void tiling_data()
    {
        QTest::addColumn<int>("repeat");
        QTest::addColumn<bool>("tweak");
        QTest::addColumn<int>("tiles");
        // A 10 × 10 image into (0, 0, 39, 25).
        QTest::newRow("once") << 0 << false << 1;
        QTest::newRow("one row") << 1 << false << 4;
        QTest::newRow("one row, overlapping") << 1 << true << 5; // steps of 9.5
        QTest::newRow("one column") << 2 << false << 3;
        QTest::newRow("everything") << 3 << false << 12;
        QTest::newRow("any other value") << -1 << false << 12;
    }
    void tiling()
    {
        QFETCH(int, repeat);
        QFETCH(bool, tweak);
        QFETCH(int, tiles);
        const QImage tile = filled(10, 10, Qt::red);
        int count = 0;
        const QImage image = drawn([&](GraphicsContext &c) {
            count = RidorIvuvud::tileImage(c, tile, QRectF(0, 0, 39, 25), repeat, 5, 0.5, tweak);
        });
        QCOMPARE(count, tiles);
        // Raised by the offset and clipped to the raised rectangle, at half opacity.
        QCOMPARE(alphaAt(image, 2, 2), 0);
        QVERIFY(qAbs(alphaAt(image, 2, 7) - 128) <= 2);
        QCOMPARE(alphaAt(image, 45, 7), 0);
        QCOMPARE(alphaAt(image, 2, 31), 0);
        QCOMPARE(alphaAt(image, 35, 7) > 0, repeat != 0 && repeat != 2);
        QCOMPARE(alphaAt(image, 2, 27) > 0, repeat != 0 && repeat != 1);
    }

    void printToPdf()
    {
        QTemporaryDir dir;
        QWidget view;
        view.resize(300, 2000);
        QLabel label(u"Printed across the page"_s, &view);
        label.adjustSize();
        label.move(10, 1900);
        const QString path = dir.filePath(u"view.pdf"_s);
        QVERIFY(RidorIvuvud::printView(&view, false, path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray pdf = file.readAll();
        QVERIFY(pdf.startsWith("%PDF"));
        QVERIFY(pdf.count("/Type /Page\n") + pdf.count("/Type /Page\r") + pdf.count("/Type /Page ") > 1);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{u"view.pdf"_s}); // nothing left over
        if (const QString keep = qEnvironmentVariable("BRISKO_RENDER_DIR"); !keep.isEmpty())
            QFile::copy(path, QDir(keep).filePath(u"view.pdf"_s));

        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.printView - no file to print to");
        QVERIFY(!RidorIvuvud::printView(&view, false, std::nullopt));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression(u"RidorIvuvud.printView - cannot write beside .*"_s));
        QVERIFY(!RidorIvuvud::printView(&view, false, dir.filePath(u"missing/view.pdf"_s)));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestImageMethods test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_imagemethods.moc"
