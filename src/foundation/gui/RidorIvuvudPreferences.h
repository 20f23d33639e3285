#pragma once

#include <QColor>
#include <QString>
#include <QVariant>

// RidorIvuvud's older preference calls, kept for the code that uses them.
namespace RidorIvuvud {

// As FennimarUserDefaults::setObject.
void setPrefObject(const QVariant &object, const QString &forKey);

// As FennimarUserDefaults::objectForKey.
QVariant getPrefObjectForKey(const QString &key, const QVariant &defaultValue = QVariant());

// The colour stored under the key: data holding a colour in QDataStream form (what
// archivedColor() writes) or a colour value. The default when nothing is stored or the
// data holds no colour.
QColor getPrefColorForKey(const QString &key, const QColor &defaultValue);

// A colour in the data form getPrefColorForKey reads.
QByteArray archivedColor(const QColor &color);

} // namespace RidorIvuvud
