#pragma once

#include "FennimarObject.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QVariantMap>
#include <QWidget>

class QEventLoop;
class QPropertyAnimation;

// The library's base window controller. It keeps the top-level objects of the interface
// file it loaded alive for as long as it lives, and shows its window plainly, as a sheet,
// application-modal, or with a fade.
//
// Animated closing fades the window out and orders it out after closeDelay() (one second);
// until then the window stays visible. Showing or toggling the window cancels a pending
// close, so a window asked for again is never taken away by an older close.
class FennimarWindowController : public QObject, public FennimarObject
{
    Q_OBJECT

public:
    static constexpr int DefaultCloseDelay = 1000; // milliseconds
    static constexpr int FadeDuration = 250;       // milliseconds, a fade in or out

    explicit FennimarWindowController(QObject *parent = nullptr);
    ~FennimarWindowController() override;

    // Loads the interface file "<name>.ui" of the resources with the controller as owner.
    // Its first top-level widget becomes the window unless the controller has one. A file
    // that cannot be loaded is logged and leaves the controller without a window. Always
    // true.
    bool loadBundle(const QString &name);
    void setTopLevelObjectsDict(const NibNameTable &table) override;

    // The controller's window; null when none was loaded or set. The controller does not
    // own a window set here unless it is among the retained objects.
    QWidget *window() const { return m_window; }
    void setWindow(QWidget *window);

    // Free store for subclasses.
    QVariantMap &miscObjects() { return _miscObjects; }

    // Forgets and deletes the retained top-level objects (the loaded window among them).
    void shutdown();

    void showAsSheetOnWindow(QWidget *parent);
    void stopSheet();

    // Runs a modal loop for the window, application-modal, until stopModal().
    void showAsModal();
    void stopModal();
    void stopModalAndClose(QObject *sender = nullptr);
    // Fades the centred window in and starts the modal loop once the fade had its second.
    void showAsModalAnimated();

    // Makes the window visible, in front and active, fading in from transparent.
    void showWindowAnimated(QObject *sender = nullptr);
    // Fades the window out; it is ordered out closeDelay() later.
    void closeWindowAnimated(QObject *sender = nullptr);
    // Cancels a pending animated close and orders the window out now.
    void closeWindow(QObject *sender = nullptr);
    // Cancels a pending animated close, then closes a visible window animated or shows a
    // hidden one.
    void toggleWindowAnimated(QObject *sender = nullptr);

    bool isVisible() const;
    void reportRetainCount(QObject *) {}

    // The pending close timer, or null when no animated close is pending.
    const QTimer *closeTimer() const { return _timer; }
    int closeDelay() const { return m_closeDelay; }
    void setCloseDelay(int milliseconds) { m_closeDelay = milliseconds; }

Q_SIGNALS:
    // The window was ordered out by closeWindow() (an animated close included).
    void windowOrderedOut();

private:
    void cancelCloseTimer();
    void fadeTo(qreal opacity);

    QPointer<QWidget> m_window;
    QPointer<QTimer> _timer;
    QVariantMap _miscObjects;
    QPointer<QPropertyAnimation> m_fade;
    QPointer<QEventLoop> m_modalLoop;
    int m_closeDelay = DefaultCloseDelay;
};
