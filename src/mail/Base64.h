#pragma once

#include <QByteArray>
#include <QString>

namespace brisko {

// Base64 text of bytes and bytes of Base64 text, through OpenSSL's Base64 filter on a
// memory buffer. The alphabet is the standard one with "=" padding (32 bytes give 44
// characters). Used for the Base64 form of a raw message and for request signatures.
namespace Base64 {

// The Base64 text of the data. With newlines a line feed follows every 64 characters and
// the last line (an empty data gives the empty text); without, the text is one line with
// no line feed at all, whatever its length.
QString encodeBase64WithNewlines(const QByteArray &data, bool withNewlines = true);

// The bytes the Base64 text stands for, read in chunks of at most 512 bytes. With newlines
// the text may be broken into lines (the last one with or without its line feed);
// without, it is expected on one line. Text that is not Base64 gives what was decoded
// before the fault, possibly nothing. The empty text gives an empty data object.
QByteArray decodeBase64WithNewlines(const QString &text, bool withNewlines = true);

} // namespace Base64

} // namespace brisko

// The string utilities' two Base64 conversions, kept with the mail library because they
// need OpenSSL.
namespace FennimarStrings {

// decodeBase64WithNewlines(text) with line feeds allowed.
QByteArray dataForBase64(const QString &text);
// encodeBase64WithNewlines(data) with 64-character lines.
QString base64ForData(const QByteArray &data);

} // namespace FennimarStrings
