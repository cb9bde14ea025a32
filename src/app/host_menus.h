#pragma once

#include "app/tray_menu.h"
#include "core/listening_port.h"
#include "core/port_forwarding.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>

class PortMonitor;
class PortForwarding;
class QAction;
class QMenu;
class StopController;

// The tray menu's part for the hosts of the settings, below the local
// servers: one submenu "<host>" per host listing its servers as
// "<port> - <name>" (with "→ localhost:LOCAL" when forwarded to another
// port), or one inert line "<host>: not connected — <reason>". A server's
// submenu offers Forward and Open, Copy URL (forwarding first), Stop Forward
// and Stop Server. The items are made anew only when what they show changes.
class HostMenus : public QObject {
    Q_OBJECT
public:
    HostMenus(PortMonitor& monitor, StopController& stops, QObject* parent = nullptr);

    // Keeps the hosts' items in `menu` (a separator, then one item per host),
    // right above the item `end` gives, with labels for `style`.
    void attach(QMenu* menu, TrayMenu::LabelStyle style, std::function<QAction*()> end);
    // The first of the hosts' items in `menu`; null while there are none.
    QAction* firstItem(const QMenu* menu) const;
    void setStyle(QMenu* menu, TrayMenu::LabelStyle style);

    // "5173 - node", or "5173 - node → localhost:5174" when forwarded elsewhere.
    static QString rowTitle(const ListeningPort& port, qint64 localPort, TrayMenu::LabelStyle style);

signals:
    void browserFailed(const QString& url);
    void copyFailed(const QString& url);
    // A forward could not be set up: `reason` is ssh's.
    void forwardFailed(const QString& host, qint64 port, const QString& reason);

private:
    struct Attached {
        QPointer<QMenu> menu;
        TrayMenu::LabelStyle style;
        std::function<QAction*()> end;
        QList<QPointer<QAction>> items;
    };
    // What the items show.
    struct Shown {
        QStringList hosts;
        QList<ListeningPort> ports;
        QMap<QString, QString> problems;
        QMap<QString, QList<PortForward>> forwards;
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    Shown current() const;
    void update(bool force = false);
    void fill(Attached& attached);
    PortForwarding* forwarderOf(const QString& host) const;
    // Forwards the port (or finds its forward), then hands its local URL on.
    void withLocalUrl(const ListeningPort& port, std::function<void(const QString&)> use);

    PortMonitor& m_monitor;
    StopController& m_stops;
    QList<Attached> m_attached;
    Shown m_shown;
};
