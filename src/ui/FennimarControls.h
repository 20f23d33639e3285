#pragma once

class QMenu;

// Helpers for menus and other controls.
namespace FennimarControls {

// Removes the first item while the menu has any. Items and submenus the menu owns are
// deleted once control returns to the event loop, so this may run from an item's own
// triggered() handler (as when a recent-files menu is rebuilt). A null menu is ignored.
void removeAllMenuItems(QMenu *menu);

} // namespace FennimarControls
