#include "CampaignFile.h"

#include "AtomicFile.h"
#include "KeyedArchive.h"
#include "campaignlogging.h"

#include <QFile>
#include <QFileInfo>

namespace brisko::CampaignFile {

namespace {

// Keys of the campaign dictionary, in the order the file stores them.
constexpr QStringView SubjectKey = u"SUBJECT";
constexpr QStringView FromKey = u"FROM";
constexpr QStringView BodyKey = u"BODY";
constexpr QStringView HtmlKey = u"HTML";
constexpr QStringView ReplyToKey = u"REPLYTO";
constexpr QStringView ReturnPathKey = u"RETURNPATH";
constexpr QStringView ColumnsKey = u"COLUMNS";
constexpr QStringView RecipientsKey = u"RECIPIENTS";

// A field's text: strings as they are; numbers and booleans as their text, since
// other writers may store a numeric column as a number.
std::optional<QString> textOf(const ArchiveValue &value)
{
    switch (value.type()) {
    case ArchiveValue::Type::String:
        return value.toString();
    case ArchiveValue::Type::Integer:
        return QString::number(value.toInteger());
    case ArchiveValue::Type::Real:
        return QString::number(value.toReal(), 'g', 17);
    case ArchiveValue::Type::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    default:
        return std::nullopt;
    }
}

ReadResult invalid(const QString &why)
{
    ReadResult result;
    result.status = ReadStatus::Invalid;
    result.error = why;
    return result;
}

} // namespace

ReadResult read(const QString &path)
{
    if (!QFileInfo::exists(path)) {
        ReadResult result;
        result.status = ReadStatus::Missing;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return invalid(file.errorString());
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return invalid(file.errorString());

    PlistResult<ArchiveValue> archive = KeyedUnarchiver::unarchive(bytes);
    if (!archive)
        return invalid(archive.error());
    const ArchiveValue &root = archive.value();
    if (!root.is(ArchiveValue::Type::Dictionary))
        return invalid(QStringLiteral("the file holds no campaign dictionary"));

    ReadResult result;
    CampaignDocument &document = result.document;
    const std::pair<QStringView, std::optional<QString> CampaignDocument::*> texts[] = {
        {SubjectKey, &CampaignDocument::subject}, {FromKey, &CampaignDocument::from},
        {BodyKey, &CampaignDocument::body},       {HtmlKey, &CampaignDocument::html},
        {ReplyToKey, &CampaignDocument::replyTo}, {ReturnPathKey, &CampaignDocument::returnPath},
    };
    for (const auto &[key, member] : texts) {
        const ArchiveValue *value = root.value(key);
        if (!value || value->isNull())
            continue;
        if (!value->is(ArchiveValue::Type::String))
            return invalid(QStringLiteral("%1 is not a text").arg(key));
        document.*member = value->toString();
    }

    if (const ArchiveValue *columns = root.value(ColumnsKey); columns && !columns->isNull()) {
        if (!columns->is(ArchiveValue::Type::Array))
            return invalid(QStringLiteral("COLUMNS is not a list"));
        QStringList names;
        names.reserve(qsizetype(columns->items().size()));
        for (const ArchiveValue &name : columns->items()) {
            if (!name.is(ArchiveValue::Type::String))
                return invalid(QStringLiteral("COLUMNS holds something other than names"));
            names.append(name.toString());
        }
        document.columns = names;
    }

    if (const ArchiveValue *recipients = root.value(RecipientsKey); recipients && !recipients->isNull()) {
        if (!recipients->is(ArchiveValue::Type::Array))
            return invalid(QStringLiteral("RECIPIENTS is not a list"));
        RecipientList list;
        list.reserve(qsizetype(recipients->items().size()));
        for (const ArchiveValue &entry : recipients->items()) {
            if (!entry.is(ArchiveValue::Type::Dictionary))
                return invalid(QStringLiteral("RECIPIENTS holds something other than records"));
            auto record = std::make_shared<Recipient>();
            for (const auto &[key, value] : entry.entries()) {
                const std::optional<QString> text = textOf(value);
                if (!text)
                    return invalid(QStringLiteral("a recipient's %1 is not a text").arg(key));
                record->setValue(key, *text);
            }
            list.append(std::move(record));
        }
        document.recipients = std::move(list);
    }
    result.status = ReadStatus::Ok;
    return result;
}

QByteArray encode(const CampaignDocument &document)
{
    using Uid = KeyedArchiver::Uid;
    KeyedArchiver archiver;
    const Uid root = archiver.reserve();

    const QStringView keyNames[] = {SubjectKey, FromKey,       BodyKey,    HtmlKey,
                                    ReplyToKey, ReturnPathKey, ColumnsKey, RecipientsKey};
    std::vector<Uid> keys;
    for (QStringView key : keyNames)
        keys.push_back(archiver.encodeString(key.toString()));

    std::vector<Uid> values;
    for (const std::optional<QString> *text : {&document.subject, &document.from, &document.body,
                                               &document.html, &document.replyTo, &document.returnPath})
        values.push_back(archiver.encodeString(text->value_or(QString())));

    const Uid columns = archiver.reserve();
    std::vector<Uid> columnUids;
    for (const QString &name : document.columns.value_or(QStringList()))
        columnUids.push_back(archiver.encodeString(name));
    archiver.finishArray(columns, columnUids, ArchiveValue::Mutable);
    values.push_back(columns);

    const Uid recipients = archiver.reserve();
    std::vector<Uid> recordUids;
    std::vector<Uid> recordKeys;
    std::vector<Uid> recordValues;
    static const RecipientList none;
    const RecipientList &list = document.recipients ? *document.recipients : none;
    recordUids.reserve(size_t(list.size()));
    for (const RecipientPtr &record : list) {
        const Uid uid = archiver.reserve();
        recordKeys.clear();
        recordValues.clear();
        record->forEach([&](const QString &key, const QString &value) {
            recordKeys.push_back(archiver.encodeString(key));
            recordValues.push_back(archiver.encodeString(value));
        });
        archiver.finishDictionary(uid, recordKeys, recordValues, ArchiveValue::Mutable);
        recordUids.push_back(uid);
    }
    archiver.finishArray(recipients, recordUids, ArchiveValue::Mutable);
    values.push_back(recipients);

    archiver.finishDictionary(root, keys, values, ArchiveValue::Mutable);
    return archiver.finish(root);
}

std::optional<QString> write(const QString &path, const CampaignDocument &document)
{
    const QByteArray bytes = encode(document);
    if (const auto error = AtomicFile::write(path, bytes))
        return error;
    qCDebug(lcCampaign) << "CampaignFile.write -" << path << bytes.size() << "bytes";
    return std::nullopt;
}

} // namespace brisko::CampaignFile
