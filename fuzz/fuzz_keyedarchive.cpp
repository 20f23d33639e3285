// libFuzzer entry for the keyed-archive reader: every input must give a value or an
// error, within bounded time and memory. Seed corpus: tests/data/archives (the good
// files and bad/).
#include "KeyedArchive.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto value = brisko::KeyedUnarchiver::unarchive(bytes);
    if (value.ok()) {
        // Whatever was accepted must also convert and write again.
        (void)value->toJsonText(QJsonDocument::Compact);
        (void)brisko::KeyedArchiver::archivedData(*value);
    }
    (void)brisko::KeyedUnarchiver::unarchiveObject(bytes, {QStringLiteral("CTGradient")});
    (void)brisko::BinaryPlist::read(bytes);
    return 0;
}
