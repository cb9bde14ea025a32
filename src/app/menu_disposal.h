#pragma once

class QMenu;

// Takes a menu that is no longer shown out of use: removes its actions, its
// submenus' first, and deletes it once control is back in the event loop (an
// action being triggered right now may be among them). Qt deletes the item a
// D-Bus menu (a StatusNotifierItem's) exports for an action when the action is
// removed from its menu, not when the menu is destroyed, so a menu deleted
// with its actions in it would leave those items behind for good.
void disposeOfMenu(QMenu* menu);
