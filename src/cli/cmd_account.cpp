// brisko-cli quota / stats / verify / preview: the account questions through the same
// requests as the window, and the raw message built for one recipient.

#include "AccountOperations.h"
#include "AccountSettings.h"
#include "BriskoConnector.h"
#include "CampaignFile.h"
#include "FennimarStrings.h"
#include "MailHost.h"
#include "MimeMessage.h"
#include "ServiceOptions.h"
#include "clicommands.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace brisko::cli {

namespace {

// Collects the answers of one invocation and ends its event loop when the last request
// has ended.
class CliMailHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                      const std::optional<QString> &sentLast24) override
    {
        quota = {max24, maxRate, sentLast24};
    }
    void statisticsResponse(const QString &text) override { statistics = text; }
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    void requestEnded(const RequestOutcome &outcome) override
    {
        outcomes.append(outcome);
        if (--pending <= 0)
            loop.quit();
    }

    // Runs the event loop until every started request has ended.
    void wait()
    {
        if (pending > 0)
            loop.exec();
    }

    int pending = 0;
    QEventLoop loop;
    struct Quota
    {
        std::optional<QString> max24, maxRate, sentLast24;
    };
    std::optional<Quota> quota;
    std::optional<QString> statistics;
    QList<RequestOutcome> outcomes;
};

// Installs the host for the lifetime of one command.
struct HostScope
{
    explicit HostScope(MailHost *host) { MailHost::setShared(host); }
    ~HostScope() { MailHost::setShared(nullptr); }
};

// Applies the service options for one account command; false when one is wrong.
bool applyServiceOptions(ServiceOptions &service, const QCommandLineParser &parser, const QString &command,
                         Io &io)
{
    if (!service.apply(parser, command, io))
        return false;
    if (service.timeoutMs)
        AccountOperations::setRequestTimeout(*service.timeoutMs);
    return true;
}

// "Code: Message" of an error document, or none when the text is not one.
std::optional<QString> serviceError(const QString &answer)
{
    if (!answer.contains(u"ErrorResponse"))
        return std::nullopt;
    const QString code =
        FennimarStrings::stringBetween(u"<Code>"_s, u"</Code>"_s, answer).value_or(u"Error"_s);
    const auto message = FennimarStrings::stringBetween(u"<Message>"_s, u"</Message>"_s, answer);
    return message ? code + u": "_s + *message : code;
}

// Tells why a request gave no usable answer; false when it did give one.
bool reportFailure(const MailHost::RequestOutcome &outcome, const QString &command, Io &io)
{
    if (!outcome.answer) {
        io.err << "brisko-cli " << command << ": no answer from " << AccountSettings::load().endpointInUse()
               << ": " << outcome.failure << '\n';
        return true;
    }
    if (const auto error = serviceError(*outcome.answer)) {
        io.err << "brisko-cli " << command << ": the service refused: " << *error << '\n';
        return true;
    }
    return false;
}

int runQuota(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    ServiceOptions service(30);
    service.addTo(parser);
    if (!parseArguments(parser, u"quota"_s, arguments, io))
        return UsageError;
    if (!applyServiceOptions(service, parser, u"quota"_s, io))
        return service.exitStatus;
    if (!parser.positionalArguments().isEmpty()) {
        io.err << "brisko-cli quota: takes no arguments\n";
        return UsageError;
    }
    CliMailHost host;
    const HostScope scope(&host);
    host.pending = 1;
    if (!AccountOperations::getAccountSendQuota()) {
        io.err
            << "brisko-cli quota: no access key and secret key stored (account panel, an AWS profile, or "
               "AWS_ACCESS_KEY_ID and AWS_SECRET_ACCESS_KEY)\n";
        return Failure;
    }
    host.wait();
    if (host.outcomes.isEmpty() || reportFailure(host.outcomes.first(), u"quota"_s, io))
        return Failure;
    io.out << "Max24HourSend: " << host.quota->max24.value_or(QString()) << '\n'
           << "MaxSendRate: " << host.quota->maxRate.value_or(QString()) << '\n'
           << "SentLast24Hours: " << host.quota->sentLast24.value_or(QString()) << '\n';
    return Success;
}

