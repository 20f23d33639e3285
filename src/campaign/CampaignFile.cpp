#include "CampaignFile.h"

#include "AtomicFile.h"
#include "KeyedArchive.h"
#include "campaignlogging.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMimeDatabase>

#include <algorithm>

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
// Optional keys, written only when the campaign has them.
constexpr QStringView UnsubscribeKey = u"UNSUBSCRIBE";
constexpr QStringView AttachmentsKey = u"ATTACHMENTS";
constexpr QStringView AttachmentNameKey = u"NAME";
constexpr QStringView AttachmentTypeKey = u"TYPE";
constexpr QStringView AttachmentDataKey = u"DATA";
const QString FallbackType = QStringLiteral("application/octet-stream");

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

// Reads a campaign straight from the property list when the file has the shape campaign
// files have: a keyed archive whose root is a dictionary of those eight keys, the texts
// as strings, the records as dictionaries of strings. The records are kept as an import
// keeps them: the UTF-8 text of each distinct string once, and per record where its values
// lie (see RecordSource), so that opening a large campaign takes about twice the file's
// size instead of the several times a tree of values would.
//
// Anything else (numbers in records, unknown root keys, a null record, a lone surrogate,
// records so sparse that their table would outgrow the file) returns none, and the file
// goes through the general archive reader, which also words the errors.
class DirectReader
{
public:
    explicit DirectReader(QByteArrayView data) : m_data(data) {}

    std::optional<CampaignDocument> read()
    {
        if (m_reader.open(m_data))
            return std::nullopt;
        const auto top = m_reader.object(m_reader.topObject());
        if (!top || top->type != PType::Dictionary)
            return std::nullopt;
        std::optional<Object> archiver, version, objects, topDict;
        for (quint64 i = 0; i < top->count; ++i) {
            const auto key = m_reader.object(m_reader.reference(*top, i));
            const auto value = m_reader.object(m_reader.reference(*top, top->count + i));
            if (!key || !value || key->type != PType::String)
                return std::nullopt;
            if (m_reader.stringEquals(*key, QLatin1StringView("$archiver")))
                archiver = *value;
            else if (m_reader.stringEquals(*key, QLatin1StringView("$version")))
                version = *value;
            else if (m_reader.stringEquals(*key, QLatin1StringView("$objects")))
                objects = *value;
            else if (m_reader.stringEquals(*key, QLatin1StringView("$top")))
                topDict = *value;
        }
        if (!archiver || !m_reader.stringEquals(*archiver, QLatin1StringView("NSKeyedArchiver")) || !version ||
            version->type != PType::Integer || !objects || objects->type != PType::Array || !topDict ||
            topDict->type != PType::Dictionary)
            return std::nullopt;
        m_objects = *objects;
        std::optional<quint64> root;
        for (quint64 i = 0; i < topDict->count; ++i) {
            const auto key = m_reader.object(m_reader.reference(*topDict, i));
            const auto value = m_reader.object(m_reader.reference(*topDict, topDict->count + i));
            if (!key || !value)
                return std::nullopt;
            if (m_reader.stringEquals(*key, QLatin1StringView("root"))) {
                if (value->type != PType::Uid || root)
                    return std::nullopt;
                root = m_reader.uid(*value);
            }
        }
        if (!root)
            return std::nullopt;
        return readRoot(*root);
    }

private:
    using PType = PlistValue::Type;
    using Object = BinaryPlistReader::Object;
    enum class Kind { Dictionary, Array, String, Other };

    // The archived object of a UID.
    std::optional<Object> archived(quint64 uid)
    {
        if (uid == 0 || uid >= m_objects.count)
            return std::nullopt;
        const auto o = m_reader.object(m_reader.reference(m_objects, uid));
        return o ? std::optional<Object>(*o) : std::nullopt;
    }

    std::optional<quint64> uidAt(const Object &container, quint64 i)
    {
        const auto o = m_reader.object(m_reader.reference(container, i));
        if (!o || o->type != PType::Uid)
            return std::nullopt;
        return m_reader.uid(*o);
    }

