#include "CampaignJson.h"

#include <QJsonArray>

namespace brisko::cli {

namespace {

struct TextMember
{
    QLatin1StringView name;
    std::optional<QString> CampaignDocument::*member;
};

const TextMember textMembers[] = {
    {QLatin1StringView("subject"), &CampaignDocument::subject},
    {QLatin1StringView("from"), &CampaignDocument::from},
    {QLatin1StringView("replyTo"), &CampaignDocument::replyTo},
    {QLatin1StringView("returnPath"), &CampaignDocument::returnPath},
    {QLatin1StringView("body"), &CampaignDocument::body},
    {QLatin1StringView("html"), &CampaignDocument::html},
    {QLatin1StringView("unsubscribe"), &CampaignDocument::unsubscribe},
};

} // namespace

QJsonObject toJson(const CampaignDocument &document)
{
    QJsonObject object;
    for (const TextMember &text : textMembers) {
        const std::optional<QString> &value = document.*(text.member);
        object.insert(text.name, value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
    }
    if (document.columns)
        object.insert(QLatin1StringView("columns"), QJsonArray::fromStringList(*document.columns));
    else
        object.insert(QLatin1StringView("columns"), QJsonValue(QJsonValue::Null));
    if (document.recipients) {
        QJsonArray recipients;
        for (const RecipientPtr &record : *document.recipients) {
            QJsonObject entry;
            record->forEach([&](const QString &key, const QString &value) { entry.insert(key, value); });
            recipients.append(entry);
        }
        object.insert(QLatin1StringView("recipients"), recipients);
    } else {
        object.insert(QLatin1StringView("recipients"), QJsonValue(QJsonValue::Null));
    }
    QJsonArray files;
    for (const Attachment &file : document.attachments.value_or(AttachmentList())) {
        files.append(QJsonObject{{QLatin1StringView("name"), file.name},
                                 {QLatin1StringView("type"), file.type},
                                 {QLatin1StringView("size"), qint64(file.data.size())}});
    }
    object.insert(QLatin1StringView("attachments"), files);
    return object;
}

std::optional<CampaignDocument> fromJson(const QJsonObject &object, QString *error)
{
    auto fail = [&](const QString &why) -> std::optional<CampaignDocument> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    CampaignDocument document;
    for (const TextMember &text : textMembers) {
        const QJsonValue value = object.value(text.name);
        if (value.isUndefined() || value.isNull())
            continue;
        if (!value.isString())
            return fail(QStringLiteral("\"%1\" must be a string").arg(text.name));
        document.*(text.member) = value.toString();
    }
    const QJsonValue columns = object.value(QLatin1StringView("columns"));
    if (!columns.isUndefined() && !columns.isNull()) {
        if (!columns.isArray())
            return fail(QStringLiteral("\"columns\" must be an array of strings"));
        QStringList names;
        for (const QJsonValue &name : columns.toArray()) {
            if (!name.isString())
                return fail(QStringLiteral("\"columns\" must be an array of strings"));
            names.append(name.toString());
        }
        document.columns = names;
    }
    const QJsonValue recipients = object.value(QLatin1StringView("recipients"));
    if (!recipients.isUndefined() && !recipients.isNull()) {
        if (!recipients.isArray())
            return fail(QStringLiteral("\"recipients\" must be an array of objects"));
        RecipientList list;
        int row = 0;
        for (const QJsonValue &entry : recipients.toArray()) {
            ++row;
            if (!entry.isObject())
                return fail(QStringLiteral("recipient %1 is not an object").arg(row));
            auto record = std::make_shared<Recipient>();
            const QJsonObject fields = entry.toObject();
            for (auto it = fields.constBegin(); it != fields.constEnd(); ++it) {
                if (!it.value().isString())
                    return fail(QStringLiteral("recipient %1: \"%2\" must be a string").arg(row).arg(it.key()));
                record->setValue(it.key(), it.value().toString());
            }
            list.append(std::move(record));
        }
        document.recipients = std::move(list);
    }
    return document;
}

} // namespace brisko::cli
