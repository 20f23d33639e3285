#pragma once

#include "Campaign.h"

#include <QString>

#include <optional>

namespace brisko::CampaignFile {

enum class ReadStatus {
    Ok,      // the file held a campaign dictionary
    Missing, // no file at the path: every key counts as absent
    Invalid, // not a keyed archive, or its root is not a campaign dictionary
};

struct ReadResult
{
    ReadStatus status = ReadStatus::Invalid;
    CampaignDocument document;
    QString error; // why an Invalid file was refused
};

// Reads a campaign file: a keyed archive whose root is a dictionary of the keys
// SUBJECT, FROM, BODY, HTML, REPLYTO, RETURNPATH (strings), COLUMNS (array of
// strings) and RECIPIENTS (array of dictionaries of strings), and when the campaign has
// them UNSUBSCRIBE (string) and ATTACHMENTS (array of dictionaries NAME and TYPE, strings,
// and DATA, data). Keys are optional.
ReadResult read(const QString &path);

// The same for the file's bytes (never Missing).
ReadResult decode(QByteArrayView bytes);

// The archive bytes of a campaign: all eight standing keys, empty fields as empty strings;
// UNSUBSCRIBE and ATTACHMENTS only when they hold something.
QByteArray encode(const CampaignDocument &document);

// The largest file taken as an attachment: its Base64 alone fills a message the mail
// service takes (10 MB after Base64).
inline constexpr qint64 MaxAttachmentBytes = 10 * 1024 * 1024 / 4 * 3;

struct AttachmentRead
{
    std::optional<Attachment> attachment;
    QString error; // why the file was not taken, naming it
};
// A file as an attachment: its name without folders, its type from the shared MIME database
// (by name and content), its bytes. Larger files than MaxAttachmentBytes are refused unread.
AttachmentRead readAttachment(const QString &path);

// Writes the campaign atomically (the old file stays intact when anything fails).
// Returns none on success, the system's reason otherwise.
std::optional<QString> write(const QString &path, const CampaignDocument &document);

} // namespace brisko::CampaignFile
