#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace brisko {

// What the mail library asks of the program it runs in. The window and brisko-cli each
// implement it and install theirs with MailHost::setShared() before the first request;
// connectors and response collectors find it through MailHost::shared() when an answer
// arrives. All calls come on the main thread, from the event loop.
//
// Requests whose answer arrives while no host is installed are dropped after one log line.
class MailHost
{
public:
    virtual ~MailHost() = default;

    static MailHost *shared() { return slot(); }
    // The host is not owned; pass nullptr to remove it (before the host is destroyed).
    static void setShared(MailHost *host) { slot() = host; }

    // The answer to GetSendQuota: the texts of Max24HourSend, MaxSendRate and
    // SentLast24Hours exactly as the service wrote them (e.g. "200.0"), in that order.
    // A field missing from the answer is none, so an error answer gives three nones.
    virtual void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                              const std::optional<QString> &sentLast24) = 0;

    // The whole answer to GetSendStatistics, success or error document alike.
    virtual void statisticsResponse(const QString &text) = 0;

    // The login check found an error document: show heading and message to the user
    // ("Please check your Amazon AWS login details." and the service's <Message> text,
    // none when the document has none). A good answer calls nothing.
    virtual void showLoginFailure(const QString &heading, const std::optional<QString> &message) = 0;

    // A request was not sent because the account cannot be used as it stands: a malformed
    // AWS credential file (the text names file and line), a chosen profile that is missing,
    // a keyring that did not answer. The window tells the user; brisko-cli checks first.
    virtual void accountProblem(const QString &problem) { Q_UNUSED(problem); }

    // The answer to VerifyEmailAddress for one address; none when no answer came. The
    // window ignores it (the user was told when the requests went out).
    virtual void verificationResponse(const QString &address, const std::optional<QString> &answer)
    {
        Q_UNUSED(address);
        Q_UNUSED(answer);
    }

    // How one request ended; called last for every request that was sent, after the call
    // above that belongs to its action (when an answer came).
    struct RequestOutcome
    {
        QString action;                 // "GetSendQuota", "GetSendStatistics", …
        std::optional<QString> address; // the address, for VerifyEmailAddress
        std::optional<QString> answer;  // the answer document; none when none came
        QString failure;                // why none came: refused, network or TLS error, timeout
    };
    virtual void requestEnded(const RequestOutcome &outcome) { Q_UNUSED(outcome); }

    // ---- Delivery run (BriskoConnector::sendMessageToRecipients) ----

    // Seconds between two messages: one divided by the account's maximum send rate. A
    // value that is not finite and positive (rate not known yet) makes the run ask for
    // the quota first; its answer also reaches setMax24Send().
    virtual float timerValueForSendRate() const { return 0; }
    // One message leaves: the bar reads `value` of `maximum` (0…N−1 over a run of N),
    // `address` is the recipient's ("value + 1 of maximum" is the one going out).
    virtual void sendProgress(qsizetype value, qsizetype maximum, const QString &address)
    {
        Q_UNUSED(value);
        Q_UNUSED(maximum);
        Q_UNUSED(address);
    }
    // The requests of one tick are about to leave for these addresses, in this order. The
    // host records them (the send journal) before it returns; false stops the run before
    // any of them leaves, and the host has told the user why.
    virtual bool willSend(const QStringList &addresses)
    {
        Q_UNUSED(addresses);
        return true;
    }
    // The service's answer for one recipient, success or error document alike.
    virtual void mailSendResponseFor(const QString &address, const QString &response)
    {
        Q_UNUSED(address);
        Q_UNUSED(response);
    }
    // The request for one recipient never left (refused, DNS or TLS failure, no connection
    // in time), or a complete HTTP error answer came without an error document: why, as
    // text. The message was not delivered.
    virtual void mailSendFailedFor(const QString &address, const QString &failure)
    {
        Q_UNUSED(address);
        Q_UNUSED(failure);
    }
    // The request for one recipient was written, but no complete answer came (the
    // connection closed or reset, the answer was cut off, too long or too slow, or the
    // user stopped waiting): the message may have been delivered. Neither accepted nor
    // failed, recorded as SendRun::UnknownCode, and never resent automatically. `why`
    // says what happened. Every host must show it; this default only logs it.
    virtual void mailSendUnknownFor(const QString &address, const QString &why)
    {
        qWarning("outcome unknown for %s: %s", qUtf8Printable(address), qUtf8Printable(why));
    }
    // The service turned the request for one recipient away for now (throttled, unavailable,
    // the daily quota used up) or its connection was refused or reset before the request left:
    // `why`. The message did not leave; the recipient has no outcome from this request and
    // is back in the run's queue (sent again later in the run, or left unsent when the run
    // stops first).
    virtual void mailSendRequeuedFor(const QString &address, const QString &why)
    {
        Q_UNUSED(address);
        Q_UNUSED(why);
    }
    // The run slowed down to `rate` messages per second (of `fullRate`) because a request was
    // turned away for now (`why`); it climbs back by itself.
    virtual void sendRateLowered(double rate, double fullRate, const QString &why)
    {
        Q_UNUSED(rate);
        Q_UNUSED(fullRate);
        Q_UNUSED(why);
    }
    // The account's 24-hour sending quota is used up: the run stopped at once and, now that
    // every answer in flight is in, `notSent` recipients of the run were not sent. They have
    // no outcome and can be sent when the quota allows more. Called once, after sendRunEnded.
    virtual void quotaExhausted(qsizetype notSent) { Q_UNUSED(notSent); }
    // The outbox transport wrote the message for one recipient to the file `path`: recorded
    // as 1 and "Saved" (Outbox::SavedStatus).
    virtual void mailSavedFor(const QString &address, const QString &path)
    {
        Q_UNUSED(address);
        Q_UNUSED(path);
    }
    // The run stopped sending: its queue ran empty or it was cancelled (none), or it could
    // not start (why, to tell the user). Answers to messages already sent may follow.
    virtual void sendRunEnded(const std::optional<QString> &notStartedBecause) { Q_UNUSED(notStartedBecause); }

private:
    static MailHost *&slot()
    {
        static MailHost *host = nullptr;
        return host;
    }
};

} // namespace brisko
