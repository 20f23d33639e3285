#include "RidorIvuvudPreferences.h"

#include "FennimarUserDefaults.h"

#include <QDataStream>
#include <QIODevice>

namespace RidorIvuvud {

void setPrefObject(const QVariant &object, const QString &forKey)
{
    FennimarUserDefaults::setObject(object, forKey);
}

QVariant getPrefObjectForKey(const QString &key, const QVariant &defaultValue)
{
    return FennimarUserDefaults::objectForKey(key, defaultValue);
}

QColor getPrefColorForKey(const QString &key, const QColor &defaultValue)
{
    const QVariant stored = FennimarUserDefaults::objectForKey(key);
    if (!stored.isValid())
        return defaultValue;
    if (stored.metaType() == QMetaType::fromType<QColor>())
        return stored.value<QColor>();
    const QByteArray data = stored.toByteArray();
    if (data.isEmpty())
        return defaultValue;
    QDataStream in(data);
    in.setVersion(QDataStream::Qt_6_0);
    QColor color;
    in >> color;
    return in.status() == QDataStream::Ok && color.isValid() ? color : defaultValue;
}

QByteArray archivedColor(const QColor &color)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << color;
    return data;
}

} // namespace RidorIvuvud
