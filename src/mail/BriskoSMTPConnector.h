#pragma once

#include "BriskoConnector.h"
#include "SmtpClient.h"

#include <QPointer>

namespace brisko {

// The delivery run through an SMTP server instead of SES: the same calls, queue and
// progress as BriskoConnector, but no pacing timer. Each recipient gets a new SmtpClient
// (one connection, one message: the merged plain body as text/plain, the subject as typed,
// From, and Return-Path when one is given); the next recipient is taken when that client
// reports its connection lost (or a transaction reset).
//
// Every recipient gets an outcome through the MailHost: mailSendResponseFor (1 and
// "Success!") when the server accepted the message at the end of DATA; mailSendFailedFor
// with the server's reply or the connection error when it did not leave;
// mailSendUnknownFor when the connection died after the message was sent and before the
// server's answer. Nothing is ever sent twice. The server, its port, user and password are
// the account settings read when the run starts; with a user set the client authenticates
// (never in clear over the network, see SmtpClient). stopSending() ends the run: the
// exchange under way finishes and is reported, no further recipient is taken.
class BriskoSMTPConnector : public BriskoConnector, private SmtpClientDelegate
{
    Q_OBJECT

public:
    explicit BriskoSMTPConnector(QObject *parent = nullptr);
    ~BriskoSMTPConnector() override;

    bool isSMTP() const override { return true; }
    bool sendMessageToRecipient(const QString &message, const QString &htmlMessage, const QString &subject,
                                const QString &from, const Recipient &record, const QString &replyTo,
                                const std::optional<QString> &returnPath) override;
    qsizetype pendingResponses() const override;

    // Takes the next step of the run, unless it was stopped.
    void sendNext();

    // The client of the message being sent; none between two recipients.
    SmtpClient *smtp() const { return m_smtp; }
    // Tests: trust these authorities and always check the server's certificate.
    void setCaFile(const QString &path) { m_caFile = path; }

private:
    void connectionEstablished(SmtpClient *client) override;
    void serviceInitialized(SmtpClient *client) override;
    void authenticationCompleted(SmtpClient *client) override;
    void authenticationFailed(SmtpClient *client) override;
    void messageSent(SmtpClient *client) override;
    void connectionTerminated(SmtpClient *client) override;
    void connectionLost(SmtpClient *client) override;
    void transactionResetCompleted(SmtpClient *client) override;

    void report(SmtpClient *client);

    QPointer<SmtpClient> m_smtp;
    QString m_address; // the recipient of m_smtp's message
    bool m_inFlight = false;
    QString m_caFile;
};

} // namespace brisko
