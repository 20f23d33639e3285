#pragma once

#include "AccountSettings.h"
#include "MimeMessage.h"
#include "Recipient.h"
#include "SesRequest.h"

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

class QNetworkReply;

namespace brisko {

class BriskoConnector;

// The pieces of a delivery run that do not need a connector: the run info, the request
// for one recipient, the pacing arithmetic and the texts of failures. The run itself is
// BriskoConnector::sendMessageToRecipients().
namespace SendRun {

// Keys of the run info dictionary.
inline constexpr QStringView SubjectKey = u"SUBJECT";
inline constexpr QStringView SenderKey = u"SENDER";
inline constexpr QStringView ReplyToKey = u"REPLYTO";
inline constexpr QStringView ReturnPathKey = u"RETURNPATH";
inline constexpr QStringView BodyKey = u"BODY";
inline constexpr QStringView HtmlMessageKey = u"HTMLMESSAGE";
inline constexpr QStringView RecipientsKey = u"RECIPIENTS";

// One run's message fields and its queue. The queue holds the campaign's own records,
// not copies; it shrinks by one record per message sent, so after a cancel it holds the
// records not yet sent.
struct RunInfo
{
    QString subject;                   // SUBJECT
    QString sender;                    // SENDER
    QString replyTo;                   // REPLYTO
    std::optional<QString> returnPath; // RETURNPATH, absent when none was given
    QString body;                      // BODY: the plain-text template
    QString htmlMessage;               // HTMLMESSAGE: the HTML template
    RecipientList recipients;          // RECIPIENTS: the queue, in the given order
    // Carried by every message: where to unsubscribe (merged per recipient) and the files.
    std::optional<MimeMessage::ListUnsubscribe> unsubscribe;
    AttachmentList attachments;

    // Not in the dictionary:
    // The campaign file's base name ("Spring" for Spring.brisko); empty while it is unsaved.
    // Every SES message carries it as its "campaign" tag (campaignTagValue()).
    QString campaignName;
    // A test send: each message is merged with its record as usual but goes to this address
    // instead of the record's "EMAIL", and is tagged as a test.
    std::optional<QString> testAddress;

