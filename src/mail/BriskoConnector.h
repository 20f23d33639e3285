#pragma once

#include "AccountSettings.h"
#include "Recipient.h"
#include "SendRun.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <curl/curl.h>

#include <memory>
#include <optional>
#include <unordered_map>

class QNetworkReply;
class QTimer;

namespace brisko {

class CurlMultiDriver;
class MailHost;

// Talks to the mail service for one delivery run or one account request; a new
// connector is made for each and keeps nothing between operations.
class BriskoConnector : public QObject
{
    Q_OBJECT

public:
    explicit BriskoConnector(QObject *parent = nullptr);
    ~BriskoConnector() override;

    // ---------------------------------------------------------------------------------
    // Placeholder merge
    //
    // The template with every placeholder "__KEY__" replaced by the record's value for
    // KEY. Matching is literal: code unit by code unit, case-sensitive, no normalisation.
    //
    // Every key of the record is processed exactly once, in the record's keys() order:
    // the columns of the list the record was imported or loaded from, in heading order,
    // then the keys set by hand, in the order they were first set. One key's pass
    // replaces every occurrence of its token in the whole current text, found left to
    // right without overlapping; the inserted values are not searched again during that
    // pass, but later keys' passes do see them. So a value holding the token of a
    // column that comes later in that order has it replaced, one holding the token of
    // an earlier column keeps it.
    //
    // Values go in as they stand (no trimming, no escaping, line breaks unchanged). A
    // token whose column the record lacks stays. "___EMAIL__" yields "_" followed by the
    // address: the match starts at the second underscore.
    //
    // Uses no state of the connector; the template and the record are not changed.
    QString doGreps(const QString &text, const Recipient &record) const;
    // ---------------------------------------------------------------------------------

    // ---------------------------------------------------------------------------------
    // Account operations (AccountOperations.h): each starts one signed request with the
    // account settings of the moment and returns whether it went out; the answer reaches
    // the shared MailHost. One connector may start several, e.g. one verification per
    // address.
    bool getAccountSendQuota();
    bool getAccountStatistics();
    bool validateLogin();
    bool verifyEmailAddress(const QString &address);
    // ---------------------------------------------------------------------------------

    // ---------------------------------------------------------------------------------
    // Delivery run
    //
    // One connector runs one delivery: a repeating precise timer, paced by the shared
    // MailHost's timerValueForSendRate(), sends one "SendRawEmail" per tick to the next
    // record of the queue and tells the host (sendProgress: the bar reads 0…N−1); the tick
    // that finds the queue empty and no answer outstanding ends the run (sendRunEnded). Each answer is collected per
    // request and handed to the host under the recipient's address, exactly once:
    // mailSendResponseFor for a complete answer, mailSendFailedFor when the request never
    // left (or a complete HTTP error answer without an error document), mailSendUnknownFor
    // when it was written but no complete answer came. No request is ever sent twice.
    // stopSending() ends the run at once; answers to messages already sent still arrive
    // and are reported.
    //
    // Pacing: an interval of 100 ms or more sends exactly one message per tick. A shorter
    // one ticks every 100 ms and sends the messages due in that time together, as many as
    // keep the rate on average, after one willSend (so one journal sync per burst). An interval that is not finite and positive (rate not known yet) makes the
    // run ask for the quota first and pace from its MaxSendRate, exactly (0.5 gives one
    // message every 2 s); when no usable answer comes within SendRun::quotaTimeout(),
    // nothing is sent and the host is told why (sendRunEnded with the reason).
    //
    // The account settings (credentials, endpoint, signing scheme) are read once, when
    // the run starts. A request written and not completely answered within
    // SendRun::sendTimeout() is given up (unknown). A tick that finds SendRun::maxInFlight()
    // requests outstanding sends nothing; the run uses as many connections.
    //
    // Turned away for now: an answer that throttles ("Throttling"), an HTTP 503 or
    // "ServiceUnavailable", or a connection refused or reset before any byte of the request was
    // written, means the message did not leave. The recipient goes back to the head of the
    // queue (mailSendRequeuedFor, no outcome) and the rate halves (SendRun::Throttle,
    // sendRateLowered); after SendRun::MaxTries tries it is reported with its last answer. A
    // request that may have reached the service is never tried again. The tick that finds the
    // queue empty ends the run only once no answer is outstanding, as one may refill it.
    //
    // The daily quota: an answer "Daily message quota exceeded" ends the run at once. That
    // recipient goes back into the queue like the rest never sent, answers in flight are still
    // reported, and once the last is in the host hears quotaExhausted() with the number not sent.
    using RunInfo = SendRun::RunInfo;

