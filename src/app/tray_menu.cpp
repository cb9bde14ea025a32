#include "app/tray_menu.h"

#include "app/host_menus.h"
#include "app/menu_disposal.h"

#include "config/settings_store.h"
#include "core/display_text.h"
#include "core/procfs.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "platform/desktop_links.h"
#include "settings/settings_window.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QHash>
#include <QInputDialog>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QUrl>

#include <algorithm>

QString TrayMenu::literalMenuText(QString text, LabelStyle style) {
    if (style == LabelStyle::Widgets) // "&&" is Qt's escape for a plain "&"
        return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    // Qt exports a label with its first "&" (unless it is the last character)
    // turned into "_", and every other character as it is; a panel reads "_x"
    // as a mnemonic on x and "__" as "_". So every "_" is doubled, and the
    // first "&" is doubled into "&&", which Qt sends as "_&": a mnemonic on
    // the "&" itself, shown as "&". Later "&"s are plain text to a panel.
    text.replace(QLatin1Char('_'), QStringLiteral("__"));
    if (const qsizetype first = text.indexOf(QLatin1Char('&')); first >= 0)
        text.insert(first, QLatin1Char('&'));
    return text;
}

QString TrayMenu::uptimeText(qint64 seconds) {
    if (seconds < 60)
        return tr("up %1 s").arg(seconds);
    if (seconds < 3600)
        return tr("up %1 min").arg(seconds / 60);
    if (seconds < 86400)
        return tr("up %1 h").arg(seconds / 3600);
    return tr("up %1 d").arg(seconds / 86400);
}

QStringList TrayMenu::detailLines(const ListeningPort& port, const ServerDetails& details,
                                  const QString& label) {
    QStringList lines;
    QStringList names;
    if (!label.isEmpty())
        names << displayName(label);
    if (!details.framework.isEmpty())
        names << details.framework;
    if (!names.isEmpty())
        lines << names.join(QStringLiteral(" · "));
    if (const std::optional<ContainerFacts>& container = details.container) {
        QStringList service;
        for (const QString& part : {container->project, container->service}) {
            if (!part.isEmpty())
                service << part;
        }
        lines << (service.isEmpty() ? displayName(container->image)
                                    : tr("%1 · %2").arg(displayName(container->image),
                                                        displayName(service.join(QLatin1Char('/')))));
        lines << tr("container %1").arg(container->id.left(12));
    }
    if (!details.project.isEmpty() && !details.folder.isEmpty())
        lines << tr("%1 — %2").arg(displayName(details.project),
                                   displayName(withHomeAsTilde(details.folder, QDir::homePath())));
    if (!details.commandLine.isEmpty())
        lines << elideMiddle(displayName(details.commandLine), 60);
    QStringList facts;
    if (port.pid > 0)
        facts << tr("PID %1").arg(port.pid);
    if (const auto seconds = secondsRunning(details.startTime))
        facts << uptimeText(*seconds);
    if (!details.address.isEmpty())
        facts << details.address;
    if (!facts.isEmpty())
        lines << facts.join(QStringLiteral(" · "));
    return lines;
}

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

