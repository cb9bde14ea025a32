#include "app/tray_menu.h"

#include "actions/server_actions.h"
#include "app/host_menus.h"
#include "app/menu_disposal.h"
#include "app/tray_tooltip.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "monitor/port_monitor.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

#include <algorithm>

namespace {

// The servers of this machine; other machines' are the hosts' menus.
QList<ListeningPort> localServers(const QList<ListeningPort>& ports) {
    QList<ListeningPort> local;
    for (const ListeningPort& port : ports) {
        if (port.host.isEmpty())
            local.append(port);
    }
    return local;
}

} // namespace

TrayMenu::TrayMenu(PortMonitor& monitor, ServerActions& actions, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_actions(actions),
      m_hosts(new HostMenus(actions, this)) {
    m_shownPorts = localServers(m_monitor.ports());
    m_shownError = m_monitor.scanError();
    m_shownOthers = m_monitor.otherListeners();
    m_shownProblems = m_monitor.problems();
    m_shownReversed = m_monitor.filter().rangeIsReversed();
    build(m_panel);
    build(m_own);
    connect(&m_monitor, &PortMonitor::portsChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor, &PortMonitor::scanErrorChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor, &PortMonitor::problemsChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor, &PortMonitor::otherListenersChanged, this, [this] {
        if (m_monitor.otherListeners() == m_shownOthers)
            return;
        m_shownOthers = m_monitor.otherListeners();
        updateOtherListeners(m_panel);
        updateOtherListeners(m_own);
    });
    connect(&m_monitor, &PortMonitor::detailsChanged, this, &TrayMenu::showDetails);
    connect(&m_actions, &ServerActions::forceStopOffered, this, &TrayMenu::offerForceStop);
    connect(&m_monitor.settings(), &SettingsStore::saveErrorChanged, this,
            [this] { emit toolTipChanged(toolTip()); });
    connect(&m_monitor.settings(), &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::ports.name)
            showDetails();
    });
}

TrayMenu::~TrayMenu() = default;

void TrayMenu::build(View& view) {
    view.menu = std::make_unique<QMenu>();
    QMenu* menu = view.menu.get();
    view.commandsSeparator = menu->addSeparator();

    view.refresh = menu->addAction(tr("Refresh"));
    view.refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(view.refresh, &QAction::triggered, &m_monitor, &PortMonitor::scan);

    view.servers = menu->addAction(tr("Servers…"));
    view.servers->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    connect(view.servers, &QAction::triggered, this, &TrayMenu::serversRequested);

    view.settings = menu->addAction(tr("Settings..."));
    view.settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(view.settings, &QAction::triggered, this, &TrayMenu::settingsRequested);

    menu->addSeparator();

    view.quit = menu->addAction(tr("Quit"));
    view.quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(view.quit, &QAction::triggered, this, &TrayMenu::quitRequested);

    updateServerItems(view);
    updateOtherListeners(view);
    // What answers on each port is looked at again when it is old.
    connect(menu, &QMenu::aboutToShow, &m_monitor, &PortMonitor::refreshAnswers);
    // The hosts' items go between this machine's servers and Other Listeners.
    m_hosts->attach(menu, view.style, [&view] {
        return view.othersSeparator ? view.othersSeparator : view.commandsSeparator;
    });
    menu->installEventFilter(this);
}

void TrayMenu::setLabelStyle(LabelStyle style) {
    if (style == m_panel.style)
        return;
    m_panel.style = style;
    // Every title changes: all submenus are made anew.
    for (const ServerRow& row : std::as_const(m_panel.rows))
        dropRow(m_panel, row);
    m_panel.rows.clear();
    updateServerItems(m_panel);
    updateOtherListeners(m_panel);
    m_hosts->setStyle(m_panel.menu.get(), style);
}

QString TrayMenu::toolTip() const {
    // One line per server, as many as the menu lists.
    QList<ServerPresentation> shown;
    for (const ListeningPort& port :
         m_shownPorts.first(std::min(m_shownPorts.size(), maxServerRows)))
        shown.append(m_monitor.present(port));
    return trayToolTip(shown, m_shownPorts.size(), m_shownError, m_shownProblems,
                       m_monitor.settings().saveError(), m_shownReversed);
}

