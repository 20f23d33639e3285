#include "FennimarImaging.h"

#include "Bundle.h"
#include "RidorIvuvud.h"
#include "uilogging.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTransform>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace Qt::StringLiterals;

namespace FennimarImaging {

namespace {

// Themed icons come at their largest fixed size, scalable ones at 256 pixels.
QImage themeImage(const QString &name)
{
    if (!QIcon::hasThemeIcon(name))
        return QImage();
    const QIcon icon = QIcon::fromTheme(name);
    QSize size(256, 256);
    const QList<QSize> sizes = icon.availableSizes();
    if (!sizes.isEmpty()) {
        size = *std::max_element(sizes.cbegin(), sizes.cend(),
                                 [](QSize a, QSize b) { return a.width() * a.height() < b.width() * b.height(); });
    }
    return icon.pixmap(size).toImage();
}

} // namespace

QImage imageNamed(const QString &name)
{
    if (name.isEmpty())
        return QImage();
    if (QImage image = themeImage(name); !image.isNull())
        return image;
    const QString resources = brisko::Bundle::resourcePath();
    const QString candidates[] = {
        QStringLiteral("%1/%2").arg(resources, name),
        QStringLiteral("%1/images/%2.png").arg(resources, name),
        QStringLiteral("%1/images/%2.svg").arg(resources, name),
    };
    for (const QString &path : candidates) {
        if (!QFileInfo(path).isFile())
            continue;
        if (QImage image(path); !image.isNull())
            return image;
    }
    return QImage();
}

QImage imageWithSize(double width, double height)
{
    const auto pixels = [](double length) {
        if (!(length >= 0.1))
            return 1;
        return int(std::clamp(std::ceil(length), 1.0, double(MaxImageSide)));
    };
    QImage image(pixels(width), pixels(height), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

bool checkImageSize(const QImage &image)
{
    return image.width() >= 1 && image.height() >= 1;
}

QRectF rectForImage(const QImage &image)
{
    return QRectF(0, 0, image.width(), image.height());
}

bool image(const QImage &image, double isSmallerThan)
{
    return image.width() <= isSmallerThan && image.height() <= isSmallerThan;
}

// ---- Drawing ----

void drawImage(QPainter &painter, const QImage &image, double atX, double Y, double withAlpha)
{
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setOpacity(painter.opacity() * withAlpha);
    painter.drawImage(QPointF(atX, Y), image);
    painter.restore();
}

void drawImageCenteredInRect(QPainter &painter, const QImage &image, const QRectF &centeredInRect, double withAlpha)
{
    const double x = std::round(centeredInRect.x() + centeredInRect.width() / 2 - image.width() / 2.0);
    const double y = std::round(centeredInRect.y() + centeredInRect.height() / 2 - image.height() / 2.0);
    drawImage(painter, image, x, y, withAlpha);
}

QRectF drawImageInCellUsingRect(QPainter &painter, const QImage &image, const QRectF &inCellUsingRect)
{
    if (image.isNull() || inCellUsingRect.isEmpty())
        return QRectF();
    QSizeF size = image.size();
    if (size.width() > inCellUsingRect.width() || size.height() > inCellUsingRect.height())
        size.scale(inCellUsingRect.size(), Qt::KeepAspectRatio);
    QRectF target(QPointF(), size);
    target.moveCenter(inCellUsingRect.center());
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, image);
    painter.restore();
    return target;
}

QImage &compositeImageDirectly(const QImage &image, QImage &onto, QPointF withOffset)
{
    if (onto.isNull())
        return onto;
    if (onto.format() == QImage::Format_Indexed8 || onto.format() == QImage::Format_Mono
        || onto.format() == QImage::Format_MonoLSB)
        onto.convertTo(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&onto);
    drawImage(painter, image, withOffset.x(), withOffset.y());
    return onto;
}

QImage compositeImage(const QImage &image, const QImage &onto, QPointF withOffset)
{
    QImage copy = onto.copy();
    compositeImageDirectly(image, copy, withOffset);
    return copy;
}

int tileImage(const QImage &image, const QRectF &intoRect, int repeat, double yoffset, QPainter &inContext)
{
    if (image.isNull())
        return 0;
    const QRectF rect = intoRect.translated(0, yoffset);
    const bool alongX = repeat != 0 && repeat != 2;
    const bool alongY = repeat != 0 && repeat != 1;
    const double w = image.width(), h = image.height();
    int tiles = 0;
    inContext.save();
    inContext.setClipRect(rect, Qt::IntersectClip);
    for (double y = rect.y(); y < rect.bottom(); y += h) {
        for (double x = rect.x(); x < rect.right(); x += w) {
            inContext.drawImage(QRectF(x, y, w, h), image);
            ++tiles;
            if (!alongX)
                break;
        }
        if (!alongY)
            break;
    }
    inContext.restore();
    return tiles;
}

// ---- Transforming ----

QImage flipImage(const QImage &image)
{
    if (image.isNull())
        return QImage();
    QImage flipped = imageWithSize(image.width(), image.height());
    QPainter painter(&flipped);
    painter.scale(1, -1);
    drawImage(painter, image, 0, -image.height());
    return flipped;
}

QImage rotateImage(const QImage &image, double degrees)
{
    if (!(degrees > 0 && degrees < 360) || image.isNull())
        return image;
    // Counter-clockwise as seen, which is a negative turn where y grows downward.
    const QImage source = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QTransform turn = QTransform().rotate(-degrees);
    const QRectF bounds = turn.mapRect(QRectF(source.rect()));
    if (bounds.width() > MaxImageSide || bounds.height() > MaxImageSide)
        return image;
    return source.transformed(turn, Qt::SmoothTransformation);
}

namespace {

QImage drawScaled(const QImage &image, double width, double height)
{
    if (image.isNull())
        return QImage();
    QImage scaled = imageWithSize(width, height);
    // Into the whole image, so a side rounded up to a whole pixel is covered rather than
    // left clear. QImage's smooth scaling averages every source pixel when shrinking, where
    // a painter's smooth transform only samples and lets large reductions alias.
    const QImage resized = image.convertToFormat(QImage::Format_ARGB32_Premultiplied)
                               .scaled(scaled.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&scaled);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, resized);
    return scaled;
}

} // namespace

QImage smoothScale(const QImage &image, double toWidth, double andHeight)
{
    return drawScaled(image, toWidth < 1 ? 1 : toWidth, andHeight < 1 ? 1 : andHeight);
}

QImage smoothScaleToWidth(const QImage &image, double toWidth)
{
    if (image.isNull())
        return QImage();
    return smoothScale(image, toWidth, image.height() * (toWidth / image.width()));
}

QImage smoothScaleToHeight(const QImage &image, double toHeight)
{
    if (image.isNull())
        return QImage();
    return smoothScale(image, image.width() * (toHeight / image.height()), toHeight);
}

QImage smoothScaleTo(const QImage &image, double to)
{
    if (image.isNull())
        return QImage();
    const double w = image.width(), h = image.height();
    double width = to, height = to;
    if (w > h)
        height = to / w * h;
    else if (h > w)
        width = to / h * w;
    return drawScaled(image, width, height);
}

// ---- Converting ----

namespace {

QImage premultiplied(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

QImage NSImageToCGImage(const QImage &image)
{
    return premultiplied(image);
}

QImage cgImageToNSImage(const QImage &image)
{
    if (image.isNull()) {
        qCWarning(lcUi).noquote() << "FennimarImaging.cgImageToNSImage - bitmapRep == nil";
        return QImage();
    }
    return premultiplied(image);
}

QImage bitmapImageRepForNSImage(const QImage &image)
{
    return premultiplied(image);
}

QImage coreImageFromNSImage(const QImage &image)
{
    return premultiplied(image);
}

QImage coreImageFromNSImageNEW(const QImage &image)
{
    if (image.isNull())
        return QImage();
    QImage flipped = imageWithSize(image.width(), image.height());
    QPainter painter(&flipped);
    painter.setTransform(QTransform().translate(0, 128).scale(1, -1));
    painter.drawImage(QPointF(0, 0), image);
    return flipped;
}

QImage coreImageToNSImage(const QImage &image)
{
    if (image.isNull())
        return QImage();
    QImage copy = imageWithSize(image.width(), image.height());
    QPainter painter(&copy);
    painter.drawImage(QPointF(0, 0), image);
    return copy;
}

// ---- Writing and files ----

namespace {

// GIF: Qt reads it but has no writer, so the library carries a small one: one frame,
// at most 256 colours, one of them transparent when the image has see-through pixels.
class GifBits
{
public:
    void write(int code, int size)
    {
        m_buffer |= quint32(code) << m_count;
        m_count += size;
        while (m_count >= 8) {
            m_bytes.append(char(m_buffer & 0xFF));
            m_buffer >>= 8;
            m_count -= 8;
        }
    }
    QByteArray finish()
    {
        if (m_count > 0)
            m_bytes.append(char(m_buffer & 0xFF));
        m_buffer = 0;
        m_count = 0;
        return m_bytes;
    }

private:
    QByteArray m_bytes;
    quint32 m_buffer = 0;
    int m_count = 0;
};

QByteArray lzwCompress(const QImage &indexed, int minCodeSize)
{
    const int clear = 1 << minCodeSize;
    const int end = clear + 1;
    int codeSize = minCodeSize + 1;
    int next = end + 1;
    QHash<quint32, int> table;
    GifBits bits;
    bits.write(clear, codeSize);
    int prefix = -1;
    for (int y = 0; y < indexed.height(); ++y) {
        const uchar *row = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x) {
            const int c = row[x];
            if (prefix < 0) {
                prefix = c;
                continue;
            }
            const quint32 key = (quint32(prefix) << 8) | quint32(c);
            if (const auto it = table.constFind(key); it != table.constEnd()) {
                prefix = *it;
                continue;
            }
            bits.write(prefix, codeSize);
            if (next < 4096) {
                table.insert(key, next++);
                if (next > (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            } else {
                bits.write(clear, codeSize);
                table.clear();
                codeSize = minCodeSize + 1;
                next = end + 1;
            }
            prefix = c;
        }
    }
    if (prefix >= 0)
        bits.write(prefix, codeSize);
    bits.write(end, codeSize);
    return bits.finish();
}

QByteArray encodeGif(const QImage &source)
{
    const QImage argb = source.convertToFormat(QImage::Format_ARGB32);
    if (argb.isNull() || argb.width() > 65535 || argb.height() > 65535)
        return QByteArray();
    bool seeThrough = false;
    QImage opaque = argb;
    for (int y = 0; y < opaque.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x) {
            if (qAlpha(row[x]) < 128) {
                seeThrough = true;
                row[x] = qRgb(0, 0, 0);
            } else {
                row[x] |= 0xFF000000u;
            }
        }
    }
    // From RGB32 Qt keeps the exact colours of an image with at most 256 of them and
    // dithers only the others (from ARGB32 it would always quantize).
    opaque.convertTo(QImage::Format_RGB32);
    QImage indexed = opaque.convertToFormat(QImage::Format_Indexed8, Qt::DiffuseDither);
    int transparent = -1;
    if (seeThrough) {
        if (indexed.colorCount() >= 256) {
            QList<QRgb> cube;
            for (int r = 0; r < 6; ++r)
                for (int g = 0; g < 6; ++g)
                    for (int b = 0; b < 6; ++b)
                        cube.append(qRgb(r * 51, g * 51, b * 51));
            indexed = opaque.convertToFormat(QImage::Format_Indexed8, cube, Qt::DiffuseDither);
        }
        transparent = indexed.colorCount();
        QList<QRgb> colors = indexed.colorTable();
        colors.append(qRgb(0, 0, 0));
        indexed.setColorTable(colors);
        for (int y = 0; y < argb.height(); ++y) {
            const QRgb *in = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
            uchar *out = indexed.scanLine(y);
            for (int x = 0; x < argb.width(); ++x) {
                if (qAlpha(in[x]) < 128)
                    out[x] = uchar(transparent);
            }
        }
    }
    const QList<QRgb> colors = indexed.colorTable();
    int tableBits = 1;
    while ((1 << tableBits) < colors.size())
        ++tableBits;

    QByteArray gif("GIF89a");
    const auto word = [&gif](int v) {
        gif.append(char(v & 0xFF));
        gif.append(char((v >> 8) & 0xFF));
    };
    word(indexed.width());
    word(indexed.height());
    gif.append(char(0x80 | 0x70 | (tableBits - 1)));
    gif.append('\0');
    gif.append('\0');
    for (int i = 0; i < (1 << tableBits); ++i) {
        const QRgb c = i < colors.size() ? colors.at(i) : 0;
        gif.append(char(qRed(c)));
        gif.append(char(qGreen(c)));
        gif.append(char(qBlue(c)));
    }
    if (transparent >= 0)
        gif.append(QByteArray("\x21\xF9\x04\x01\x00\x00", 6)).append(char(transparent)).append('\0');
    gif.append('\x2C');
    word(0);
    word(0);
    word(indexed.width());
    word(indexed.height());
    gif.append('\0');
    const int minCodeSize = std::max(2, tableBits);
    gif.append(char(minCodeSize));
    const QByteArray data = lzwCompress(indexed, minCodeSize);
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const qsizetype n = std::min<qsizetype>(255, data.size() - at);
        gif.append(char(n));
        gif.append(data.mid(at, n));
    }
    gif.append('\0');
    gif.append('\x3B');
    return gif;
}

QByteArray formatFor(int type)
{
    switch (type) {
    case TIFFFileType: return "tiff";
    case BMPFileType: return "bmp";
    case GIFFileType: return "gif";
    case JPEGFileType: return "jpeg";
    case PNGFileType: return "png";
    default: return QByteArray();
    }
}

bool writeAtomically(const QString &path, const QByteArray &data)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    qCWarning(lcUi).noquote() << u"FennimarImaging - could not write %1: %2"_s.arg(path, file.errorString());
    return false;
}

QImage load(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        qCWarning(lcUi).noquote() << u"FennimarImaging - could not read the image %1: %2"_s.arg(path, reader.errorString());
    return image;
}

} // namespace

QByteArray writeImage(const QImage &image, const std::optional<QString> &toFile, int asType)
{
    const QByteArray format = formatFor(asType);
    QByteArray data;
    if (format == "gif") {
        data = encodeGif(image);
    } else if (!format.isEmpty() && !image.isNull()) {
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, format);
        if (!writer.write(image)) {
            qCWarning(lcUi).noquote() << u"FennimarImaging.writeImage - cannot encode %1: %2"_s.arg(
                                             QString::fromLatin1(format), writer.errorString());
            data.clear();
        }
    }
    if (data.isEmpty()) {
        if (format.isEmpty())
            qCWarning(lcUi).noquote() << u"FennimarImaging.writeImage - unknown file type %1"_s.arg(asType);
        return data;
    }
    if (toFile)
        writeAtomically(*toFile, data);
    return data;
}

