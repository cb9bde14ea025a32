#include "app/host_menus.h"

#include "app/menu_disposal.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "core/server_details.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "platform/desktop_links.h"
#include "sources/registry.h"

#include <QAction>
#include <QMenu>

HostMenus::HostMenus(PortMonitor& monitor, StopController& stops, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_stops(stops) {
    connect(&m_monitor, &PortMonitor::portsChanged, this, [this] { update(); });
    connect(&m_monitor, &PortMonitor::problemsChanged, this, [this] { update(); });
    connect(&m_monitor.settings(), &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::hosts.name)
            update();
    });
    m_shown = current();
}

QString HostMenus::rowTitle(const ListeningPort& port, qint64 localPort,
                            TrayMenu::LabelStyle style) {
    QString title = TrayMenu::submenuTitle(port, style);
    if (localPort > 0 && localPort != port.port)
        title += tr(" → localhost:%1").arg(localPort);
    return title;
}

PortForwarding* HostMenus::forwarderOf(const QString& host) const {
    ListeningPort probe;
    probe.origin = sshSourceId(host);
    return dynamic_cast<PortForwarding*>(m_monitor.sourceOf(probe));
}

HostMenus::Shown HostMenus::current() const {
    Shown shown;
    shown.hosts = m_monitor.settings().get(settings::hosts);
    for (const ListeningPort& port : m_monitor.ports()) {
        if (!port.host.isEmpty())
            shown.ports.append(port);
    }
    for (const QString& host : std::as_const(shown.hosts)) {
        const QString id = sshSourceId(host);
        if (m_monitor.problems().contains(id))
            shown.problems.insert(host, m_monitor.problems().value(id));
        if (const PortForwarding* forwarder = forwarderOf(host))
            shown.forwards.insert(host, forwarder->forwards());
    }
    return shown;
}

void HostMenus::attach(QMenu* menu, TrayMenu::LabelStyle style, std::function<QAction*()> end) {
    m_attached.append({menu, style, std::move(end), {}});
    fill(m_attached.last());
}

QAction* HostMenus::firstItem(const QMenu* menu) const {
    for (const Attached& attached : m_attached) {
        if (attached.menu == menu && !attached.items.isEmpty())
            return attached.items.first();
    }
    return nullptr;
}

void HostMenus::setStyle(QMenu* menu, TrayMenu::LabelStyle style) {
    for (Attached& attached : m_attached) {
        if (attached.menu == menu && attached.style != style) {
            attached.style = style;
            fill(attached);
        }
    }
}

void HostMenus::update(bool force) {
    Shown now = current();
    if (!force && now == m_shown)
        return;
    m_shown = std::move(now);
    for (Attached& attached : m_attached)
        fill(attached);
}

void HostMenus::withLocalUrl(const ListeningPort& port, std::function<void(const QString&)> use) {
    PortForwarding* forwarder = forwarderOf(port.host);
    if (!forwarder) {
        emit forwardFailed(port.host, port.port, tr("the host is no longer in the settings"));
        return;
    }
    forwarder->forward(port.port, 0, [self = QPointer(this), port, use = std::move(use)](
                                      qint64 local, const QString& error) {
        if (!self)
            return;
        self->update();
        if (local <= 0) {
            emit self->forwardFailed(port.host, port.port, error);
            return;
        }
        use(serverUrl(local, QStringLiteral("127.0.0.1")));
    });
}

// Made anew: host submenus are few and change seldom.
void HostMenus::fill(Attached& attached) {
    if (!attached.menu)
        return;
    QMenu* menu = attached.menu;
    const TrayMenu::LabelStyle style = attached.style;
    for (const QPointer<QAction>& item : std::as_const(attached.items)) {
        if (!item)
            continue;
        menu->removeAction(item);
        // A submenu's action goes with its menu.
        if (QMenu* submenu = item->menu(); submenu && submenu->parent() == menu)
            disposeOfMenu(submenu);
        else
            item->deleteLater();
    }
    attached.items.clear();
    if (m_shown.hosts.isEmpty())
        return;
    QAction* before = attached.end();
    attached.items.append(menu->insertSeparator(before));
    const auto literal = [style](const QString& text) {
        return TrayMenu::literalMenuText(text, style);
    };
    for (const QString& host : std::as_const(m_shown.hosts)) {
        if (m_shown.problems.contains(host)) {
            auto* line = new QAction(
                literal(tr("%1: not connected — %2").arg(displayName(host), m_shown.problems.value(host))),
                menu);
            line->setEnabled(false);
            menu->insertAction(before, line);
            attached.items.append(line);
            continue;
        }
        auto* hostMenu = new QMenu(literal(displayName(host)), menu);
        const QList<PortForward> forwards = m_shown.forwards.value(host);
        const auto localOf = [&forwards](qint64 remote) -> qint64 {
            for (const PortForward& f : forwards) {
                if (f.remotePort == remote)
                    return f.localPort;
            }
            return 0;
        };
        QList<qint64> listed;
        for (const ListeningPort& port : std::as_const(m_shown.ports)) {
            if (port.host != host)
                continue;
            listed.append(port.port);
            const qint64 local = localOf(port.port);
            auto* row = new QMenu(rowTitle(port, local, style), hostMenu);
            connect(row->addAction(tr("Forward and Open")), &QAction::triggered, this,
                    [this, port] {
                        withLocalUrl(port, [this](const QString& url) {
                            if (!openInBrowser(url))
                                emit browserFailed(url);
                        });
                    });
            connect(row->addAction(tr("Copy URL")), &QAction::triggered, this, [this, port] {
                withLocalUrl(port, [this](const QString& url) {
                    copyToClipboard(url, this, [this, url] { emit copyFailed(url); });
                });
            });
            QAction* stopForward = row->addAction(tr("Stop Forward"));
            stopForward->setEnabled(local > 0);
            connect(stopForward, &QAction::triggered, this, [this, port] {
                if (PortForwarding* forwarder = forwarderOf(port.host))
                    forwarder->cancelForward(port.port, [self = QPointer(this)] {
                        if (self)
                            self->update();
                    });
            });
            row->addSeparator();
            connect(row->addAction(tr("Stop Server")), &QAction::triggered, this,
                    [this, port] { m_stops.stop(port); });
            hostMenu->addMenu(row);
        }
        // Forwards of servers no longer listed stay until stopped.
        for (const PortForward& f : forwards) {
            if (listed.contains(f.remotePort))
                continue;
            auto* row = new QMenu(tr("%1 → localhost:%2 (not listening)").arg(f.remotePort).arg(f.localPort),
                                  hostMenu);
            connect(row->addAction(tr("Stop Forward")), &QAction::triggered, this,
                    [this, host, remote = f.remotePort] {
                        if (PortForwarding* forwarder = forwarderOf(host))
                            forwarder->cancelForward(remote, [self = QPointer(this)] {
                                if (self)
                                    self->update();
                            });
                    });
            hostMenu->addMenu(row);
        }
        if (hostMenu->isEmpty()) {
            QAction* none = hostMenu->addAction(tr("No ports running"));
            none->setEnabled(false);
        }
        menu->insertMenu(before, hostMenu);
        attached.items.append(hostMenu->menuAction());
    }
}
