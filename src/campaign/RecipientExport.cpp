#include "RecipientExport.h"

namespace brisko::RecipientExport {

QString exportData(const RecipientList &records, const QStringList &columns)
{
    QStringList shown;
    for (const QString &column : columns) {
        if (!column.startsWith(ProgramColumnPrefix))
            shown.append(column);
    }
    QString text;
    text.reserve(1000);
    text += shown.join(u'\t');
    text += u'\r';
    for (const RecipientPtr &record : records) {
        for (qsizetype i = 0; i < shown.size(); ++i) {
            if (i > 0)
                text += u'\t';
            if (record) {
                if (const std::optional<QString> value = record->value(shown.at(i)))
                    text += *value;
            }
        }
        text += u'\r';
    }
    return text;
}

} // namespace brisko::RecipientExport
