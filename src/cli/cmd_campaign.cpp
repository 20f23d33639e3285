// brisko-cli show / create: campaign files through the same codec and model as the window.

#include "CampaignFile.h"
#include "CampaignJson.h"
#include "FennimarStrings.h"
#include "KeyedArchive.h"
#include "RecipientImport.h"
#include "clicommands.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace brisko::cli {

namespace {

void printText(QTextStream &out, const char *label, const std::optional<QString> &text)
{
    out << label << (text ? *text : QStringLiteral("(not in the file)")) << '\n';
}

int showCampaign(const QString &path, bool json, bool outcomes, Io &io)
{
    const std::optional<CampaignDocument> campaign = readCampaign(u"show"_qs, path, io);
    if (!campaign)
        return Failure;
    const CampaignDocument &document = *campaign;
    if (json) {
        io.out << QString::fromUtf8(QJsonDocument(toJson(document)).toJson(QJsonDocument::Indented));
        return Success;
    }
    printText(io.out, "Subject:     ", document.subject);
    printText(io.out, "From:        ", document.from);
    printText(io.out, "Reply-To:    ", document.replyTo);
    printText(io.out, "Return-Path: ", document.returnPath);
    if (document.unsubscribe)
        io.out << "Unsubscribe: " << *document.unsubscribe << '\n';
    const AttachmentList files = document.attachments.value_or(AttachmentList());
    io.out << "Attachments: " << files.size() << '\n';
    for (const Attachment &file : files)
        io.out << "  " << file.name << '\t' << file.type << '\t' << file.data.size() << " bytes\n";
    const QStringList columns = document.columns.value_or(QStringList());
    io.out << "Columns:     " << (document.columns ? columns.join(u", "_qs) : u"(not in the file)"_qs) << '\n';
    const qsizetype count = document.recipients ? document.recipients->size() : 0;
    io.out << "Recipients:  " << count << '\n';
    io.out << "\n--- Plain text ---\n" << document.body.value_or(QString()) << '\n';
    io.out << "\n--- HTML ---\n" << document.html.value_or(QString()) << '\n';
    if (count > 0) {
        const std::optional<SendJournal::Replay> replay =
            outcomes ? std::optional(readJournal(u"show"_qs, path, io)) : std::nullopt;
        io.out << "\n--- Recipients ---\n#\t" << columns.join(u'\t') << (replay ? "\tOUTCOME" : "") << '\n';
        int row = 0;
        for (const RecipientPtr &record : *document.recipients) {
            io.out << ++row;
            for (const QString &column : columns)
                io.out << '\t' << record->valueOr(column);
            if (replay)
                io.out << '\t' << sendStateName(sendState(*replay, record->email()));
            io.out << '\n';
        }
    }
    return Success;
}

int showRaw(const QString &path, Io &io)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        io.err << "brisko-cli show: " << path << ": " << file.errorString() << '\n';
        return Failure;
    }
    PlistResult<ArchiveValue> archive = KeyedUnarchiver::render(file.readAll());
    if (!archive) {
        io.err << "brisko-cli show: " << path << ": " << archive.error() << '\n';
        return Failure;
    }
    io.out << QString::fromUtf8(archive->toJsonText(QJsonDocument::Indented));
    return Success;
}

int runShow(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("json"), QStringLiteral("Print the campaign as JSON.")});
    parser.addOption({QStringLiteral("raw"), QStringLiteral("Print the root object of any keyed archive as JSON.")});
    parser.addOption({QStringLiteral("outcomes"),
                      QStringLiteral("Add each recipient's outcome from the send journal: accepted, failed, unknown "
                                     "or unsent.")});
    if (!parseArguments(parser, QStringLiteral("show"), arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        io.err << "brisko-cli show: name exactly one file\n";
        return UsageError;
    }
    if (parser.isSet(QStringLiteral("raw")))
        return showRaw(files.first(), io);
    return showCampaign(files.first(), parser.isSet(QStringLiteral("json")), parser.isSet(QStringLiteral("outcomes")), io);
}

// Columns for records given without a column list: "EMAIL" first, then every other
// key in the order it is first met.
QStringList columnsOf(const RecipientList &recipients)
{
    QStringList columns{EmailKey.toString()};
    for (const RecipientPtr &record : recipients) {
        record->forEach([&](const QString &key, const QString &) {
            if (!columns.contains(key) && !key.startsWith(ProgramColumnPrefix))
                columns.append(key);
        });
    }
    return columns;
}