void TrayMenu::appear() {
    if (m_started)
        return;
    m_started = true;
    // The Servers window or a search may have started it already.
    if (!m_monitor.isStarted())
        m_monitor.start();
}

// Qt matches a shortcut only when the widget that holds the action sits in the
// active window; a tray menu belongs to no window, so its shortcuts would
// never fire. While the menu (or one of its submenus) is open, the key press
// is matched here instead, as a menu's key equivalents work while it is open.
bool TrayMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !qobject_cast<QMenu*>(watched))
        return false;
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* command : {m_panel.refresh, m_panel.servers, m_panel.settings, m_panel.quit}) {
        if (command->shortcut() != pressed)
            continue;
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        command->trigger();
        return true;
    }
    return false;
}

void TrayMenu::showMonitorState() {
    const QList<ListeningPort> local = localServers(m_monitor.ports());
    const bool reversed = m_monitor.filter().rangeIsReversed();
    if (local == m_shownPorts && m_monitor.scanError() == m_shownError &&
        m_monitor.problems() == m_shownProblems && reversed == m_shownReversed)
        return;
    m_shownPorts = local;
    m_shownError = m_monitor.scanError();
    m_shownProblems = m_monitor.problems();
    const bool reversedChanged = reversed != m_shownReversed;
    m_shownReversed = reversed;
    updateServerItems(m_panel);
    updateServerItems(m_own);
    if (reversedChanged) {
        updateOtherListeners(m_panel);
        updateOtherListeners(m_own);
    }
    emit toolTipChanged(toolTip());
}

void TrayMenu::updateServerItems(View& view) {
    QMenu* menu = view.menu.get();
    // Removed items may belong to the action being triggered right now, so
    // they are deleted once control is back in the event loop.
    for (const QPointer<QAction>& line : std::as_const(view.lines)) {
        if (!line)
            continue;
        menu->removeAction(line);
        line->deleteLater();
    }
    view.lines.clear();

    // Submenus of records that are still listed stay as they are, so that a
    // menu the user has open keeps its place while another server comes or
    // goes; only the records that left or arrived are removed or added. A
    // flood of ports costs no more than the rows shown.
    const qsizetype shown = std::min(m_shownPorts.size(), maxServerRows);
    QHash<ListeningPort, qsizetype> oldRow;
    oldRow.reserve(view.rows.size());
    for (qsizetype i = 0; i < view.rows.size(); ++i)
        oldRow.insert(view.rows[i].port, i);
    QList<ServerRow> rows;
    rows.reserve(shown);
    qsizetype next = 0; // the first old row neither kept nor dropped yet
    for (qsizetype i = 0; i < shown; ++i) {
        const ListeningPort& port = m_shownPorts[i];
        if (const qsizetype found = oldRow.value(port, -1); found >= next) {
            while (next < found)
                dropRow(view, view.rows[next++]);
            rows.append(view.rows[next++]);
            continue;
        }
        QAction* before =
            next < view.rows.size() ? view.rows[next].menu->menuAction() : serversEnd(view);
        rows.append(addServerRow(view, port, before));
        if (m_actions.offersForceStop(port))
            addForceStop(rows.last());
    }
    while (next < view.rows.size())
        dropRow(view, view.rows[next++]);
    view.rows = std::move(rows);

    const auto addLine = [&view, menu](const QString& text, QAction* before) {
        auto* line = new QAction(literalMenuText(text, view.style), menu);
        line->setEnabled(false);
        menu->insertAction(before, line);
        view.lines.append(line);
    };
    QAction* top = view.rows.isEmpty() ? serversEnd(view) : view.rows.first().menu->menuAction();
    if (!m_shownError.isEmpty())
        addLine(tr("Port scan failed: %1").arg(m_shownError), top);
    if (m_shownPorts.isEmpty())
        addLine(m_shownReversed ? reversedRangeText() : tr("No ports running"), top);
    if (m_shownPorts.size() > shown)
        addLine(tr("and %n more", nullptr, int(m_shownPorts.size() - shown)), serversEnd(view));
    // A remote host's problem is told in that host's own submenu.
    for (auto problem = m_shownProblems.cbegin(); problem != m_shownProblems.cend(); ++problem) {
        if (!problem.key().isHost())
            addLine(problemText(problem.key(), problem.value()), serversEnd(view));
    }
}

