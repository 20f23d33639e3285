#include "BriskoSMTPConnector.h"

#include "MailHost.h"
#include "MimeMessage.h"
#include "maillogging.h"

#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace brisko {

BriskoSMTPConnector::BriskoSMTPConnector(QObject *parent) : BriskoConnector(parent) {}

BriskoSMTPConnector::~BriskoSMTPConnector()
{
    if (m_smtp)
        m_smtp->setDelegate(nullptr);
}

qsizetype BriskoSMTPConnector::pendingResponses() const
{
    return BriskoConnector::pendingResponses() + (m_inFlight ? 1 : 0);
}

bool BriskoSMTPConnector::sendMessageToRecipient(const QString &message, const QString &htmlMessage,
                                                 const QString &subject, const QString &from,
                                                 const Recipient &record, const QString &replyTo,
                                                 const std::optional<QString> &returnPath)
{
    Q_UNUSED(htmlMessage);
    Q_UNUSED(replyTo);
    qCInfo(lcMail) << "SMTP";
    qCInfo(lcMail) << "BriskoSMTPConnector::sendMessageToRecipient";

    const QString email = runInfo().addressFor(record);
    SmtpMessage mail;
    mail.setSubject(subject);
    mail.setFrom(from);
    if (returnPath && !returnPath->isEmpty())
        mail.addHeader(u"Return-Path"_s, *returnPath);
    mail.addRecipient(email);
    const RunInfo &run = runInfo();
    if (run.unsubscribe) {
        QList<std::pair<QString, QString>> entries;
        record.forEach([&](const QString &key, const QString &value) { entries.emplace_back(key, value); });
        const MimeMessage::ListUnsubscribe merged = MimeMessage::mergeUnsubscribe(*run.unsubscribe, entries);
        QStringList targets;
        for (const std::optional<QString> &target : {merged.https, merged.mailto}) {
            if (target)
                targets.append(u'<' + *target + u'>');
        }
        mail.addHeader(u"List-Unsubscribe"_s, targets.join(u", "_s));
        if (merged.https)
            mail.addHeader(u"List-Unsubscribe-Post"_s, u"List-Unsubscribe=One-Click"_s);
    }
    const QByteArray text = doGreps(message, record).toUtf8();
    if (run.attachments.isEmpty()) {
        mail.setContentType(u"text/plain"_s);
        mail.setContent(text);
    } else {
        // The text and one part per file; every part 7-bit, so the whole goes as it is.
        const QString boundary = MimeMessage::createBoundary();
        const bool plain = std::all_of(text.cbegin(), text.cend(), [](char c) { return uchar(c) < 0x80 && c != 0; }) &&
                           !MimeMessage::needsQuotedPrintable(QString::fromUtf8(text));
        QByteArray body = "--" + boundary.toLatin1() + "\nContent-Type: text/plain; charset=UTF-8\n";
        if (plain) {
            body += "Content-Transfer-Encoding: 7bit\n\n" + text;
        } else {
            body += "Content-Transfer-Encoding: base64\n\n";
            const QByteArray encoded = text.toBase64();
            for (qsizetype i = 0; i < encoded.size(); i += 76)
                body += encoded.mid(i, 76) + '\n';
        }
        for (const Attachment &attachment : run.attachments)
            body += "\n--" + boundary.toLatin1() + '\n' + MimeMessage::attachmentPart(attachment).toLatin1();
        body += "\n--" + boundary.toLatin1() + "--\n";
        mail.setContentType(u"multipart/mixed; boundary=\"%1\""_s.arg(boundary));
        mail.setContent(body);
    }

    const AccountSettings &account = settings();
    if (m_smtp) {
        // A client that has not reported its end is never reused: let it go quietly.
        m_smtp->setDelegate(nullptr);
        m_smtp->deleteLater();
    }
    auto *client = new SmtpClient(account.smtpHost, account.smtpPort, nullptr, this);
    m_smtp = client;
    m_address = email;
    m_inFlight = true;
    client->setDelegate(this);
    client->setMessage(mail);
    client->setCredentials(account.smtpUser, account.smtpPassword);
    client->setTimeout(SendRun::sendTimeout());
    if (!m_caFile.isEmpty()) {
        client->setCaFile(m_caFile);
        client->setVerification(SmtpClient::Verification::Always);
    }
    qCInfo(lcMail).noquote()
        << u"Connecting to the %1:%2 server..."_s.arg(account.smtpHost).arg(account.smtpPort);
    // A client that cannot start reports its end (connectionLost) all the same.
    return client->connectInBackgroundAndNotify();
}

void BriskoSMTPConnector::sendNext()
{
    if (hasStopped()) {
        checkFinished();
        return;
    }
    sendMessageWithInfo(runInfo());
}

void BriskoSMTPConnector::report(SmtpClient *client)
{
    if (!m_inFlight || client != m_smtp)
        return;
    m_inFlight = false;
    const SmtpClient::Outcome &outcome = client->outcome();
    MailHost *host = runHost();
    if (!host) {
        qCWarning(lcMail).noquote() << u"SMTP outcome for %1 dropped: no host"_s.arg(m_address);
        return;
    }
    switch (outcome.delivery) {
    case SmtpClient::Delivery::Accepted:
        host->mailSendResponseFor(m_address, outcome.reply);
        break;
    case SmtpClient::Delivery::Unknown:
        qCInfo(lcMail).noquote() << u"SMTP outcome for %1 unknown: %2"_s.arg(m_address, outcome.reply);
        host->mailSendUnknownFor(m_address, outcome.reply);
        break;
    case SmtpClient::Delivery::Refused:
    case SmtpClient::Delivery::Pending:
        qCInfo(lcMail).noquote() << u"SMTP to %1 failed: %2"_s.arg(m_address, outcome.reply);
        host->mailSendFailedFor(m_address, outcome.reply);
        break;
    }
}

// ---- The client's events -------------------------------------------------------------

void BriskoSMTPConnector::connectionEstablished(SmtpClient *client)
{
    qCInfo(lcMail) << "Connected!";
    client->sendMessage();
}

void BriskoSMTPConnector::serviceInitialized(SmtpClient *client)
{
    qCInfo(lcMail) << "Sending the message...";
    client->sendMessage();
}

void BriskoSMTPConnector::authenticationCompleted(SmtpClient *client)
{
    qCInfo(lcMail) << "Authentication completed! Sending the message...";
    client->sendMessage();
}

void BriskoSMTPConnector::authenticationFailed(SmtpClient *client)
{
    qCInfo(lcMail) << "Authentication failed! Closing the connection...";
    client->close();
}

void BriskoSMTPConnector::messageSent(SmtpClient *client)
{
    qCInfo(lcMail).noquote() << u"Sent!\nmessageSent"_s;
    client->close();
}

void BriskoSMTPConnector::connectionTerminated(SmtpClient *client)
{
    Q_UNUSED(client);
    qCInfo(lcMail) << "Connection closed.";
}

void BriskoSMTPConnector::connectionLost(SmtpClient *client)
{
    qCInfo(lcMail) << "connectionLost";
    if (client != m_smtp)
        return;
    report(client);
    // The client is done; it goes once this call of its own has returned.
    client->setDelegate(nullptr);
    client->deleteLater();
    m_smtp = nullptr;
    sendNext();
}

void BriskoSMTPConnector::transactionResetCompleted(SmtpClient *client)
{
    qCInfo(lcMail).noquote() << u"Sending the message over the same connection...:%1"_s.arg(
        QString::asprintf("%p", static_cast<const void *>(timer())));
    report(client);
    sendNext();
}

} // namespace brisko
