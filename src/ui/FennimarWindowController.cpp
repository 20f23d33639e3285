#include "FennimarWindowController.h"

#include "FennimarBundles.h"
#include "RidorIvuvud.h"
#include "uilogging.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QWidget>

FennimarWindowController::FennimarWindowController(QObject *parent) : QObject(parent) {}

FennimarWindowController::~FennimarWindowController()
{
    cancelCloseTimer();
    if (m_modalLoop)
        m_modalLoop->quit();
}

bool FennimarWindowController::loadBundle(const QString &name)
{
    return FennimarBundles::loadNibNamed(name, this);
}

void FennimarWindowController::setTopLevelObjectsDict(const NibNameTable &table)
{
    FennimarObject::setTopLevelObjectsDict(table);
    if (m_window)
        return;
    for (QObject *object : table.topLevelObjects) {
        if (auto *widget = qobject_cast<QWidget *>(object)) {
            setWindow(widget);
            break;
        }
    }
}

void FennimarWindowController::setWindow(QWidget *window)
{
    m_window = window;
}

void FennimarWindowController::shutdown()
{
    cancelCloseTimer();
    releaseRetainedObjects();
}

void FennimarWindowController::showAsSheetOnWindow(QWidget *parent)
{
    RidorIvuvud::startASheet(m_window, parent, this);
}

void FennimarWindowController::stopSheet()
{
    RidorIvuvud::stopASheet(m_window);
}

void FennimarWindowController::showAsModal()
{
    if (!m_window || m_modalLoop)
        return;
    m_window->setWindowModality(Qt::ApplicationModal);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    QEventLoop loop;
    m_modalLoop = &loop;
    loop.exec(QEventLoop::DialogExec);
}

void FennimarWindowController::stopModal()
{
    if (m_window)
        m_window->hide();
    if (m_modalLoop)
        m_modalLoop->quit();
}

void FennimarWindowController::stopModalAndClose(QObject *)
{
    stopModal();
}

void FennimarWindowController::showAsModalAnimated()
{
    if (!m_window)
        return;
    m_window->setWindowOpacity(0.0);
    if (const QScreen *screen = m_window->screen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    fadeTo(1.0);
    QTimer::singleShot(DefaultCloseDelay, this, [this] { showAsModal(); });
}

void FennimarWindowController::showWindowAnimated(QObject *)
{
    if (!m_window)
        return;
    // A close still pending from before would take the window away again.
    cancelCloseTimer();
    if (!m_window->isVisible())
        m_window->setWindowOpacity(0.0);
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
    fadeTo(1.0);
}

void FennimarWindowController::closeWindowAnimated(QObject *)
{
    if (!m_window)
        return;
    fadeTo(0.0);
    cancelCloseTimer();
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    timer->setInterval(m_closeDelay);
    connect(timer, &QTimer::timeout, this, [this] { closeWindow(); });
    _timer = timer;
    timer->start();
}

void FennimarWindowController::closeWindow(QObject *)
{
    cancelCloseTimer();
    if (m_fade)
        m_fade->stop();
    if (!m_window)
        return;
    const bool wasVisible = m_window->isVisible();
    m_window->hide();
    // The next plain show() must not find an invisible window.
    m_window->setWindowOpacity(1.0);
    if (wasVisible)
        Q_EMIT windowOrderedOut();
}

void FennimarWindowController::toggleWindowAnimated(QObject *sender)
{
    cancelCloseTimer();
    if (isVisible())
        closeWindowAnimated(sender);
    else
        showWindowAnimated(sender);
}

bool FennimarWindowController::isVisible() const
{
    return m_window && m_window->isVisible();
}

void FennimarWindowController::cancelCloseTimer()
{
    if (_timer) {
        _timer->stop();
        _timer->deleteLater();
    }
    _timer = nullptr;
}

void FennimarWindowController::fadeTo(qreal opacity)
{
    if (m_fade)
        m_fade->stop();
    auto *fade = new QPropertyAnimation(m_window, "windowOpacity", this);
    fade->setDuration(FadeDuration);
    fade->setStartValue(m_window->windowOpacity());
    fade->setEndValue(opacity);
    m_fade = fade;
    fade->start(QAbstractAnimation::DeleteWhenStopped);
}
