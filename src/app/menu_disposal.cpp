#include "app/menu_disposal.h"

#include <QAction>
#include <QMenu>

namespace {

void removeActions(QMenu* menu) {
    for (QAction* action : menu->actions()) {
        if (QMenu* submenu = action->menu(); submenu && submenu->parent() == menu)
            removeActions(submenu);
        menu->removeAction(action);
    }
}

} // namespace

void disposeOfMenu(QMenu* menu) {
    removeActions(menu);
    menu->deleteLater();
}