    // The class of an archived object and the references its coder stored.
    struct Coded
    {
        Kind kind = Kind::Other;
        std::optional<Object> keys, objects, string;
    };

    std::optional<Coded> coded(const Object &o)
    {
        if (o.type != PType::Dictionary)
            return std::nullopt;
        Coded result;
        std::optional<quint64> classUid;
        for (quint64 i = 0; i < o.count; ++i) {
            const auto key = m_reader.object(m_reader.reference(o, i));
            const auto value = m_reader.object(m_reader.reference(o, o.count + i));
            if (!key || !value || key->type != PType::String)
                return std::nullopt;
            if (m_reader.stringEquals(*key, QLatin1StringView("$class"))) {
                if (value->type != PType::Uid)
                    return std::nullopt;
                classUid = m_reader.uid(*value);
            } else if (m_reader.stringEquals(*key, QLatin1StringView("NS.keys"))) {
                result.keys = *value;
            } else if (m_reader.stringEquals(*key, QLatin1StringView("NS.objects"))) {
                result.objects = *value;
            } else if (m_reader.stringEquals(*key, QLatin1StringView("NS.string"))) {
                result.string = *value;
            }
        }
        if (!classUid)
            return std::nullopt;
        result.kind = kindOf(*classUid);
        return result;
    }

    Kind kindOf(quint64 classUid)
    {
        if (auto it = m_kinds.constFind(classUid); it != m_kinds.cend())
            return *it;
        Kind kind = Kind::Other;
        if (const auto o = archived(classUid); o && o->type == PType::Dictionary) {
            for (quint64 i = 0; i < o->count; ++i) {
                const auto key = m_reader.object(m_reader.reference(*o, i));
                if (!key || !m_reader.stringEquals(*key, QLatin1StringView("$classname")))
                    continue;
                const auto name = m_reader.object(m_reader.reference(*o, o->count + i));
                if (!name || name->type != PType::String)
                    break;
                const auto is = [&](const char *text) { return m_reader.stringEquals(*name, QLatin1StringView(text)); };
                kind = is("NSDictionary") || is("NSMutableDictionary") ? Kind::Dictionary
                    : is("NSArray") || is("NSMutableArray")            ? Kind::Array
                    : is("NSString") || is("NSMutableString")          ? Kind::String
                                                                        : Kind::Other;
                break;
            }
        }
        m_kinds.insert(classUid, kind);
        return kind;
    }

    // A string object, stored as itself or as a string object's NS.string.
    std::optional<Object> stringObject(quint64 uid)
    {
        const auto o = archived(uid);
        if (!o)
            return std::nullopt;
        if (o->type == PType::String)
            return o;
        const auto c = coded(*o);
        if (!c || c->kind != Kind::String || !c->string)
            return std::nullopt;
        if (c->string->type == PType::String)
            return c->string;
        if (c->string->type != PType::Uid)
            return std::nullopt;
        const auto inner = archived(m_reader.uid(*c->string));
        return inner && inner->type == PType::String ? inner : std::nullopt;
    }

    std::optional<QString> text(quint64 uid)
    {
        const auto o = stringObject(uid);
        if (!o)
            return std::nullopt;
        QString s = m_reader.string(*o);
        if (!QStringView(s).isValidUtf16())
            return std::nullopt; // kept as it stands by the general reader
        return s;
    }

    // The two references lists of a dictionary or the one of an array, as UIDs.
    bool uids(const std::optional<Object> &list, std::vector<quint64> &out)
    {
        if (!list || list->type != PType::Array)
            return false;
        out.resize(list->count);
        for (quint64 i = 0; i < list->count; ++i) {
            const auto uid = uidAt(*list, i);
            if (!uid)
                return false;
            out[i] = *uid;
        }
        return true;
    }

    bool dictionary(quint64 uid, std::vector<quint64> &keys, std::vector<quint64> &values)
    {
        const auto o = archived(uid);
        const auto c = o ? coded(*o) : std::nullopt;
        return c && c->kind == Kind::Dictionary && uids(c->keys, keys) && uids(c->objects, values) &&
               keys.size() == values.size();
    }