bool writeThumbnailOf(const QString &sourcePath, double atSize, const QString &to)
{
    const QImage source = load(sourcePath);
    if (source.isNull())
        return false;
    const QByteArray data = writeImage(smoothScaleTo(source, atSize), std::nullopt, PNGFileType);
    return !data.isEmpty() && writeAtomically(to, data);
}

bool resavePNG(const QString &path)
{
    const QImage image = load(path);
    if (image.isNull())
        return false;
    const QByteArray data = writeImage(image, std::nullopt, PNGFileType);
    return !data.isEmpty() && writeAtomically(path, data);
}

bool compressPNG(const QString &path)
{
    const QString tool = QStandardPaths::findExecutable(u"pngcrush"_s);
    if (tool.isEmpty()) {
        qCInfo(lcUi).noquote() << u"FennimarImaging.compressPNG - pngcrush is not installed; %1 left as it is"_s.arg(path);
        return false;
    }
    const QString temporary = RidorIvuvud::makeTempFile();
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, {u"-q"_s, path, temporary});
    bool finished = process.waitForFinished(60000);
    if (!finished) {
        process.kill();
        process.waitForFinished(5000);
    }
    bool replaced = false;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qCWarning(lcUi).noquote() << u"FennimarImaging.compressPNG - pngcrush failed on %1 (%2); file left as it is"_s.arg(
                                         path, finished ? QString::fromLocal8Bit(process.readAll()).trimmed()
                                                        : u"no answer within a minute"_s);
    } else if (QImageReader(temporary, "png").canRead()) {
        QFile output(temporary);
        replaced = output.open(QIODevice::ReadOnly) && writeAtomically(path, output.readAll());
    } else {
        qCWarning(lcUi).noquote() << u"FennimarImaging.compressPNG - pngcrush left no image for %1; file left as it is"_s.arg(path);
    }
    QFile::remove(temporary);
    return replaced;
}

