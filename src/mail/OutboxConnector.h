#pragma once

#include "BriskoConnector.h"
#include "Outbox.h"

#include <QHash>

namespace brisko {

// The delivery run into an outbox folder: nothing is sent. Each recipient's complete
// message, the raw MIME message SES would get (with its To header), is written as a .eml
// file named after the row and the address (Outbox::fileName) into the folder. Needs no
// account. Each file is one step from the event loop, so progress and cancel work as in
// any run. A written file is recorded as 1 and "Saved" (MailHost::mailSavedFor); a file
// that cannot be written as failed, with the reason (mailSendFailedFor). A test send's
// file gets the prefix "test-", so that it never replaces the proof of a row.
class OutboxConnector : public BriskoConnector
{
    Q_OBJECT

public:
    // `rows` is the campaign's list in table order: a record's position in it (from 1)
    // names its file. A record not in it takes its position in the run.
    OutboxConnector(const QString &folder, const RecipientList &rows, QObject *parent = nullptr);

    bool isPaced() const override { return false; }
    bool sendMessageToRecipient(const QString &message, const QString &htmlMessage, const QString &subject,
                                const QString &from, const Recipient &record, const QString &replyTo,
                                const std::optional<QString> &returnPath) override;
    qsizetype pendingResponses() const override;

    const QString &folder() const { return m_folder; }

private:
    void next();

    QString m_folder;
    QHash<const Recipient *, qsizetype> m_rowOf;
    qsizetype m_rows = 0;
    qsizetype m_step = 0;
    // The outcome of the file just written, reported with the next step.
    std::optional<std::pair<QString, Outbox::WriteResult>> m_written;
};

} // namespace brisko
