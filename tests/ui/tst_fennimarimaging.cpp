#include "FennimarImaging.h"

#include <QBuffer>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Left half red, right half blue, one green pixel at the top-left corner.
QImage sample(int w, int h)
{
    QImage image(w, h, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, w / 2, h, Qt::red);
    image.setPixel(0, 0, qRgb(0, 255, 0));
    return image;
}

int count(const QImage &image, QRgb color)
{
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            n += image.pixel(x, y) == color;
    return n;
}

} // namespace

class TestFennimarImaging : public QObject
{
    Q_OBJECT

private slots:
    void blankImages()
    {
        QCOMPARE(FennimarImaging::imageWithSize(0, 0.05).size(), QSize(1, 1));
        QCOMPARE(FennimarImaging::imageWithSize(0.2, 5).size(), QSize(1, 5));
        QCOMPARE(FennimarImaging::imageWithSize(10.5, 3).size(), QSize(11, 3));
        QCOMPARE(FennimarImaging::imageWithSize(1e9, 2).size(), QSize(FennimarImaging::MaxImageSide, 2));
        QCOMPARE(FennimarImaging::imageWithSize(3, 3).pixel(1, 1), qRgba(0, 0, 0, 0));

        QVERIFY(FennimarImaging::image(QImage(64, 10, QImage::Format_RGB32), 64));
        QVERIFY(!FennimarImaging::image(QImage(65, 10, QImage::Format_RGB32), 64));
    }

