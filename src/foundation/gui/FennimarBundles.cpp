#include "FennimarBundles.h"

#include "Bundle.h"
#include "FennimarObject.h"
#include "foundationguilogging.h"

#include <QFile>
#include <QFileInfo>
#include <QPluginLoader>
#include <QUiLoader>
#include <QWidget>

#include <optional>

using namespace Qt::StringLiterals;

namespace FennimarBundles {

QString pathToFileInBundle(const QString &name)
{
    return brisko::Bundle::resourcePath() + u'/' + name;
}

bool loadNibNamed(const QString &name, FennimarObject *owner)
{
    std::optional<QString> path;
    if (!name.isEmpty()) {
        for (const QString &candidate : {pathToFileInBundle(u"ui/"_s + name + u".ui"_s),
                                         pathToFileInBundle(name + u".ui"_s)}) {
            if (QFileInfo(candidate).isFile()) {
                path = candidate;
                break;
            }
        }
    }

    QWidget *root = nullptr;
    if (path) {
        QFile file(*path);
        if (file.open(QIODevice::ReadOnly)) {
            QUiLoader loader;
            root = loader.load(&file);
        }
    }
    if (!root) {
        qCWarning(lcFoundationGui).noquote() << u"Could not load bundle:"_s + path.value_or(u"(null)"_s);
        return true;
    }
    if (owner)
        owner->setTopLevelObjectsDict(NibNameTable{{root}, owner});
    else
        delete root; // nobody would keep it
    return true;
}

QObject *loadObjectFromBundle(const QString &path)
{
    QPluginLoader loader(path);
    QObject *root = loader.instance();
    if (!root)
        qCWarning(lcFoundationGui).noquote() << "FennimarBundles.loadObjectFromBundle -" << loader.errorString();
    return root;
}

} // namespace FennimarBundles
