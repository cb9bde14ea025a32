#pragma once

#include "config/settings.h"
#include "core/listening_port.h"
#include "core/server_details.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class HostMenus;
class PortMonitor;
class QAction;
class QInputDialog;
class QMenu;
class SettingsWindow;
class StopController;

// The tray icon's menu, built from the monitor: an optional failure line, one
// submenu per listening server (at most maxServerRows, then an inert line "and
// N more"; or "No ports running"), "Other Listeners" when the range holds
// listeners that are not allowed, then "Refresh", "Settings..." and "Quit". A
// server's row is named by its label or framework as well as its process; its
// submenu starts with inert lines telling what it is (label and framework, or
// a container's image and id), its project, command line, pid, uptime and
// address, as far as they are known, then its actions. A source that lists
// nothing for the moment (no container engine answers) has a line of its own
// below the servers.
// The monitor publishes every two seconds; the menu is rebuilt only when what
// it shows changes, because some tray hosts flicker or close an open menu on
// every layout update. Submenus of servers that stay listed are kept as they
// are.
//
// The same menu exists twice: menu() is the tray icon's context menu, which a
// StatusNotifierItem panel draws itself from the D-Bus menu Qt exports, and
// popupMenu() is the one the program draws on a click. The two read mnemonic
// marks differently, so each carries its names escaped for whoever draws it.
//
// It also owns the one settings window, created the first time it is asked for.
class TrayMenu : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype maxServerRows = 50;

    TrayMenu(PortMonitor& monitor, StopController& stops, QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu* menu() const { return m_panel.menu.get(); }
    QMenu* popupMenu() const { return m_own.menu.get(); }
    // "Harborwatch — 2 servers listening", then one line per listed server
    // ("3000  node — shop", "and N more" past the menu's rows), then a scan failure and a failed
    // save of the settings on lines of their own.
    QString toolTip() const;

    // The menu's first appearance (the tray icon showing it): starts the
    // monitor. Later calls do nothing.
    void appear();
    // Shows the settings window, or raises the one already shown.
    void openSettings();
    SettingsWindow* settingsWindow() const { return m_settings.get(); }

    // The commands of menu(); popupMenu() has its own, which do the same.
    QAction* refreshAction() const { return m_panel.refresh; }
    QAction* settingsAction() const { return m_panel.settings; }
    QAction* quitAction() const { return m_panel.quit; }

    // Who draws menu(): Qt itself (an XEmbed tray), or a panel from the D-Bus
    // menu that Qt exports for a StatusNotifierItem host. popupMenu() is
    // always drawn by Qt.
    enum class LabelStyle { Widgets, DBusMenu };
    void setLabelStyle(LabelStyle style);

    // "<port> - <process>", or "<port> - <process> · <kind>" with a kind (a
    // label or framework, cut to a few words); the names escaped so that they
    // are shown exactly as they are.
    static QString submenuTitle(const ListeningPort& port, LabelStyle style = LabelStyle::Widgets,
                                const QString& kind = {});
    // What names a server beside its process: the user's label for its port,
    // else its framework; empty when neither is known.
    static QString kindOf(const ServerDetails& details, const settings::PortChoice& choice);
    // `text` escaped so that a menu drawn in `style` shows it exactly.
    static QString literalMenuText(QString text, LabelStyle style);

    // "up 45 s", "up 12 min", "up 2 h", "up 3 d": whole units, rounded down.
    static QString uptimeText(qint64 seconds);
    // The inert lines that open a server's submenu (project and folder,
    // command line, pid, uptime and address; for a container its image and
    // compose service, and its short id, first; the label and framework
    // before all), on one line each but not escaped for the menu; lines
    // without data are left out.
    static QStringList detailLines(const ListeningPort& port, const ServerDetails& details,
                                   const QString& label = {});

signals:
    void quitRequested();
    // "Open in Browser" found no browser to hand the address to.
    void browserFailed(const QString& url);
    // "Copy URL" was refused by the windowing system: the URL is not on the
    // clipboard.
    void copyFailed(const QString& url);
    // "Forward and Open" or "Copy URL" of another machine's server found no
    // forward to be had: `reason` is ssh's.
    void forwardFailed(const QString& host, qint64 port, const QString& reason);
    void toolTipChanged(const QString& toolTip);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // One listed server and its submenu (owned by the menu).
    struct ServerRow {
        ListeningPort port;
        QMenu* menu = nullptr;
        QList<QAction*> detailItems; // the inert lines and the separator below them
        ServerDetails shownDetails;
        settings::PortChoice shownChoice;
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
    // Brings the row's title, detail lines and checks in line with the
    // monitor's details and the user's choice for its port.
    void refreshRow(const View& view, ServerRow& row);
    void showDetails();
    // The user's choice for the record's port; ports of other machines have none.
    settings::PortChoice choiceOf(const ListeningPort& port) const;
    static settings::PortChoice choiceIn(const settings::PortChoices& choices,
                                         const ListeningPort& port);
    bool usesHttps(const ListeningPort& port) const;
    QString urlOf(const ListeningPort& port) const;
    void changeChoice(const ListeningPort& port,
                      const std::function<void(settings::PortChoice&)>& change);
    void editLabel(const ListeningPort& port);
    void updateOtherListeners(View& view);
    // The first item below the servers.
    QAction* serversEnd(const View& view) const;
    void offerForceStop(const ListeningPort& port);
    void addForceStop(ServerRow& row);

    PortMonitor& m_monitor;
    StopController& m_stops;
    HostMenus* m_hosts = nullptr;
    View m_panel;
    View m_own;
    std::unique_ptr<SettingsWindow> m_settings;
    QPointer<QInputDialog> m_labelDialog; // deletes itself when closed
    // What the menus show now; m_shownPorts are this machine's.
    QList<ListeningPort> m_shownPorts;
    QList<ListeningPort> m_shownOthers;
    QString m_shownError;
    QMap<QString, QString> m_shownProblems;
    bool m_started = false;
};
