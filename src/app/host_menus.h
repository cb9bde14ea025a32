#pragma once

#include "app/menu_text.h"
#include "core/listening_port.h"
#include "core/port_forwarding.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class QAction;
class QMenu;
class ServerActions;

// The tray menu's part for the hosts of the settings, below the local
// servers: one submenu "<host>" per host listing its servers as
// "<port> - <name>" (with "→ localhost:LOCAL" when forwarded to another
// port, and what keeps traffic from passing: see forwardedTitle()), then
// Forward All and Stop All Forwards; or one inert line "<host>: not
// connected — <reason>". A server's submenu offers Forward and Open, Copy URL
// (forwarding first), Stop Forward and Stop Server. The items are made anew
// only when what they show changes; the forwards are looked through again
// as the menu opens.
class HostMenus : public QObject {
    Q_OBJECT
public:
    explicit HostMenus(ServerActions& actions, QObject* parent = nullptr);

    // Keeps the hosts' items in `menu` (a separator, then one item per host),
    // right above the item `end` gives, with labels for `style`.
    void attach(QMenu* menu, LabelStyle style, std::function<QAction*()> end);
    // The first of the hosts' items in `menu`; null while there are none.
    QAction* firstItem(const QMenu* menu) const;
    void setStyle(QMenu* menu, LabelStyle style);

private:
    struct Attached {
        QPointer<QMenu> menu;
        LabelStyle style;
        std::function<QAction*()> end;
        QList<QPointer<QAction>> items;
    };
    // What the items show.
    struct Shown {
        QStringList hosts;
        QList<ListeningPort> ports;
        QMap<QString, QString> problems;
        QMap<QString, QList<PortForward>> forwards;
        bool reversed = false; // the range's From is above its To
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    Shown current() const;
    void update();
    void fill(Attached& attached);
    QMenu* hostMenu(const QString& host, LabelStyle style, QMenu* parent);

    ServerActions& m_actions;
    QList<Attached> m_attached;
    Shown m_shown;
};