TrayMenu::TrayMenu(PortMonitor& monitor, StopController& stops, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_stops(stops),
      m_hosts(new HostMenus(monitor, stops, this)) {
    connect(m_hosts, &HostMenus::browserFailed, this, &TrayMenu::browserFailed);
    connect(m_hosts, &HostMenus::copyFailed, this, &TrayMenu::copyFailed);
    connect(m_hosts, &HostMenus::forwardFailed, this, &TrayMenu::forwardFailed);
    m_shownPorts = localServers(m_monitor.ports());
    m_shownError = m_monitor.scanError();
    m_shownOthers = m_monitor.otherListeners();
    m_shownProblems = m_monitor.problems();
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
    connect(&m_stops, &StopController::forceStopOffered, this, &TrayMenu::offerForceStop);
    connect(&m_monitor.settings(), &SettingsStore::saveErrorChanged, this,
            [this] { emit toolTipChanged(toolTip()); });
    connect(&m_monitor.settings(), &SettingsStore::changed, this, [this](const QString& key) {
        if (key == settings::ports.name)
            showDetails();
    });
}

void TrayMenu::build(View& view) {
    view.menu = std::make_unique<QMenu>();
    QMenu* menu = view.menu.get();
    view.commandsSeparator = menu->addSeparator();

    view.refresh = menu->addAction(tr("Refresh"));
    view.refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(view.refresh, &QAction::triggered, &m_monitor, &PortMonitor::scan);

    view.settings = menu->addAction(tr("Settings..."));
    view.settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(view.settings, &QAction::triggered, this, &TrayMenu::openSettings);

    menu->addSeparator();

    view.quit = menu->addAction(tr("Quit"));
    view.quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(view.quit, &QAction::triggered, this, &TrayMenu::quitRequested);

    updateServerItems(view);
    updateOtherListeners(view);
    // The hosts' items go between this machine's servers and Other Listeners.
    m_hosts->attach(menu, view.style, [&view] {
        return view.othersSeparator ? view.othersSeparator : view.commandsSeparator;
    });
    menu->installEventFilter(this);
}

// The settings window goes first: it refers to the monitor, and so may
// whatever it has open.
TrayMenu::~TrayMenu() {
    delete m_labelDialog;
    m_settings.reset();
}

QString TrayMenu::submenuTitle(const ListeningPort& port, LabelStyle style, const QString& kind) {
    // One arg() call with every value: a "%1" inside a name stays text.
    const QString number = QString::number(port.port);
    const QString process = literalMenuText(displayName(port.process), style);
    if (kind.isEmpty())
        return tr("%1 - %2").arg(number, process);
    constexpr int kindCells = 24;
    return tr("%1 - %2 · %3")
        .arg(number, process, literalMenuText(elideEnd(displayName(kind), kindCells), style));
}

QString TrayMenu::kindOf(const ServerDetails& details, const settings::PortChoice& choice) {
    return choice.label.isEmpty() ? details.framework : choice.label;
}

settings::PortChoice TrayMenu::choiceIn(const settings::PortChoices& choices,
                                        const ListeningPort& port) {
    return port.host.isEmpty() ? choices.value(port.port) : settings::PortChoice{};
}

settings::PortChoice TrayMenu::choiceOf(const ListeningPort& port) const {
    return choiceIn(m_monitor.settings().values().ports, port);
}

bool TrayMenu::usesHttps(const ListeningPort& port) const {
    return choiceOf(port).https.value_or(m_monitor.details(port).https);
}

QString TrayMenu::urlOf(const ListeningPort& port) const {
    return serverUrl(port.port, m_monitor.details(port).address, usesHttps(port));
}

void TrayMenu::changeChoice(const ListeningPort& port,
                            const std::function<void(settings::PortChoice&)>& change) {
    settings::PortChoice choice = choiceOf(port);
    change(choice);
    // A failed save is told by the tooltip, as for every other setting.
    setPortChoice(m_monitor.settings(), port.port, choice);
}

// A small dialog that does not block the menu: the label is set when the user
// accepts it, and removed when it is accepted empty.
void TrayMenu::editLabel(const ListeningPort& port) {
    delete m_labelDialog;
    m_labelDialog = new QInputDialog();
    m_labelDialog->setAttribute(Qt::WA_DeleteOnClose);
    m_labelDialog->setWindowTitle(tr("Label for Port %1").arg(port.port));
    m_labelDialog->setLabelText(tr("Name the server on port %1 (empty removes the label):")
                                    .arg(port.port));
    m_labelDialog->setTextValue(choiceOf(port).label);
    connect(m_labelDialog, &QInputDialog::textValueSelected, this,
            [this, port](const QString& text) {
                changeChoice(port, [label = text.trimmed()](settings::PortChoice& choice) {
                    choice.label = label;
                });
            });
    m_labelDialog->show();
    m_labelDialog->raise();
    m_labelDialog->activateWindow();
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
    const qsizetype count = m_shownPorts.size();
    QString tip = count == 0   ? tr("Harborwatch — no servers")
                  : count == 1 ? tr("Harborwatch — 1 server listening")
                               : tr("Harborwatch — %1 servers listening").arg(count);
    // One line per server, as many as the menu lists.
    const settings::PortChoices choices = m_monitor.settings().values().ports;
    for (const ListeningPort& port : m_shownPorts.first(std::min(count, maxServerRows))) {
        const ServerDetails details = m_monitor.details(port);
        const QString kind = kindOf(details, choiceIn(choices, port));
        const QString name = kind.isEmpty()
                                 ? displayName(port.process)
                                 : tr("%1 · %2").arg(displayName(port.process), displayName(kind));
        const QString number = QString::number(port.port);
        tip += QLatin1Char('\n') +
               (details.project.isEmpty()
                    ? tr("%1  %2").arg(number, name)
                    : tr("%1  %2 — %3").arg(number, name, displayName(details.project)));
    }
    if (count > maxServerRows)
        tip += QLatin1Char('\n') + tr("and %n more", nullptr, int(count - maxServerRows));
    if (!m_shownError.isEmpty())
        tip += QLatin1Char('\n') + tr("Port scan failed: %1").arg(m_shownError);
    for (auto problem = m_shownProblems.cbegin(); problem != m_shownProblems.cend(); ++problem) {
        // A host's reason is ssh's: the host is named with it.
        const QString& id = problem.key();
        tip += QLatin1Char('\n') +
               (id.startsWith(QLatin1String("ssh:"))
                    ? tr("%1: not connected — %2").arg(displayName(id.mid(4)), problem.value())
                    : problem.value());
    }
    if (const QString& unsaved = m_monitor.settings().saveError(); !unsaved.isEmpty())
        tip += QLatin1Char('\n') + tr("Settings could not be saved: %1").arg(unsaved);
    return tip;
}

void TrayMenu::appear() {
    if (m_started)
        return;
    m_started = true;
    m_monitor.start();
}

void TrayMenu::openSettings() {
    if (!m_settings)
        m_settings = std::make_unique<SettingsWindow>(m_monitor.settings());
    m_settings->open();
}

// Qt matches a shortcut only when the widget that holds the action sits in the
// active window; a tray menu belongs to no window, so its shortcuts would
// never fire. While the menu (or one of its submenus) is open, the key press
// is matched here instead, as a menu's key equivalents work while it is open.
bool TrayMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !qobject_cast<QMenu*>(watched))
        return false;
    const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
    for (QAction* command : {m_panel.refresh, m_panel.settings, m_panel.quit}) {
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
    if (local == m_shownPorts && m_monitor.scanError() == m_shownError &&
        m_monitor.problems() == m_shownProblems)
        return;
    m_shownPorts = local;
    m_shownError = m_monitor.scanError();
    m_shownProblems = m_monitor.problems();
    updateServerItems(m_panel);
    updateServerItems(m_own);
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
        if (m_stops.offersForceStop(port))
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
        addLine(tr("No ports running"), top);
    if (m_shownPorts.size() > shown)
        addLine(tr("and %n more", nullptr, int(m_shownPorts.size() - shown)), serversEnd(view));
    // A remote host's problem is told in that host's own submenu.
    for (auto problem = m_shownProblems.cbegin(); problem != m_shownProblems.cend(); ++problem) {
        if (!problem.key().startsWith(QLatin1String("ssh:")))
            addLine(problem.value(), serversEnd(view));
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
    row.shownDetails = m_monitor.details(port);
    row.shownChoice = choiceOf(port);
    row.menu = new QMenu(submenuTitle(port, view.style, kindOf(row.shownDetails, row.shownChoice)),
                         view.menu.get());
    QMenu* submenu = row.menu;
    // The address, folder and choices are looked up when chosen: they are the
    // latest, which may have arrived after the submenu was built.
    connect(submenu->addAction(tr("Open in Browser")), &QAction::triggered, this, [this, port] {
        const QString address = urlOf(port);
        if (!openInBrowser(address))
            emit browserFailed(address);
    });
    connect(submenu->addAction(tr("Copy URL")), &QAction::triggered, this, [this, port] {
        const QString address = urlOf(port);
        copyToClipboard(address, this, [this, address] { emit copyFailed(address); });
    });
    row.openFolder = submenu->addAction(tr("Open Folder"));
    connect(row.openFolder, &QAction::triggered, this, [this, port] {
        const QString folder = m_monitor.details(port).folder;
        if (!folder.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    });
    submenu->addSeparator();
    connect(submenu->addAction(tr("Label…")), &QAction::triggered, this,
            [this, port] { editLabel(port); });
    row.useHttps = submenu->addAction(tr("Use HTTPS"));
    row.useHttps->setCheckable(true);
    connect(row.useHttps, &QAction::triggered, this, [this, port](bool checked) {
        changeChoice(port, [checked](settings::PortChoice& choice) { choice.https = checked; });
    });
    row.notify = submenu->addAction(tr("Notify"));
    row.notify->setCheckable(true);
    connect(row.notify, &QAction::triggered, this, [this, port](bool checked) {
        changeChoice(port, [checked](settings::PortChoice& choice) { choice.notify = checked; });
    });
    submenu->addSeparator();
    const bool container = port.origin == QLatin1String("containers");
    QAction* stop = submenu->addAction(container ? tr("Stop Container") : tr("Stop Server"));
    stop->setObjectName(QStringLiteral("stopServer"));
    connect(stop, &QAction::triggered, this, [this, port] { m_stops.stop(port); });

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
    const QString title =
        submenuTitle(row.port, view.style, kindOf(row.shownDetails, row.shownChoice));
    if (row.menu->title() != title)
        row.menu->setTitle(title);
    fillDetailLines(view, row);
    row.useHttps->setChecked(row.shownChoice.https.value_or(row.shownDetails.https));
    row.notify->setChecked(row.shownChoice.notify);
}

// Replaces the inert lines at the top of the row's submenu. Lines whose text
// did not change keep their item, so an open submenu does not flicker.
void TrayMenu::fillDetailLines(const View& view, ServerRow& row) {
    QStringList texts;
    for (const QString& line : detailLines(row.port, row.shownDetails, row.shownChoice.label))
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
    row.openFolder->setEnabled(!row.shownDetails.folder.isEmpty());
}

void TrayMenu::showDetails() {
    bool tipChanged = false;
    const settings::PortChoices choices = m_monitor.settings().values().ports;
    for (View* view : {&m_panel, &m_own}) {
        for (ServerRow& row : view->rows) {
            ServerDetails details = m_monitor.details(row.port);
            settings::PortChoice choice = choiceIn(choices, row.port);
            if (details == row.shownDetails && choice == row.shownChoice)
                continue;
            tipChanged = tipChanged || details.project != row.shownDetails.project ||
                         kindOf(details, choice) != kindOf(row.shownDetails, row.shownChoice);
            row.shownDetails = std::move(details);
            row.shownChoice = std::move(choice);
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
    if (m_shownOthers.isEmpty())
        return;
    view.othersSeparator = view.menu->insertSeparator(view.commandsSeparator);
    view.othersMenu = new QMenu(tr("Other Listeners"), view.menu.get());
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
        auto* listener = new QMenu(submenuTitle(other, view.style), view.othersMenu);
        QAction* show =
            listener->addAction(tr("Show %1").arg(literalMenuText(displayName(name), view.style)));
        connect(show, &QAction::triggered, this, [this, name] {
            // As an edit in the Processes tab; the monitor follows and looks again.
            addAllowed(m_monitor.settings(), name);
        });
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
            [this, port = row.port] { m_stops.forceStop(port); });
    row.menu->insertAction(items.value(below + 1), force);
    row.forceStop = true;
}
