#pragma once

#include "Recipient.h"
#include "SendJournal.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace brisko {

// A file that goes with every message of a campaign, kept inside the campaign file.
struct Attachment
{
    QString name; // the file name the recipient sees, without folders
    QString type; // its MIME type, "application/octet-stream" when not known
    QByteArray data;

    bool operator==(const Attachment &other) const = default;
};
using AttachmentList = QList<Attachment>;

// What one campaign file holds. A key the file did not have is none.
struct CampaignDocument
{
    std::optional<QString> subject;
    std::optional<QString> from;
    std::optional<QString> body;
    std::optional<QString> html;
    std::optional<QString> replyTo;
    std::optional<QString> returnPath;
    std::optional<QStringList> columns;
    std::optional<RecipientList> recipients;
    // Optional keys, written only when they hold something.
    std::optional<QString> unsubscribe{};       // UNSUBSCRIBE: https URL and/or mailto, comma-separated
    std::optional<AttachmentList> attachments{}; // ATTACHMENTS
};

// The open campaign, free of widgets: the message fields, the table's columns, the
// recipient list and the per-address outcomes. The window and brisko-cli share it.
class Campaign : public QObject
{
    Q_OBJECT

public:
    enum class Field { Subject, From, ReplyTo, ReturnPath, Body, Html, Unsubscribe };
    Q_ENUM(Field)

    explicit Campaign(QObject *parent = nullptr);

    QString field(Field which) const;
    void setField(Field which, const QString &text);
    QString subject() const { return field(Field::Subject); }
    QString from() const { return field(Field::From); }
    QString replyTo() const { return field(Field::ReplyTo); }
    QString returnPath() const { return field(Field::ReturnPath); }
    QString body() const { return field(Field::Body); }
    QString html() const { return field(Field::Html); }
    QString unsubscribe() const { return field(Field::Unsubscribe); }

    // The files every message carries, in the order they were added.
    const AttachmentList &attachments() const { return m_attachments; }
    void setAttachments(AttachmentList attachments);

    // The table's data columns in display order: "EMAIL" first, never a program column.
    QStringList columns() const { return m_columns; }
    // Rebuilds the data columns: "EMAIL" (and any column whose name starts with it)
    // stays, then one column per name in order, leaving out "EMAIL" and program columns.
    void setupTableColumns(const QStringList &names);
    // Puts back data columns exactly as an earlier columns() gave them (undo).
    void restoreColumns(const QStringList &columns);

    // The live list, in table order. Callers that change it call recipientsChanged().
    RecipientList &recipients() { return m_recipients; }
    const RecipientList &recipients() const { return m_recipients; }
    void setRecipients(RecipientList list);
    void appendRecipients(const RecipientList &list);
    QStringList emailList() const;
    void recipientsChanged();

    // Outcomes of sends, keyed by address; never saved, never cleared while running.
    std::optional<int> response(const QString &address) const;
    std::optional<QString> status(const QString &address) const;
    // Records an outcome: code 1 or -1; a text of none keeps the address's earlier text.
    void recordOutcome(const QString &address, int code, const std::optional<QString> &text);
    // Records a message written into the outbox folder: shown as code 1 with SavedText, yet
    // the recipient has received nothing. An address already accepted or unknown keeps that.
    void recordSaved(const QString &address);
    // Where an address stands for the question of sending again: none when it never had an
    // outcome, Saved after an outbox save (whatever its code shows).
    std::optional<SendJournal::Outcome> outcome(const QString &address) const;
    // Accepted, or unknown (it may have arrived): a new run leaves it out unless asked.
    bool alreadyReceived(const QString &address) const
    {
        const std::optional<SendJournal::Outcome> state = outcome(address);
        return state && SendJournal::reachedRecipient(*state);
    }
    // No outcome, or only saved into the outbox: "Not Yet Sent".
    bool notYetSent(const QString &address) const
    {
        const std::optional<SendJournal::Outcome> state = outcome(address);
        return !state || *state == SendJournal::Outcome::Saved;
    }
    // Forgets every outcome (another campaign is opened).
    void clearOutcomes();
    // Every address whose outcome has this code (some may no longer be in the list).
    QSet<QString> addressesWithResponse(int code) const;
    // Sets each address's outcome to the last one its journal holds: accepted with the
    // service's MessageId, failed with the error, unknown with the reason it may have arrived,
    // saved as an outbox save.
    void replayJournal(const SendJournal::Replay &replay);

    // The codes recordOutcome() takes.
    static constexpr int AcceptedCode = 1;
    static constexpr int FailedCode = -1;
    static constexpr int UnknownCode = 2;
    static constexpr QStringView AcceptedText = u"Success!";
    static constexpr QStringView UnknownText = u"Sent, but no answer arrived: it may have been delivered";
    static constexpr QStringView SavedText = u"Saved";

    // Applies a loaded file: keys in the order HTML, BODY, FROM, SUBJECT, RETURNPATH,
    // REPLYTO, COLUMNS, RECIPIENTS, UNSUBSCRIBE, ATTACHMENTS. An absent key leaves its part
    // unchanged, except Return-Path, Unsubscribe and the attachments, which become empty:
    // they belong to the campaign they were saved with.
    void apply(const CampaignDocument &document);
    // Everything the file stores: the eight standing keys always, the optional ones when set.
    CampaignDocument document() const;

    bool isModified() const { return m_modified; }
    void setModified(bool modified);

Q_SIGNALS:
    void fieldChanged(brisko::Campaign::Field which);
    void columnsChanged();
    void attachmentsChanged();
    void recipientsReset();
    void outcomeRecorded(const QString &address);
    void modifiedChanged(bool modified);

private:
    QString m_fields[7];
    AttachmentList m_attachments;
    QStringList m_columns{EmailKey.toString()};
    RecipientList m_recipients;
    QHash<QString, int> m_responses;
    QHash<QString, QString> m_statuses;
    QSet<QString> m_saved; // addresses whose code 1 is an outbox save
    bool m_modified = false;
};

} // namespace brisko
