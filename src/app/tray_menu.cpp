#include "app/tray_menu.h"

#include "monitor/port_monitor.h"
#include "platform/desktop_links.h"
#include "scanner/display_text.h"
#include "settings/settings_window.h"

#include <QAction>
#include <QApplication>
#include <QHash>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

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

TrayMenu::TrayMenu(PortMonitor& monitor, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_menu(std::make_unique<QMenu>()) {
    m_commandsSeparator = m_menu->addSeparator();

    m_refresh = m_menu->addAction(tr("Refresh"));
    m_refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_refresh, &QAction::triggered, &m_monitor, &PortMonitor::scan);

    m_settingsAction = m_menu->addAction(tr("Settings..."));
    m_settingsAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(m_settingsAction, &QAction::triggered, this, &TrayMenu::openSettings);

    m_menu->addSeparator();

    m_quit = m_menu->addAction(tr("Quit"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_quit, &QAction::triggered, this, &TrayMenu::quitRequested);

    connect(&m_monitor, &PortMonitor::portsChanged, this, &TrayMenu::showMonitorState);
    connect(&m_monitor, &PortMonitor::scanErrorChanged, this, &TrayMenu::showMonitorState);
    m_shownPorts = m_monitor.ports();
    m_shownError = m_monitor.scanError();
    updateServerItems();
    m_menu->installEventFilter(this);
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
    if (style == m_labelStyle)
        return;
    m_labelStyle = style;
    // Every title changes: all submenus are made anew.
    for (const ServerRow& row : std::as_const(m_rows))
        dropRow(row);
    m_rows.clear();
    updateServerItems();
}

QString TrayMenu::toolTip() const {
    const qsizetype count = m_shownPorts.size();
    QString tip = count == 0   ? tr("Harborwatch — no servers")
                  : count == 1 ? tr("Harborwatch — 1 server listening")
                               : tr("Harborwatch — %1 servers listening").arg(count);
    if (!m_shownError.isEmpty())
        tip += QLatin1Char('\n') + tr("Port scan failed: %1").arg(m_shownError);
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
    for (QAction* command : {m_refresh, m_settingsAction, m_quit}) {
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
    updateServerItems();
    emit toolTipChanged(toolTip());
}

void TrayMenu::updateServerItems() {
    // Removed items may belong to the action being triggered right now, so
    // they are deleted once control is back in the event loop.
    for (const QPointer<QAction>& line : std::as_const(m_lines)) {
        if (!line)
            continue;
        m_menu->removeAction(line);
        line->deleteLater();
    }
    m_lines.clear();

    // Submenus of records that are still listed stay as they are, so that a
    // menu the user has open keeps its place while another server comes or
    // goes; only the records that left or arrived are removed or added.
    QHash<ListeningPort, qsizetype> oldRow;
    oldRow.reserve(m_rows.size());
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        oldRow.insert(m_rows[i].port, i);
    QList<ServerRow> rows;
    rows.reserve(m_shownPorts.size());
    qsizetype next = 0; // the first old row neither kept nor dropped yet
    for (const ListeningPort& port : std::as_const(m_shownPorts)) {
        if (const qsizetype found = oldRow.value(port, -1); found >= next) {
            while (next < found)
                dropRow(m_rows[next++]);
            rows.append(m_rows[next++]);
            continue;
        }
        QAction* before =
            next < m_rows.size() ? m_rows[next].menu->menuAction() : m_commandsSeparator;
        rows.append({port, addServerMenu(port, before)});
    }
    while (next < m_rows.size())
        dropRow(m_rows[next++]);
    m_rows = std::move(rows);

    QAction* top = m_rows.isEmpty() ? m_commandsSeparator : m_rows.first().menu->menuAction();
    const auto addLine = [this, top](const QString& text) {
        auto* line = new QAction(literalMenuText(text, m_labelStyle), m_menu.get());
        line->setEnabled(false);
        m_menu->insertAction(top, line);
        m_lines.append(line);
    };
    if (!m_shownError.isEmpty())
        addLine(tr("Port scan failed: %1").arg(m_shownError));
    if (m_shownPorts.isEmpty())
        addLine(tr("No ports running"));
}

void TrayMenu::dropRow(const ServerRow& row) {
    m_menu->removeAction(row.menu->menuAction());
    row.menu->deleteLater(); // its menu action goes with it
}

QMenu* TrayMenu::addServerMenu(const ListeningPort& port, QAction* before) {
    auto* submenu = new QMenu(submenuTitle(port, m_labelStyle), m_menu.get());
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
    m_menu->insertMenu(before, submenu);
    return submenu;
}
