#pragma once

#include "Recipient.h"

#include <QString>
#include <QStringList>

// Writing a recipient list as tab-separated text.
//
// Line 1 holds the columns (program columns, those beginning with "_BRISKO_", left
// out) joined with tabs; then one line per record in list order with the record's
// value for each column, or nothing where it has none. Values are written as they
// stand: a tab or a line break inside a value goes out unchanged. Every line, the last
// included, ends with a carriage return ("\r"), the only terminator. The caller writes
// the text as UTF-8.
namespace brisko::RecipientExport {

QString exportData(const RecipientList &records, const QStringList &columns);

} // namespace brisko::RecipientExport
