#pragma once

#include <QString>

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

private:
    static MailHost *&slot()
    {
        static MailHost *host = nullptr;
        return host;
    }
};

} // namespace brisko
