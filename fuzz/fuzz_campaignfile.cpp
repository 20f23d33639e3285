// libFuzzer entry for the campaign reader (the direct record reader and the general
// fallback): every input must give a campaign or an error, within bounded time and memory,
// and an accepted campaign must write and read back the same.
#include "CampaignFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const brisko::CampaignFile::ReadResult result = brisko::CampaignFile::decode(bytes);
    if (result.status != brisko::CampaignFile::ReadStatus::Ok)
        return 0;
    const QByteArray again = brisko::CampaignFile::encode(result.document);
    const brisko::CampaignFile::ReadResult back = brisko::CampaignFile::decode(again);
    if (back.status != brisko::CampaignFile::ReadStatus::Ok)
        __builtin_trap();
    const auto &a = result.document.recipients, &b = back.document.recipients;
    if (a.has_value() && (!b || a->size() != b->size()))
        __builtin_trap();
    for (qsizetype i = 0; a && i < a->size(); ++i) {
        if (!(*a->at(i) == *b->at(i)))
            __builtin_trap();
    }
    return 0;
}