    bool array(quint64 uid, std::vector<quint64> &items)
    {
        const auto o = archived(uid);
        const auto c = o ? coded(*o) : std::nullopt;
        return c && c->kind == Kind::Array && uids(c->objects, items);
    }

    std::optional<CampaignDocument> readRoot(quint64 root)
    {
        std::vector<quint64> keys, values;
        if (!dictionary(root, keys, values))
            return std::nullopt;
        static const std::pair<QLatin1StringView, std::optional<QString> CampaignDocument::*> texts[] = {
            {QLatin1StringView("SUBJECT"), &CampaignDocument::subject},
            {QLatin1StringView("FROM"), &CampaignDocument::from},
            {QLatin1StringView("BODY"), &CampaignDocument::body},
            {QLatin1StringView("HTML"), &CampaignDocument::html},
            {QLatin1StringView("REPLYTO"), &CampaignDocument::replyTo},
            {QLatin1StringView("RETURNPATH"), &CampaignDocument::returnPath},
            {QLatin1StringView("UNSUBSCRIBE"), &CampaignDocument::unsubscribe},
        };
        CampaignDocument document;
        QStringList seen;
        for (size_t i = 0; i < keys.size(); ++i) {
            const std::optional<QString> key = text(keys[i]);
            if (!key || seen.contains(*key))
                return std::nullopt;
            seen.append(*key);
            const quint64 value = values[i];
            const auto field = std::find_if(std::begin(texts), std::end(texts),
                                            [&](const auto &entry) { return entry.first == *key; });
            if (field != std::end(texts)) {
                if (value == 0)
                    continue;
                std::optional<QString> content = text(value);
                if (!content)
                    return std::nullopt;
                document.*(field->second) = std::move(*content);
            } else if (*key == ColumnsKey) {
                if (value == 0)
                    continue;
                std::vector<quint64> names;
                if (!array(value, names))
                    return std::nullopt;
                QStringList columns;
                columns.reserve(qsizetype(names.size()));
                for (const quint64 name : names) {
                    std::optional<QString> column = text(name);
                    if (!column)
                        return std::nullopt;
                    columns.append(std::move(*column));
                }
                document.columns = std::move(columns);
            } else if (*key == RecipientsKey) {
                if (value == 0)
                    continue;
                std::optional<RecipientList> records = recipients(value);
                if (!records)
                    return std::nullopt;
                document.recipients = std::move(*records);
            } else {
                return std::nullopt;
            }
        }
        return document;
    }

    // Where the UTF-8 text of a string object lies in the shared bytes, stored on first use.
    std::optional<std::pair<quint32, quint32>> span(quint64 uid, QByteArray &bytes)
    {
        if (uid >= m_spanOf.size())
            return std::nullopt;
        if (const quint32 known = m_spanOf[uid])
            return m_spans[known - 1];
        const auto o = stringObject(uid);
        if (!o)
            return std::nullopt;
        const qsizetype begin = bytes.size();
        const char *raw = m_data.data() + o->payload;
        const qsizetype length = o->payloadEnd - o->payload;
        if ((o->marker >> 4) == 0x5 && std::all_of(raw, raw + length, [](char c) { return uchar(c) < 0x80; })) {
            bytes.append(raw, length);
        } else {
            const QString s = m_reader.string(*o);
            if (!QStringView(s).isValidUtf16())
                return std::nullopt;
            bytes.append(s.toUtf8());
        }
        if (bytes.size() >= qsizetype(RecordSource::Absent))
            return std::nullopt;
        m_spans.emplace_back(quint32(begin), quint32(bytes.size()));
        m_spanOf[uid] = quint32(m_spans.size());
        return m_spans.back();
    }

