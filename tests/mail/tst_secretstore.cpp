// Where the secret key and the SMTP password are kept: the 0600 preferences file while no
// keyring runs, the desktop keyring once one does (moved there once, then gone from the file).
// The test runs its own session bus, and its own keyring daemon when one is installed.

#include "AccountSettings.h"
#include "FennimarUserDefaults.h"
#include "SecretStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;

class TestSecretStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QProcess m_bus;
    QProcess m_keyring;

    static QByteArray preferencesFile()
    {
        QFile file(FennimarUserDefaults::settingsFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // What secret-tool finds for the key; none when it finds nothing or is not installed.
    std::optional<QByteArray> lookup(const QString &key)
    {
        QProcess tool;
        tool.start(u"secret-tool"_s, {u"lookup"_s, u"server"_s, u"Brisko"_s, u"user"_s, key});
        if (!tool.waitForFinished(10000) || tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
            return std::nullopt;
        return tool.readAllStandardOutput();
    }

    static AccountSettings account(const std::optional<QString> &secret, const QString &password)
    {
        AccountSettings settings;
        settings.accessKey = u"AKIDKEYRING"_s;
        settings.secretKey = secret;
        settings.smtpPassword = password;
        return settings;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // A bus of our own: a keyring started here is seen by no other test.
        m_bus.start(u"dbus-daemon"_s, {u"--session"_s, u"--nofork"_s, u"--print-address=1"_s,
                                       u"--address=unix:path="_s + m_dir.filePath(u"bus"_s)});
        if (m_bus.waitForStarted(5000) && m_bus.waitForReadyRead(5000))
            qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.readLine().trimmed());
        else
            qunsetenv("DBUS_SESSION_BUS_ADDRESS"); // no bus at all: still no keyring
        SecretStore::setTimeoutMs(10000);
    }

    void cleanupTestCase()
    {
        for (QProcess *process : {&m_keyring, &m_bus}) {
            if (process->state() != QProcess::NotRunning) {
                process->terminate();
                if (!process->waitForFinished(3000))
                    process->kill();
                process->waitForFinished(3000);
            }
        }
    }

    void withoutKeyring()
    {
        QCOMPARE(SecretStore::place(), SecretStore::Place::PreferencesFile);
        QVERIFY(SecretStore::placeDescription().contains(FennimarUserDefaults::settingsFilePath()));
        QVERIFY(account(u"se/cret=="_s, u"pass word"_s).save());
        const QByteArray file = preferencesFile();
        QVERIFY(file.contains("SecretKey=\"se/cret==\"")); // QSettings quotes a value with "="
        QVERIFY(file.contains("SMTPPassword=pass word"));
        // Group and others: nothing.
        QCOMPARE(QFile::permissions(FennimarUserDefaults::settingsFilePath()) & QFileDevice::Permissions(0x0077),
                 QFileDevice::Permissions());
        const AccountSettings stored = AccountSettings::stored();
        QCOMPARE(stored.secretKey, u"se/cret=="_s);
        QCOMPARE(stored.smtpPassword, u"pass word"_s);
        QVERIFY(!stored.problem);
    }

    void withKeyring()
    {
        if (QStandardPaths::findExecutable(u"gnome-keyring-daemon"_s).isEmpty())
            QSKIP("gnome-keyring-daemon is not installed");
        // An unencrypted default keyring, so the daemon needs no password prompt.
        const QString data = m_dir.filePath(u"data"_s);
        QVERIFY(QDir().mkpath(data + u"/keyrings"_s));
        QVERIFY(QDir().mkpath(m_dir.filePath(u"run"_s)));
        QFile::setPermissions(m_dir.filePath(u"run"_s), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                             | QFileDevice::ExeOwner);
        QFile keyring(data + u"/keyrings/login.keyring"_s);
        QVERIFY(keyring.open(QIODevice::WriteOnly));
        keyring.write("[keyring]\ndisplay-name=login\nctime=0\nmtime=0\nlock-on-idle=false\nlock-after=false\n");
        keyring.close();
        QFile alias(data + u"/keyrings/default"_s);
        QVERIFY(alias.open(QIODevice::WriteOnly));
        alias.write("login");
        alias.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_s, data);
        environment.insert(u"XDG_RUNTIME_DIR"_s, m_dir.filePath(u"run"_s));
        m_keyring.setProcessEnvironment(environment);
        m_keyring.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_keyring.start(u"gnome-keyring-daemon"_s, {u"--foreground"_s, u"--components=secrets"_s});
        if (!m_keyring.waitForStarted(5000))
            QSKIP("gnome-keyring-daemon does not start");
        for (int i = 0; i < 100 && SecretStore::place() != SecretStore::Place::Keyring; ++i)
            QTest::qWait(100);
        if (SecretStore::place() != SecretStore::Place::Keyring)
            QSKIP("gnome-keyring-daemon did not appear on the session bus");
        QVERIFY(SecretStore::placeDescription().contains(u"keyring"_s));

        // The secrets left in the file by the session without a keyring move once.
        AccountSettings stored = AccountSettings::stored();
        QCOMPARE(stored.secretKey, u"se/cret=="_s);
        QCOMPARE(stored.smtpPassword, u"pass word"_s);
        QVERIFY(!stored.problem);
        QByteArray file = preferencesFile();
        QVERIFY(!file.contains("SecretKey") && !file.contains("SMTPPassword"));
        QVERIFY(file.contains("AccessKey=AKIDKEYRING"));
        const bool haveTool = !QStandardPaths::findExecutable(u"secret-tool"_s).isEmpty();
        if (haveTool)
            QCOMPARE(lookup(u"SecretKey"_s), "se/cret=="_ba);
        SecretStore::clearCache();
        QCOMPARE(AccountSettings::stored().secretKey, u"se/cret=="_s);

        // Saving writes the keyring, never the file; an empty password removes its item.
        QVERIFY(account(u"n\u00e9w"_s, QString()).save());
        SecretStore::clearCache();
        stored = AccountSettings::stored();
        QCOMPARE(stored.secretKey, u"n\u00e9w"_s);
        QCOMPARE(stored.smtpPassword, QString());
        file = preferencesFile();
        QVERIFY(!file.contains("SecretKey") && !file.contains("SMTPPassword"));
        if (haveTool) {
            QCOMPARE(lookup(u"SecretKey"_s), u"n\u00e9w"_s.toUtf8());
            QCOMPARE(lookup(u"SMTPPassword"_s), std::nullopt);
        }
        QVERIFY(account(std::nullopt, QString()).save());
        SecretStore::clearCache();
        QCOMPARE(AccountSettings::stored().secretKey, std::nullopt);

        // A secret written to the file by another program (or an older Brisko) moves too.
        FennimarUserDefaults::setObject(u"again"_s, u"SecretKey"_s);
        QCOMPARE(AccountSettings::load().secretKey, u"again"_s);
        QVERIFY(!preferencesFile().contains("SecretKey"));
    }
};

QTEST_GUILESS_MAIN(TestSecretStore)
#include "tst_secretstore.moc"
