#include "FennimarObject.h"

#include <utility>

FennimarObject::~FennimarObject()
{
    releaseRetainedObjects();
}

QList<QObject *> FennimarObject::retainedObjects() const
{
    QList<QObject *> objects;
    objects.reserve(_retainedObjects.size());
    for (const QPointer<QObject> &object : _retainedObjects)
        objects << object.data();
    return objects;
}

void FennimarObject::releaseRetainedObjects()
{
    const QList<QPointer<QObject>> objects = std::exchange(_retainedObjects, {});
    for (const QPointer<QObject> &object : objects)
        delete object.data();
}

void FennimarObject::setTopLevelObjectsDict(const NibNameTable &table)
{
    for (QObject *object : table.topLevelObjects)
        _retainedObjects << QPointer<QObject>(object);
}
