#pragma once

#include "Campaign.h"

#include <QJsonObject>

#include <optional>

namespace brisko::cli {

// The JSON shape of a campaign that `show --json` prints and `create --json` reads:
// {"subject", "from", "replyTo", "returnPath", "body", "html": text or null (absent
// from the file), "columns": [names] or null, "recipients": [{column: text}] or null,
// "unsubscribe": text or null, "attachments": [{"name", "type", "size"}] (their bytes stay in
// the campaign file; reading ignores this member)}.
QJsonObject toJson(const CampaignDocument &document);

// Reads the same shape; missing members and null are none. Fails on wrong types.
std::optional<CampaignDocument> fromJson(const QJsonObject &object, QString *error);

} // namespace brisko::cli
