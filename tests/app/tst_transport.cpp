// The window's choice of transport: "Send through" and the outbox folder in the account
// panel, and send runs into an outbox folder and through an SMTP server on the loopback
// address, with the account settings each of them needs.

#include "../mail/SmtpTestServer.h"
#include "AppTestMain.h"

#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "Localization.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

class TestTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static void waitForTheRun()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 10000);
    }
    static void useTransport(const QString &name) { store(AccountSettings::TransportKey, name); }

private Q_SLOTS:
    void initTestCase()
    {
        app()->campaign().apply({u"Hello __NAME__"_s, u"ann@example.com"_s, u"Dear __NAME__"_s,
                                 u"<p>Dear __NAME__</p>"_s, QString(), QString(),
                                 QStringList{u"EMAIL"_s, u"NAME"_s}, RecipientList()});
        // Nothing ever goes to the real service: the login check after the panel is refused locally.
        store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
    }

    void cleanup()
    {
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        if (app()->authPanel()->isVisible())
            app()->authPanel()->reject();
        store(AccountSettings::AccessKeyKey, std::nullopt);
        store(AccountSettings::SecretKeyKey, std::nullopt);
    }

    void panelStoresTheChoice()
    {
        useTransport(u"ses"_s);
        // Closing the panel checks the login against the refusing endpoint; each check's
        // failure is told in a box of its own, answered here so later cases see only theirs.
        DialogDriver loginFailures;
        const QString folder = m_dir.filePath(u"proofs"_s);
        app()->setOutboxFolderChooser([folder](const QString &) { return std::optional(folder); });
        app()->showAuthPanel();
        auto *transport = app()->authPanel()->findChild<QComboBox *>(u"transportPopUp"_s);
        auto *field = app()->authPanel()->findChild<QLineEdit *>(u"outboxFolderField"_s);
        QCOMPARE(transport->currentIndex(), 0);
        QVERIFY(!field->isEnabled());

        transport->setCurrentIndex(2);
        QVERIFY(field->isEnabled());
        app()->authPanel()->findChild<QPushButton *>(u"outboxChooseButton"_s)->click();
        QCOMPARE(QDir::fromNativeSeparators(field->text()), folder);
        app()->authDoneAction();
        QVERIFY(!app()->authPanel()->isVisible());
        QCOMPARE(AccountSettings::load().transport, AccountSettings::Transport::Outbox);
        QCOMPARE(AccountSettings::load().outboxFolder, folder);

        app()->showAuthPanel();
        QCOMPARE(transport->currentIndex(), 2);
        transport->setCurrentIndex(1);
        app()->authDoneAction();
        QCOMPARE(AccountSettings::load().transport, AccountSettings::Transport::Smtp);
        QTRY_COMPARE_WITH_TIMEOUT(loginFailures.shown(), 2, 10000);
    }

    // Each transport asks for what it needs; the SES keys only for SES.
    void missingSettingsAreTold_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QString>("heading");
        QTest::newRow("ses") << u"ses"_s << u"NoAuthInfo_Head"_s;
        QTest::newRow("smtp") << u"smtp"_s << u"SMTPNoHost_Head"_s;
        QTest::newRow("outbox") << u"outbox"_s << u"OutboxNoFolder_Head"_s;
    }
    void missingSettingsAreTold()
    {
        QFETCH(QString, transport);
        QFETCH(QString, heading);
        useTransport(transport);
        store(AccountSettings::SmtpHostKey, QString());
        store(AccountSettings::OutboxFolderKey, QString());
        setRecipients({u"one@missing.example.com"_s});
        DialogDriver boxes({u"Cancel"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.shown(), 1);
        QCOMPARE(boxes.texts().value(0).section(u'\n', 0, 0), brisko::tr(heading));
        QVERIFY(!app()->progressPanel()->isVisible());
        QCOMPARE(app()->campaign().response(u"one@missing.example.com"_s), std::nullopt);
    }

    void sendsIntoTheOutbox()
    {
        const QString folder = m_dir.filePath(u"outbox"_s);
        useTransport(u"outbox"_s);
        store(AccountSettings::OutboxFolderKey, folder);
        setRecipients({u"one@outbox.example.com"_s, u"two@outbox.example.com"_s});
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        waitForTheRun();
        QCOMPARE(QDir(folder).entryList(QDir::Files),
                 (QStringList{u"0001-one@outbox.example.com.eml"_s, u"0002-two@outbox.example.com.eml"_s}));
        QCOMPARE(app()->campaign().response(u"two@outbox.example.com"_s), std::optional(1));
        QCOMPARE(app()->campaign().status(u"two@outbox.example.com"_s), std::optional(u"Saved"_s));
    }

    void sendsThroughSmtp()
    {
        SmtpTestServer server;
        if (const QString why = server.start({u"--refuse"_s, u"two@smtp.example.com"_s}); !why.isEmpty())
            QSKIP(qPrintable(why));
        useTransport(u"smtp"_s);
        store(AccountSettings::SmtpHostKey, u"127.0.0.1"_s);
        store(AccountSettings::SmtpPortKey, QString::number(server.port()));
        setRecipients({u"one@smtp.example.com"_s, u"two@smtp.example.com"_s});
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        waitForTheRun();
        QCOMPARE(app()->campaign().response(u"one@smtp.example.com"_s), std::optional(1));
        QCOMPARE(app()->campaign().status(u"one@smtp.example.com"_s), std::optional(u"Success!"_s));
        QCOMPARE(app()->campaign().response(u"two@smtp.example.com"_s), std::optional(-1));
        QVERIFY(app()->campaign().status(u"two@smtp.example.com"_s)->startsWith(u"550 "));
        QCOMPARE(server.messages(1).size(), 1);
    }
};

BRISKO_APP_TEST_MAIN(TestTransport, false)
#include "tst_transport.moc"