    // A pending-response entry: the recipient's address and the answer's bytes so far.
    struct PendingResponse
    {
        QString email;
        QByteArray response;
    };

    // Where the run's answers go: MailHost::shared() unless another host is set here
    // before the run starts (a test send keeps its answers out of the window's outcome
    // tables and the send journal that way). Account requests always answer the shared host.
    void setHost(MailHost *host) { m_host = host; }
    MailHost *runHost() const;
    // The campaign's name for the message tag of the run sendMessageToRecipients() starts
    // (RunInfo::campaignName). Set before the run starts.
    void setCampaignName(const QString &name) { m_campaignName = name; }

    // Starts the run over the records in the given order (the records are shared, not
    // copied). An empty Return-Path is kept as given; none leaves the key out.
    void sendMessageToRecipients(const QString &message, const QString &htmlMessage, const QString &subject,
                                 const QString &from, const RecipientList &recipients, const QString &replyTo,
                                 const std::optional<QString> &returnPath);
    // What every message of the next run carries beside its bodies; set before it starts.
    void setMessageExtras(const std::optional<MimeMessage::ListUnsubscribe> &unsubscribe,
                          const AttachmentList &attachments)
    {
        m_userInfo.unsubscribe = unsubscribe;
        m_userInfo.attachments = attachments;
    }
    // Starts the run described whole: its queue, message fields and extras, campaign name
    // and, for a test send, the address every message goes to.
    void startRun(const RunInfo &info);
    // One step of the run: ends it when the queue is empty, otherwise sends to the first
    // record, moves the progress on and drops the record from the queue.
    void sendMessageWithInfo(RunInfo &info);
    // Sends one message to one record; false when no request could be started.
    virtual bool sendMessageToRecipient(const QString &message, const QString &htmlMessage, const QString &subject,
                                        const QString &from, const Recipient &record, const QString &replyTo,
                                        const std::optional<QString> &returnPath);
    static PendingResponse responseDictForEmail(const QString &address);

    // Ends the run (no further message leaves; the host hears sendRunEnded once).
    void stopSending();
    // Stops waiting for the answers in flight: each of their addresses is reported unknown
    // (mailSendUnknownFor), whether or not its request had been written yet.
    void abandonInFlight();
    // The addresses whose requests are under way, in no particular order.
    QStringList addressesInFlight() const;
    // The run's repeating timer; nullptr before the run starts and after it ended.
    QTimer *timer() const;
    virtual bool isSMTP() const { return false; }
    // False for transports that take the next step themselves when the last one is over
    // (SMTP, the outbox): the run then starts with one step and makes no timer.
    virtual bool isPaced() const { return !isSMTP(); }

    const RunInfo &userInfo() const { return m_userInfo; }
    // Requests sent whose answer has not been reported yet.
    virtual qsizetype pendingResponses() const { return qsizetype(m_transfers.size()); }
    // True once the run has stopped (queue empty, cancelled, or could not start).
    bool hasStopped() const { return m_runState == RunState::Stopped; }
    // The pacing in use (its rate lowered while the service throttles); none while the rate
    // is not known.
    std::optional<SendRun::Pacing> pacing() const { return m_pacing; }
    // True once an answer said the account's 24-hour quota is used up.
    bool stoppedAtQuota() const { return m_quotaExhausted; }
    // Deletes the connector once the run has stopped and every answer is reported.
    void releaseWhenDone();

