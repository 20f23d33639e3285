#include "FennimarDictionaries.h"

#include <QFile>
#include <QStringDecoder>

namespace FennimarDictionaries {

namespace {

// The whole file as text: the encoding a byte-order mark names, else UTF-8 when the bytes
// are valid UTF-8, else Latin-1. None when the file cannot be read.
std::optional<QString> readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.readAll();
    if (const auto marked = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*marked, QStringConverter::Flag::Stateless);
        QString text = decoder.decode(bytes);
        if (decoder.hasError())
            return std::nullopt;
        return text;
    }
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return QString::fromLatin1(bytes);
}

} // namespace

QMap<QString, QString> dictionaryFromTabSeparatedFile(const QString &path)
{
    QMap<QString, QString> result;
    const std::optional<QString> text = readText(path);
    if (!text)
        return result;
    for (const QStringView line : QStringView(*text).tokenize(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab < 0)
            continue;
        const qsizetype nextTab = line.indexOf(u'\t', tab + 1);
        const QStringView value = line.sliced(tab + 1, (nextTab < 0 ? line.size() : nextTab) - tab - 1);
        result.insert(line.first(tab).toString(), value.toString());
    }
    return result;
}

} // namespace FennimarDictionaries