void TrayMenu::dropRow(View& view, const ServerRow& row) {
    view.menu->removeAction(row.menu->menuAction());
    disposeOfMenu(row.menu); // its menu action goes with it
}

QAction* TrayMenu::serversEnd(const View& view) const {
    if (QAction* hosts = m_hosts->firstItem(view.menu.get()))
        return hosts;
    return view.othersSeparator ? view.othersSeparator : view.commandsSeparator;
}

TrayMenu::ServerRow TrayMenu::addServerRow(View& view, const ListeningPort& port, QAction* before) {
    ServerRow row;
    row.port = port;
    row.shown = m_monitor.present(port);
    row.menu = new QMenu(row.shown.title(literalFor(view.style)), view.menu.get());
    QMenu* submenu = row.menu;
    row.open = submenu->addAction(tr("Open in Browser"));
    connect(row.open, &QAction::triggered, this, [this, port] { m_actions.openInBrowser(port); });
    row.copyUrl = submenu->addAction(tr("Copy URL"));
    connect(row.copyUrl, &QAction::triggered, this, [this, port] { m_actions.copyUrl(port); });
    // For a server that answers something other than HTTP, in their place
    // (see refreshRow()).
    row.copyAddress = new QAction(tr("Copy Address"), submenu);
    connect(row.copyAddress, &QAction::triggered, this,
            [this, port] { m_actions.copyAddress(port); });
    row.openFolder = submenu->addAction(tr("Open Folder"));
    connect(row.openFolder, &QAction::triggered, this,
            [this, port] { m_actions.openFolder(port); });
    submenu->addSeparator();
    connect(submenu->addAction(tr("Label…")), &QAction::triggered, this,
            [this, port] { m_actions.editLabel(port); });
    row.useHttps = submenu->addAction(tr("Use HTTPS"));
    row.useHttps->setCheckable(true);
    connect(row.useHttps, &QAction::triggered, this,
            [this, port](bool checked) { m_actions.setHttps(port, checked); });
    row.notify = submenu->addAction(tr("Notify"));
    row.notify->setCheckable(true);
    connect(row.notify, &QAction::triggered, this,
            [this, port](bool checked) { m_actions.setNotify(port, checked); });
    submenu->addSeparator();
    QAction* stop =
        submenu->addAction(row.shown.isContainer() ? tr("Stop Container") : tr("Stop Server"));
    stop->setObjectName(QStringLiteral("stopServer"));
    connect(stop, &QAction::triggered, this, [this, port] { m_actions.stop(port); });

    refreshRow(view, row);
    // The uptime is told as of the moment the submenu opens.
    connect(submenu, &QMenu::aboutToShow, this, [this, &view, submenu] {
        for (ServerRow& shown : view.rows) {
            if (shown.menu == submenu)
                fillDetailLines(view, shown);
        }
    });

    submenu->installEventFilter(this);
    view.menu->insertMenu(before, submenu);
    return row;
}

void TrayMenu::refreshRow(const View& view, ServerRow& row) {
    const QString title = row.shown.title(literalFor(view.style));
    if (row.menu->title() != title)
        row.menu->setTitle(title);
    fillDetailLines(view, row);
    // Items in the menu or out of it, not hidden: a panel may show hidden ones.
    const bool http = row.shown.speaksHttp();
    const bool offersUrl = row.menu->actions().contains(row.open);
    if (http != offersUrl) {
        if (http) {
            row.menu->insertAction(row.copyAddress, row.open);
            row.menu->insertAction(row.copyAddress, row.copyUrl);
            row.menu->removeAction(row.copyAddress);
        } else {
            row.menu->insertAction(row.open, row.copyAddress);
            row.menu->removeAction(row.open);
            row.menu->removeAction(row.copyUrl);
        }
    }
    row.useHttps->setChecked(row.shown.https());
    row.notify->setChecked(row.shown.choice().notify);
}