    // The same as a dictionary under the keys above; RECIPIENTS is the list of addresses.
    QVariantMap dictionary() const;
    // Where the message for the record goes: the test address, else its "EMAIL".
    QString addressFor(const Recipient &record) const;
};

// The raw message for one recipient: both templates and the unsubscribe targets merged with
// the record, addressed to info.addressFor(record), with the run's attachments. Every
// transport sends this.
QString messageFor(const RunInfo &info, const Recipient &record);

// Takes the campaign's unsubscribe text and files into the run; the reason when the text
// cannot be used (nothing may be sent then).
std::optional<QString> setExtras(RunInfo &info, const QString &unsubscribe, const AttachmentList &attachments);

// The largest message of a run over the given records, measured as the service counts it
// (the raw message, its files in Base64), without building the files' Base64.
struct SizeCheck
{
    qint64 largest = 0;       // bytes
    qsizetype index = -1;     // of the record it belongs to
    QString address;
    std::optional<QString> refusal; // why the run may not start: too large, or an unsubscribe
                                    // link too long once merged
};
SizeCheck checkSizes(const RunInfo &info, const RecipientList &records);
// "10.0 MB" and the like (1 MB = 1024 × 1024 bytes, as the service's limit).
QString megabytes(qint64 bytes);

// The message tags of SendRawEmail, so that the events a configuration set publishes can be
// told apart: "campaign" with the campaign's name, and "test" = "true" on test sends.
inline constexpr QStringView CampaignTagName = u"campaign";
inline constexpr QStringView TestTagName = u"test";
// The tag value for a campaign name: SES takes only ASCII letters, digits, "_" and "-", at
// most 256 of them. Accents are dropped ("Frühling" gives "Fruhling"), every other character
// becomes "_"; an empty name (an unsaved campaign) gives "untitled".
QString campaignTagValue(const QString &campaignName);
inline constexpr int LongestTagValue = 256;

// The parameters of one SendRawEmail after the raw message: ConfigurationSetName when the
// settings name one, then the tags.
QList<SesRequest::Parameter> messageParameters(const AccountSettings &settings, const RunInfo &info);

// The "SendRawEmail" request for one recipient: both templates merged with the record,
// the raw message addressed to info.addressFor(record), its Base64 form, the configuration
// set and tags of messageParameters(), signed as the settings say. Pure: usable from any
// thread.
SesRequest::Request buildRequest(const AccountSettings &settings, const RunInfo &info,
                                 const Recipient &record,
                                 const QDateTime &now = QDateTime::currentDateTimeUtc());

// How a run is paced for an interval between two messages.
struct Pacing
{
    double rate = 0;      // messages per second
    int tickMs = 0;       // the repeating timer's interval
    bool batched = false; // several messages per tick, as many as keep the rate on average
};

// Below this interval the run sends in bursts: every BurstMs, the messages due in that time
// leave together after one MailHost::willSend, so the journal syncs once per burst.
inline constexpr int BurstMs = 100;

// None unless the interval is finite and positive. An interval of at least BurstMs gives
// one message per tick, the tick rounded up to whole milliseconds so that the rate is
// never exceeded; a shorter one gives BurstMs ticks, batched.
std::optional<Pacing> pacingFor(double intervalSeconds);

// Batched pacing: how many messages are due `elapsedMs` after the start at `rate` per
// second. The first tick comes one tick after the start.
qint64 messagesDueAt(double rate, qint64 elapsedMs);

// How many times one recipient is tried when the service turns it away for now; after the
// last, it is recorded failed with the last error.
inline constexpr int MaxTries = 5;

// The run's rate while the service turns requests away: each such answer halves it (once per
// round: an answer to a request sent before the last halving does not halve it again, so a
// full pipeline of throttled answers counts once), never below a 32nd of the full rate; every
// whole second since the last halving gives back 10 %, up to the full rate.
class Throttle
{
public:
    static constexpr double Recovery = 1.10; // per second without a halving
    static constexpr int Floor = 32;         // the lowest rate is the full rate divided by this

