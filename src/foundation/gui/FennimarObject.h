#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

// The top-level objects of a loaded interface file together with the object that
// loaded them (see FennimarBundles::loadNibNamed).
struct NibNameTable
{
    QList<QObject *> topLevelObjects;
    class FennimarObject *owner = nullptr;
};

// A base for objects that own the top-level objects of an interface file they loaded.
// The objects are kept until releaseRetainedObjects() or the owner's destruction, which
// delete them (an object already deleted elsewhere is skipped).
class FennimarObject
{
public:
    FennimarObject() = default;
    FennimarObject(const FennimarObject &) = delete;
    FennimarObject &operator=(const FennimarObject &) = delete;
    virtual ~FennimarObject();

    // The objects kept, in the order they were handed over (deleted ones read as null).
    QList<QObject *> retainedObjects() const;

    // Deletes and forgets every object kept.
    void releaseRetainedObjects();

    // Takes over the table's top-level objects, after those already kept.
    virtual void setTopLevelObjectsDict(const NibNameTable &table);

private:
    QList<QPointer<QObject>> _retainedObjects;
};