    void scaling_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<int>("rule"); // 0 to, 1 width and height, 2 to width, 3 to height
        QTest::addColumn<double>("a");
        QTest::addColumn<double>("b");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("wide to 100") << QSize(400, 200) << 0 << 100.0 << 0.0 << QSize(100, 50);
        QTest::newRow("tall to 100") << QSize(200, 400) << 0 << 100.0 << 0.0 << QSize(50, 100);
        QTest::newRow("square to 100") << QSize(300, 300) << 0 << 100.0 << 0.0 << QSize(100, 100);
        QTest::newRow("thin line to 100") << QSize(2000, 1) << 0 << 100.0 << 0.0 << QSize(100, 1);
        QTest::newRow("0.5 x 20") << QSize(40, 40) << 1 << 0.5 << 20.0 << QSize(1, 20);
        QTest::newRow("to width") << QSize(400, 200) << 2 << 40.0 << 0.0 << QSize(40, 20);
        QTest::newRow("to height") << QSize(400, 200) << 3 << 40.0 << 0.0 << QSize(80, 40);
        QTest::newRow("to width, tiny") << QSize(400, 2) << 2 << 40.0 << 0.0 << QSize(40, 1);
    }
    void scaling()
    {
        QFETCH(QSize, source);
        QFETCH(int, rule);
        QFETCH(double, a);
        QFETCH(double, b);
        QFETCH(QSize, expected);
        const QImage image = sample(source.width(), source.height());
        const QImage scaled = rule == 0   ? FennimarImaging::smoothScaleTo(image, a)
                              : rule == 1 ? FennimarImaging::smoothScale(image, a, b)
                              : rule == 2 ? FennimarImaging::smoothScaleToWidth(image, a)
                                          : FennimarImaging::smoothScaleToHeight(image, a);
        QCOMPARE(scaled.size(), expected);
        if (expected.width() >= 8) { // the halves stay where they were
            QCOMPARE(qRed(scaled.pixel(1, scaled.height() - 1)), 255);
            QCOMPARE(qBlue(scaled.pixel(scaled.width() - 1, scaled.height() - 1)), 255);
        }
        QVERIFY(FennimarImaging::smoothScaleTo(QImage(), 10).isNull());
    }

    // Shrinking averages every pixel: a white 2 × 2 dot in each 10 × 10 black square becomes
    // a dark grey (4 %), whereas sampling at the squares' centres would see only white.
    void shrinkingAverages()
    {
        QImage board(400, 400, QImage::Format_RGB32);
        for (int y = 0; y < 400; ++y)
            for (int x = 0; x < 400; ++x)
                board.setPixel(x, y, (x % 10 == 4 || x % 10 == 5) && (y % 10 == 4 || y % 10 == 5) ? qRgb(255, 255, 255)
                                                                                             : qRgb(0, 0, 0));
        const QImage small = FennimarImaging::smoothScaleTo(board, 40);
        for (int i = 0; i < 40; i += 7)
            QVERIFY2(qRed(small.pixel(i, 39 - i)) < 40, qPrintable(QString::number(qRed(small.pixel(i, 39 - i)))));
    }

    void drawingAndCompositing()
    {
        QImage canvas = FennimarImaging::imageWithSize(10, 10);
        canvas.fill(Qt::white);
        const QImage dot = sample(3, 3);
        {
            QPainter painter(&canvas);
            // 10/2 - 3/2 = 3.5 rounds away from zero to 4.
            FennimarImaging::drawImageCenteredInRect(painter, dot, QRectF(0, 0, 10, 10));
        }
        QCOMPARE(canvas.pixel(4, 4), qRgb(0, 255, 0));
        QCOMPARE(canvas.pixel(3, 3), qRgb(255, 255, 255));

        const QImage target = FennimarImaging::imageWithSize(6, 6);
        const QImage copy = FennimarImaging::compositeImage(dot, target, QPointF(2, 1));
        QCOMPARE(copy.pixel(2, 1), qRgb(0, 255, 0));
        QCOMPARE(qAlpha(target.pixel(2, 1)), 0); // the target is left as it was
        QImage direct = target;
        QImage &same = FennimarImaging::compositeImageDirectly(dot, direct, QPointF(0, 0));
        QCOMPARE(&same, &direct);
        QCOMPARE(direct.pixel(0, 0), qRgb(0, 255, 0));
        QCOMPARE(qAlpha(target.pixel(0, 0)), 0);

        QImage cell = FennimarImaging::imageWithSize(20, 10);
        QPainter painter(&cell);
        QCOMPARE(FennimarImaging::drawImageInCellUsingRect(painter, sample(40, 40), QRectF(0, 0, 20, 10)),
                 QRectF(5, 0, 10, 10));
        QCOMPARE(FennimarImaging::drawImageInCellUsingRect(painter, sample(4, 4), QRectF(0, 0, 20, 10)),
                 QRectF(8, 3, 4, 4));
    }

    void tiling_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("tiles");
        QTest::newRow("one tile") << 0 << 1;
        QTest::newRow("along x") << 1 << 3;
        QTest::newRow("along y") << 2 << 2;
        QTest::newRow("both") << 3 << 6;
        QTest::newRow("any other") << 9 << 6;
    }
    // A 10 × 10 tile with one green corner pixel over a rectangle of 2.5 × 2 tiles.
    void tiling()
    {
        QFETCH(int, mode);
        QFETCH(int, tiles);
        const QImage tile = sample(10, 10);
        QImage canvas = FennimarImaging::imageWithSize(40, 40);
        QPainter painter(&canvas);
        QCOMPARE(FennimarImaging::tileImage(tile, QRectF(5, 0, 25, 20), mode, 5, painter), tiles);
        painter.end();
        QCOMPARE(count(canvas, qRgb(0, 255, 0)), tiles);
        QCOMPARE(canvas.pixel(5, 5), qRgb(0, 255, 0));
        QCOMPARE(qAlpha(canvas.pixel(5, 4)), 0);
        QCOMPARE(qAlpha(canvas.pixel(30, 5)), 0); // clipped to the rectangle
    }

    void flipAndRotate()
    {
        const QImage image = sample(4, 2);
        const QImage flipped = FennimarImaging::flipImage(image);
        QCOMPARE(flipped.size(), image.size());
        QCOMPARE(flipped.pixel(0, 1), qRgb(0, 255, 0));
        QCOMPARE(flipped.pixel(0, 0), qRgb(255, 0, 0));
        QVERIFY(FennimarImaging::flipImage(QImage()).isNull());

        for (double degrees : {0.0, 360.0, -90.0, 400.0})
            QCOMPARE(FennimarImaging::rotateImage(image, degrees).cacheKey(), image.cacheKey());
        // A quarter turn counter-clockwise: the right-hand blue half ends up on top.
        const QImage turned = FennimarImaging::rotateImage(image, 90);
        QCOMPARE(turned.size(), QSize(2, 4));
        QCOMPARE(qBlue(turned.pixel(1, 0)), 255);
        QCOMPARE(qRed(turned.pixel(1, 3)), 255);
        QCOMPARE(FennimarImaging::rotateImage(sample(10, 10), 45).width(), 15);

        const QImage tall = sample(4, 128);
        QCOMPARE(FennimarImaging::coreImageFromNSImageNEW(tall).pixel(0, 127), qRgb(0, 255, 0));
        QTest::ignoreMessage(QtWarningMsg, "FennimarImaging.cgImageToNSImage - bitmapRep == nil");
        QVERIFY(FennimarImaging::cgImageToNSImage(QImage()).isNull());
    }

    void fileTypes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("type");
        QTest::newRow("JPG") << u"/a/B.JPG"_s << 3;
        QTest::newRow("png") << u"x.png"_s << 4;
        QTest::newRow("tiff") << u"/d.tif/x.tiff"_s << 0;
        QTest::newRow("gif") << u"x.gif"_s << 2;
        QTest::newRow("bmp") << u"x.bmp"_s << -1;
        QTest::newRow("none") << u"/x.png/README"_s << -1;
    }
    void fileTypes()
    {
        QFETCH(QString, path);
        QFETCH(int, type);
        if (type < 0)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^FennimarImaging.fileTypeForPath - unknown Extension:"_s));
        QCOMPARE(FennimarImaging::fileTypeForPath(path), type);
    }

    // Every type writes a file that reads back at its size, with its colours for the
    // lossless ones; the path is optional.
    void writing_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<bool>("lossless");
        QTest::newRow("TIFF") << 0 << QByteArray("tiff") << true;
        QTest::newRow("GIF") << 2 << QByteArray("gif") << true;
        QTest::newRow("JPEG") << 3 << QByteArray("jpeg") << false;
        QTest::newRow("PNG") << 4 << QByteArray("png") << true;
    }
    void writing()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, format);
        QFETCH(bool, lossless);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"out"_s);
        QImage image = sample(37, 23);
        image.setPixel(36, 22, qRgb(12, 34, 56));
        const QByteArray data = FennimarImaging::writeImage(image, path, type);
        QVERIFY(!data.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), data);
        QBuffer buffer;
        buffer.setData(data);
        QImageReader reader(&buffer);
        QCOMPARE(reader.format(), format);
        const QImage back = reader.read();
        QCOMPARE(back.size(), image.size());
        if (lossless) {
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    QCOMPARE(back.pixel(x, y) | 0xFF000000u, image.pixel(x, y));
        }
        QCOMPARE(FennimarImaging::writeImage(image, std::nullopt, type), data);
        QCOMPARE(FennimarImaging::dimensionsOfImageFile(path), QSizeF(37, 23));
    }

    // GIF: many colours (dithered to 256), see-through pixels, and long runs past the
    // 4096-code table.
    void gifEdges()
    {
        QImage image(300, 200, QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgba(x % 256, y, (x * y) % 256, x < 20 ? 0 : 255));
        QBuffer buffer;
        buffer.setData(FennimarImaging::writeImage(image, std::nullopt, 2));
        QImageReader reader(&buffer, "gif");
        const QImage back = reader.read();
        QVERIFY2(!back.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(back.size(), image.size());
        QCOMPARE(qAlpha(back.pixel(5, 5)), 0);
        QCOMPARE(qAlpha(back.pixel(150, 5)), 255);
        QVERIFY(qAbs(qGreen(back.pixel(150, 150)) - 150) < 60);

        QImage flat(640, 480, QImage::Format_RGB32);
        flat.fill(qRgb(1, 2, 3));
        buffer.close();
        buffer.setData(FennimarImaging::writeImage(flat, std::nullopt, 2));
        QCOMPARE(QImageReader(&buffer, "gif").read().pixel(639, 479), qRgb(1, 2, 3));
    }

    void filesAndThumbnails()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(u"big.png"_s);
        FennimarImaging::writeImage(sample(400, 200), source, 4);
        const QString thumb = dir.filePath(u"thumb.png"_s);
        QVERIFY(FennimarImaging::writeThumbnailOf(source, 64, thumb));
        QCOMPARE(FennimarImaging::dimensionsOfImageFile(thumb), QSizeF(64, 32));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"could not read the image"_s));
        QVERIFY(!FennimarImaging::writeThumbnailOf(dir.filePath(u"none.png"_s), 64, thumb));

        QVERIFY(FennimarImaging::fileIsImage(u"/x/Photo.JPG"_s));
        QVERIFY(FennimarImaging::fileIsImage(source));
        QVERIFY(!FennimarImaging::fileIsImage(u"/x/notes.txt"_s));
        const QString fake = dir.filePath(u"fake.png"_s);
        QFile file(fake);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not an image at all");
        file.close();
        QVERIFY(FennimarImaging::fileIsImage(fake));
        QVERIFY(!FennimarImaging::fileIsImageSLOW(fake));
        QVERIFY(FennimarImaging::fileIsImageSLOW(source));
        QCOMPARE(FennimarImaging::dimensionsOfImageFile(fake), QSizeF(-1, -1));
        QCOMPARE(FennimarImaging::dimensionsOfImageFile(dir.filePath(u"missing.png"_s)), QSizeF(-1, -1));

        QVERIFY(FennimarImaging::resavePNG(source));
        QCOMPARE(QImage(source).pixel(0, 0), qRgb(0, 255, 0));
    }

    void compressPNG()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"c.png"_s);
        QImage image = sample(300, 300);
        QImageWriter writer(path, "png");
        writer.setCompression(0);
        QVERIFY(writer.write(image));
        const qint64 before = QFileInfo(path).size();
        if (QStandardPaths::findExecutable(u"pngcrush"_s).isEmpty()) {
            QTest::ignoreMessage(QtInfoMsg, QRegularExpression(u"pngcrush is not installed"_s));
            QVERIFY(!FennimarImaging::compressPNG(path));
            QCOMPARE(QFileInfo(path).size(), before);
            return;
        }
        QVERIFY(FennimarImaging::compressPNG(path));
        QVERIFY(QFileInfo(path).size() < before);
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_ARGB32), image);

        // A file the tool cannot read stays as it is.
        const QString broken = dir.filePath(u"broken.png"_s);
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG broken");
        file.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"compressPNG - pngcrush (failed|left no image)"_s));
        QVERIFY(!FennimarImaging::compressPNG(broken));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\x89PNG broken"));
    }

    void filters()
    {
        const QStringList codes = FennimarImaging::allCoreImageFilters();
        const QStringList names = FennimarImaging::allCoreImageFiltersAsPrettyNames();
        QCOMPARE(codes.size(), names.size());
        QVERIFY(codes.size() >= 7);
        for (qsizetype i = 0; i < codes.size(); ++i) {
            QCOMPARE(FennimarImaging::coreImagePrettyNameForCodeName(codes.at(i)), names.at(i));
            QCOMPARE(FennimarImaging::coreImageCodeNameForPrettyName(names.at(i)), codes.at(i));
            QCOMPARE(FennimarImaging::coreImageFilterAttributes(codes.at(i)).value(u"displayName"_s), names.at(i));
            QCOMPARE(FennimarImaging::applyCoreImageFilter(codes.at(i), sample(9, 9)).size(), QSize(9, 9));
        }
        QCOMPARE(FennimarImaging::coreImageCodeNameForPrettyName(u"No Such Filter"_s), std::nullopt);
        QCOMPARE(FennimarImaging::coreImagePrettyNameForCodeName(u"nothing"_s), std::nullopt);
        QVERIFY(FennimarImaging::coreImageFilterAttributes(u"nothing"_s).isEmpty());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"unknown filter nothing"_s));
        QVERIFY(FennimarImaging::applyCoreImageFilter(u"nothing"_s, sample(2, 2)).isNull());

        const QImage red = sample(8, 8);
        QCOMPARE(FennimarImaging::applyCoreImageFilter(u"invert"_s, red).pixel(1, 1), qRgb(0, 255, 255));
        const QRgb grey = FennimarImaging::applyCoreImageFilter(u"greyscale"_s, red).pixel(1, 1);
        QVERIFY(qRed(grey) == qGreen(grey) && qGreen(grey) == qBlue(grey) && qRed(grey) == 54);
        QCOMPARE(FennimarImaging::applyCoreImageFilter(u"brightnessContrast"_s, red, {{u"brightness"_s, -1.0}}).pixel(1, 1),
                 qRgb(0, 0, 0));
        // Pixellate averages 4 × 4 blocks: the green corner is spread over its block.
        const QImage blocks = FennimarImaging::applyCoreImageFilter(u"pixellate"_s, red, {{u"scale"_s, 4}});
        QCOMPARE(blocks.pixel(3, 3), blocks.pixel(0, 0));
        QVERIFY(qGreen(blocks.pixel(0, 0)) > 0 && qGreen(blocks.pixel(4, 0)) == 0);
        // A blur softens the red/blue border; sharpening leaves flat areas alone.
        const QImage soft = FennimarImaging::applyCoreImageFilter(u"gaussianBlur"_s, sample(40, 40), {{u"radius"_s, 6}});
        QVERIFY(qRed(soft.pixel(20, 20)) > 40 && qBlue(soft.pixel(19, 20)) > 40);
        QCOMPARE(FennimarImaging::applyCoreImageFilter(u"sharpen"_s, sample(40, 40)).pixel(30, 30), qRgb(0, 0, 255));
    }
};

QTEST_MAIN(TestFennimarImaging)
#include "tst_fennimarimaging.moc"