int runStats(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    ServiceOptions service(30);
    service.addTo(parser);
    const QCommandLineOption html(u"html"_s, u"Print the report page instead of the service's answer."_s);
    parser.addOption(html);
    if (!parseArguments(parser, u"stats"_s, arguments, io))
        return UsageError;
    if (!applyServiceOptions(service, parser, u"stats"_s, io))
        return service.exitStatus;
    if (!parser.positionalArguments().isEmpty()) {
        io.err << "brisko-cli stats: takes no arguments\n";
        return UsageError;
    }
    CliMailHost host;
    const HostScope scope(&host);
    host.pending = 1;
    if (!AccountOperations::getAccountStatistics()) {
        io.err << "brisko-cli stats: no secret key stored (account panel, an AWS profile, or "
                  "AWS_SECRET_ACCESS_KEY)\n";
        return Failure;
    }
    host.wait();
    if (host.outcomes.isEmpty() || reportFailure(host.outcomes.first(), u"stats"_s, io))
        return Failure;
    const QString text = host.statistics.value_or(QString());
    io.out << (parser.isSet(html) ? AccountOperations::statisticsPage(text) : text);
    return Success;
}

int runVerify(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    ServiceOptions service(30);
    service.addTo(parser);
    if (!parseArguments(parser, u"verify"_s, arguments, io))
        return UsageError;
    if (!applyServiceOptions(service, parser, u"verify"_s, io))
        return service.exitStatus;
    const QStringList addresses = parser.positionalArguments();
    if (addresses.isEmpty()) {
        io.err << "brisko-cli verify: name at least one address\n";
        return UsageError;
    }
    CliMailHost host;
    const HostScope scope(&host);
    BriskoConnector connector;
    host.pending = int(addresses.size());
    for (const QString &address : addresses)
        connector.verifyEmailAddress(address);
    host.wait();
    int status = Success;
    for (const QString &address : addresses) {
        const auto outcome =
            std::find_if(host.outcomes.cbegin(), host.outcomes.cend(),
                         [&](const MailHost::RequestOutcome &o) { return o.address == address; });
        if (outcome == host.outcomes.cend() || reportFailure(*outcome, u"verify "_s + address, io)) {
            status = Failure;
            continue;
        }
        io.out << address << ": verification mail requested\n";
    }
    return status;
}

int runPreview(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption row(u"row"_s, u"The recipient's row, counted from 1 as 'show' numbers them."_s,
                                 u"N"_s);
    parser.addOption(row);
    if (!parseArguments(parser, u"preview"_s, arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1 || !parser.isSet(row)) {
        io.err << "brisko-cli preview: name one campaign file and --row N\n";
        return UsageError;
    }
    bool ok = false;
    const int number = parser.value(row).toInt(&ok);
    if (!ok || number < 1) {
        io.err << "brisko-cli preview: --row needs a row number from 1\n";
        return UsageError;
    }
    const QString &path = files.first();
    const std::optional<CampaignDocument> campaign = readCampaign(u"preview"_s, path, io);
    if (!campaign)
        return Failure;
    const CampaignDocument &document = *campaign;
    const RecipientList recipients = document.recipients.value_or(RecipientList());
    if (number > recipients.size()) {
        io.err << "brisko-cli preview: " << path << " has " << recipients.size() << " recipients, no row "
               << number << '\n';
        return Failure;
    }
    const Recipient &record = *recipients.at(number - 1);
    SendRun::RunInfo info;
    if (const auto why = SendRun::setExtras(info, document.unsubscribe.value_or(QString()),
                                            document.attachments.value_or(AttachmentList()))) {
        io.err << "brisko-cli preview: " << *why << '\n';
        return Failure;
    }
    setMessageFields(info, document);
    io.out << SendRun::messageFor(info, record);
    return Success;
}

const QString ServiceSynopsis =
    u"[--region R] [--endpoint URL] [--signature v4|v3] [--timeout S] [--verbose]"_s;

} // namespace

Command quotaCommand()
{
    return {u"quota"_s, ServiceSynopsis,
            u"Print the account's sending quota: Max24HourSend, MaxSendRate, SentLast24Hours."_s, runQuota};
}

Command statsCommand()
{
    return {u"stats"_s, u"[--html] "_s + ServiceSynopsis,
            u"Print the account's sending statistics (--html: as the report page)."_s, runStats};
}

Command verifyCommand()
{
    return {u"verify"_s, u"ADDRESS... "_s + ServiceSynopsis,
            u"Ask the service to send a verification mail to each address."_s, runVerify};
}

Command previewCommand()
{
    return {u"preview"_s, u"CAMPAIGN.brisko --row N"_s,
            u"Print the raw MIME message that recipient row N would be sent."_s, runPreview};
}

} // namespace brisko::cli
