#include "Base64.h"

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace brisko {

namespace Base64 {

namespace {

struct BioChainFree
{
    void operator()(BIO *bio) const { BIO_free_all(bio); }
};
using BioChain = std::unique_ptr<BIO, BioChainFree>;

// A Base64 filter pushed on the given buffer; the chain owns both.
BioChain base64On(BIO *buffer, bool withNewlines)
{
    BIO *filter = BIO_new(BIO_f_base64());
    if (!filter || !buffer) {
        BIO_free(filter);
        BIO_free(buffer);
        return nullptr;
    }
    if (!withNewlines)
        BIO_set_flags(filter, BIO_FLAGS_BASE64_NO_NL);
    return BioChain(BIO_push(filter, buffer));
}

} // namespace

QString encodeBase64WithNewlines(const QByteArray &data, bool withNewlines)
{
    BIO *sink = BIO_new(BIO_s_mem());
    const BioChain chain = base64On(sink, withNewlines);
    if (!chain)
        return QString();
    // BIO_write takes an int; a message never comes near that, but write in pieces anyway.
    for (qsizetype done = 0; done < data.size();) {
        const int piece = int(std::min<qsizetype>(data.size() - done, INT_MAX / 2));
        const int written = BIO_write(chain.get(), data.constData() + done, piece);
        if (written <= 0)
            return QString();
        done += written;
    }
    (void)BIO_flush(chain.get());
    char *bytes = nullptr;
    const long length = BIO_get_mem_data(sink, &bytes);
    return QString::fromLatin1(bytes, qsizetype(length));
}

QByteArray decodeBase64WithNewlines(const QString &text, bool withNewlines)
{
    QByteArray result;
    QByteArray input = text.toUtf8();
    if (input.isEmpty())
        return result;
    // The filter reading lines drops a last line that has no line feed after it; a text
    // on one line without its line feed would read as nothing.
    if (withNewlines && !input.endsWith('\n'))
        input.append('\n');
    BIO *source = BIO_new_mem_buf(input.constData(), int(std::min<qsizetype>(input.size(), INT_MAX)));
    const BioChain chain = base64On(source, withNewlines);
    if (!chain)
        return result;
    char chunk[512];
    for (;;) {
        const int read = BIO_read(chain.get(), chunk, int(sizeof chunk));
        if (read < 1)
            break;
        result.append(chunk, read);
    }
    return result;
}

} // namespace Base64

} // namespace brisko

namespace FennimarStrings {

QByteArray dataForBase64(const QString &text)
{
    return brisko::Base64::decodeBase64WithNewlines(text);
}

QString base64ForData(const QByteArray &data)
{
    return brisko::Base64::encodeBase64WithNewlines(data);
}

} // namespace FennimarStrings
