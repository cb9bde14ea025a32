#pragma once

#include "actions/server_actions.h"
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
class SettingsWindow;

// The tray program for the life of the process: the one monitor and all that
// tells of it or acts on it — the notifications of starts and stops, stopping
// servers, the forwards, the tray icon and its menu, and the settings window,
// made the first time it is asked for. Failures of an action (no browser, a
// refused copy, a forward not made) are told as notifications, since the menu
// has closed by then and there is no window to show them in.
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
    TrayMenu m_menu;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    std::unique_ptr<SettingsWindow> m_settings;
};
