#include "FennimarColors.h"

namespace FennimarColors {

QColor veryVeryLightGrayColor()
{
    return QColor::fromRgbF(0.97f, 0.97f, 0.97f, 1.0f);
}

} // namespace FennimarColors
