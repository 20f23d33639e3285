#pragma once

#include <QImage>
#include <QString>

// Image helpers.
namespace FennimarImaging {

// The longest side of an image made here, in pixels: larger requests are cut to it, so a
// wild size cannot ask for gigabytes.
inline constexpr int MaxImageSide = 16384;

// The image of that name: the icon theme's image when the theme has one, else the first
// file that loads of <resources>/<name>, <resources>/images/<name>.png and
// <resources>/images/<name>.svg (resources: brisko::Bundle::resourcePath()). A null image
// when none does.
QImage imageNamed(const QString &name);

// A new transparent image (ARGB32, premultiplied). A dimension below 0.1 becomes 1, and as
// images hold whole pixels a fractional one is rounded up: (0, 0.05) and (0.2, 1) are 1 × 1.
QImage imageWithSize(double width, double height);

} // namespace FennimarImaging