    std::optional<RecipientList> recipients(quint64 uid)
    {
        std::vector<quint64> records;
        if (!array(uid, records))
            return std::nullopt;
        m_spanOf.assign(m_objects.count, 0);
        auto source = std::make_shared<RecordSource>();
        QHash<quint64, int> columnOfKey; // key string UID -> column
        QHash<QString, int> columnOfName;
        // Per record, its (column, span) pairs; the table is laid out once all columns are known.
        std::vector<quint32> fields;
        std::vector<size_t> firstField;
        firstField.reserve(records.size() + 1);
        std::vector<quint64> keys, values;
        for (const quint64 record : records) {
            firstField.push_back(fields.size());
            if (!dictionary(record, keys, values))
                return std::nullopt;
            for (size_t i = 0; i < keys.size(); ++i) {
                auto column = columnOfKey.constFind(keys[i]);
                if (column == columnOfKey.cend()) {
                    const std::optional<QString> name = text(keys[i]);
                    if (!name)
                        return std::nullopt;
                    auto byName = columnOfName.constFind(*name);
                    if (byName == columnOfName.cend()) {
                        byName = columnOfName.insert(*name, int(source->keys.size()));
                        source->keys.append(*name);
                    }
                    column = columnOfKey.insert(keys[i], *byName);
                }
                const auto where = span(values[i], source->bytes);
                if (!where)
                    return std::nullopt;
                fields.insert(fields.end(), {quint32(*column), where->first, where->second});
            }
            if (fields.size() / 3 > size_t(m_data.size()) / 2 + 1024)
                return std::nullopt; // records shared over and over

        }
        firstField.push_back(fields.size());
        m_spanOf = {};
        m_spans = {};

        // The table holds every column for every record: refused when that outgrows the file
        // (sparse or shared records; the general reader takes them).
        const quint64 columns = quint64(source->keys.size());
        const quint64 cells = quint64(records.size()) * columns;
        if (cells > quint64(m_data.size()) / 2 + 1024 || cells >= RecordSource::Absent)
            return std::nullopt;
        source->spans.assign(size_t(cells) * 2, RecordSource::Absent);
        for (size_t r = 0; r < records.size(); ++r) {
            for (size_t f = firstField[r]; f < firstField[r + 1]; f += 3) {
                const size_t at = (r * columns + fields[f]) * 2;
                source->spans[at] = fields[f + 1];
                source->spans[at + 1] = fields[f + 2];
            }
        }
        fields = {};
        source->bytes.squeeze();

        const std::shared_ptr<const RecordSource> shared = std::move(source);
        auto block = std::make_shared<std::vector<Recipient>>();
        block->reserve(records.size());
        RecipientList list;
        list.reserve(qsizetype(records.size()));
        for (size_t r = 0; r < records.size(); ++r) {
            block->emplace_back(shared, quint32(r * columns));
            list.append(RecipientPtr(block, &block->back()));
        }
        return list;
    }

    QByteArrayView m_data;
    BinaryPlistReader m_reader;
    Object m_objects;
    QHash<quint64, Kind> m_kinds;
    std::vector<quint32> m_spanOf; // per UID: 1 + its index in m_spans, 0 when not read yet
    std::vector<std::pair<quint32, quint32>> m_spans;
};

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
    file.close();
    return decode(bytes);
}

