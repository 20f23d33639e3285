#include "FennimarNotifications.h"

#include "foundationguilogging.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QPointer>

using namespace Qt::StringLiterals;

namespace {

// One subscription: receives the bus signal and hands it to its observer. Relays are
// children of one holder object that lives as long as the application object, so the
// subscriptions can be found again when an observer goes away.
class Relay : public QObject
{
    Q_OBJECT

public:
    Relay(DistributedObserver *observer, const std::optional<QString> &name, const QDBusConnection &connection,
          QObject *parent)
        : QObject(parent)
        , m_observer(observer)
        , m_name(name)
        , m_connection(connection)
    {
    }

    DistributedObserver *observer() const { return m_observer; }

    QStringList argumentMatch() const { return m_name ? QStringList{*m_name} : QStringList(); }

    bool subscribe()
    {
        return m_connection.connect(QString(), QString(FennimarNotifications::DistributedPath),
                                    QString(FennimarNotifications::DistributedInterface),
                                    QString(FennimarNotifications::DistributedMember), argumentMatch(), QString(),
                                    this, SLOT(deliver(QDBusMessage)));
    }

    void unsubscribe()
    {
        m_connection.disconnect(QString(), QString(FennimarNotifications::DistributedPath),
                                QString(FennimarNotifications::DistributedInterface),
                                QString(FennimarNotifications::DistributedMember), argumentMatch(), QString(),
                                this, SLOT(deliver(QDBusMessage)));
    }

private Q_SLOTS:
    void deliver(const QDBusMessage &message)
    {
        const QVariantList arguments = message.arguments();
        if (arguments.isEmpty() || arguments.constFirst().typeId() != QMetaType::QString)
            return; // not a notification: it has no name
        DistributedNotification notification;
        notification.name = arguments.constFirst().toString();
        if (m_name && notification.name != *m_name)
            return;
        if (arguments.size() > 1) {
            const QVariant &object = arguments.at(1);
            // A sender may wrap the object in a variant (dbus-send variant:string:...).
            notification.object =
                object.metaType() == QMetaType::fromType<QDBusVariant>() ? object.value<QDBusVariant>().variant() : object;
        }
        m_observer->easyDistributedNotifications(notification);
    }

private:
    DistributedObserver *m_observer;
    std::optional<QString> m_name;
    QDBusConnection m_connection;
};

QObject *relayHolder(bool create)
{
    static QPointer<QObject> holder;
    if (!holder && create && QCoreApplication::instance()) {
        holder = new QObject(QCoreApplication::instance());
        holder->setObjectName(u"DistributedNotificationRelays"_s);
    }
    return holder;
}

} // namespace

namespace {

struct LocalSubscription
{
    LocalObserver *observer;
    std::optional<QString> name;
    quint64 id;
};

QList<LocalSubscription> &localSubscriptions()
{
    static QList<LocalSubscription> subscriptions;
    return subscriptions;
}

quint64 nextSubscriptionId = 1;

} // namespace

LocalObserver::~LocalObserver()
{
    FennimarNotifications::removeObserver(this);
}

DistributedObserver::~DistributedObserver()
{
    FennimarNotifications::removeDistributedObserver(this);
}

namespace FennimarNotifications {

void addObserver(LocalObserver *observer, const std::optional<QString> &name)
{
    if (!observer)
        return;
    if (!name)
        qCWarning(lcFoundationGui).noquote()
            << "You have passed nil as the name, Apple claims this can cause performance problems, please don't do it.";
    localSubscriptions().append({observer, name, nextSubscriptionId++});
}

void postNotification(const QString &name, const QVariant &object, bool postWhenIdle)
{
    Q_UNUSED(postWhenIdle)
    const LocalNotification notification{name, object};
    // Observers may subscribe or leave while being told; work on the list as it stood.
    const QList<LocalSubscription> snapshot = localSubscriptions();
    for (const LocalSubscription &subscription : snapshot) {
        if (subscription.name && *subscription.name != name)
            continue;
        const auto &live = localSubscriptions();
        const bool stillSubscribed = std::any_of(live.cbegin(), live.cend(), [&](const LocalSubscription &s) {
            return s.id == subscription.id;
        });
        if (stillSubscribed)
            subscription.observer->easyNotifications(notification);
    }
}

void removeObserver(LocalObserver *observer)
{
    localSubscriptions().removeIf([observer](const LocalSubscription &s) { return s.observer == observer; });
}

bool addDistributedObserver(DistributedObserver *observer, const std::optional<QString> &name,
                            QDBusConnection connection)
{
    if (!observer || !connection.isConnected())
        return false;
    QObject *holder = relayHolder(true);
    if (!holder)
        return false;

    if (!name) {
        qCWarning(lcFoundationGui).noquote() << "FennimarNotification.addDistributedObserver";
        qCWarning(lcFoundationGui).noquote()
            << "You have passed nil as the name, Apple claims this can cause performance problems, please don't do it.";
    }

    auto *relay = new Relay(observer, name, connection, holder);
    if (!relay->subscribe()) {
        delete relay;
        return false;
    }
    return true;
}

void removeDistributedObserver(DistributedObserver *observer)
{
    QObject *holder = relayHolder(false);
    if (!holder || !observer)
        return;
    const QList<Relay *> relays = holder->findChildren<Relay *>(Qt::FindDirectChildrenOnly);
    for (Relay *relay : relays) {
        if (relay->observer() == observer) {
            relay->unsubscribe();
            delete relay;
        }
    }
}

bool postDistributedNotification(const QString &name, const QString &object, QDBusConnection connection)
{
    if (!connection.isConnected())
        return false;
    QDBusMessage signal = QDBusMessage::createSignal(QString(DistributedPath), QString(DistributedInterface),
                                                     QString(DistributedMember));
    signal << name << object;
    return connection.send(signal);
}

} // namespace FennimarNotifications

#include "FennimarNotifications.moc"
