#include "FennimarControls.h"

#include <QAction>
#include <QMenu>

namespace FennimarControls {

void removeAllMenuItems(QMenu *menu)
{
    if (!menu)
        return;
    while (!menu->actions().isEmpty()) {
        QAction *item = menu->actions().constFirst();
        menu->removeAction(item);
        if (QMenu *submenu = item->menu<QMenu *>(); submenu && submenu->parent() == menu)
            submenu->deleteLater();
        else if (item->parent() == menu)
            item->deleteLater();
    }
}

} // namespace FennimarControls
