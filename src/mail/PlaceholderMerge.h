#pragma once

#include <QList>
#include <QString>

#include <utility>

// The placeholder merge behind BriskoConnector::doGreps.
namespace brisko::PlaceholderMerge {

// The template after one pass per entry, in the order given: each pass replaces every
// occurrence of "__KEY__" in the whole current text by the entry's value, literally,
// left to right, without overlapping and without searching the inserted value again in
// the same pass. Later passes do see what earlier ones inserted, including tokens that
// form across the edge of an inserted value.
//
// Gives the same text as calling QString::replace for each entry in turn, but keeps the
// text as a list of pieces (stretches of the template and of values) and looks only at
// the places where two underscores meet, so a long template with few placeholders is
// copied once instead of once per key.
QString merge(const QString &text, const QList<std::pair<QString, QString>> &entries);

} // namespace brisko::PlaceholderMerge
