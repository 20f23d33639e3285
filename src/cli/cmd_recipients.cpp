// brisko-cli import / export / merge: recipient lists and the placeholder merge through
// the same code as the window.

#include "AtomicFile.h"
#include "BriskoConnector.h"
#include "CampaignFile.h"
#include "RecipientExport.h"
#include "RecipientImport.h"
#include "clicommands.h"

#include <QCommandLineParser>

namespace brisko::cli {

namespace {


// Loads a campaign file into a campaign model. A missing file is allowed only when
// missingIsEmpty is set (the campaign then starts empty, as the window does at launch).
bool loadCampaign(const QString &command, const QString &path, bool missingIsEmpty, Campaign &campaign,
                  bool *created, Io &io)
{
    const CampaignFile::ReadResult result = CampaignFile::read(path);
    if (result.status == CampaignFile::ReadStatus::Invalid) {
        io.err << "brisko-cli " << command << ": " << path << ": not a campaign file: " << result.error << '\n';
        return false;
    }
    if (result.status == CampaignFile::ReadStatus::Missing) {
        if (!missingIsEmpty) {
            io.err << "brisko-cli " << command << ": " << path << ": no such file\n";
            return false;
        }
        if (created)
            *created = true;
        return true;
    }
    campaign.apply(result.document);
    return true;
}

int runImport(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption csv(QStringLiteral("csv"), QStringLiteral("Fields are separated by commas."));
    const QCommandLineOption tsv(QStringLiteral("tsv"), QStringLiteral("Fields are separated by tabs."));
    parser.addOptions({csv, tsv});
    if (!parseArguments(parser, QStringLiteral("import"), arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) {
        io.err << "brisko-cli import: name the campaign file and the list to import\n";
        return UsageError;
    }
    if (parser.isSet(csv) == parser.isSet(tsv)) {
        io.err << "brisko-cli import: say how the list is separated: --csv or --tsv\n";
        return UsageError;
    }
    const QString &campaignPath = files.at(0);
    const QString &listPath = files.at(1);

    Campaign campaign;
    bool created = false;
    if (!loadCampaign(QStringLiteral("import"), campaignPath, true, campaign, &created, io))
        return Failure;

    const RecipientImport::Result result = RecipientImport::importFile(
        listPath, parser.isSet(tsv) ? RecipientImport::Separator::Tab : RecipientImport::Separator::Comma);
    switch (result.status) {
    case RecipientImport::Status::Ok:
        break;
    case RecipientImport::Status::Unreadable:
        io.err << "brisko-cli import: " << listPath << ": cannot be read (missing, not a file, or not text)\n";
        return Failure;
    case RecipientImport::Status::NoEmailHeading:
        io.err << "brisko-cli import: " << listPath
               << ": Import file needs column headings. The import file must have headings for columns, one of "
                  "which must be 'EMAIL'.";
        if (parser.isSet(tsv) && result.headings.size() == 1 && result.headings.first().contains(u','))
            io.err << " (the first line holds commas: is it a --csv file?)";
        else if (parser.isSet(csv) && result.headings.size() == 1 && result.headings.first().contains(u'\t'))
            io.err << " (the first line holds tabs: is it a --tsv file?)";
        io.err << '\n';
        return Failure;
    case RecipientImport::Status::TooLarge:
        io.err << "brisko-cli import: " << listPath << ": too large to import (more than "
               << RecipientImport::MaxValues << " values, or more than " << RecipientImport::MaxBytes
               << " bytes)\n";
        return Failure;
    case RecipientImport::Status::LineTooLong:
        io.err << "brisko-cli import: " << listPath << ": line " << result.line << " is longer than "
               << RecipientImport::MaxLineBytes << " bytes; nothing imported\n";
        return Failure;
    }

    campaign.setupTableColumns(result.headings);
    campaign.appendRecipients(result.records);
    if (const auto error = CampaignFile::write(campaignPath, campaign.document())) {
        io.err << "brisko-cli import: cannot write " << campaignPath << ": " << *error << '\n';
        return Failure;
    }

    const RecipientImport::Counts &counts = result.counts;
    io.out << (created ? "Created " : "Updated ") << campaignPath << ": " << counts.taken
           << (counts.taken == 1 ? " line" : " lines") << " taken, " << counts.dropped() << " dropped";
    if (counts.dropped() > 0) {
        QStringList why;
        if (counts.missingAddress)
            why << QStringLiteral("%1 without an EMAIL field").arg(counts.missingAddress);
        if (counts.invalidAddress)
            why << QStringLiteral("%1 with an address lacking \"@\" or \".\"").arg(counts.invalidAddress);
        if (counts.controlAddress)
            why << QStringLiteral("%1 with a control character in the address").arg(counts.controlAddress);
        if (counts.repeatedAddress)
            why << QStringLiteral("%1 repeating an address met earlier in the list").arg(counts.repeatedAddress);
        io.out << " (" << why.join(u", ") << ')';
    }
    if (counts.blankLines)
        io.out << ", " << counts.blankLines << " empty " << (counts.blankLines == 1 ? "line" : "lines")
               << " skipped";
    io.out << ".\n"
           << "Columns: " << campaign.columns().join(u", ") << '\n'
           << "Recipients now: " << campaign.recipients().size() << '\n';
    return Success;
}

int runExport(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    if (!parseArguments(parser, QStringLiteral("export"), arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) {
        io.err << "brisko-cli export: name the campaign file and the file to write\n";
        return UsageError;
    }
    Campaign campaign;
    if (!loadCampaign(QStringLiteral("export"), files.at(0), false, campaign, nullptr, io))
        return Failure;
    const QString text = RecipientExport::exportData(campaign.recipients(), campaign.columns());
    if (const auto error = AtomicFile::write(files.at(1), text.toUtf8())) {
        io.err << "brisko-cli export: cannot write " << files.at(1) << ": " << *error << '\n';
        return Failure;
    }
    io.out << "Wrote " << campaign.recipients().size() << " recipients to " << files.at(1) << '\n';
    return Success;
}

int runMerge(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption row(QStringLiteral("row"), QStringLiteral("The recipient's row, counting from 1."),
                                 QStringLiteral("N"));
    parser.addOption(row);
    if (!parseArguments(parser, QStringLiteral("merge"), arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1 || !parser.isSet(row)) {
        io.err << "brisko-cli merge: name the campaign file and --row N\n";
        return UsageError;
    }
    bool isNumber = false;
    const qlonglong n = parser.value(row).toLongLong(&isNumber);
    if (!isNumber || n < 1) {
        io.err << "brisko-cli merge: --row takes a row number from 1\n";
        return UsageError;
    }
    Campaign campaign;
    if (!loadCampaign(QStringLiteral("merge"), files.first(), false, campaign, nullptr, io))
        return Failure;
    const RecipientList &list = campaign.recipients();
    if (n > list.size()) {
        io.err << "brisko-cli merge: " << files.first() << " has " << list.size()
               << (list.size() == 1 ? " recipient" : " recipients") << "; there is no row " << n << '\n';
        return Failure;
    }
    const Recipient &record = *list.at(qsizetype(n - 1));
    const BriskoConnector connector;
    io.out << "Row " << n << ": " << record.email() << '\n'
           << "\n--- Plain text ---\n"
           << connector.doGreps(campaign.body(), record) << '\n'
           << "\n--- HTML ---\n"
           << connector.doGreps(campaign.html(), record) << '\n';
    return Success;
}

} // namespace

Command importCommand()
{
    return {QStringLiteral("import"), QStringLiteral("CAMPAIGN.brisko LIST (--csv | --tsv)"),
            QStringLiteral("Append a recipient list to a campaign (made when missing) and save it."), runImport};
}

Command exportCommand()
{
    return {QStringLiteral("export"), QStringLiteral("CAMPAIGN.brisko OUT.tsv"),
            QStringLiteral("Write a campaign's recipients as tab-separated UTF-8 text."), runExport};
}

Command mergeCommand()
{
    return {QStringLiteral("merge"), QStringLiteral("CAMPAIGN.brisko --row N"),
            QStringLiteral("Print the plain and HTML bodies merged with the recipient of row N (from 1)."),
            runMerge};
}

} // namespace brisko::cli
