#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace brisko {

// The column that holds a recipient's address; every record the program makes has it.
inline constexpr QStringView EmailKey = u"EMAIL";
// Identifiers of the table's computed columns start with this and are never record keys.
inline constexpr QStringView ProgramColumnPrefix = u"_BRISKO_";

// Read-only backing shared by many records: the UTF-8 bytes of an imported list and,
// per record, where each of its fields lies in them. Records built from one source
// cost a few bytes each; a value is decoded only when it is read.
struct RecordSource
{
    static constexpr quint32 Absent = 0xFFFFFFFFu;

    QByteArray bytes;
    QStringList keys;            // column names in heading order
    std::vector<quint32> spans;  // per record: keys.size() pairs (begin, end); begin == Absent: no value
};

// One recipient: a mutable dictionary from column name to text, shared by reference
// between the list, the table, the send queue and the selection. Values come from a
// shared source and, once edited or added, live beside it in the record itself.
class Recipient
{
public:
    Recipient() = default;
    Recipient(std::shared_ptr<const RecordSource> source, quint32 firstSpan);
    Recipient(const Recipient &other);
    Recipient &operator=(const Recipient &other);
    Recipient(Recipient &&) noexcept = default;
    Recipient &operator=(Recipient &&) noexcept = default;
    ~Recipient() = default;

    std::optional<QString> value(QStringView key) const;
    QString valueOr(QStringView key, const QString &fallback = QString()) const;
    QString email() const { return valueOr(EmailKey); }
    bool contains(QStringView key) const;
    void setValue(const QString &key, const QString &value);
    bool removeValue(QStringView key);

    // Keys in a stable order: the source's columns first, then keys added by hand.
    QStringList keys() const;
    qsizetype count() const;

    // Calls f(key, value) for every entry, in keys() order.
    template<typename F>
    void forEach(F &&f) const
    {
        if (m_source) {
            const qsizetype n = m_source->keys.size();
            for (qsizetype i = 0; i < n; ++i) {
                const QString &key = m_source->keys.at(i);
                if (const auto *own = findOwn(key)) {
                    if (own->second)
                        f(key, *own->second);
                } else if (auto v = sourceValue(i)) {
                    f(key, *v);
                }
            }
        }
        if (m_own) {
            for (const auto &[key, v] : *m_own) {
                if (v && !sourceIndex(key))
                    f(key, *v);
            }
        }
    }

    bool operator==(const Recipient &other) const;

private:
    using OwnEntry = std::pair<QString, std::optional<QString>>; // none: removed from the source
    const OwnEntry *findOwn(QStringView key) const;
    std::optional<qsizetype> sourceIndex(QStringView key) const;
    std::optional<QString> sourceValue(qsizetype column) const;

    std::shared_ptr<const RecordSource> m_source;
    quint32 m_first = 0;
    std::unique_ptr<std::vector<OwnEntry>> m_own;
};

using RecipientPtr = std::shared_ptr<Recipient>;
using RecipientList = QList<RecipientPtr>;

// A record holding the given entries, in order.
RecipientPtr makeRecipient(const QList<std::pair<QString, QString>> &entries);

} // namespace brisko
