#pragma once

#include "app/menu_text.h"
#include "core/listening_port.h"
#include "core/presentation.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class HostMenus;
class PortMonitor;
class QAction;
class QMenu;
class ServerActions;

// The tray icon's menu, built from the monitor: an optional failure line, one
// submenu per listening server of this machine (at most maxServerRows, then an
// inert line "and N more"; or "No ports running"), the hosts' submenus,
// "Other Listeners" when the range holds listeners that are not allowed, then
// "Refresh", "Servers…", "Settings..." and "Quit". A range whose From is above
// its To says so where the list would say "No ports running", and in Other
// Listeners. What a server's row and its inert lines
// say comes from its presentation (core/presentation.h); what its items do,
// from ServerActions. A source that lists nothing for the moment (no container
// engine answers) has a line of its own below the servers.
//
// The monitor publishes every two seconds; the menu is changed only where what
// it shows changes, because some tray hosts flicker or close an open menu on
// every layout update. Submenus of servers that stay listed are kept as they
// are.
//
// The same menu exists twice: menu() is the tray icon's context menu, which a
// StatusNotifierItem panel draws itself from the D-Bus menu Qt exports, and
// popupMenu() is the one the program draws on a click. The two read mnemonic
// marks differently, so each carries its names escaped for whoever draws it.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxServerRows = 50;

    // Both must outlive the menu.
    TrayMenu(PortMonitor& monitor, ServerActions& actions, QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu* menu() const { return m_panel.menu.get(); }
    QMenu* popupMenu() const { return m_own.menu.get(); }
    // See trayToolTip().
    QString toolTip() const;

    // The menu's first appearance (the tray icon showing it): starts the
    // monitor. Later calls do nothing.
    void appear();

    // The commands of menu(); popupMenu() has its own, which do the same.
    QAction* refreshAction() const { return m_panel.refresh; }
    QAction* serversAction() const { return m_panel.servers; }
    QAction* settingsAction() const { return m_panel.settings; }
    QAction* quitAction() const { return m_panel.quit; }

    // Who draws menu(); popupMenu() is always drawn by Qt.
    void setLabelStyle(LabelStyle style);

signals:
    void serversRequested();
    void settingsRequested();
    void quitRequested();
    void toolTipChanged(const QString& toolTip);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One listed server and its submenu (owned by the menu).
    struct ServerRow {
        ListeningPort port;
        QMenu* menu = nullptr;
        QList<QAction*> detailItems; // the inert lines and the separator below them
        ServerPresentation shown;
        QAction* open = nullptr;
        QAction* copyUrl = nullptr;
        QAction* copyAddress = nullptr;
        QAction* openFolder = nullptr;
        QAction* useHttps = nullptr;
        QAction* notify = nullptr;
        bool forceStop = false; // "Force Stop" is shown
    };
    // One of the two menus and what it shows.
    struct View {
        std::unique_ptr<QMenu> menu;
        LabelStyle style = LabelStyle::Widgets;
        QAction* commandsSeparator = nullptr; // first of the fixed items
        QAction* refresh = nullptr;
        QAction* servers = nullptr;
        QAction* settings = nullptr;
        QAction* quit = nullptr;
        // The inert lines (failure, "No ports running", "and N more").
        QList<QPointer<QAction>> lines;
        QList<ServerRow> rows;
        // "Other Listeners" and the separator above it; null when there are none.
        QMenu* othersMenu = nullptr;
        QAction* othersSeparator = nullptr;
    };

    void build(View& view);
    void showMonitorState();
    void updateServerItems(View& view);
    void dropRow(View& view, const ServerRow& row);
    ServerRow addServerRow(View& view, const ListeningPort& port, QAction* before);
    void fillDetailLines(const View& view, ServerRow& row);
    // Brings the row's title, detail lines and checks in line with what it shows.
    void refreshRow(const View& view, ServerRow& row);
    void showDetails();
    void updateOtherListeners(View& view);
    // The first item below the servers.
    QAction* serversEnd(const View& view) const;
    void offerForceStop(const ListeningPort& port);
    void addForceStop(ServerRow& row);

    PortMonitor& m_monitor;
    ServerActions& m_actions;
    HostMenus* m_hosts = nullptr;
    View m_panel;
    View m_own;
    // What the menus show now; m_shownPorts are this machine's.
    QList<ListeningPort> m_shownPorts;
    QList<ListeningPort> m_shownOthers;
    QString m_shownError;
    QMap<SourceId, QString> m_shownProblems;
    bool m_shownReversed = false; // the range's From is above its To
    bool m_started = false;
};
