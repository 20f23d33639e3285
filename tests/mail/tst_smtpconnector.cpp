// Runs through an SMTP server the test starts on the loopback address: envelope, headers,
// merged bodies and outcomes; refusals, dropped connections and the unknown outcome;
// authentication, STARTTLS and cancel.

#include "AccountSettings.h"
#include "BriskoSMTPConnector.h"
#include "MailHost.h"
#include "SendRun.h"
#include "SmtpClient.h"
#include "SmtpTestServer.h"

#include <QCryptographicHash>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

struct Outcome
{
    QString kind; // "response", "failed", "unknown"
    QString text;
};

class SmtpHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    void sendProgress(qsizetype, qsizetype, const QString &address) override { progress.append(address); }
    bool willSend(const QStringList &addresses) override
    {
        events.append(u"will "_s + addresses.join(u',')); // one message at a time
        return events.size() != refuseAt;
    }
    void mailSendResponseFor(const QString &address, const QString &response) override
    {
        const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
        QCOMPARE(outcome.code, 1);
        outcomes.append({address, {u"response"_s, outcome.status.value_or(QString())}});
        events.append(u"accepted "_s + address);
        details.append(SendRun::acceptedDetail(response));
    }
    void mailSendFailedFor(const QString &address, const QString &failure) override
    {
        outcomes.append({address, {u"failed"_s, failure}});
        events.append(u"failed "_s + address);
    }
    void mailSendUnknownFor(const QString &address, const QString &why) override
    {
        outcomes.append({address, {u"unknown"_s, why}});
        events.append(u"unknown "_s + address);
    }
    void sendRunEnded(const std::optional<QString> &) override { ++ended; }

    QStringList progress;
    QList<std::pair<QString, Outcome>> outcomes;
    int ended = 0;
    QStringList events;  // willSend calls and outcomes, in order
    QStringList details; // what the journal keeps of each acceptance
    qsizetype refuseAt = -1; // the willSend call (counted in events, from 1) that answers false
};

RecipientList people(const QStringList &addresses)
{
    RecipientList list;
    for (const QString &address : addresses)
        list.append(
            makeRecipient({{u"EMAIL"_s, address}, {u"NAME"_s, address.section(u'@', 0, 0).toUpper()}}));
    return list;
}

} // namespace

class TestSmtpConnector : public QObject
{
    Q_OBJECT

private:
    SmtpHost m_host;
    std::unique_ptr<SmtpTestServer> m_server;

    // Starts a server with the options and points the account at it.
    bool serve(const QStringList &options, const QString &user = {}, const QString &password = {})
    {
        m_server = std::make_unique<SmtpTestServer>();
        const QString why = m_server->start(options);
        if (!why.isEmpty()) {
            m_server.reset();
            QTest::qSkip(qPrintable(why), __FILE__, __LINE__);
            return false;
        }
        AccountSettings::Overrides overrides;
        overrides.useEnvironment = true;
        overrides.smtpHost = u"127.0.0.1"_s;
        overrides.smtpPort = m_server->port();
        overrides.smtpUser = user;
        AccountSettings::setOverrides(overrides);
        qputenv("BRISKO_SMTP_PASSWORD", password.toUtf8());
        return true;
    }

    // Runs the campaign to its end (finished) through a new connector.
    void run(BriskoSMTPConnector &connector, const RecipientList &list, const QString &subject = u"Hello"_s)
    {
        QSignalSpy finished(&connector, &BriskoConnector::finished);
        connector.sendMessageToRecipients(u"Dear __NAME__,\nthe price is 5 €.\n.\nBye"_s, u"<p>unused</p>"_s,
                                          subject, u"Shop Owner <owner@example.com>"_s, list,
                                          u"reply@example.com"_s, u"bounce@example.com"_s);
        QVERIFY(finished.wait(30000));
        QCOMPARE(connector.pendingResponses(), 0);
    }

private Q_SLOTS:
    void init()
    {
        m_host = SmtpHost();
        MailHost::setShared(&m_host);
    }
    void cleanup()
    {
        MailHost::setShared(nullptr);
        m_server.reset();
        AccountSettings::setOverrides({});
    }

