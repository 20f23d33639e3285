#include "FennimarImaging.h"

#include "Bundle.h"

#include <QFileInfo>
#include <QIcon>

#include <algorithm>
#include <cmath>

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

} // namespace FennimarImaging
