#include "clitool.h"

#include "CampaignFile.h"
#include "clicommands.h"

#include <QCommandLineParser>

#include <QCoreApplication>

namespace brisko::cli {

QList<Command> commands()
{
    return {
        showCommand(),
        createCommand(),
        quotaCommand(),
        statsCommand(),
        verifyCommand(),
        previewCommand(),
        importCommand(),
        exportCommand(),
        mergeCommand(),
        sendCommand(),
        sendTestCommand(),
        statusCommand(),
    };
}

bool parseArguments(QCommandLineParser &parser, const QString &command, const QStringList &arguments, Io &io)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (io.helpOnly) {
        // The parser's own listing, without its usage line (the caller printed ours).
        const QString text = parser.helpText();
        const qsizetype options = text.indexOf(u"Options:"_qs);
        if (options >= 0)
            io.out << '\n' << QStringView(text).mid(options);
        return false;
    }
    if (!parser.parse(QStringList{QStringLiteral("brisko-cli ") + command} + arguments)) {
        io.err << "brisko-cli " << command << ": " << parser.errorText() << '\n';
        return false;
    }
    return true;
}

std::optional<CampaignDocument> readCampaign(const QString &command, const QString &path, Io &io)
{
    CampaignFile::ReadResult result = CampaignFile::read(path);
    switch (result.status) {
    case CampaignFile::ReadStatus::Ok:
        return std::move(result.document);
    case CampaignFile::ReadStatus::Missing:
        io.err << "brisko-cli " << command << ": " << path << ": no such file\n";
        return std::nullopt;
    case CampaignFile::ReadStatus::Invalid:
        break;
    }
    io.err << "brisko-cli " << command << ": " << path << ": not a campaign file: " << result.error << '\n';
    return std::nullopt;
}

namespace {

void printUsage(QTextStream &stream)
{
    stream << "Usage: brisko-cli COMMAND [ARGUMENTS]\n"
              "       brisko-cli --help | --version\n\n"
              "The headless companion of Brisko: it reads and writes the same campaign files\n"
              "and uses the same preferences as the window.\n\n"
              "Commands:\n";
    for (const Command &command : commands()) {
        stream << "  " << command.name << ' ' << command.synopsis << '\n'
               << "      " << command.summary << '\n';
    }
    stream << "\nRun 'brisko-cli COMMAND --help' for the options of one command.\n"
              "\nEnvironment:\n"
              "  AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN\n"
              "      The account's keys (and the token of temporary credentials), instead of\n"
              "      the profile's or the preferences' (a --profile given wins).\n"
              "  AWS_REGION, AWS_DEFAULT_REGION\n"
              "      The service region, instead of the profile's or the preferences' one\n"
              "      (--region wins).\n"
              "  AWS_PROFILE\n"
              "      The AWS profile to read (--profile wins; else \"default\").\n"
              "  AWS_SHARED_CREDENTIALS_FILE, AWS_CONFIG_FILE\n"
              "      Other places for ~/.aws/credentials and ~/.aws/config.\n"
              "  BRISKO_SMTP_PASSWORD\n"
              "      The SMTP server's password (send --transport smtp), instead of the stored one.\n"
              "\nFiles:\n"
              "  ~/.config/Brisko/Brisko.conf\n"
              "      The preferences shared with the window, the account among them (the\n"
              "      secret key and SMTP password only while no desktop keyring runs).\n"
              "  ~/.aws/credentials, ~/.aws/config\n"
              "      The AWS profiles: keys, session token and region.\n"
              "\nExit status:\n"
              "  0\n      Done; for send, every recipient was accepted.\n"
              "  1\n      The work was tried and did not succeed.\n"
              "  2\n      The command line was wrong; nothing was done.\n"
              "  130\n      send was stopped by Ctrl-C, SIGTERM or SIGHUP.\n";
}

} // namespace

int run(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int status = run(arguments, out, err);
    out.flush();
    err.flush();
    return status;
}

int run(const QStringList &arguments, QTextStream &out, QTextStream &err)
{
    const QStringList rest = arguments.mid(1);
    if (rest.isEmpty()) {
        printUsage(err);
        return UsageError;
    }
    const QString &first = rest.first();
    if (first == u"--help" || first == u"-h" || first == u"help") {
        printUsage(out);
        return Success;
    }
    if (first == u"--version" || first == u"-V") {
        out << "brisko-cli " << QStringLiteral(BRISKO_VERSION) << '\n';
        return Success;
    }
    for (const Command &command : commands()) {
        if (command.name != first)
            continue;
        const QStringList commandArguments = rest.mid(1);
        if (commandArguments.contains(u"--help"_qs) || commandArguments.contains(u"-h"_qs)) {
            out << "Usage: brisko-cli " << command.name << ' ' << command.synopsis << '\n'
                << command.summary << '\n';
            Io io{out, err, true};
            command.run({}, io);
            return Success;
        }
        Io io{out, err};
        return command.run(commandArguments, io);
    }
    err << "brisko-cli: unknown command '" << first << "'\n\n";
    printUsage(err);
    return UsageError;
}

void setMessageFields(SendRun::RunInfo &info, const CampaignDocument &document)
{
    info.subject = document.subject.value_or(QString());
    info.sender = document.from.value_or(QString());
    info.replyTo = document.replyTo.value_or(QString());
    info.returnPath = document.returnPath;
    info.body = document.body.value_or(QString());
    info.htmlMessage = document.html.value_or(QString());
}

} // namespace brisko::cli