    void deliversEachRecipientItsOwnMessage()
    {
        if (!serve({}))
            return;
        BriskoSMTPConnector connector;
        const QStringList addresses{u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s};
        // A line break in the subject must not start a header of its own.
        run(connector, people(addresses), u"Grüße für Sie\r\nBcc: spy@example.com"_s);

        QCOMPARE(m_host.progress, addresses);
        QCOMPARE(m_host.outcomes.size(), 3);
        const QList<QJsonObject> messages = m_server->messages(3);
        QCOMPARE(messages.size(), 3);
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(m_host.outcomes.at(i).first, addresses.at(i));
            QCOMPARE(m_host.outcomes.at(i).second.kind, u"response"_s);
            QCOMPARE(m_host.outcomes.at(i).second.text, u"Success!"_s);

            const QJsonObject m = messages.at(i);
            QCOMPARE(m.value(u"mail_from").toString(), u"owner@example.com"_s);
            QCOMPARE(m.value(u"rcpt_tos").toArray().toVariantList(), QVariantList{addresses.at(i)});
            QCOMPARE(m.value(u"to").toString(), addresses.at(i));
            QCOMPARE(m.value(u"from").toString(), u"Shop Owner <owner@example.com>"_s);
            QCOMPARE(m.value(u"subject").toString(), u"Grüße für Sie  Bcc: spy@example.com"_s);
            QCOMPARE(m.value(u"return_path").toString(), u"bounce@example.com"_s);
            QVERIFY(m.value(u"date").toBool());
            QVERIFY(m.value(u"message_id").toString().endsWith(u"@example.com>"));
            QCOMPARE(m.value(u"content_type").toString(), u"text/plain"_s);
            QCOMPARE(m.value(u"charset").toString().toLower(), u"utf-8"_s);
            QVERIFY(m.value(u"crlf").toBool());
            QCOMPARE(m.value(u"defects").toInt(), 0);
            const QString name = addresses.at(i).section(u'@', 0, 0).toUpper();
            QCOMPARE(m.value(u"text").toString(), u"Dear %1,\nthe price is 5 €.\n.\nBye"_s.arg(name));
        }
        // One message id per message.
        QVERIFY(messages.at(0).value(u"message_id") != messages.at(1).value(u"message_id"));
    }

    // The SMTP message carries the same unsubscribe headers and files as the raw message.
    void carriesUnsubscribeAndAttachments()
    {
        if (!serve({}))
            return;
        BriskoSMTPConnector connector;
        QByteArray binary(20000, Qt::Uninitialized);
        for (qsizetype i = 0; i < binary.size(); ++i)
            binary[i] = char((i * 7919) >> 3);
        const AttachmentList files{{u"Prospekt Ärger.pdf"_s, u"application/pdf"_s, binary}};
        connector.setMessageExtras(
            MimeMessage::parseUnsubscribe(u"https://example.com/u?e=__EMAIL__, mailto:off@example.com"_s).targets,
            files);
        run(connector, people({u"ann@example.com"_s}));
        const QList<QJsonObject> messages = m_server->messages(1);
        QCOMPARE(messages.size(), 1);
        const QJsonObject m = messages.first();
        QCOMPARE(m.value(u"defects").toInt(), 0);
        QCOMPARE(m.value(u"structure").toString(), u"multipart/mixed(text/plain,application/pdf)"_s);
        QCOMPARE(m.value(u"text").toString(), u"Dear ANN,\nthe price is 5 €.\n.\nBye"_s);
        QCOMPARE(m.value(u"list_unsubscribe").toString(),
                 u"<https://example.com/u?e=ann%40example.com>, <mailto:off@example.com>"_s);
        QCOMPARE(m.value(u"list_unsubscribe_post").toString(), u"List-Unsubscribe=One-Click"_s);
        const QJsonObject file = m.value(u"attachments").toArray().first().toObject();
        QCOMPARE(file.value(u"name").toString(), files.first().name);
        QCOMPARE(file.value(u"sha256").toString(),
                 QString::fromLatin1(QCryptographicHash::hash(binary, QCryptographicHash::Sha256).toHex()));
    }

    void failuresAreToldAndTheRunGoesOn_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("received");
        QTest::newRow("recipient refused")
            << QStringList{u"--refuse"_s, u"bob@example.com"_s} << u"failed"_s << u"550 5.1.1"_s << 2;
        QTest::newRow("dropped before DATA")
            << QStringList{u"--drop-before-data"_s, u"bob@example.com"_s} << u"failed"_s << QString() << 2;
        // The server had the whole message when it went away: it may have delivered it.
        QTest::newRow("dropped after the data") << QStringList{u"--drop-after-data"_s, u"bob@example.com"_s}
                                                << u"unknown"_s << u"before the server confirmed it"_s << 3;
    }
    void failuresAreToldAndTheRunGoesOn()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QFETCH(int, received);
        if (!serve(options))
            return;
        BriskoSMTPConnector connector;
        run(connector, people({u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s}));

        QCOMPARE(m_host.outcomes.size(), 3);
        QCOMPARE(m_host.outcomes.at(0).second.kind, u"response"_s);
        QCOMPARE(m_host.outcomes.at(1).first, u"bob@example.com"_s);
        QCOMPARE(m_host.outcomes.at(1).second.kind, kind);
        QVERIFY2(m_host.outcomes.at(1).second.text.contains(text),
                 qPrintable(m_host.outcomes.at(1).second.text));
        QVERIFY(!m_host.outcomes.at(1).second.text.isEmpty());
        QCOMPARE(m_host.outcomes.at(2).first, u"cy@example.com"_s);
        QCOMPARE(m_host.outcomes.at(2).second.kind, u"response"_s);
        QCOMPARE(m_server->messages(received).size(), received);
    }

    // Each message is on record (willSend) before its connection opens, and the next one is
    // announced only once the last one's outcome is in. The accepted reply is kept as the
    // server gave it, queue id and all.
    void eachMessageIsAnnouncedBeforeItLeaves()
    {
        if (!serve({u"--drop-after-data"_s, u"bob@example.com"_s}))
            return;
        BriskoSMTPConnector connector;
        run(connector, people({u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s}));
        QCOMPARE(m_host.events, (QStringList{u"will ann@example.com"_s, u"accepted ann@example.com"_s,
                                             u"will bob@example.com"_s, u"unknown bob@example.com"_s,
                                             u"will cy@example.com"_s, u"accepted cy@example.com"_s}));
        QCOMPARE(m_host.details.size(), 2);
        for (const QString &detail : std::as_const(m_host.details))
            QVERIFY2(detail.startsWith(u"250 ") && detail.contains(u"queued as"), qPrintable(detail));
    }

    // A host that cannot record the next message stops the run before it leaves: no
    // connection for it, nobody after it, and it stays in the queue.
    void aRefusedAnnouncementSendsNothingMore()
    {
        if (!serve({}))
            return;
        m_host.refuseAt = 3; // will ann, accepted ann, will bob
        BriskoSMTPConnector connector;
        run(connector, people({u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s}));
        QCOMPARE(m_host.events.size(), 3);
        QCOMPARE(m_host.ended, 1);
        QCOMPARE(m_host.progress, QStringList{u"ann@example.com"_s});
        QCOMPARE(connector.userInfo().recipients.size(), 2);
        QTest::qWait(200);
        QCOMPARE(m_server->messages(1, 500).size(), 1);
    }

    void acceptedDetail_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("detail");
        QTest::newRow("service answer")
            << u"<SendRawEmailResponse><SendRawEmailResult><MessageId> 0100-abc </MessageId>"
               u"</SendRawEmailResult></SendRawEmailResponse>"_s
            << u"0100-abc"_s;
        QTest::newRow("document without id") << u"<Response><Ok/></Response>"_s << QString();
        QTest::newRow("server reply on several lines")
            << u"250 2.0.0 Ok:\r\n\tqueued as 4F2A\r\n"_s << u"250 2.0.0 Ok: queued as 4F2A"_s;
        QTest::newRow("nothing") << QString() << QString();
    }
    void acceptedDetail()
    {
        QFETCH(QString, answer);
        QFETCH(QString, detail);
        QCOMPARE(SendRun::acceptedDetail(answer), detail);
    }

    // Authentication, STARTTLS with a certificate the test trusts (or not), and no password
    // to a server without STARTTLS off loopback: "127.1" reaches the loopback server but is
    // not taken for a loopback name, so the client acts as towards any server on the network.
    void security_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("ca");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("text");
        const QString local = u"127.0.0.1"_s;
        const QString system = u"/etc/ssl/certs/ca-certificates.crt"_s;
        QTest::newRow("right password")
            << local << false << u"sender"_s << u"s3cret"_s << QString() << u"response"_s << u"Success!"_s;
        QTest::newRow("wrong password") << local << false << u"sender"_s << u"guess"_s << QString()
                                        << u"failed"_s << u"Authentication failed: 535"_s;
        QTest::newRow("no user") << local << false << QString() << QString() << QString() << u"failed"_s
                                 << u"530"_s;
        QTest::newRow("starttls, trusted")
            << local << true << u"sender"_s << u"s3cret"_s << u"cert.pem"_s << u"response"_s << u"Success!"_s;
        QTest::newRow("starttls, not trusted")
            << local << true << u"sender"_s << u"s3cret"_s << system << u"failed"_s << u"certificate"_s;
        QTest::newRow("no starttls off loopback") << u"127.1"_s << false << u"sender"_s << u"s3cret"_s
                                                  << QString() << u"failed"_s << u"does not offer STARTTLS"_s;
    }
    void security()
    {
        QFETCH(QString, host);
        QFETCH(bool, tls);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, ca);
        QFETCH(QString, kind);
        QFETCH(QString, text);
        QTemporaryDir certificates;
        QStringList options{u"--auth"_s, u"sender:s3cret"_s};
        if (tls)
            options << u"--starttls"_s << certificates.path();
        if (!serve(options, user, password))
            return;
        AccountSettings::Overrides overrides = AccountSettings::overrides();
        overrides.smtpHost = host;
        AccountSettings::setOverrides(overrides);
        BriskoSMTPConnector connector;
        if (!ca.isEmpty())
            connector.setCaFile(ca.startsWith(u'/') ? ca : certificates.filePath(ca));
        run(connector, people({u"ann@example.com"_s}));

        QCOMPARE(m_host.outcomes.size(), 1);
        QCOMPARE(m_host.outcomes.at(0).second.kind, kind);
        QVERIFY2(m_host.outcomes.at(0).second.text.contains(text),
                 qPrintable(m_host.outcomes.at(0).second.text));
        const bool delivered = kind == u"response";
        const QList<QJsonObject> messages = m_server->messages(delivered ? 1 : 0, delivered ? 5000 : 300);
        QCOMPARE(messages.size(), delivered ? 1 : 0);
        if (delivered) {
            QCOMPARE(messages.at(0).value(u"login").toString(), user);
            QCOMPARE(messages.at(0).value(u"tls").toBool(), tls);
        }
    }

    void cancelEndsTheRun()
    {
        if (!serve({}))
            return;
        BriskoSMTPConnector connector;
        QSignalSpy finished(&connector, &BriskoConnector::finished);
        connector.sendMessageToRecipients(
            u"Hi"_s, QString(), u"S"_s, u"owner@example.com"_s,
            people({u"ann@example.com"_s, u"bob@example.com"_s, u"cy@example.com"_s}), QString(),
            std::nullopt);
        connector.stopSending();
        QVERIFY(finished.wait(20000));
        QCOMPARE(m_host.ended, 1);
        // The exchange under way finishes and is told; nobody after it is taken.
        QCOMPARE(m_host.progress, QStringList{u"ann@example.com"_s});
        QCOMPARE(m_host.outcomes.size(), 1);
        QCOMPARE(m_host.outcomes.at(0).second.kind, u"response"_s);
        QCOMPARE(connector.userInfo().recipients.size(), 2);
        QTest::qWait(200);
        QCOMPARE(m_server->messages(1, 500).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSmtpConnector)
#include "tst_smtpconnector.moc"