    explicit Throttle(double fullRate = 0) : m_full(fullRate), m_base(fullRate) {}
    double fullRate() const { return m_full; }
    // The rate at `nowMs` on the run's clock.
    double rateAt(qint64 nowMs) const;
    // A request sent at `sentAtMs` was turned away at `nowMs`: true when that halved the rate.
    bool slowDown(qint64 sentAtMs, qint64 nowMs);

private:
    double m_full;
    double m_base;       // the rate right after the last halving
    qint64 m_since = -1; // when it happened; -1: never
};

// The whole life of one request once it is written, up to the last byte of its answer;
// the same bound applies to opening its connection. A request written and not answered
// in time is *unknown*; one whose connection did not open in time was not sent. 60 s unless
// set (tests and brisko-cli --timeout set it).
void setSendTimeout(int milliseconds);
int sendTimeout();

// At most this many requests of a run are under way at once, and the run opens at most as
// many connections, so every request has a connection of its own and none waits in a
// queue where its time could run out before it is written. A tick that finds that many
// outstanding sends nothing and the run goes on at the next tick. 16 unless set.
void setMaxInFlight(int requests);
int maxInFlight();

// The largest answer read (headers and body alike); a longer one is cut off and the
// recipient's outcome is unknown.
inline constexpr qsizetype MaxAnswerBytes = 1024 * 1024;

// How long a run waits for the quota answer it asks for when the send rate is not known.
// 10 s unless set.
void setQuotaTimeout(int milliseconds);
int quotaTimeout();

// The MaxSendRate of a quota answer as a number; none when the answer is an error
// document or has no such field or it is not a number.
std::optional<double> maxSendRate(const QString &answer);

// How one recipient's answer is recorded: 1 and "Success!" for an answer that is not an
// error document; -1 for one that is ("ErrorResponse" anywhere in it), with the text
// between its first "<Message>" and the last "</Message>" after that, or none (the
// address keeps its earlier text) when there is no such element.
struct Outcome
{
    int code = 0;
    std::optional<QString> status;
};
// The codes recorded per address. Unknown: the request was written and may have reached
// the service, but no complete answer came, so the message may have been delivered. It is
// neither accepted nor failed, and is never resent automatically.
inline constexpr int AcceptedCode = 1;
inline constexpr int FailedCode = -1;
inline constexpr int UnknownCode = 2;
inline constexpr QStringView SuccessStatus = u"Success!";
// The status shown for an unknown outcome (a string table key as well).
inline constexpr QStringView UnknownStatus = u"Sent, but no answer arrived: it may have been delivered";
Outcome outcomeForResponse(const QString &response);
// What the send journal keeps of an accepted answer: the service's MessageId, or the reply
// of a server that answers in plain text (an SMTP server's "250 2.0.0 Ok: queued as 4F2A"),
// on one line. Empty when the answer holds neither.
QString acceptedDetail(const QString &answer);
// A message that never left: -1 with the reason as the status.
Outcome outcomeForFailure(const QString &failure);
// A message that may have left: 2 with UnknownStatus.
Outcome outcomeForUnknown();

// How a finished reply ended.
struct ReplyEnd
{
    std::optional<QString> answer; // the document, when the service answered
    QString failure;               // otherwise why not: transport error, timeout, HTTP error
};
// Reads a finished reply whose body so far is `body`. An HTTP error status whose body is
// not an error document ("ErrorResponse") counts as a failure ("HTTP 503 Service
// Unavailable"), so that no such answer is taken for success.
ReplyEnd replyEnd(QNetworkReply *reply, const QByteArray &body, int timeoutMs);
// The same for a complete HTTP answer: its status code, reason phrase and body.
ReplyEnd answerEnd(int status, const QByteArray &reason, const QByteArray &body);

// How one SendRawEmail transfer ended.
enum class Delivery {
    Answered, // a complete answer came (accepted, or refused with an error document)
    NotSent,  // failed before any byte of the request was written: the message did not leave
    Failed,   // a complete HTTP error answer without an error document
    Unknown,  // written, but no complete answer: it may have been delivered
};
// What the run does next with the recipient of a finished transfer.
enum class Disposition {
    Record,    // the outcome stands: report it
    TryAgain,  // turned away for now (throttled, service unavailable, connection refused or
               // reset before a byte left): the message did not leave; back into the queue
    QuotaStop, // the account's 24-hour quota is used up: back into the queue, and the run ends
};
struct TransferEnd
{
    Delivery delivery = Delivery::Unknown;
    std::optional<QString> answer; // Answered: the document
    QString failure;               // otherwise why, in a few words
    int status = 0;                // the HTTP status of a complete answer
    Disposition disposition = Disposition::Record;
};
// The text of an error document's "Daily message quota exceeded" refusal.
inline constexpr QStringView DailyQuotaMessage = u"Daily message quota exceeded";
// For a complete answer (status and document): QuotaStop for the daily quota refusal,
// TryAgain for an error whose Code is "Throttling" or "ServiceUnavailable" or an HTTP 503,
// else Record.
Disposition dispositionOfAnswer(int status, const QString &answer);
// Why a request turned away for now was: the error's <Message>, else its <Code>, else the
// failure text.
QString turnedAwayBecause(const TransferEnd &end);
// What is known about a finished transfer.
struct TransferFacts
{
    int curlResult = 0;   // the CURLcode it ended with
    bool written = false; // the request started to go out on a connection
    bool timedOut = false; // given up after sendTimeout()
    bool tooLarge = false; // the answer passed MaxAnswerBytes
    int status = 0;        // HTTP status of the final answer, 0 when none
    QByteArray reason;     // its reason phrase
    QByteArray body;       // its body
    QString detail;        // curl's own description of a failure
    int systemError = 0;   // the errno behind it, when there is one
};
// Only a transfer that ended without error carries a complete answer; every failure after
// the request started to go out is unknown, never failed, and never tried again. A failure
// before that is tried again only when the connection was refused or reset (not for a name
// that does not resolve or a TLS failure, which another try does not mend).
TransferEnd transferEnd(const TransferFacts &facts, int timeoutMs);

} // namespace SendRun

} // namespace brisko
