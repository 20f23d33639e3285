// brisko-cli send-test: the message of one row sent to the addresses given, through the same
// transports as send, and never recorded in the send journal.

#include "AccountSettings.h"
#include "CampaignFile.h"
#include "SendRun.h"
#include "ServiceOptions.h"
#include "TestSend.h"
#include "clicommands.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace brisko::cli {

namespace {

// Outcome lines stay one line each.
QString oneLine(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ');
}

int runSendTest(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption toOption(
        u"to"_s,
        u"Send the test to ADDRESS (repeat it, or separate addresses with commas, for up to %1)."_s.arg(
            TestSend::MostAddresses),
        u"ADDRESS"_s);
    const QCommandLineOption rowOption(
        u"row"_s, u"Merge the message with this recipient's row, counted from 1 (default: the first)."_s, u"N"_s);
    ServiceOptions service(60, true);
    parser.addOptions({toOption, rowOption});
    service.addTo(parser);
    if (!parseArguments(parser, u"send-test"_s, arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        io.err << "brisko-cli send-test: name one campaign file\n";
        return UsageError;
    }
    if (!parser.isSet(toOption)) {
        io.err << "brisko-cli send-test: name the test's address with --to ADDRESS\n";
        return UsageError;
    }
    const TestSend::Addresses addresses = TestSend::parseAddresses(parser.values(toOption).join(u','));
    if (addresses.problem) {
        io.err << "brisko-cli send-test: --to: " << *addresses.problem << '\n';
        return UsageError;
    }
    std::optional<int> row;
    if (parser.isSet(rowOption)) {
        bool ok = false;
        row = parser.value(rowOption).toInt(&ok);
        if (!ok || *row < 1) {
            io.err << "brisko-cli send-test: --row needs a row number from 1\n";
            return UsageError;
        }
    }
    if (!service.apply(parser, u"send-test"_s, io))
        return service.exitStatus;
    if (service.timeoutMs)
        SendRun::setSendTimeout(*service.timeoutMs);

    const QString &path = files.first();
    const std::optional<CampaignDocument> campaign = readCampaign(u"send-test"_s, path, io);
    if (!campaign)
        return Failure;
    const CampaignDocument &document = *campaign;
    const RecipientList all = document.recipients.value_or(RecipientList());
    RecipientPtr record;
    if (row && *row > all.size()) {
        io.err << "brisko-cli send-test: --row: the campaign has " << all.size() << " recipients, no row " << *row
               << '\n';
        return UsageError;
    }
    if (!all.isEmpty()) {
        record = all.at(row.value_or(1) - 1);
    } else {
        io.err << "brisko-cli send-test: the campaign has no recipients: every placeholder stays as it is\n";
        record = makeRecipient({});
    }

    const AccountSettings settings = AccountSettings::load();
    if (const auto problem = transportProblem(settings)) {
        io.err << "brisko-cli send-test: " << *problem << '\n';
        return Failure;
    }

    SendRun::RunInfo message;
    setMessageFields(message, document);
    message.campaignName = QFileInfo(path).completeBaseName();
    // The unsubscribe link and the files go with the test as with the campaign; a message the
    // service would refuse for its size does not leave.
    std::optional<QString> refusal = SendRun::setExtras(message, document.unsubscribe.value_or(QString()),
                                                        document.attachments.value_or(AttachmentList()));
    if (!refusal)
        refusal = SendRun::checkSizes(message, {record}).refusal;
    if (refusal) {
        io.err << "brisko-cli send-test: " << *refusal << "; nothing sent\n";
        return Failure;
    }
    TestSend test;
    // The pace chosen in the account settings; otherwise one message a second, which every
    // SES account allows, so no quota request is needed.
    if (settings.sendRate)
        test.setInterval(1.0 / *settings.sendRate);
    QEventLoop loop;
    QObject::connect(&test, &TestSend::finished, &loop, &QEventLoop::quit);
    test.start(message, record, addresses.addresses, all);
    loop.exec();

    qsizetype counts[3] = {};
    for (const TestSend::Answer &answer : test.answers()) {
        ++counts[int(answer.result)];
        io.out << answer.address << '\t' << TestSend::resultName(answer.result) << '\t' << oneLine(answer.text)
               << '\n';
    }
    io.out.flush();
    const QString merged = all.isEmpty() ? u"the unmerged message"_s
                                         : u"the message of row %1 (%2)"_s.arg(row.value_or(1)).arg(record->email());
    io.err << "brisko-cli send-test: " << merged << " to " << addresses.addresses.size() << " test address(es): "
           << counts[int(TestSend::Result::Accepted)] << " accepted, " << counts[int(TestSend::Result::Failed)]
           << " failed, " << counts[int(TestSend::Result::Unknown)] << " unknown\n";
    io.err.flush();
    return test.allAccepted() ? Success : Failure;
}

} // namespace

Command sendTestCommand()
{
    return {u"send-test"_s,
            u"CAMPAIGN.brisko --to ADDRESS [--to ADDRESS...] [--row N] [--region R] [--endpoint URL] "
            u"[--signature v4|v3] [--timeout S] [--verbose] [--transport ses|smtp|outbox:DIR] [--smtp HOST:PORT] "
            u"[--smtp-user NAME] [--configuration-set NAME]"_s,
            u"Send the message of one row (the first unless --row) to test addresses only, with \"[Test] \" "
            u"before the subject; prints each answer. Nothing is recorded in the send journal."_s,
            runSendTest};
}

} // namespace brisko::cli
