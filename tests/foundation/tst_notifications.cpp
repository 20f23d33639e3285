#include "FennimarNotifications.h"

#include <QDBusConnection>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Recorder : DistributedObserver
{
    QList<DistributedNotification> received;
    void easyDistributedNotifications(const DistributedNotification &notification) override
    {
        received.append(notification);
    }
};

} // namespace

// Runs on a bus daemon of its own, so nothing reaches or leaves the user's session bus.
class TestNotifications : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;
    QString m_address;
    QString m_dbusSend;
    const QString m_busName = u"brisko-test-bus"_s;
    QDBusConnection bus() const { return QDBusConnection(m_busName); }

    // Posts through the command-line tool a sibling program would use.
    bool dbusSend(const QStringList &arguments)
    {
        using namespace FennimarNotifications;
        const QStringList fixed{u"--bus="_s + m_address, u"--type=signal"_s, DistributedPath,
                                DistributedInterface + u"."_s + DistributedMember};
        return QProcess::execute(m_dbusSend, fixed + arguments) == 0;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString daemon = QStandardPaths::findExecutable(u"dbus-daemon"_s);
        if (daemon.isEmpty())
            QSKIP("dbus-daemon is not installed (Debian package dbus-daemon): no private bus to test on");
        m_dbusSend = QStandardPaths::findExecutable(u"dbus-send"_s);
        m_daemon.start(daemon, {u"--session"_s, u"--nofork"_s, u"--print-address"_s});
        QVERIFY2(m_daemon.waitForStarted(10000), qPrintable(m_daemon.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
        QVERIFY(QDBusConnection::connectToBus(m_address, m_busName).isConnected());
    }

    // Only the nil-name subscriptions may log.
    void init() { QTest::failOnWarning(QRegularExpression(u"FennimarNotification|You have passed nil"_s)); }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(m_busName);
        m_daemon.kill();
        m_daemon.waitForFinished(5000);
    }

    void delivery_data()
    {
        QTest::addColumn<std::optional<QString>>("subscribed");
        QTest::addColumn<QStringList>("toolArguments"); // empty: posted through the API
        QTest::addColumn<QString>("posted");
        QTest::addColumn<QVariant>("object"); // invalid: not delivered
        const std::optional<QString> glimb = u"GLIMB_TO_BRISKO"_s, all;
        const QString path = u"/home/user/Letters/spring sale.html"_s;
        const QStringList api;
        QTest::newRow("by name") << glimb << api << u"GLIMB_TO_BRISKO"_s << QVariant(path);
        QTest::newRow("by name, from the tool")
            << glimb << QStringList{u"string:"_s + path} << u"GLIMB_TO_BRISKO"_s << QVariant(path);
        QTest::newRow("object in a variant, from the tool")
            << glimb << QStringList{u"variant:string:/tmp/a.html"_s} << u"GLIMB_TO_BRISKO"_s
            << QVariant(u"/tmp/a.html"_s);
        QTest::newRow("name differs in case") << glimb << api << u"glimb_to_brisko"_s << QVariant();
        QTest::newRow("no name: everything") << all << api << u"SOMETHING_ELSE"_s << QVariant(path);
    }

    // Each post is followed by a marker that every subscription accepts; once the marker
    // arrives, whatever the first post was going to deliver has been delivered.
    void delivery()
    {
        QFETCH(std::optional<QString>, subscribed);
        QFETCH(QStringList, toolArguments);
        QFETCH(QString, posted);
        QFETCH(QVariant, object);
        if (!toolArguments.isEmpty() && m_dbusSend.isEmpty())
            QSKIP("dbus-send is not installed");

        Recorder observer;
        if (!subscribed) {
            QTest::ignoreMessage(QtWarningMsg, "FennimarNotification.addDistributedObserver");
            QTest::ignoreMessage(QtWarningMsg, "You have passed nil as the name, Apple claims this can cause "
                                               "performance problems, please don't do it.");
        }
        QVERIFY(FennimarNotifications::addDistributedObserver(&observer, subscribed, bus()));
        if (toolArguments.isEmpty())
            QVERIFY(FennimarNotifications::postDistributedNotification(posted, object.toString(), bus()));
        else
            QVERIFY(dbusSend(QStringList{u"string:"_s + posted} + toolArguments));
        const QString marker = subscribed.value_or(u"MARKER"_s);
        QVERIFY(FennimarNotifications::postDistributedNotification(marker, u"marker"_s, bus()));

        QTRY_VERIFY(!observer.received.isEmpty() && observer.received.constLast().object == u"marker"_s);
        QCOMPARE(observer.received.size(), object.isValid() ? 2 : 1);
        if (object.isValid()) {
            QCOMPARE(observer.received.constFirst().name, posted);
            QCOMPARE(observer.received.constFirst().object, object);
        }
    }

    void removedObserverHearsNothing()
    {
        Recorder removed, witness;
        QVERIFY(FennimarNotifications::addDistributedObserver(&removed, u"PING"_s, bus()));
        QVERIFY(FennimarNotifications::addDistributedObserver(&witness, u"PING"_s, bus()));
        {
            Recorder destroyed; // its destructor ends its subscription
            QVERIFY(FennimarNotifications::addDistributedObserver(&destroyed, u"PING"_s, bus()));
        }
        FennimarNotifications::removeDistributedObserver(&removed);
        QVERIFY(FennimarNotifications::postDistributedNotification(u"PING"_s, u"x"_s, bus()));
        QTRY_COMPARE(witness.received.size(), 1);
        QVERIFY(removed.received.isEmpty());

        QVERIFY(!FennimarNotifications::addDistributedObserver(nullptr, u"X"_s, bus()));
        QVERIFY(!FennimarNotifications::postDistributedNotification(u"X"_s, {}, QDBusConnection(u"none"_s)));
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
