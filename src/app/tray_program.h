#pragma once

#include "actions/server_actions.h"
#include "app/server_search.h"
#include "app/tray_menu.h"
#include "monitor/change_notices.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"

#include <QObject>

#include <memory>

class DesktopNotifier;
class QSystemTrayIcon;
class SettingsStore;
class ServersWindow;
class SettingsWindow;

// The tray program for the life of the process: the one monitor and all that
// tells of it or acts on it — the notifications of starts and stops, stopping
// servers, the forwards, the tray icon and its menu, the desktop's search, and
// the Servers and settings windows, each made the first time it is asked for.
// Failures of an action (no browser, a refused copy, a forward not made) are
// told as notifications, since the menu has closed by then and there may be
// no window to show them in.
//
// The monitor starts when it is first needed: the tray icon appearing, the
// Servers window opening or a search asking.
class TrayProgram : public QObject {
    Q_OBJECT
public:
    // Both must outlive the program. The registry chooses the sources (the
    // program's own unless a test gives others).
    TrayProgram(SettingsStore& store, DesktopNotifier& notifier,
                Registry registry = sourceRegistry(), QObject* parent = nullptr);
    ~TrayProgram() override;

    PortMonitor& monitor() { return m_monitor; }
    TrayMenu& menu() { return m_menu; }
    ServerActions& actions() { return m_actions; }

    // Shows the settings window, or raises the one already shown.
    void openSettings();
    SettingsWindow* settingsWindow() const { return m_settings.get(); }
    // Shows the Servers window, or raises the one already shown.
    void openServers();
    // Opens the Servers window filtered by the terms of a search.
    void showSearch(const QStringList& terms);
    ServersWindow* serversWindow() const { return m_servers.get(); }

    // Starts the monitor unless it runs.
    void startMonitor();
    // What the desktop's search providers ask of the program.
    SearchCatalog searchCatalog();

    // Puts the icon in the tray: `statusNotifier` when a StatusNotifierItem
    // host draws it (and its menu, from the exported labels), else an XEmbed
    // tray or none. Its first appearance starts the monitor.
    void showTrayIcon(bool statusNotifier);

signals:
    void quitRequested();

private:
    SettingsStore& m_store;
    DesktopNotifier& m_notifier;
    // Declared after what it uses and before what uses it, so it is destroyed
    // (killing a running lister) before them.
    PortMonitor m_monitor;
    ChangeNotices m_notices;
    StopController m_stops;
    Forwards m_forwards;
    ServerActions m_actions;
    ServerSearch m_search;
    TrayMenu m_menu;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<SettingsWindow> m_settings;
    std::unique_ptr<ServersWindow> m_servers;
};
