#include "OutboxConnector.h"

#include "MailHost.h"
#include "MimeMessage.h"
#include "maillogging.h"

#include <QTimer>

using namespace Qt::StringLiterals;

namespace brisko {

OutboxConnector::OutboxConnector(const QString &folder, const RecipientList &rows, QObject *parent)
    : BriskoConnector(parent), m_folder(folder), m_rows(rows.size())
{
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i))
            m_rowOf.insert(rows.at(i).get(), i + 1);
    }
}

qsizetype OutboxConnector::pendingResponses() const
{
    return BriskoConnector::pendingResponses() + (m_written ? 1 : 0);
}

bool OutboxConnector::sendMessageToRecipient(const QString &message, const QString &htmlMessage,
                                             const QString &subject, const QString &from,
                                             const Recipient &record, const QString &replyTo,
                                             const std::optional<QString> &returnPath)
{
    ++m_step;
    SendRun::RunInfo one{subject, from, replyTo, returnPath, message, htmlMessage, {},
                         {}, {}, runInfo().campaignName, runInfo().testAddress};
    one.unsubscribe = runInfo().unsubscribe;
    one.attachments = runInfo().attachments;
    const QString email = one.addressFor(record);
    const QString raw = SendRun::messageFor(one, record);
    const qsizetype row = m_rowOf.value(&record, m_step);
    QString name = Outbox::fileName(row, email, std::max(m_rows, m_step));
    // A test message never takes the place of a row's proof.
    if (runInfo().testAddress)
        name.prepend(u"test-"_s);
    Outbox::WriteResult result = Outbox::writeMessage(m_folder, name, raw.toUtf8());
    if (result.ok)
        qCInfo(lcMail).noquote() << u"outbox: %1 written for %2"_s.arg(result.path, email);
    else
        qCWarning(lcMail).noquote() << u"outbox: %1"_s.arg(result.failure);
    m_written = std::make_pair(email, std::move(result));
    QTimer::singleShot(0, this, &OutboxConnector::next);
    return m_written->second.ok;
}

void OutboxConnector::next()
{
    if (m_written) {
        const auto [email, result] = *m_written;
        m_written.reset();
        if (MailHost *host = runHost()) {
            if (result.ok)
                host->mailSavedFor(email, result.path);
            else
                host->mailSendFailedFor(email, result.failure);
        }
    }
    if (hasStopped()) {
        checkFinished();
        return;
    }
    sendMessageWithInfo(runInfo());
}

} // namespace brisko