int runCreate(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption subject(QStringLiteral("subject"), QStringLiteral("The subject."), QStringLiteral("TEXT"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("The sender."), QStringLiteral("TEXT"));
    const QCommandLineOption replyTo(QStringLiteral("reply-to"), QStringLiteral("The Reply-To address."), QStringLiteral("TEXT"));
    const QCommandLineOption returnPath(QStringLiteral("return-path"), QStringLiteral("The Return-Path address."), QStringLiteral("TEXT"));
    const QCommandLineOption text(QStringLiteral("text"), QStringLiteral("File holding the plain-text body."), QStringLiteral("FILE"));
    const QCommandLineOption html(QStringLiteral("html"), QStringLiteral("File holding the HTML body."), QStringLiteral("FILE"));
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("JSON file in the shape 'show --json' prints."), QStringLiteral("FILE"));
    const QCommandLineOption unsubscribe(QStringLiteral("unsubscribe"),
                                         QStringLiteral("Where to unsubscribe: an https URL and/or a mailto address, "
                                                        "comma-separated; placeholders allowed."),
                                         QStringLiteral("TEXT"));
    const QCommandLineOption attach(QStringLiteral("attach"),
                                    QStringLiteral("A file every message carries (repeatable)."), QStringLiteral("FILE"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("Replace an existing file."));
    parser.addOptions({subject, from, replyTo, returnPath, unsubscribe, text, html, attach, json, force});
    if (!parseArguments(parser, QStringLiteral("create"), arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        io.err << "brisko-cli create: name exactly one file to write\n";
        return UsageError;
    }
    const QString out = files.first();
    if (QFileInfo::exists(out) && !parser.isSet(force)) {
        io.err << "brisko-cli create: " << out << " exists; use --force to replace it\n";
        return Failure;
    }

    CampaignDocument document;
    if (parser.isSet(json)) {
        const QString path = parser.value(json);
        const std::optional<QString> content = FennimarStrings::readFile(path);
        if (!content) {
            io.err << "brisko-cli create: cannot read " << path << '\n';
            return Failure;
        }
        QJsonParseError parseError;
        const QJsonDocument parsed = QJsonDocument::fromJson(content->toUtf8(), &parseError);
        if (!parsed.isObject()) {
            io.err << "brisko-cli create: " << path << ": "
                   << (parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                    : u"not a JSON object"_qs)
                   << '\n';
            return Failure;
        }
        QString why;
        const std::optional<CampaignDocument> fromFile = fromJson(parsed.object(), &why);
        if (!fromFile) {
            io.err << "brisko-cli create: " << path << ": " << why << '\n';
            return Failure;
        }
        document = *fromFile;
    }
    const std::pair<const QCommandLineOption *, std::optional<QString> CampaignDocument::*> fields[] = {
        {&subject, &CampaignDocument::subject}, {&from, &CampaignDocument::from},
        {&replyTo, &CampaignDocument::replyTo}, {&returnPath, &CampaignDocument::returnPath},
        {&unsubscribe, &CampaignDocument::unsubscribe}};
    for (const auto &[option, member] : fields) {
        if (parser.isSet(*option))
            document.*member = parser.value(*option);
    }
    const std::pair<const QCommandLineOption *, std::optional<QString> CampaignDocument::*> bodies[] = {
        {&text, &CampaignDocument::body}, {&html, &CampaignDocument::html}};
    for (const auto &[option, member] : bodies) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<QString> content = FennimarStrings::readFile(parser.value(*option));
        if (!content) {
            io.err << "brisko-cli create: cannot read " << parser.value(*option) << '\n';
            return Failure;
        }
        document.*member = *content;
    }
    if (parser.isSet(attach)) {
        AttachmentList files;
        for (const QString &path : parser.values(attach)) {
            CampaignFile::AttachmentRead read = CampaignFile::readAttachment(path);
            if (!read.attachment) {
                io.err << "brisko-cli create: " << read.error << '\n';
                return Failure;
            }
            files.append(std::move(*read.attachment));
        }
        document.attachments = files;
    }
    if (document.recipients) {
        int row = 0;
        for (const RecipientPtr &record : *document.recipients) {
            ++row;
            if (record->email().isEmpty()) {
                io.err << "brisko-cli create: recipient " << row << " has no EMAIL\n";
                return Failure;
            }
            if (RecipientImport::hasControlCharacter(record->email().toUtf8())) {
                io.err << "brisko-cli create: recipient " << row
                       << " has a control character in its EMAIL, which no address may hold\n";
                return Failure;
            }
        }
    }
    if (!document.columns)
        document.columns = columnsOf(document.recipients.value_or(RecipientList()));

    if (const auto error = CampaignFile::write(out, document)) {
        io.err << "brisko-cli create: cannot write " << out << ": " << *error << '\n';
        return Failure;
    }
    io.out << "Wrote " << out << " (" << (document.recipients ? document.recipients->size() : 0)
           << " recipients)\n";
    return Success;
}

} // namespace

Command showCommand()
{
    return {QStringLiteral("show"), QStringLiteral("[--json | --raw | --outcomes] FILE"),
            QStringLiteral("Print a campaign's fields, columns and recipients (--raw: any keyed archive as JSON)."),
            runShow};
}

Command createCommand()
{
    return {QStringLiteral("create"),
            QStringLiteral("OUT.brisko [--subject T] [--from T] [--reply-to T] [--return-path T] "
                           "[--unsubscribe T] [--text FILE] [--html FILE] [--attach FILE]... [--json FILE] [--force]"),
            QStringLiteral("Write a new campaign file."), runCreate};
}

} // namespace brisko::cli
