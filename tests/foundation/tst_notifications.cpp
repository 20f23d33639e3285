#include "FennimarNotifications.h"

#include <QDBusConnection>
#include <QDBusError>
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
    QStringList names() const
    {
        QStringList result;
        for (const DistributedNotification &notification : received)
            result.append(notification.name);
        return result;
    }
};

const char *const NilNameLine1 = "FennimarNotification.addDistributedObserver";
const char *const NilNameLine2 = "You have passed nil as the name, Apple claims this can cause performance problems, "
                                 "please don't do it.";

} // namespace

// Runs on a bus daemon of its own, so nothing reaches or leaves the user's session bus.
class TestNotifications : public QObject
{
    Q_OBJECT

private:
    QProcess m_daemon;
    QString m_address;
    QString m_dbusSend;
    const QString m_connectionName = u"brisko-test-bus"_s;

    QDBusConnection bus() const { return QDBusConnection(m_connectionName); }

    // Posts through the command-line tool a sibling program would use.
    bool dbusSend(const QStringList &arguments)
    {
        QProcess send;
        send.start(m_dbusSend, QStringList{u"--bus="_s + m_address, u"--type=signal"_s,
                                           QString(FennimarNotifications::DistributedPath),
                                           QString(FennimarNotifications::DistributedInterface) + u'.'
                                               + QString(FennimarNotifications::DistributedMember)}
                                   + arguments);
        return send.waitForFinished(10000) && send.exitStatus() == QProcess::NormalExit && send.exitCode() == 0;
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
        QVERIFY(!m_address.isEmpty());

        QVERIFY2(QDBusConnection::connectToBus(m_address, m_connectionName).isConnected(),
                 qPrintable(QDBusConnection(m_connectionName).lastError().message()));
    }

    // Only the nil-name subscriptions may log.
    void init() { QTest::failOnWarning(QRegularExpression(u"FennimarNotification|You have passed nil"_s)); }

    void cleanupTestCase()
    {
        QDBusConnection::disconnectFromBus(m_connectionName);
        if (m_daemon.state() != QProcess::NotRunning) {
            m_daemon.kill();
            m_daemon.waitForFinished(5000);
        }
    }

    void delivery_data()
    {
        QTest::addColumn<std::optional<QString>>("subscribed");
        QTest::addColumn<bool>("viaTool");
        QTest::addColumn<QString>("posted");
        QTest::addColumn<QString>("object");
        QTest::addColumn<bool>("delivered");

        const std::optional<QString> glimb = u"GLIMB_TO_BRISKO"_s;
        const std::optional<QString> all;
        const QString path = u"/home/user/Letters/spring sale.html"_s;
        QTest::newRow("by name") << glimb << false << u"GLIMB_TO_BRISKO"_s << path << true;
        QTest::newRow("by name, from the tool") << glimb << true << u"GLIMB_TO_BRISKO"_s << path << true;
        QTest::newRow("other name") << glimb << false << u"GLIMB_TO_OTHER"_s << path << false;
        QTest::newRow("other name, from the tool") << glimb << true << u"GLIMB_TO_OTHER"_s << path << false;
        QTest::newRow("name differs in case") << glimb << false << u"glimb_to_brisko"_s << path << false;
        QTest::newRow("no name: everything") << all << false << u"SOMETHING_ELSE"_s << path << true;
        QTest::newRow("no name: everything, from the tool") << all << true << u"ANYTHING"_s << u""_s << true;
    }

    // Each post is followed by a marker that every subscription accepts; once the marker
    // arrives, whatever the first post was going to deliver has been delivered.
    void delivery()
    {
        QFETCH(std::optional<QString>, subscribed);
        QFETCH(bool, viaTool);
        QFETCH(QString, posted);
        QFETCH(QString, object);
        QFETCH(bool, delivered);
        if (viaTool && m_dbusSend.isEmpty())
            QSKIP("dbus-send is not installed");

        Recorder observer;
        if (!subscribed) {
            QTest::ignoreMessage(QtWarningMsg, NilNameLine1);
            QTest::ignoreMessage(QtWarningMsg, NilNameLine2);
        }
        QVERIFY(FennimarNotifications::addDistributedObserver(&observer, subscribed, bus()));

        if (viaTool)
            QVERIFY(dbusSend({u"string:"_s + posted, u"string:"_s + object}));
        else
            QVERIFY(FennimarNotifications::postDistributedNotification(posted, object, bus()));
        const QString marker = subscribed.value_or(u"MARKER"_s);
        QVERIFY(FennimarNotifications::postDistributedNotification(marker, u"marker"_s, bus()));

        QTRY_VERIFY(!observer.received.isEmpty() && observer.received.constLast().object == u"marker"_s);
        QCOMPARE(observer.received.size(), delivered ? 2 : 1);
        if (delivered) {
            QCOMPARE(observer.received.constFirst().name, posted);
            QCOMPARE(observer.received.constFirst().object.toString(), object);
        }
    }

    // What a sibling program may send beyond two strings.
    void toolForms_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QVariant>("object");
        QTest::newRow("object in a variant") << QStringList{u"string:GLIMB_TO_BRISKO"_s, u"variant:string:/tmp/a.html"_s}
                                             << QVariant(u"/tmp/a.html"_s);
        QTest::newRow("name only") << QStringList{u"string:GLIMB_TO_BRISKO"_s} << QVariant();
    }

    void toolForms()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QVariant, object);
        if (m_dbusSend.isEmpty())
            QSKIP("dbus-send is not installed");

        Recorder observer;
        QVERIFY(FennimarNotifications::addDistributedObserver(&observer, u"GLIMB_TO_BRISKO"_s, bus()));
        QVERIFY(dbusSend(arguments));
        QTRY_COMPARE(observer.received.size(), 1);
        QCOMPARE(observer.received.constFirst().name, u"GLIMB_TO_BRISKO"_s);
        QCOMPARE(observer.received.constFirst().object, object);
    }

    void removedObserverHearsNothing()
    {
        Recorder removed;
        Recorder witness;
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
    }

    void refusals()
    {
        Recorder observer;
        QDBusConnection unusable(u"never-connected"_s);
        QVERIFY(!FennimarNotifications::addDistributedObserver(nullptr, u"X"_s, bus()));
        QVERIFY(!FennimarNotifications::addDistributedObserver(&observer, u"X"_s, unusable));
        QVERIFY(!FennimarNotifications::postDistributedNotification(u"X"_s, QString(), unusable));
    }
};

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
