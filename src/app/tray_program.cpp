#include "app/tray_program.h"

#include "config/settings_store.h"
#include "platform/app_icon.h"
#include "platform/desktop_notifier.h"
#include "settings/settings_window.h"
#include "window/servers_window.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

TrayProgram::TrayProgram(SettingsStore& store, DesktopNotifier& notifier, Registry registry,
                         QObject* parent)
    : QObject(parent), m_store(store), m_notifier(notifier), m_monitor(store, std::move(registry)),
      m_notices(m_monitor, [&notifier](const QString& title,
                                       const QString& body) { notifier.notify(title, body); }),
      m_stops(m_monitor, [&notifier](const QString& title,
                                     const QString& body) { notifier.notify(title, body); }),
      m_forwards(m_monitor), m_actions(m_monitor, m_stops, m_forwards), m_search(m_actions),
      m_menu(m_monitor, m_actions) {
    m_stops.setNotifyWithAction([&notifier](const QString& title, const QString& body,
                                            const QString& action, std::function<void()> onAction) {
        notifier.notify(title, body, action, std::move(onAction));
    });
    connect(&m_menu, &TrayMenu::serversRequested, this, &TrayProgram::openServers);
    connect(&m_menu, &TrayMenu::settingsRequested, this, &TrayProgram::openSettings);
    connect(&m_menu, &TrayMenu::quitRequested, this, &TrayProgram::quitRequested);
    connect(&m_actions, &ServerActions::browserFailed, this, [this](const QString& url) {
        m_notifier.notify(tr("No Browser Opened"),
                          tr("No web browser could be started for %1. Copy URL puts it on "
                             "the clipboard.")
                              .arg(url));
    });
    // Mostly a Wayland desktop refusing a copy from a program without a
    // focused window; the notification still shows the URL.
    connect(&m_actions, &ServerActions::copyFailed, this, [this](const QString& url) {
        m_notifier.notify(tr("URL Not Copied"),
                          tr("The desktop refused to put %1 on the clipboard.").arg(url));
    });
    const auto forwardFailed = [this](const QString& host, qint64 port, const QString& reason) {
        m_notifier.notify(tr("Port Not Forwarded"),
                          tr("Port %1 on %2: %3").arg(QString::number(port), host, reason));
    };
    connect(&m_actions, &ServerActions::forwardFailed, this, forwardFailed);
    connect(&m_forwards, &Forwards::failed, this, forwardFailed);
    // A new server of a host that forwards them all is opened from its notification.
    m_notices.setOpenAction(
        [&notifier](const QString& title, const QString& body, const QString& action,
                    std::function<void()> onAction) {
            notifier.notify(title, body, action, std::move(onAction));
        },
        [this](const ListeningPort& record) {
            return !record.host.isEmpty() &&
                   m_store.get(settings::autoForward).contains(record.host);
        },
        [this](const ListeningPort& record) { m_actions.forwardAndOpen(record); });
    m_forwards.publishStates(forwardStatesPath());
}

TrayProgram::~TrayProgram() = default;

void TrayProgram::openSettings() {
    if (!m_settings)
        m_settings = std::make_unique<SettingsWindow>(m_store);
    m_settings->open();
}

void TrayProgram::openServers() {
    if (!m_servers) {
        m_servers = std::make_unique<ServersWindow>(m_actions);
        connect(m_servers.get(), &ServersWindow::settingsRequested, this,
                &TrayProgram::openSettings);
        connect(m_servers.get(), &ServersWindow::quitRequested, this, &TrayProgram::quitRequested);
    }
    startMonitor();
    m_servers->open();
}

void TrayProgram::showSearch(const QStringList& terms) {
    openServers();
    m_servers->openFiltered(terms);
}

void TrayProgram::startMonitor() {
    if (!m_monitor.isStarted())
        m_monitor.start();
}

SearchCatalog TrayProgram::searchCatalog() {
    SearchCatalog catalog;
    catalog.find = [this](const QStringList& terms) { return m_search.find(terms); };
    catalog.describe = [this](const QString& id) { return m_search.describe(id); };
    catalog.open = [this](const QString& id) { m_search.open(id); };
    catalog.copyUrl = [this](const QString& id) { m_search.copyUrl(id); };
    catalog.stop = [this](const QString& id) { m_search.stop(id); };
    catalog.showAll = [this](const QStringList& terms) { showSearch(terms); };
    catalog.prepare = [this] { startMonitor(); };
    return catalog;
}

void TrayProgram::showTrayIcon(bool statusNotifier) {
    // Qt exports the menu over D-Bus exactly when a StatusNotifierItem host is
    // registered; a panel then draws it from the exported labels.
    m_menu.setLabelStyle(statusNotifier ? LabelStyle::DBusMenu : LabelStyle::Widgets);
    // A StatusNotifierItem host draws a symbolic icon in the panel's own
    // colour; an XEmbed tray shows the pixels it gets, so the coloured one.
    m_trayIcon = std::make_unique<QSystemTrayIcon>(statusNotifier ? harborwatchTrayIcon()
                                                                  : harborwatchIcon());
    QSystemTrayIcon* icon = m_trayIcon.get();
    icon->setToolTip(m_menu.toolTip());
    icon->setContextMenu(m_menu.menu());
    connect(&m_menu, &TrayMenu::toolTipChanged, icon, &QSystemTrayIcon::setToolTip);
    // A click opens the same menu as the context click, drawn by the program;
    // X11 knows where the pointer is, other hosts show the menu themselves.
    connect(icon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger &&
                    QGuiApplication::platformName() == QLatin1String("xcb"))
                    m_menu.popupMenu()->popup(QCursor::pos());
            });
    icon->show();
    // The menu exists from now on: its first appearance starts the monitor.
    m_menu.appear();
}