int fileTypeForPath(const QString &path)
{
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == "jpg"_L1 || extension == "jpeg"_L1)
        return JPEGFileType;
    if (extension == "png"_L1)
        return PNGFileType;
    if (extension == "tif"_L1 || extension == "tiff"_L1)
        return TIFFFileType;
    if (extension == "gif"_L1)
        return GIFFileType;
    qCWarning(lcUi).noquote() << u"FennimarImaging.fileTypeForPath - unknown Extension:%1"_s.arg(QFileInfo(path).suffix());
    return UnknownFileType;
}

bool fileIsImage(const QString &path)
{
    const QByteArray extension = QFileInfo(path).suffix().toLower().toUtf8();
    return !extension.isEmpty() && QImageReader::supportedImageFormats().contains(extension);
}

bool fileIsImageSLOW(const QString &path)
{
    QImageReader reader(path);
    return !reader.read().isNull();
}

QSizeF dimensionsOfImageFile(const QString &path)
{
    if (!QFileInfo(path).isFile())
        return QSizeF(-1, -1);
    const QSize size = QImageReader(path).size();
    if (!size.isValid())
        return QSizeF(-1, -1);
    return QSizeF(size);
}

// ---- Image filters ----

namespace {

struct Filter
{
    const char *name;
    const char *displayName;
    const char *category;
    QVariantMap inputs;
};

const std::vector<Filter> &filters()
{
    static const std::vector<Filter> list = {
        {"brightnessContrast", "Brightness and Contrast", "colour adjustment",
         {{u"brightness"_s, 0.0}, {u"contrast"_s, 1.0}}},
        {"greyscale", "Greyscale", "colour effect", {}},
        {"sepia", "Sepia Tone", "colour effect", {{u"intensity"_s, 1.0}}},
        {"invert", "Invert Colours", "colour effect", {}},
        {"pixellate", "Pixellate", "stylize", {{u"scale"_s, 8.0}}},
        {"sharpen", "Sharpen", "sharpen", {{u"sharpness"_s, 0.4}}},
        {"gaussianBlur", "Gaussian Blur", "blur", {{u"radius"_s, 10.0}}},
    };
    return list;
}

const Filter *filterNamed(const QString &codeName)
{
    for (const Filter &filter : filters()) {
        if (codeName == QLatin1StringView(filter.name))
            return &filter;
    }
    return nullptr;
}

// Applies a colour function to every pixel of an unpremultiplied copy.
template <typename F>
QImage mapColors(const QImage &image, F f)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            double c[3] = {qRed(row[x]) / 255.0, qGreen(row[x]) / 255.0, qBlue(row[x]) / 255.0};
            f(c);
            const auto to8 = [](double v) { return int(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
            row[x] = qRgba(to8(c[0]), to8(c[1]), to8(c[2]), qAlpha(row[x]));
        }
    }
    return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// One box-blur pass along rows (or columns), edges extended, on premultiplied pixels.
void boxPass(QImage &image, int radius, bool horizontal)
{
    const int length = horizontal ? image.width() : image.height();
    const int lines = horizontal ? image.height() : image.width();
    std::vector<QRgb> line(size_t(length), 0);
    const auto at = [&](int line_, int i) -> QRgb & {
        return horizontal ? reinterpret_cast<QRgb *>(image.scanLine(line_))[i]
                          : reinterpret_cast<QRgb *>(image.scanLine(i))[line_];
    };
    const int window = 2 * radius + 1;
    for (int l = 0; l < lines; ++l) {
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = at(l, i);
        int sum[4] = {0, 0, 0, 0};
        const auto add = [&](QRgb p, int sign) {
            sum[0] += sign * qAlpha(p);
            sum[1] += sign * qRed(p);
            sum[2] += sign * qGreen(p);
            sum[3] += sign * qBlue(p);
        };
        const auto pixel = [&](int i) { return line[size_t(std::clamp(i, 0, length - 1))]; };
        for (int i = -radius; i <= radius; ++i)
            add(pixel(i), 1);
        for (int i = 0; i < length; ++i) {
            at(l, i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            add(pixel(i - radius), -1);
            add(pixel(i + radius + 1), 1);
        }
    }
}

QImage blurred(const QImage &image, double radius)
{
    QImage out = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Three box passes come close to a Gaussian whose standard deviation is the radius / 3.
    const int box = int(std::lround(std::clamp(radius, 0.0, 100.0) / 3));
    if (box < 1)
        return out;
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(out, box, true);
        boxPass(out, box, false);
    }
    return out;
}

double input(const QVariantMap &parameters, const Filter &filter, const QString &key)
{
    return parameters.value(key, filter.inputs.value(key)).toDouble();
}

} // namespace

