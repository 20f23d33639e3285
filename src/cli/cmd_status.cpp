// brisko-cli status: where each recipient of a campaign stands after the runs its send
// journal records.

#include "CampaignFile.h"
#include "SendJournal.h"
#include "clicommands.h"

#include <QCommandLineParser>

using namespace Qt::StringLiterals;

namespace brisko::cli {

SendJournal::Replay readJournal(const QString &command, const QString &campaignPath, Io &io)
{
    const QString path = SendJournal::pathForCampaign(campaignPath);
    const SendJournal::Replay replay = SendJournal::read(path);
    if (replay.error)
        io.err << "brisko-cli " << command << ": " << *replay.error << '\n';
    if (replay.malformed > 0)
        io.err << "brisko-cli " << command << ": " << path << ": skipped " << replay.malformed
               << " malformed line(s) of " << replay.lines << '\n';
    if (replay.truncated)
        io.err << "brisko-cli " << command << ": " << path << ": read only its first "
               << SendJournal::MaxReadBytes / (1024 * 1024) << " MB\n";
    io.err.flush();
    return replay;
}

SendState sendState(const SendJournal::Replay &replay, const QString &address)
{
    const std::optional<SendJournal::Outcome> outcome = replay.outcome(address);
    if (!outcome)
        return SendState::Unsent;
    switch (*outcome) {
    case SendJournal::Outcome::Accepted:
        return SendState::Accepted;
    case SendJournal::Outcome::Failed:
        return SendState::Failed;
    case SendJournal::Outcome::Saved:
        return SendState::Saved;
    case SendJournal::Outcome::Unknown:
        break;
    }
    return SendState::Unknown;
}

QString sendStateName(SendState state)
{
    switch (state) {
    case SendState::Accepted:
        return u"accepted"_s;
    case SendState::Failed:
        return u"failed"_s;
    case SendState::Unknown:
        return u"unknown"_s;
    case SendState::Saved:
        return u"saved"_s;
    case SendState::Unsent:
        break;
    }
    return u"unsent"_s;
}

namespace {

int runStatus(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption listOption(
        u"list"_s, u"Print the addresses in one state: accepted, failed, unknown, saved or unsent."_s, u"STATE"_s);
    parser.addOption(listOption);
    if (!parseArguments(parser, u"status"_s, arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        io.err << "brisko-cli status: name one campaign file\n";
        return UsageError;
    }
    std::optional<SendState> listed;
    if (parser.isSet(listOption)) {
        const QString name = parser.value(listOption);
        for (SendState state : {SendState::Accepted, SendState::Failed, SendState::Unknown, SendState::Saved,
                                SendState::Unsent}) {
            if (name == sendStateName(state))
                listed = state;
        }
        if (!listed) {
            io.err << "brisko-cli status: --list takes accepted, failed, unknown, saved or unsent, not '" << name
                   << "'\n";
            return UsageError;
        }
    }
    const QString &path = files.first();
    const std::optional<CampaignDocument> campaign = readCampaign(u"status"_s, path, io);
    if (!campaign)
        return Failure;
    const SendJournal::Replay replay = readJournal(u"status"_s, path, io);
    if (replay.error)
        return Failure;

    qsizetype counts[5] = {};
    for (const RecipientPtr &record : campaign->recipients.value_or(RecipientList())) {
        const QString address = record ? record->email() : QString();
        const SendState state = sendState(replay, address);
        counts[int(state)] += 1;
        if (listed && state == *listed)
            io.out << address << '\n';
    }
    if (!listed) {
        io.out << "accepted:   " << counts[int(SendState::Accepted)] << '\n';
        io.out << "failed:     " << counts[int(SendState::Failed)] << '\n';
        io.out << "unknown:    " << counts[int(SendState::Unknown)] << '\n';
        io.out << "saved:      " << counts[int(SendState::Saved)] << '\n';
        io.out << "never sent: " << counts[int(SendState::Unsent)] << '\n';
    }
    return Success;
}

} // namespace

Command statusCommand()
{
    return {u"status"_s, u"CAMPAIGN.brisko [--list accepted|failed|unknown|saved|unsent]"_s,
            u"Count the recipients accepted, failed, unknown, saved into the outbox only and never sent, from "
            u"the campaign's send journal (CAMPAIGN.brisko.sent); --list prints the addresses in one state."_s,
            runStatus};
}

} // namespace brisko::cli
