#pragma once

#include "MailHost.h"
#include "Recipient.h"
#include "SendRun.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <optional>

namespace brisko {

class BriskoConnector;

// A test send: the message merged with one record, sent to a few addresses the user typed,
// through the transport of the account settings (SES, SMTP or the outbox), one message per
// address and one after another. Each message is a run of its own connector whose answers
// come here and nowhere else: a test send never reaches the shared MailHost, so it leaves
// the outcome tables and the send journal alone, and the record's own address gets nothing.
//
// The messages are the campaign's as its recipient would get it, with two differences that
// keep them apart from the real thing: the subject starts with "[Test] ", and through SES
// each carries the tag test=true beside the campaign tag. As in any run, a request that may
// have reached the service is never sent again.
class TestSend : public QObject, private MailHost
{
    Q_OBJECT

public:
    static constexpr QStringView SubjectPrefix = u"[Test] ";
    // A test goes to a few people, not to a list.
    static constexpr int MostAddresses = 10;

    // The addresses in typed text: separated by commas, semicolons or white space, each a
    // bare address (local part, "@", a domain with a dot; no blanks, controls or "<>()[]\"").
    // A repeated address counts once. The problem, when there is one, names the first
    // address that is wrong, or says that none or too many were given.
    struct Addresses
    {
        QStringList addresses;
        std::optional<QString> problem;
    };
    static Addresses parseAddresses(const QString &text);

    enum class Result { Accepted, Failed, Unknown };
    struct Answer
    {
        QString address;
        Result result = Result::Failed;
        // Accepted: "MessageId: …" (SES), the server's reply (SMTP) or "Saved as …" (outbox).
        // Otherwise the service's error text, or why no answer came.
        QString text;
    };
    // "accepted", "failed", "unknown".
    static QString resultName(Result result);

    explicit TestSend(QObject *parent = nullptr);
    ~TestSend() override;

    // Seconds between two messages through SES (a connector waits that long before it
    // sends); 1 unless set, which every SES account allows.
    void setInterval(double seconds);

    // Sends `message` (every field but its queue and test address, which are the test's)
    // merged with `record` to each address. `rows` is the campaign's list, which names the
    // outbox files after the record's row. Returns at once; finished() follows, also when
    // nothing could be sent. A test send runs once.
    void start(const SendRun::RunInfo &message, const RecipientPtr &record, const QStringList &addresses,
               const RecipientList &rows = {});
    // Sends nothing more: the message under way is answered as usual, the rest are failed
    // as not sent.
    void cancel();

    bool isRunning() const { return m_running; }
    // One per address, in the order given, once finished() came.
    const QList<Answer> &answers() const { return m_answers; }
    bool allAccepted() const;

Q_SIGNALS:
    void finished();

private:
    void next();
    void connectorFinished();
    void record(const QString &address, Result result, const QString &text);
    void finish();

    // MailHost: the answers of this send's own connectors.
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    float timerValueForSendRate() const override { return float(m_interval); }
    void mailSendResponseFor(const QString &address, const QString &response) override;
    void mailSendFailedFor(const QString &address, const QString &failure) override;
    void mailSendUnknownFor(const QString &address, const QString &why) override;
    void mailSavedFor(const QString &address, const QString &path) override;
    void sendRunEnded(const std::optional<QString> &notStartedBecause) override;

    SendRun::RunInfo m_message;
    RecipientPtr m_record;
    RecipientList m_rows;
    QStringList m_addresses;
    qsizetype m_next = 0;
    double m_interval = 1.0;
    QPointer<BriskoConnector> m_connector;
    std::optional<QString> m_notStarted;
    QList<Answer> m_answers;
    bool m_running = false;
    bool m_started = false;
    bool m_cancelled = false;
};

} // namespace brisko
