#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace brisko {

// The record of every delivery run of one campaign: a plain-text file beside the campaign
// ("Spring.brisko" → "Spring.brisko.sent"), one tab-separated line per event:
//
//   2026-12-07T02:41:34.120Z <TAB> address <TAB> event <TAB> detail
//
// Events: "sending" (on disk before the request leaves), "accepted" (detail: the service's
// MessageId), "failed" (detail: the error text), "unknown" (written, no complete answer) and
// "saved" (the message went into the outbox folder instead; detail: the file's path).
// A recipient whose last event is "sending" has an unknown outcome too: the program stopped
// while its request was under way. "retry" (detail: why) says the request of the "sending"
// before it did not leave or was turned away (throttled, the daily quota used up): the
// recipient is back where it stood before that "sending". The file is only ever appended to.
class SendJournal
{
public:
    enum class Event { Sending, Accepted, Failed, Unknown, Saved, Retry };

    // Outcome lines are grouped: at most one sync per this interval, unless flush() asks.
    static constexpr int SyncIntervalMs = 100;

    // The journal's path for a campaign file.
    static QString pathForCampaign(const QString &campaignPath);
    static QString eventName(Event event);
    static std::optional<Event> eventFromName(QStringView name);

    explicit SendJournal(const QString &path);
    ~SendJournal();
    SendJournal(const SendJournal &) = delete;
    SendJournal &operator=(const SendJournal &) = delete;

    QString path() const { return m_path; }
    // Opens (creating) the file for appending; false with errorString() set.
    bool open();
    bool isOpen() const { return m_fd >= 0; }
    void close();

    // Writes one "sending" line per address together with every outcome line still waiting,
    // and syncs them to disk: when it returns true the requests may leave. False (reason in
    // errorString()) means nothing may be sent.
    bool recordSending(const QStringList &addresses);
    // Queues an outcome line; it reaches the disk with the next sync, which happens here when
    // the last one is SyncIntervalMs old. False once writing failed.
    bool recordOutcome(const QString &address, Event event, const QString &detail);
    // Writes and syncs every waiting line.
    bool flush();
    // fdatasync calls so far.
    qsizetype syncs() const { return m_syncs; }
    // Lines queued but not yet on disk.
    bool hasPending() const { return !m_pending.isEmpty(); }
    // How long until a sync keeps to SyncIntervalMs after the latest one (0: now).
    int msUntilSyncDue() const;
    QString errorString() const { return m_error; }

    // Moves the journal file (of a campaign saved for the first time, or saved elsewhere) to
    // `to`, appending to what may already be there. The old file is removed only once its
    // lines are safely in the new one.
    static std::optional<QString> move(const QString &from, const QString &to);

    // ---- Reading back ----
    enum class Outcome { Accepted, Failed, Unknown, Saved };
    // Whether a recipient in this state has received the campaign (accepted) or may have
    // (unknown). A message saved into the outbox reached nobody: such a recipient is as
    // one never sent to, and so is a failed one.
    static bool reachedRecipient(Outcome outcome)
    {
        return outcome == Outcome::Accepted || outcome == Outcome::Unknown;
    }
    struct Entry
    {
        Outcome outcome = Outcome::Unknown;
        QString detail;   // the MessageId, error text, why unknown or the saved file
        QString time;     // of the last event
    };
    struct Replay
    {
        QHash<QString, Entry> outcomes; // by address, from each one's last event
        qsizetype lines = 0;            // lines read
        qsizetype malformed = 0;        // lines skipped: wrong field count, event or too long
        std::optional<QString> error;   // the file exists but could not be read
        bool truncated = false;         // larger than MaxReadBytes: the tail was not read

        std::optional<Outcome> outcome(const QString &address) const
        {
            const auto it = outcomes.constFind(address);
            return it == outcomes.constEnd() ? std::nullopt : std::optional(it->outcome);
        }
        bool alreadyReceived(const QString &address) const
        {
            const std::optional<Outcome> state = outcome(address);
            return state && reachedRecipient(*state);
        }
    };
    // A line longer than this is malformed; a file longer than MaxReadBytes is read only that far.
    static constexpr qsizetype MaxLineBytes = 64 * 1024;
    static constexpr qint64 MaxReadBytes = qint64(1) << 30;
    // No file gives an empty replay without error.
    static Replay read(const QString &path);

private:
    bool writeAndSync();

    QString m_path;
    int m_fd = -1;
    QByteArray m_pending;
    QElapsedTimer m_sinceSync;
    qsizetype m_syncs = 0;
    QString m_error;
};

} // namespace brisko
