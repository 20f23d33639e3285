#pragma once

#include <QColor>

// The library's colours.
namespace FennimarColors {

// White 0.97, opaque: the palest grey, where the row-number column's fade begins.
QColor veryVeryLightGrayColor();

} // namespace FennimarColors