ReadResult decode(QByteArrayView bytes)
{
    if (std::optional<CampaignDocument> direct = DirectReader(bytes).read()) {
        ReadResult result;
        result.status = ReadStatus::Ok;
        result.document = std::move(*direct);
        return result;
    }

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
        {UnsubscribeKey, &CampaignDocument::unsubscribe},
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
        // A record may be stored once and listed many times; each listing becomes a record
        // of its own, so the values of all of them together are bounded by the file's size.
        qint64 values = 0;
        for (const ArchiveValue &entry : recipients->items())
            values += 1 + (entry.is(ArchiveValue::Type::Dictionary) ? entry.size() : 0);
        if (values > bytes.size())
            return invalid(QStringLiteral("RECIPIENTS lists its records over and over: %1 records and values in a file of %2 bytes")
                               .arg(values)
                               .arg(bytes.size()));
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

    if (const ArchiveValue *attachments = root.value(AttachmentsKey); attachments && !attachments->isNull()) {
        if (!attachments->is(ArchiveValue::Type::Array))
            return invalid(QStringLiteral("ATTACHMENTS is not a list"));
        AttachmentList files;
        for (const ArchiveValue &entry : attachments->items()) {
            const ArchiveValue *name = entry.value(AttachmentNameKey);
            const ArchiveValue *type = entry.value(AttachmentTypeKey);
            const ArchiveValue *data = entry.value(AttachmentDataKey);
            if (!entry.is(ArchiveValue::Type::Dictionary) || !name || !name->is(ArchiveValue::Type::String) ||
                !data || !data->is(ArchiveValue::Type::Data) ||
                (type && !type->isNull() && !type->is(ArchiveValue::Type::String)))
                return invalid(QStringLiteral("ATTACHMENTS holds something other than files (NAME, TYPE, DATA)"));
            Attachment file;
            file.name = name->toString();
            file.type = type && type->is(ArchiveValue::Type::String) && !type->toString().isEmpty()
                            ? type->toString()
                            : FallbackType;
            file.data = data->toData();
            files.append(std::move(file));
        }
        document.attachments = std::move(files);
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
    const bool hasUnsubscribe = document.unsubscribe && !document.unsubscribe->isEmpty();
    const bool hasAttachments = document.attachments && !document.attachments->isEmpty();
    // All keys first, then the values, as the platform's archiver numbers them.
    std::vector<Uid> keys;
    for (QStringView key : keyNames)
        keys.push_back(archiver.encodeString(key.toString()));
    if (hasUnsubscribe)
        keys.push_back(archiver.encodeString(UnsubscribeKey.toString()));
    if (hasAttachments)
        keys.push_back(archiver.encodeString(AttachmentsKey.toString()));

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

    if (hasUnsubscribe)
        values.push_back(archiver.encodeString(*document.unsubscribe));
    if (hasAttachments) {
        const Uid files = archiver.reserve();
        std::vector<Uid> fileUids;
        for (const Attachment &file : *document.attachments) {
            const Uid uid = archiver.reserve();
            const Uid fileKeys[] = {archiver.encodeString(AttachmentNameKey.toString()),
                                    archiver.encodeString(AttachmentTypeKey.toString()),
                                    archiver.encodeString(AttachmentDataKey.toString())};
            const Uid fileValues[] = {archiver.encodeString(file.name),
                                      archiver.encodeString(file.type.isEmpty() ? FallbackType : file.type),
                                      archiver.encodeData(file.data)};
            archiver.finishDictionary(uid, fileKeys, fileValues, ArchiveValue::Immutable);
            fileUids.push_back(uid);
        }
        archiver.finishArray(files, fileUids, ArchiveValue::Immutable);
        values.push_back(files);
    }

    archiver.finishDictionary(root, keys, values, ArchiveValue::Mutable);
    return archiver.finish(root);
}

AttachmentRead readAttachment(const QString &path)
{
    AttachmentRead result;
    const QFileInfo info(path);
    if (!info.isFile()) {
        result.error = QStringLiteral("%1 is not a file").arg(path);
        return result;
    }
    if (info.size() > MaxAttachmentBytes) {
        result.error = QStringLiteral("%1 is %2 MB; a message may carry at most %3 MB of files (10 MB once "
                                      "encoded for mail)")
                           .arg(info.fileName())
                           .arg(double(info.size()) / (1024.0 * 1024.0), 0, 'f', 1)
                           .arg(double(MaxAttachmentBytes) / (1024.0 * 1024.0), 0, 'f', 1);
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    // Read at most one byte past the limit: the file may have grown since it was measured.
    QByteArray data = file.read(MaxAttachmentBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        result.error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return result;
    }
    if (data.size() > MaxAttachmentBytes) {
        result.error = QStringLiteral("%1 grew past %2 MB while it was read")
                           .arg(info.fileName())
                           .arg(double(MaxAttachmentBytes) / (1024.0 * 1024.0), 0, 'f', 1);
        return result;
    }
    static const QMimeDatabase database;
    const QMimeType type = database.mimeTypeForFileNameAndData(info.fileName(), data);
    result.attachment = Attachment{info.fileName(),
                                   type.isValid() && !type.isDefault() ? type.name() : FallbackType,
                                   std::move(data)};
    return result;
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
