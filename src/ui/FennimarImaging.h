#pragma once

#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

class QPainter;

// Image helpers on QImage and QPainter: named and blank images, drawing at a point or
// centred, compositing, flipping, tiling, rotating and smooth scaling, writing TIFF, GIF,
// JPEG and PNG files, thumbnails, PNG recompression, image-file tests and sizes, and the
// image filters this library offers.
//
// Positions are Qt's: the origin is the top-left corner and y grows downward. The forms
// other libraries keep separate (bitmaps, device images, filter images) are all QImage here.
namespace FennimarImaging {

// The longest side of an image made here, in pixels: larger requests are cut to it, so a
// wild size cannot ask for gigabytes.
inline constexpr int MaxImageSide = 16384;

// Image file types.
inline constexpr int TIFFFileType = 0;
inline constexpr int BMPFileType = 1;
inline constexpr int GIFFileType = 2;
inline constexpr int JPEGFileType = 3;
inline constexpr int PNGFileType = 4;
inline constexpr int UnknownFileType = -1;

// ---- Loading and making ----

// The image of that name: the icon theme's image when the theme has one, else the first
// file that loads of <resources>/<name>, <resources>/images/<name>.png and
// <resources>/images/<name>.svg (resources: brisko::Bundle::resourcePath()). A null image
// when none does.
QImage imageNamed(const QString &name);

// A new transparent image (ARGB32, premultiplied). A dimension below 0.1 becomes 1, and as
// images hold whole pixels a fractional one is rounded up: (0, 0.05) and (0.2, 1) are 1 × 1.
QImage imageWithSize(double width, double height);
// Whether the image is at least 1 × 1.
bool checkImageSize(const QImage &image);
// (0, 0, width, height).
QRectF rectForImage(const QImage &image);
// Whether neither side is longer than the length.
bool image(const QImage &image, double isSmallerThan);

// ---- Drawing ----

// The whole image with its top-left corner at (x, y), blended over at the given opacity.
void drawImage(QPainter &painter, const QImage &image, double atX, double Y, double withAlpha = 1);
// The image in the middle of the rectangle, its corner put on whole points (halves away
// from zero).
void drawImageCenteredInRect(QPainter &painter, const QImage &image, const QRectF &centeredInRect,
                             double withAlpha = 1);
// The image as an image cell shows it: scaled down (never up) to fit the rectangle, aspect
// kept, centred. Returns where it went.
QRectF drawImageInCellUsingRect(QPainter &painter, const QImage &image, const QRectF &inCellUsingRect);
// Draws the image onto the target with its top-left corner at the offset, and returns the
// target.
QImage &compositeImageDirectly(const QImage &image, QImage &onto, QPointF withOffset);
// The same on a copy of the target; the target is left unchanged.
QImage compositeImage(const QImage &image, const QImage &onto, QPointF withOffset);
// Tiles the rectangle (moved down by yoffset) with the image at its pixel size, starting at
// the rectangle's top-left corner and clipped to it. Repeat 0 draws one tile, 1 one row,
// 2 one column, 3 (and anything else) the whole rectangle. Returns the number of tiles drawn.
int tileImage(const QImage &image, const QRectF &intoRect, int repeat, double yoffset, QPainter &inContext);

// ---- Transforming ----

// The image mirrored top to bottom; a null image for a null image.
QImage flipImage(const QImage &image);
// The image turned counter-clockwise by the degrees with its bounds moved to start at the
// origin; the very same image for 0, 360 and anything outside (0, 360).
QImage rotateImage(const QImage &image, double degrees);
// High-quality scaling to the size; a side below 1 becomes 1.
QImage smoothScale(const QImage &image, double toWidth, double andHeight);
// To the width, the height keeping the aspect ratio.
QImage smoothScaleToWidth(const QImage &image, double toWidth);
// To the height, the width keeping the aspect ratio.
QImage smoothScaleToHeight(const QImage &image, double toHeight);
// The longer side to the length, the other keeping the aspect ratio (a square to length ×
// length). A side that comes out below 0.1 becomes 1.
QImage smoothScaleTo(const QImage &image, double to);

// ---- Converting ----

// Each gives a premultiplied ARGB32 copy of the image, the form every drawing call here
// works fastest with; cgImageToNSImage logs "FennimarImaging.cgImageToNSImage - bitmapRep
// == nil" for a null image.
QImage NSImageToCGImage(const QImage &image);
QImage cgImageToNSImage(const QImage &image);
QImage bitmapImageRepForNSImage(const QImage &image);
QImage coreImageFromNSImage(const QImage &image);
// The image flipped by the fixed transform "move down 128, mirror": exact for images
// 128 pixels high, shifted for others.
QImage coreImageFromNSImageNEW(const QImage &image);
QImage coreImageToNSImage(const QImage &image);

// ---- Writing and files ----

// The image encoded as the type (TIFF, BMP, GIF, JPEG or PNG). With a path the data is also
// written there, atomically; a failure is logged. Empty data when the type cannot be
// encoded.
QByteArray writeImage(const QImage &image, const std::optional<QString> &toFile, int asType);
// Loads the image, scales its longer side to the size and writes it as PNG. False when the
// source does not load or the file cannot be written.
bool writeThumbnailOf(const QString &sourcePath, double atSize, const QString &to);
// Loads the image and writes it back to the same path as PNG.
bool resavePNG(const QString &path);
// Recompresses the PNG with `pngcrush` (input, output), found on the PATH. The file is
// replaced only when the tool ended well within a minute and left an image; otherwise, or
// when the tool is not installed, the file stays as it was and a line is logged.
bool compressPNG(const QString &path);
// The type of the file's extension, whatever its case: jpg/jpeg 3, png 4, tif/tiff 0,
// gif 2; anything else -1, logged ("FennimarImaging.fileTypeForPath - unknown Extension:…").
int fileTypeForPath(const QString &path);
// Whether the extension is one Qt reads images from.
bool fileIsImage(const QString &path);
// Whether the file's contents load as an image.
bool fileIsImageSLOW(const QString &path);
// The pixel size recorded in the file's header, without decoding it; (-1, -1) for a missing
// file or one whose size cannot be read.
QSizeF dimensionsOfImageFile(const QString &path);

// ---- Image filters ----

// The code names of the filters offered here, by category (colour adjustment, colour
// effect, stylize, sharpen, blur).
QStringList allCoreImageFilters();
// Their display names, in the same order.
QStringList allCoreImageFiltersAsPrettyNames();
// A filter's description: "name", "displayName", "category" and "inputs" (each input's
// default value). Empty for an unknown code name.
QVariantMap coreImageFilterAttributes(const QString &codeName);
// The display name of a code name; none for an unknown one.
std::optional<QString> coreImagePrettyNameForCodeName(const QString &codeName);
// The first code name whose display name is exactly the text; none when no filter has it.
std::optional<QString> coreImageCodeNameForPrettyName(const QString &prettyName);
// The image through the filter, inputs missing from the parameters taking their defaults.
// A null image for an unknown filter (logged).
QImage applyCoreImageFilter(const QString &codeName, const QImage &image, const QVariantMap &parameters = {});

} // namespace FennimarImaging