QStringList allCoreImageFilters()
{
    QStringList names;
    for (const Filter &filter : filters())
        names.append(QLatin1StringView(filter.name));
    return names;
}

QStringList allCoreImageFiltersAsPrettyNames()
{
    QStringList names;
    for (const Filter &filter : filters())
        names.append(QLatin1StringView(filter.displayName));
    return names;
}

QVariantMap coreImageFilterAttributes(const QString &codeName)
{
    const Filter *filter = filterNamed(codeName);
    if (!filter)
        return {};
    return {{u"name"_s, QString(QLatin1StringView(filter->name))},
            {u"displayName"_s, QString(QLatin1StringView(filter->displayName))},
            {u"category"_s, QString(QLatin1StringView(filter->category))},
            {u"inputs"_s, filter->inputs}};
}

std::optional<QString> coreImagePrettyNameForCodeName(const QString &codeName)
{
    if (const Filter *filter = filterNamed(codeName))
        return QString(QLatin1StringView(filter->displayName));
    return std::nullopt;
}

std::optional<QString> coreImageCodeNameForPrettyName(const QString &prettyName)
{
    for (const Filter &filter : filters()) {
        if (prettyName == QLatin1StringView(filter.displayName))
            return QString(QLatin1StringView(filter.name));
    }
    return std::nullopt;
}

