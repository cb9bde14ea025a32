#pragma once

#include "core/listening_port.h"
#include "window/servers_model.h"

#include <QList>
#include <QMainWindow>
#include <QMetaObject>
#include <QStringList>

#include <optional>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QSortFilterProxyModel;
class QTableView;
class ServerActions;

// The Servers window: one table of every listed server (this machine's,
// containers', each host's) with a filter field, sorting by any column and
// grouping by project or host; below it the listeners that are not allowed,
// each with "Show". The actions of the tray menu act on the current row,
// from the Server menu, the buttons under the table and the row's context
// menu; Return opens the server, Delete stops it (without asking, as the
// menu does).
//
// It follows the monitor only while it is shown; hidden it costs nothing and
// is brought up to date when shown again. Its place on the screen is kept in
// the settings ("serversWindow") when it is closed.
class ServersWindow : public QMainWindow {
    Q_OBJECT
public:
    // What can be done to the current server.
    struct ServerCommands {
        QAction* open = nullptr; // "Open in Browser", or "Forward and Open" for a host's server
        QAction* copyUrl = nullptr;
        QAction* openFolder = nullptr;
        QAction* label = nullptr;
        QAction* useHttps = nullptr;
        QAction* notify = nullptr;
        QAction* stop = nullptr; // "Stop Server" or "Stop Container"
        QAction* forceStop = nullptr;
        QAction* stopForward = nullptr;
        // For every server of the current row's host (or host group).
        QAction* forwardAll = nullptr;
        QAction* stopAllForwards = nullptr;
    };

    // `actions` must outlive the window.
    explicit ServersWindow(ServerActions& actions, QWidget* parent = nullptr);
    ~ServersWindow() override;

    // Shows the window, or raises and activates it when it is already shown.
    void open();
    // Opens it with the filter field holding `terms`.
    void openFiltered(const QStringList& terms);

    QTableView* table() const { return m_table; }
    QLineEdit* filterField() const { return m_filter; }
    QComboBox* groupingChoice() const { return m_grouping; }
    ServersModel& model() { return m_model; }
    ServersProxy& proxy() { return m_proxy; }
    // What the monitor says beside the servers: a failed scan, an empty or
    // impossible list, a source's problem; hidden when there is nothing.
    QLabel* stateLine() const { return m_state; }
    QWidget* othersSection() const { return m_othersSection; }
    QTableView* othersTable() const { return m_othersTable; }
    QLabel* othersLine() const { return m_othersLine; }
    QAction* showOtherAction() const { return m_showOther; }
    const ServerCommands& commands() const { return m_commands; }
    QMenu* serverMenu() const { return m_serverMenu; }
    QAction* refreshAction() const { return m_refresh; }
    QAction* settingsAction() const { return m_settings; }
    QAction* quitAction() const { return m_quit; }

    // The server of the current row; none for a group's row or no row.
    std::optional<ListeningPort> currentServer() const;
    // The host of the current row (a host's server, or a group of a host's
    // servers); empty for none or this machine.
    QString currentHost() const;

signals:
    void settingsRequested();
    void quitRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* buildServersPart();
    QWidget* buildOthersSection();
    void buildProgramMenu();
    void buildCommands();
    void follow(bool live);
    void showState();
    void updateCommands();
    void updateSpans();
    void filterChanged(const QString& text);
    void selectFirstServer();
    void placeOnScreen();
    void savePlace();
    const ListeningPort* currentOther() const;

    ServerActions& m_actions;
    ServersModel m_model;
    ServersProxy m_proxy;
    OtherListenersModel m_others;
    QSortFilterProxyModel* m_othersSorted = nullptr;
    QLineEdit* m_filter = nullptr;
    QComboBox* m_grouping = nullptr;
    QTableView* m_table = nullptr;
    QLabel* m_state = nullptr;
    QWidget* m_othersSection = nullptr;
    QTableView* m_othersTable = nullptr;
    QLabel* m_othersLine = nullptr;
    QAction* m_showOther = nullptr;
    ServerCommands m_commands;
    QMenu* m_serverMenu = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_settings = nullptr;
    QAction* m_quit = nullptr;
    QList<QMetaObject::Connection> m_following;
    bool m_placed = false;
};
