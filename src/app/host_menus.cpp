#include "app/host_menus.h"

#include "actions/server_actions.h"
#include "app/menu_disposal.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "core/presentation.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"

#include <QAction>
#include <QMenu>

HostMenus::HostMenus(ServerActions& actions, QObject* parent)
    : QObject(parent), m_actions(actions) {
    PortMonitor& monitor = m_actions.monitor();
    connect(&monitor, &PortMonitor::portsChanged, this, &HostMenus::update);
    connect(&monitor, &PortMonitor::problemsChanged, this, &HostMenus::update);
    connect(&m_actions.forwards(), &Forwards::changed, this, &HostMenus::update);
    connect(&monitor.settings(), &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::hosts.name)
            update();
    });
    m_shown = current();
}

HostMenus::Shown HostMenus::current() const {
    const PortMonitor& monitor = m_actions.monitor();
    Shown shown;
    shown.hosts = monitor.settings().get(settings::hosts);
    shown.reversed = monitor.filter().rangeIsReversed();
    for (const ListeningPort& port : monitor.ports()) {
        if (!port.host.isEmpty())
            shown.ports.append(port);
    }
    for (const QString& host : std::as_const(shown.hosts)) {
        const SourceId id = SourceId::ofHost(host);
        if (monitor.problems().contains(id))
            shown.problems.insert(host, monitor.problems().value(id));
        shown.forwards.insert(host, m_actions.forwards().of(host));
    }
    return shown;
}

void HostMenus::attach(QMenu* menu, LabelStyle style, std::function<QAction*()> end) {
    m_attached.append({menu, style, std::move(end), {}});
    fill(m_attached.last());
    // Whether traffic passes is looked at again as the menu opens.
    connect(menu, &QMenu::aboutToShow, &m_actions.forwards(), &Forwards::check);
}

QAction* HostMenus::firstItem(const QMenu* menu) const {
    for (const Attached& attached : m_attached) {
        if (attached.menu == menu && !attached.items.isEmpty())
            return attached.items.first();
    }
    return nullptr;
}

void HostMenus::setStyle(QMenu* menu, LabelStyle style) {
    for (Attached& attached : m_attached) {
        if (attached.menu == menu && attached.style != style) {
            attached.style = style;
            fill(attached);
        }
    }
}

void HostMenus::update() {
    Shown now = current();
    if (now == m_shown)
        return;
    m_shown = std::move(now);
    for (Attached& attached : m_attached)
        fill(attached);
}

// One host's servers and the forwards of servers no longer listed.
QMenu* HostMenus::hostMenu(const QString& host, LabelStyle style, QMenu* parent) {
    auto* menu = new QMenu(literalMenuText(displayName(host), style), parent);
    const QList<PortForward> forwards = m_shown.forwards.value(host);
    const auto forwardOf = [&forwards](qint64 remote) -> PortForward {
        for (const PortForward& f : forwards) {
            if (f.remotePort == remote)
                return f;
        }
        return {};
    };
    QList<qint64> listed;
    bool unforwarded = false;
    for (const ListeningPort& port : std::as_const(m_shown.ports)) {
        if (port.host != host)
            continue;
        listed.append(port.port);
        const PortForward forward = forwardOf(port.port);
        const qint64 local = forward.localPort;
        unforwarded = unforwarded || local <= 0;
        const QString title = forwardedTitle(ServerPresentation(port, {}).title(literalFor(style)),
                                             port.port, forward);
        auto* row = new QMenu(title, menu);
        connect(row->addAction(tr("Forward and Open")), &QAction::triggered, this,
                [this, port] { m_actions.forwardAndOpen(port); });
        connect(row->addAction(tr("Copy URL")), &QAction::triggered, this,
                [this, port] { m_actions.copyForwardedUrl(port); });
        QAction* stopForward = row->addAction(tr("Stop Forward"));
        stopForward->setEnabled(local > 0);
        connect(stopForward, &QAction::triggered, this,
                [this, port] { m_actions.stopForward(port.host, port.port); });
        row->addSeparator();
        connect(row->addAction(tr("Stop Server")), &QAction::triggered, this,
                [this, port] { m_actions.stop(port); });
        menu->addMenu(row);
    }
    // Forwards of servers no longer listed stay until stopped.
    for (const PortForward& f : forwards) {
        if (listed.contains(f.remotePort))
            continue;
        auto* row = new QMenu(orphanForwardTitle(f), menu);
        connect(row->addAction(tr("Stop Forward")), &QAction::triggered, this,
                [this, host, remote = f.remotePort] { m_actions.stopForward(host, remote); });
        menu->addMenu(row);
    }
    if (menu->isEmpty()) {
        QAction* none =
            menu->addAction(m_shown.reversed ? reversedRangeText() : tr("No ports running"));
        none->setEnabled(false);
        return menu;
    }
    menu->addSeparator();
    QAction* all = menu->addAction(tr("Forward All"));
    all->setEnabled(unforwarded);
    connect(all, &QAction::triggered, this, [this, host] { m_actions.forwardAll(host); });
    QAction* none = menu->addAction(tr("Stop All Forwards"));
    none->setEnabled(!forwards.isEmpty());
    connect(none, &QAction::triggered, this, [this, host] { m_actions.stopAllForwards(host); });
    return menu;
}

// Made anew: host submenus are few and change seldom.
void HostMenus::fill(Attached& attached) {
    if (!attached.menu)
        return;
    QMenu* menu = attached.menu;
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
    for (const QString& host : std::as_const(m_shown.hosts)) {
        if (m_shown.problems.contains(host)) {
            auto* line =
                new QAction(literalMenuText(hostProblemText(host, m_shown.problems.value(host)),
                                            attached.style),
                            menu);
            line->setEnabled(false);
            menu->insertAction(before, line);
            attached.items.append(line);
            continue;
        }
        QMenu* submenu = hostMenu(host, attached.style, menu);
        menu->insertMenu(before, submenu);
        attached.items.append(submenu->menuAction());
    }
}
