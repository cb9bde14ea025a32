#pragma once

#include "scanner/listening_port.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class PortMonitor;
class QAction;
class QMenu;
class SettingsWindow;

// The tray icon's menu, built from the monitor: an optional failure line, one
// submenu per listening server (or "No ports running"), then "Refresh",
// "Settings..." and "Quit". The monitor publishes every two seconds; the menu
// is rebuilt only when what it shows changes, because some tray hosts flicker
// or close an open menu on every layout update. Submenus of servers that stay
// listed are kept as they are.
//
// It also owns the one settings window, created the first time it is asked for.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    explicit TrayMenu(PortMonitor& monitor, QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu* menu() const { return m_menu.get(); }
    // "Harborwatch — 2 servers listening", with the failure on a second line.
    QString toolTip() const;

    // The menu's first appearance (the tray icon showing it): starts the
    // monitor. Later calls do nothing.
    void appear();
    // Shows the settings window, or raises the one already shown.
    void openSettings();
    SettingsWindow* settingsWindow() const { return m_settings.get(); }

    QAction* refreshAction() const { return m_refresh; }
    QAction* settingsAction() const { return m_settingsAction; }
    QAction* quitAction() const { return m_quit; }

    // Who draws the menu: Qt itself (an XEmbed tray), or a panel from the
    // D-Bus menu that Qt exports for a StatusNotifierItem host. The two read
    // mnemonic marks differently, so process names are escaped for one or the
    // other.
    enum class LabelStyle { Widgets, DBusMenu };
    void setLabelStyle(LabelStyle style);

    // "<port> - <process>", the process name escaped so that it is shown
    // exactly as it is.
    static QString submenuTitle(const ListeningPort& port, LabelStyle style = LabelStyle::Widgets);
    // `text` escaped so that a menu drawn in `style` shows it exactly.
    static QString literalMenuText(QString text, LabelStyle style);

signals:
    void quitRequested();
    // "Open in Browser" found no browser to hand the address to.
    void browserFailed(const QString& url);
    // "Copy URL" was refused by the windowing system: the URL is not on the
    // clipboard.
    void copyFailed(const QString& url);
    void toolTipChanged(const QString& toolTip);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One listed server and its submenu (owned by the menu).
    struct ServerRow {
        ListeningPort port;
        QMenu* menu = nullptr;
    };

    void showMonitorState();
    void updateServerItems();
    void dropRow(const ServerRow& row);
    QMenu* addServerMenu(const ListeningPort& port, QAction* before);

    PortMonitor& m_monitor;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<SettingsWindow> m_settings;
    QAction* m_commandsSeparator = nullptr; // first of the fixed items
    QAction* m_refresh = nullptr;
    QAction* m_settingsAction = nullptr;
    QAction* m_quit = nullptr;
    // The items above the commands: the inert lines (failure, "No ports
    // running"), then one submenu per server.
    QList<QPointer<QAction>> m_lines;
    QList<ServerRow> m_rows;
    // What the menu shows now.
    QList<ListeningPort> m_shownPorts;
    QString m_shownError;
    LabelStyle m_labelStyle = LabelStyle::Widgets;
    bool m_started = false;
};
