#pragma once

#include "Campaign.h"
#include "SendRun.h"

#include <QStringList>
#include <QTextStream>

#include <functional>
#include <optional>

class QCommandLineParser;

namespace brisko::cli {

// Where one invocation writes: standard output for results, standard error for
// progress and failures.
struct Io
{
    QTextStream &out;
    QTextStream &err;
    // Set for `COMMAND --help`: parseArguments() prints the command's options and stops it.
    bool helpOnly = false;
};

// Exit statuses shared by every subcommand.
enum ExitCode {
    Success = 0,
    Failure = 1,   // the work was tried and did not succeed
    UsageError = 2 // the command line was wrong; nothing was done
};

struct Command
{
    QString name;
    QString synopsis; // arguments, as shown by --help
    QString summary;  // one line
    std::function<int(const QStringList &arguments, Io &io)> run;
};

// Parses one subcommand's arguments ("--word" and "-word" both long options); says
// why on standard error and returns false when they are wrong. For --help it lists
// the parser's options on standard output and returns false.
bool parseArguments(QCommandLineParser &parser, const QString &command, const QStringList &arguments, Io &io);

// Reads a campaign file for a subcommand; says why on standard error and returns
// none when the file is missing or is not a campaign.
std::optional<CampaignDocument> readCampaign(const QString &command, const QString &path, Io &io);

// Every subcommand, in the order --help lists them.
QList<Command> commands();

// Runs one brisko-cli invocation; arguments[0] is the program name. Returns the exit status.
int run(const QStringList &arguments);
int run(const QStringList &arguments, QTextStream &out, QTextStream &err);

// Reads a campaign's send journal for a subcommand; lines it had to skip and a journal it
// could not read are told on standard error.
SendJournal::Replay readJournal(const QString &command, const QString &campaignPath, Io &io);

// Sets the message fields of a run (subject, From, Reply-To, Return-Path and both bodies) as
// the campaign file holds them; the queue, the extras and the campaign name are left alone.
void setMessageFields(SendRun::RunInfo &info, const CampaignDocument &document);

// Where a recipient stands after the journal's runs.
// Saved: written into the outbox folder only, which reached nobody.
enum class SendState { Accepted, Failed, Unknown, Saved, Unsent };
SendState sendState(const SendJournal::Replay &replay, const QString &address);
QString sendStateName(SendState state);

} // namespace brisko::cli
