#include "Campaign.h"

namespace brisko {

Campaign::Campaign(QObject *parent) : QObject(parent) {}

QString Campaign::field(Field which) const
{
    return m_fields[int(which)];
}

void Campaign::setField(Field which, const QString &text)
{
    QString &slot = m_fields[int(which)];
    if (slot == text)
        return;
    slot = text;
    Q_EMIT fieldChanged(which);
    setModified(true);
}

void Campaign::setAttachments(AttachmentList attachments)
{
    if (attachments == m_attachments)
        return;
    m_attachments = std::move(attachments);
    Q_EMIT attachmentsChanged();
    setModified(true);
}

void Campaign::setupTableColumns(const QStringList &names)
{
    QStringList kept;
    for (const QString &column : std::as_const(m_columns)) {
        if (column.startsWith(EmailKey))
            kept.append(column);
    }
    for (const QString &name : names) {
        if (name == EmailKey || name.startsWith(ProgramColumnPrefix))
            continue;
        kept.append(name);
    }
    if (kept == m_columns)
        return;
    m_columns = kept;
    Q_EMIT columnsChanged();
    setModified(true);
}

void Campaign::restoreColumns(const QStringList &columns)
{
    if (columns == m_columns || columns.isEmpty())
        return;
    m_columns = columns;
    Q_EMIT columnsChanged();
    setModified(true);
}

void Campaign::setRecipients(RecipientList list)
{
    m_recipients = std::move(list);
    recipientsChanged();
}

void Campaign::appendRecipients(const RecipientList &list)
{
    if (list.isEmpty())
        return;
    m_recipients.append(list);
    recipientsChanged();
}

void Campaign::recipientsChanged()
{
    Q_EMIT recipientsReset();
    setModified(true);
}

QStringList Campaign::emailList() const
{
    QStringList result;
    result.reserve(m_recipients.size());
    for (const RecipientPtr &record : m_recipients)
        result.append(record->email());
    return result;
}

std::optional<int> Campaign::response(const QString &address) const
{
    auto it = m_responses.constFind(address);
    if (it == m_responses.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> Campaign::status(const QString &address) const
{
    auto it = m_statuses.constFind(address);
    if (it == m_statuses.constEnd())
        return std::nullopt;
    return *it;
}

void Campaign::recordOutcome(const QString &address, int code, const std::optional<QString> &text)
{
    m_responses.insert(address, code);
    if (text)
        m_statuses.insert(address, *text);
    m_saved.remove(address);
    Q_EMIT outcomeRecorded(address);
}

void Campaign::recordSaved(const QString &address)
{
    // A proof into the outbox does not undo a message an earlier run delivered (or may have).
    if (alreadyReceived(address))
        return;
    m_responses.insert(address, AcceptedCode);
    m_statuses.insert(address, SavedText.toString());
    m_saved.insert(address);
    Q_EMIT outcomeRecorded(address);
}

std::optional<SendJournal::Outcome> Campaign::outcome(const QString &address) const
{
    const auto it = m_responses.constFind(address);
    if (it == m_responses.constEnd())
        return std::nullopt;
    switch (*it) {
    case AcceptedCode:
        if (!m_saved.isEmpty() && m_saved.contains(address))
            return SendJournal::Outcome::Saved;
        return SendJournal::Outcome::Accepted;
    case UnknownCode:
        return SendJournal::Outcome::Unknown;
    default:
        break;
    }
    return SendJournal::Outcome::Failed;
}

QSet<QString> Campaign::addressesWithResponse(int code) const
{
    QSet<QString> addresses;
    for (auto it = m_responses.cbegin(); it != m_responses.cend(); ++it) {
        if (*it == code)
            addresses.insert(it.key());
    }
    return addresses;
}

void Campaign::clearOutcomes()
{
    const QStringList addresses = m_responses.keys();
    m_responses.clear();
    m_statuses.clear();
    m_saved.clear();
    for (const QString &address : addresses)
        Q_EMIT outcomeRecorded(address);
}

void Campaign::replayJournal(const SendJournal::Replay &replay)
{
    for (auto it = replay.outcomes.cbegin(); it != replay.outcomes.cend(); ++it) {
        switch (it->outcome) {
        case SendJournal::Outcome::Accepted:
            recordOutcome(it.key(), AcceptedCode, AcceptedText.toString());
            break;
        case SendJournal::Outcome::Failed:
            recordOutcome(it.key(), FailedCode, it->detail);
            break;
        case SendJournal::Outcome::Unknown:
            recordOutcome(it.key(), UnknownCode, UnknownText.toString());
            break;
        case SendJournal::Outcome::Saved:
            recordSaved(it.key());
            break;
        }
    }
}

void Campaign::apply(const CampaignDocument &document)
{
    if (document.html)
        setField(Field::Html, *document.html);
    if (document.body)
        setField(Field::Body, *document.body);
    if (document.from)
        setField(Field::From, *document.from);
    if (document.subject)
        setField(Field::Subject, *document.subject);
    setField(Field::ReturnPath, document.returnPath.value_or(QString()));
    if (document.replyTo)
        setField(Field::ReplyTo, *document.replyTo);
    if (document.columns)
        setupTableColumns(*document.columns);
    if (document.recipients)
        setRecipients(*document.recipients);
    setField(Field::Unsubscribe, document.unsubscribe.value_or(QString()));
    setAttachments(document.attachments.value_or(AttachmentList()));
}

CampaignDocument Campaign::document() const
{
    CampaignDocument document;
    document.subject = subject();
    document.from = from();
    document.body = body();
    document.html = html();
    document.replyTo = replyTo();
    document.returnPath = returnPath();
    document.columns = m_columns;
    document.recipients = m_recipients;
    if (!unsubscribe().isEmpty())
        document.unsubscribe = unsubscribe();
    if (!m_attachments.isEmpty())
        document.attachments = m_attachments;
    return document;
}

void Campaign::setModified(bool modified)
{
    if (m_modified == modified)
        return;
    m_modified = modified;
    Q_EMIT modifiedChanged(modified);
}

} // namespace brisko
