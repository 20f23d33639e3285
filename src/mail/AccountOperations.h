#pragma once

#include "MailHost.h"
#include "SesRequest.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace brisko {

// The four questions the program asks the service about the account. Each starts one
// signed request (settings, credentials and endpoint read afresh) and returns at once;
// the answer is collected by a response collector and handed to the shared MailHost.
// Each returns whether a request went out.
namespace AccountOperations {

// The heading of the login failure message (not a localisation key).
inline constexpr QStringView LoginFailureHeading = u"Please check your Amazon AWS login details.";

// GetSendQuota, answered through MailHost::setMax24Send(). Sends nothing unless both an
// access key and a secret key are stored.
bool getAccountSendQuota();
// GetSendStatistics, answered through MailHost::statisticsResponse(). Sends nothing
// unless a secret key is stored.
bool getAccountStatistics();
// GetSendQuota as a login check: an error document is shown through
// MailHost::showLoginFailure(); a good answer changes nothing. Always sent.
bool validateLogin();
// VerifyEmailAddress for one address (one request per address). Always sent.
bool verifyEmailAddress(const QString &address);

// A request with no byte moving for this long, or not completely answered within
// TotalTimeFactor times as long however slowly its answer trickles in, is given up
// (MailHost::requestEnded with no answer); so is an answer longer than
// SendRun::MaxAnswerBytes. 30 seconds unless set.
void setRequestTimeout(int milliseconds);
int requestTimeout();
inline constexpr int TotalTimeFactor = 4;

// The network access of the mail library, made on first use and owned by the application.
QNetworkAccessManager *networkAccessManager();

// The statistics answer made a page: "<SendDataPoints>" becomes the style block, each
// "<member>" a "statsection" division, then DeliveryAttempts, Timestamp, Rejects, Bounces
// and Complaints become labelled paragraphs. Everything else stays as it was.
QString statisticsPage(const QString &answer);
// Every "<element>" replaced by "<P><b>prettyName</b> : " and every "</element>" by "</P>".
QString replaceXMLWithHTMLForElement(const QString &element, const QString &data, const QString &prettyName);

} // namespace AccountOperations

// Gathers one answer: the response empties the buffer (so only the final response's body
// remains), each piece of data is appended, the end acts on the whole text. A request
// that ends without an answer from the server (refused, network or TLS error, timeout)
// acts on nothing. Either way the host hears requestEnded() last. Owned by its reply.
class BriskoResponseCollector : public QObject
{
    Q_OBJECT

public:
    BriskoResponseCollector(QNetworkReply *reply, const QString &action, const std::optional<QString> &address = {});

protected:
    // The whole answer, decoded as UTF-8 (SES answers in ASCII).
    virtual void act(MailHost &host, const QString &answer) = 0;
    virtual void actOnFailure(MailHost &host) { Q_UNUSED(host); }

    QString m_action;
    std::optional<QString> m_address;
    QByteArray receivedData;

private:
    void didReceiveResponse();
    void didReceiveData();
    void didFinishLoading();

    QPointer<QNetworkReply> m_reply;
    bool m_tooLarge = false;
};

// GetSendQuota: Max24HourSend, MaxSendRate and SentLast24Hours to MailHost::setMax24Send().
class BriskoQuotaDelegate : public BriskoResponseCollector
{
    Q_OBJECT
public:
    using BriskoResponseCollector::BriskoResponseCollector;

protected:
    void act(MailHost &host, const QString &answer) override;
};

// GetSendStatistics: the whole answer to MailHost::statisticsResponse().
class BriskoStatisticsDelegate : public BriskoResponseCollector
{
    Q_OBJECT
public:
    using BriskoResponseCollector::BriskoResponseCollector;

protected:
    void act(MailHost &host, const QString &answer) override;
};

// The login check: an answer holding "ErrorResponse" is logged and shown.
class BriskoValidateDelegate : public BriskoResponseCollector
{
    Q_OBJECT
public:
    using BriskoResponseCollector::BriskoResponseCollector;

protected:
    void act(MailHost &host, const QString &answer) override;
};

// VerifyEmailAddress: the answer to MailHost::verificationResponse().
class BriskoVerifyEmailDelegate : public BriskoResponseCollector
{
    Q_OBJECT
public:
    using BriskoResponseCollector::BriskoResponseCollector;

protected:
    void act(MailHost &host, const QString &answer) override;
    void actOnFailure(MailHost &host) override;
};

} // namespace brisko
