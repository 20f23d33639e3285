#pragma once

#include <QDBusConnection>
#include <QLatin1StringView>
#include <QString>
#include <QVariant>

#include <optional>

// Local notifications: named messages posted inside this program and handed at once, in
// the poster's call, to every observer subscribed to that name (or to every name).
//
// Distributed notifications: small named messages that one program posts and any
// program on the same D-Bus session bus may receive, for instance a sibling tool
// handing this program a file to load.
//
// On the bus a notification is the signal
//   path      /net/fennimar/DistributedNotifications
//   interface net.fennimar.DistributedNotifications
//   member    Post
//   arguments the notification's name (string), then its object (string, optional)
// broadcast from any sender; nothing filters by sender or by object.

struct DistributedNotification
{
    QString name;
    QVariant object; // a string (may be empty); invalid when the sender gave none
};

// Anything that wants distributed notifications. Destroying an observer ends all of
// its subscriptions, so no notification reaches an observer that is gone.
class DistributedObserver
{
public:
    DistributedObserver() = default;
    DistributedObserver(const DistributedObserver &) = delete;
    DistributedObserver &operator=(const DistributedObserver &) = delete;
    virtual ~DistributedObserver();

    virtual void easyDistributedNotifications(const DistributedNotification &notification) = 0;
};

struct LocalNotification
{
    QString name;
    QVariant object; // whatever the poster gave; invalid for none
};

// Anything that wants local notifications. Destroying an observer ends its
// subscriptions.
class LocalObserver
{
public:
    LocalObserver() = default;
    LocalObserver(const LocalObserver &) = delete;
    LocalObserver &operator=(const LocalObserver &) = delete;
    virtual ~LocalObserver();

    virtual void easyNotifications(const LocalNotification &notification) = 0;
};

namespace FennimarNotifications {

// Subscribes the observer to the local notifications of that name. No name subscribes it
// to every local notification, logged as "You have passed nil as the name, Apple claims
// this can cause performance problems, please don't do it.". Subscribing twice delivers
// twice. Main thread only.
void addObserver(LocalObserver *observer, const std::optional<QString> &name);

// Hands the notification to every observer subscribed at the moment of posting, in the
// order they subscribed, before returning. postWhenIdle is accepted for callers that
// pass it; posting is always immediate. An observer removed by an earlier one during the
// same post is not called.
void postNotification(const QString &name, const QVariant &object = QVariant(), bool postWhenIdle = false);

// Ends every local subscription of the observer.
void removeObserver(LocalObserver *observer);

inline constexpr QLatin1StringView DistributedPath{"/net/fennimar/DistributedNotifications"};
inline constexpr QLatin1StringView DistributedInterface{"net.fennimar.DistributedNotifications"};
inline constexpr QLatin1StringView DistributedMember{"Post"};

// Subscribes the observer to the notifications of that name (the bus filters on the
// first argument). No name subscribes it to every notification, which is logged since
// it wakes the program for everything posted on the bus. Notifications arrive on the
// thread that subscribed, through its event loop. False when the observer is missing
// or the connection is not usable.
bool addDistributedObserver(DistributedObserver *observer, const std::optional<QString> &name,
                            QDBusConnection connection = QDBusConnection::sessionBus());

// Ends every subscription of the observer (its destructor does this too).
void removeDistributedObserver(DistributedObserver *observer);

// Posts a notification to every subscriber on the connection's bus, this program
// included. False when the connection is not usable or the bus refused it.
bool postDistributedNotification(const QString &name, const QString &object = QString(),
                                 QDBusConnection connection = QDBusConnection::sessionBus());

} // namespace FennimarNotifications
