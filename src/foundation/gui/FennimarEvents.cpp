#include "FennimarEvents.h"

#include <QGuiApplication>

namespace FennimarEvents {

bool isOptionPressed()
{
    return QGuiApplication::keyboardModifiers().testFlag(Qt::AltModifier);
}

} // namespace FennimarEvents