QImage applyCoreImageFilter(const QString &codeName, const QImage &image, const QVariantMap &parameters)
{
    const Filter *filter = filterNamed(codeName);
    if (!filter) {
        qCWarning(lcUi).noquote() << u"FennimarImaging.applyCoreImageFilter - unknown filter %1"_s.arg(codeName);
        return QImage();
    }
    if (image.isNull())
        return QImage();
    const QString name = codeName;
    if (name == "brightnessContrast"_L1) {
        const double brightness = input(parameters, *filter, u"brightness"_s);
        const double contrast = input(parameters, *filter, u"contrast"_s);
        return mapColors(image, [&](double *c) {
            for (int i = 0; i < 3; ++i)
                c[i] = (c[i] - 0.5) * contrast + 0.5 + brightness;
        });
    }
    if (name == "greyscale"_L1) {
        return mapColors(image, [](double *c) {
            const double luma = 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2];
            c[0] = c[1] = c[2] = luma;
        });
    }
    if (name == "sepia"_L1) {
        const double intensity = std::clamp(input(parameters, *filter, u"intensity"_s), 0.0, 1.0);
        return mapColors(image, [&](double *c) {
            const double tone[3] = {0.393 * c[0] + 0.769 * c[1] + 0.189 * c[2],
                                    0.349 * c[0] + 0.686 * c[1] + 0.168 * c[2],
                                    0.272 * c[0] + 0.534 * c[1] + 0.131 * c[2]};
            for (int i = 0; i < 3; ++i)
                c[i] += (tone[i] - c[i]) * intensity;
        });
    }
    if (name == "invert"_L1)
        return mapColors(image, [](double *c) {
            for (int i = 0; i < 3; ++i)
                c[i] = 1 - c[i];
        });
    if (name == "pixellate"_L1) {
        const int block = std::clamp(int(std::lround(input(parameters, *filter, u"scale"_s))), 1, 1024);
        const QImage source = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QImage out = source;
        for (int by = 0; by < source.height(); by += block) {
            for (int bx = 0; bx < source.width(); bx += block) {
                const QRect cell = QRect(bx, by, block, block).intersected(source.rect());
                qint64 sum[4] = {0, 0, 0, 0};
                for (int y = cell.top(); y <= cell.bottom(); ++y) {
                    const QRgb *row = reinterpret_cast<const QRgb *>(source.constScanLine(y));
                    for (int x = cell.left(); x <= cell.right(); ++x) {
                        sum[0] += qAlpha(row[x]);
                        sum[1] += qRed(row[x]);
                        sum[2] += qGreen(row[x]);
                        sum[3] += qBlue(row[x]);
                    }
                }
                const qint64 n = qint64(cell.width()) * cell.height();
                const QRgb mean = qRgba(int(sum[1] / n), int(sum[2] / n), int(sum[3] / n), int(sum[0] / n));
                for (int y = cell.top(); y <= cell.bottom(); ++y)
                    std::fill_n(reinterpret_cast<QRgb *>(out.scanLine(y)) + cell.left(), cell.width(), mean);
            }
        }
        return out;
    }
    if (name == "sharpen"_L1) {
        const double sharpness = input(parameters, *filter, u"sharpness"_s);
        const QImage source = image.convertToFormat(QImage::Format_ARGB32);
        QImage soft = source.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        boxPass(soft, 1, true);
        boxPass(soft, 1, false);
        soft.convertTo(QImage::Format_ARGB32);
        QImage out = source;
        for (int y = 0; y < out.height(); ++y) {
            QRgb *row = reinterpret_cast<QRgb *>(out.scanLine(y));
            const QRgb *blur = reinterpret_cast<const QRgb *>(soft.constScanLine(y));
            for (int x = 0; x < out.width(); ++x) {
                const auto edge = [&](int v, int b) { return std::clamp(int(std::lround(v + (v - b) * sharpness)), 0, 255); };
                row[x] = qRgba(edge(qRed(row[x]), qRed(blur[x])), edge(qGreen(row[x]), qGreen(blur[x])),
                               edge(qBlue(row[x]), qBlue(blur[x])), qAlpha(row[x]));
            }
        }
        return out.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return blurred(image, input(parameters, *filter, u"radius"_s));
}

} // namespace FennimarImaging
