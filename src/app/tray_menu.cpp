#include "app/tray_menu.h"

#include "monitor/port_monitor.h"
#include "platform/desktop_links.h"
#include "platform/settings_store.h"
#include "scanner/display_text.h"
#include "settings/settings_window.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

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

TrayMenu::TrayMenu(PortMonitor& monitor, QObject* parent) : QObject(parent), m_monitor(monitor) {
    m_shownPorts = m_monitor.ports();
    m_shownError = m_monitor.scanError();
    build(m_panel);
    build(m_own);
    connect(&m_monitor, &PortMonitor::portsChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor, &PortMonitor::scanErrorChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor.settings(), &SettingsStore::saveErrorChanged, this,
            [this] { emit toolTipChanged(toolTip()); });
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
    menu->installEventFilter(this);
}

// The settings window goes first: it refers to the monitor, and so may
// whatever it has open.
TrayMenu::~TrayMenu() {
    m_settings.reset();
}

QString TrayMenu::submenuTitle(const ListeningPort& port, LabelStyle style) {
    // One arg() call with both values: a "%1" inside a process name stays text.
    return tr("%1 - %2").arg(QString::number(port.port),
                             literalMenuText(displayName(port.process), style));
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
}

QString TrayMenu::toolTip() const {
    const qsizetype count = m_shownPorts.size();
    QString tip = count == 0   ? tr("Harborwatch — no servers")
                  : count == 1 ? tr("Harborwatch — 1 server listening")
                               : tr("Harborwatch — %1 servers listening").arg(count);
    if (!m_shownError.isEmpty())
        tip += QLatin1Char('\n') + tr("Port scan failed: %1").arg(m_shownError);
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
        m_settings = std::make_unique<SettingsWindow>(m_monitor);
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
    if (m_monitor.ports() == m_shownPorts && m_monitor.scanError() == m_shownError)
        return;
    m_shownPorts = m_monitor.ports();
    m_shownError = m_monitor.scanError();
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
            next < view.rows.size() ? view.rows[next].menu->menuAction() : view.commandsSeparator;
        rows.append({port, addServerMenu(view, port, before)});
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
    QAction* top =
        view.rows.isEmpty() ? view.commandsSeparator : view.rows.first().menu->menuAction();
    if (!m_shownError.isEmpty())
        addLine(tr("Port scan failed: %1").arg(m_shownError), top);
    if (m_shownPorts.isEmpty())
        addLine(tr("No ports running"), top);
    if (m_shownPorts.size() > shown)
        addLine(tr("and %1 more").arg(m_shownPorts.size() - shown), view.commandsSeparator);
}

void TrayMenu::dropRow(View& view, const ServerRow& row) {
    view.menu->removeAction(row.menu->menuAction());
    row.menu->deleteLater(); // its menu action goes with it
}

QMenu* TrayMenu::addServerMenu(View& view, const ListeningPort& port, QAction* before) {
    auto* submenu = new QMenu(submenuTitle(port, view.style), view.menu.get());
    const qint64 number = port.port;
    connect(submenu->addAction(tr("Open in Browser")), &QAction::triggered, this, [this, number] {
        const QString url = localServerUrl(number);
        if (!openInBrowser(url))
            emit browserFailed(url);
    });
    connect(submenu->addAction(tr("Copy URL")), &QAction::triggered, this, [this, number] {
        const QString url = localServerUrl(number);
        copyToClipboard(url, this, [this, url] { emit copyFailed(url); });
    });
    submenu->addSeparator();
    connect(submenu->addAction(tr("Stop Server")), &QAction::triggered, this,
            [this, port] { m_monitor.stopProcess(port); });

    submenu->installEventFilter(this);
    view.menu->insertMenu(before, submenu);
    return submenu;
}