// Replaces the inert lines at the top of the row's submenu. Lines whose text
// did not change keep their item, so an open submenu does not flicker.
void TrayMenu::fillDetailLines(const View& view, ServerRow& row) {
    QStringList texts;
    for (const QString& line : row.shown.detailLines())
        texts << literalMenuText(line, view.style);
    QStringList current;
    for (QAction* item : std::as_const(row.detailItems)) {
        if (!item->isSeparator())
            current << item->text();
    }
    if (current.size() == texts.size() && !texts.isEmpty()) {
        qsizetype i = 0;
        for (QAction* item : std::as_const(row.detailItems)) {
            if (item->isSeparator())
                continue;
            if (item->text() != texts[i])
                item->setText(texts[i]);
            ++i;
        }
    } else {
        for (QAction* item : std::as_const(row.detailItems)) {
            row.menu->removeAction(item);
            item->deleteLater();
        }
        row.detailItems.clear();
        QAction* first = row.menu->actions().value(0);
        for (const QString& text : std::as_const(texts)) {
            auto* line = new QAction(text, row.menu);
            line->setEnabled(false);
            row.menu->insertAction(first, line);
            row.detailItems.append(line);
        }
        row.detailItems.append(row.menu->insertSeparator(first));
    }
    row.openFolder->setEnabled(!row.shown.details().folder.isEmpty());
}

void TrayMenu::showDetails() {
    bool tipChanged = false;
    for (View* view : {&m_panel, &m_own}) {
        for (ServerRow& row : view->rows) {
            ServerPresentation now = m_monitor.present(row.port);
            if (now == row.shown)
                continue;
            tipChanged = tipChanged || now.toolTipLine() != row.shown.toolTipLine();
            row.shown = std::move(now);
            refreshRow(*view, row);
        }
    }
    if (tipChanged)
        emit toolTipChanged(toolTip());
}

// "Other Listeners" is made anew whenever its list changes, which is rare.
void TrayMenu::updateOtherListeners(View& view) {
    if (view.othersMenu) {
        view.menu->removeAction(view.othersSeparator);
        view.menu->removeAction(view.othersMenu->menuAction());
        view.othersSeparator->deleteLater();
        disposeOfMenu(view.othersMenu);
        view.othersMenu = nullptr;
        view.othersSeparator = nullptr;
    }
    if (m_shownOthers.isEmpty() && !m_shownReversed)
        return;
    view.othersSeparator = view.menu->insertSeparator(view.commandsSeparator);
    view.othersMenu = new QMenu(tr("Other Listeners"), view.menu.get());
    if (m_shownReversed) {
        view.othersMenu->addAction(reversedRangeText())->setEnabled(false);
        view.menu->insertMenu(view.commandsSeparator, view.othersMenu);
        return;
    }
    for (const ListeningPort& other :
         m_shownOthers.first(std::min(m_shownOthers.size(), maxServerRows))) {
        const QString name = other.process;
        if (name.isEmpty()) {
            // The holder could not be seen (another user's process): nothing to show.
            QAction* line = view.othersMenu->addAction(
                tr("%1 - unknown process").arg(QString::number(other.port)));
            line->setEnabled(false);
            continue;
        }
        auto* listener =
            new QMenu(ServerPresentation(other, {}).title(literalFor(view.style)), view.othersMenu);
        QAction* show =
            listener->addAction(tr("Show %1").arg(literalMenuText(displayName(name), view.style)));
        connect(show, &QAction::triggered, this, [this, name] { m_actions.allow(name); });
        listener->installEventFilter(this);
        view.othersMenu->addMenu(listener);
    }
    if (m_shownOthers.size() > maxServerRows) {
        QAction* more = view.othersMenu->addAction(
            tr("and %n more", nullptr, int(m_shownOthers.size() - maxServerRows)));
        more->setEnabled(false);
    }
    view.othersMenu->installEventFilter(this);
    view.menu->insertMenu(view.commandsSeparator, view.othersMenu);
}

void TrayMenu::offerForceStop(const ListeningPort& port) {
    for (View* view : {&m_panel, &m_own}) {
        for (ServerRow& row : view->rows) {
            if (row.port == port && !row.forceStop)
                addForceStop(row);
        }
    }
}

// Right below "Stop Server".
void TrayMenu::addForceStop(ServerRow& row) {
    const QList<QAction*> items = row.menu->actions();
    qsizetype below = 0;
    while (below < items.size() && items[below]->objectName() != QLatin1String("stopServer"))
        ++below;
    auto* force = new QAction(tr("Force Stop"), row.menu);
    connect(force, &QAction::triggered, this,
            [this, port = row.port] { m_actions.forceStop(port); });
    row.menu->insertAction(items.value(below + 1), force);
    row.forceStop = true;
}
