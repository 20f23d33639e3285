#include "Recipient.h"

namespace brisko {

Recipient::Recipient(std::shared_ptr<const RecordSource> source, quint32 firstSpan)
    : m_source(std::move(source)), m_first(firstSpan)
{
}

Recipient::Recipient(const Recipient &other)
    : m_source(other.m_source), m_first(other.m_first),
      m_own(other.m_own ? std::make_unique<std::vector<OwnEntry>>(*other.m_own) : nullptr)
{
}

Recipient &Recipient::operator=(const Recipient &other)
{
    if (this != &other) {
        m_source = other.m_source;
        m_first = other.m_first;
        m_own = other.m_own ? std::make_unique<std::vector<OwnEntry>>(*other.m_own) : nullptr;
    }
    return *this;
}

const Recipient::OwnEntry *Recipient::findOwn(QStringView key) const
{
    if (!m_own)
        return nullptr;
    for (const OwnEntry &entry : *m_own) {
        if (entry.first == key)
            return &entry;
    }
    return nullptr;
}

std::optional<qsizetype> Recipient::sourceIndex(QStringView key) const
{
    if (!m_source)
        return std::nullopt;
    const qsizetype n = m_source->keys.size();
    for (qsizetype i = 0; i < n; ++i) {
        if (m_source->keys.at(i) == key)
            return i;
    }
    return std::nullopt;
}

std::optional<QString> Recipient::sourceValue(qsizetype column) const
{
    const size_t at = (size_t(m_first) + size_t(column)) * 2;
    const quint32 begin = m_source->spans[at];
    if (begin == RecordSource::Absent)
        return std::nullopt;
    const quint32 end = m_source->spans[at + 1];
    return QString::fromUtf8(m_source->bytes.constData() + begin, qsizetype(end - begin));
}

std::optional<QString> Recipient::value(QStringView key) const
{
    if (const OwnEntry *own = findOwn(key))
        return own->second;
    if (auto column = sourceIndex(key))
        return sourceValue(*column);
    return std::nullopt;
}

QString Recipient::valueOr(QStringView key, const QString &fallback) const
{
    return value(key).value_or(fallback);
}

bool Recipient::contains(QStringView key) const
{
    return value(key).has_value();
}

void Recipient::setValue(const QString &key, const QString &value)
{
    if (!m_own)
        m_own = std::make_unique<std::vector<OwnEntry>>();
    for (OwnEntry &entry : *m_own) {
        if (entry.first == key) {
            entry.second = value;
            return;
        }
    }
    m_own->emplace_back(key, value);
}

bool Recipient::removeValue(QStringView key)
{
    if (!contains(key))
        return false;
    if (sourceIndex(key)) {
        // Shadow the shared value: the source itself is never changed.
        if (!m_own)
            m_own = std::make_unique<std::vector<OwnEntry>>();
        for (OwnEntry &entry : *m_own) {
            if (entry.first == key) {
                entry.second.reset();
                return true;
            }
        }
        m_own->emplace_back(key.toString(), std::nullopt);
        return true;
    }
    std::erase_if(*m_own, [&](const OwnEntry &entry) { return entry.first == key; });
    return true;
}

QStringList Recipient::keys() const
{
    QStringList result;
    forEach([&](const QString &key, const QString &) { result.append(key); });
    return result;
}

qsizetype Recipient::count() const
{
    qsizetype n = 0;
    forEach([&](const QString &, const QString &) { ++n; });
    return n;
}

bool Recipient::operator==(const Recipient &other) const
{
    if (count() != other.count())
        return false;
    bool same = true;
    forEach([&](const QString &key, const QString &v) {
        if (same && other.value(key) != v)
            same = false;
    });
    return same;
}

RecipientPtr makeRecipient(const QList<std::pair<QString, QString>> &entries)
{
    auto record = std::make_shared<Recipient>();
    for (const auto &[key, value] : entries)
        record->setValue(key, value);
    return record;
}

} // namespace brisko
