#pragma once

#include <QImage>
#include <QString>

// Image helpers.
namespace FennimarImaging {

// The image of that name: the icon theme's image when the theme has one, else the first
// file that loads of <resources>/<name>, <resources>/images/<name>.png and
// <resources>/images/<name>.svg (resources: brisko::Bundle::resourcePath()). A null image
// when none does.
QImage imageNamed(const QString &name);

} // namespace FennimarImaging