    // One SendRawEmail request under way (the curl callbacks fill it in).
    struct Transfer
    {
        CURL *easy = nullptr;
        curl_slist *headers = nullptr;
        QString email;
        RecipientPtr record;           // the queue's record, to put back when turned away
        qint64 sentAtMs = 0;           // on the run's clock
        QByteArray request;            // the body; curl reads it in place
        int status = 0;                // of the latest answer head
        QByteArray reason;
        QByteArray body;               // of the latest answer
        qsizetype answerBytes = 0;     // heads and bodies so far
        bool written = false;          // about to go out, or out, on a connection
        bool replayRefused = false;    // curl tried to send it a second time
        bool tooLarge = false;
        bool timedOut = false;
        QDeadlineTimer deadline;       // from the moment it was written
        char error[CURL_ERROR_SIZE] = {};

        Transfer() = default;
        Transfer(const Transfer &) = delete;
        Transfer &operator=(const Transfer &) = delete;
        ~Transfer();
    };

Q_SIGNALS:
    // The run has stopped and no answer is outstanding any more.
    void finished();

protected:
    // For transports that step themselves: the run's queue and the settings read at its start.
    RunInfo &runInfo() { return m_userInfo; }
    const AccountSettings &settings() const { return m_settings; }
    // Signals finished() (and releases the connector when asked) once the run has stopped
    // and pendingResponses() is 0; call it when an answer of one's own was reported.
    void checkFinished();

private:
    enum class RunState { Idle, AwaitingQuota, Running, Stopped };

    void askQuotaForRate();
    void quotaAnswered(QNetworkReply *reply, const QByteArray &body);
    void startTimer(const SendRun::Pacing &pacing);
    void sendMessage(); // one tick
    // Before the requests of a tick leave, the host hears their addresses (MailHost::willSend)
    // and may stop the run: false when it refused (the run has ended).
    bool announce(qint64 count);
    void endRun(const std::optional<QString> &notStartedBecause);
    CurlMultiDriver *driver();
    void transferEnded(Transfer *transfer, CURLcode result);
    void checkDeadlines();
    void reportNotStarted(const QString &address, const QString &why);
    // Paces the run at `rate` from now on: a new tick, batched or not, as pacingFor() says.
    void setRate(double rate);
    // A finished transfer whose recipient was turned away for now or stopped by the quota:
    // true when it went back into the queue (false: it has had its tries and is reported).
    bool requeue(const Transfer &transfer, const SendRun::TransferEnd &end);

    MailHost *m_host = nullptr;
    QString m_campaignName;
    QPointer<QTimer> m_watchdog; // gives up written requests past their deadline
    QPointer<QTimer> m_sendTimer;
    RunInfo m_userInfo;
    AccountSettings m_settings;
    qsizetype m_total = 0;
    RunState m_runState = RunState::Idle;
    std::optional<SendRun::Pacing> m_pacing;
    QElapsedTimer m_clock;
    double m_credit = 0;      // batched pacing: messages due and not yet sent
    qint64 m_lastTickMs = 0;  // on m_clock
    SendRun::Throttle m_throttle;
    RecipientPtr m_sending;   // the record whose request is being made
    QHash<const Recipient *, int> m_tries; // tries turned away so far, per record
    bool m_quotaExhausted = false;
    bool m_quotaTold = false;
    QPointer<QNetworkReply> m_quotaReply;
    QByteArray m_quotaData;
    bool m_finishedSignalled = false;
    bool m_releaseWhenDone = false;
    // In this order: the driver goes first and takes its transfers back before they go.
    std::unordered_map<CURL *, std::unique_ptr<Transfer>> m_transfers;
    std::unique_ptr<CurlMultiDriver> m_driver;
    // ---------------------------------------------------------------------------------
};

} // namespace brisko
