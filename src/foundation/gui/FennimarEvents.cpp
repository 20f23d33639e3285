#include "FennimarEvents.h"

#include "foundationguilogging.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputEvent>
#include <QMouseEvent>

namespace FennimarEvents {

namespace {

// Notes the modifiers and button of every input event as the application delivers it.
class InputWatcher : public QObject
{
public:
    using QObject::QObject;

    bool seen = false;
    Qt::KeyboardModifiers modifiers;
    int buttonNumber = -1;

    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            seen = true;
            modifiers = static_cast<QInputEvent *>(event)->modifiers();
            if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease
                || event->type() == QEvent::MouseButtonDblClick) {
                switch (static_cast<QMouseEvent *>(event)->button()) {
                case Qt::LeftButton:
                    buttonNumber = 0;
                    break;
                case Qt::RightButton:
                    buttonNumber = 1;
                    break;
                case Qt::MiddleButton:
                    buttonNumber = 2;
                    break;
                default:
                    buttonNumber = 3;
                    break;
                }
            }
            break;
        default:
            break;
        }
        return false;
    }
};

InputWatcher *watcher = nullptr;

void installWatcher()
{
    if (!watcher && QCoreApplication::instance()) {
        watcher = new InputWatcher(QCoreApplication::instance());
        QCoreApplication::instance()->installEventFilter(watcher);
        QObject::connect(watcher, &QObject::destroyed, [] { watcher = nullptr; });
    }
}

Qt::KeyboardModifiers currentModifiers()
{
    installWatcher();
    if (watcher && watcher->seen)
        return watcher->modifiers;
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::keyboardModifiers()
                                                                         : Qt::NoModifier;
}

} // namespace

// Watching starts with the application object, so the first user action is seen too.
Q_COREAPP_STARTUP_FUNCTION(installWatcher)

quint32 modifierFlags()
{
    const Qt::KeyboardModifiers modifiers = currentModifiers();
    quint32 flags = 0;
    if (modifiers.testFlag(Qt::ShiftModifier))
        flags |= ShiftKeyMask;
    if (modifiers.testFlag(Qt::ControlModifier))
        flags |= ControlKeyMask;
    if (modifiers.testFlag(Qt::AltModifier))
        flags |= OptionKeyMask;
    if (modifiers.testFlag(Qt::MetaModifier))
        flags |= CommandKeyMask;
    return flags;
}

bool isShiftPressed()
{
    return modifierFlags() & ShiftKeyMask;
}

bool isCommandPressed()
{
    return modifierFlags() & CommandKeyMask;
}

bool isControlPressed()
{
    return modifierFlags() & ControlKeyMask;
}

bool isOptionPressed()
{
    return modifierFlags() & OptionKeyMask;
}

bool isMouseDown()
{
    installWatcher();
    const int number = watcher ? watcher->buttonNumber : -1;
    qCWarning(lcFoundationGui, "FennimarEvents.isMouseDown DOES NOT WORK!!!");
    qCWarning(lcFoundationGui, "[currentEvent buttonNumber]:%d", number);
    qCWarning(lcFoundationGui, "[currentEvent buttonNumber] == 1:%s", number == 1 ? "YES" : "NO");
    return number == 1;
}

} // namespace FennimarEvents
