#include "window/servers_window.h"

#include "actions/server_actions.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QScreen>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// The size of a window opened for the first time.
constexpr QSize firstSize{900, 480};

QTableView* newTable(QAbstractItemModel* model) {
    auto* table = new QTableView;
    table->setModel(model);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setHighlightSections(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

// A button that shows the action while the action is visible.
QToolButton* buttonFor(QAction* action) {
    auto* button = new QToolButton;
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    QObject::connect(action, &QAction::visibleChanged, button,
                     [button, action] { button->setVisible(action->isVisible()); });
    return button;
}

} // namespace

ServersWindow::ServersWindow(ServerActions& actions, QWidget* parent)
    : QMainWindow(parent), m_actions(actions), m_model(actions), m_proxy(m_model) {
    setObjectName(QStringLiteral("servers"));
    setWindowTitle(tr("Servers"));

    auto* split = new QSplitter(Qt::Vertical);
    split->setChildrenCollapsible(false);
    split->addWidget(buildServersPart());
    split->addWidget(buildOthersSection());
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    layout->addWidget(split);
    setCentralWidget(central);

    buildProgramMenu();
    menuBar()->addMenu(m_serverMenu);

    // A window never closed is still remembered where the program quits.
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (isVisible())
            savePlace();
    });
    updateCommands();
}

// The filter, grouping, servers' table and the row's buttons.
QWidget* ServersWindow::buildServersPart() {
    m_filter = new QLineEdit;
    m_filter->setObjectName(QStringLiteral("filter"));
    m_filter->setPlaceholderText(tr("Filter by port, name, framework, project or host"));
    m_filter->setClearButtonEnabled(true);
    connect(m_filter, &QLineEdit::textChanged, this, &ServersWindow::filterChanged);

    m_grouping = new QComboBox;
    m_grouping->addItem(tr("No grouping"), int(ServersModel::Grouping::None));
    m_grouping->addItem(tr("Group by project"), int(ServersModel::Grouping::Project));
    m_grouping->addItem(tr("Group by host"), int(ServersModel::Grouping::Host));
    connect(m_grouping, &QComboBox::currentIndexChanged, this, [this] {
        m_model.setGrouping(ServersModel::Grouping(m_grouping->currentData().toInt()));
        updateSpans();
    });

    m_state = new QLabel;
    m_state->setObjectName(QStringLiteral("state"));
    m_state->setTextFormat(Qt::PlainText);
    m_state->setWordWrap(true);
    m_state->hide();

    m_table = newTable(&m_proxy);
    m_table->setObjectName(QStringLiteral("serversTable"));
    m_table->setSortingEnabled(true);
    m_table->sortByColumn(ServersModel::Port, Qt::AscendingOrder);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->horizontalHeader()->resizeSection(ServersModel::Port, 70);
    m_table->horizontalHeader()->resizeSection(ServersModel::Kind, 160);
    connect(m_table, &QTableView::doubleClicked, this, [this] { m_commands.open->trigger(); });
    connect(m_table->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ServersWindow::updateCommands);
    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ServersWindow::updateCommands);
    for (const auto& changed :
         {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(&m_proxy, changed, this, [this] {
            updateSpans();
            updateCommands();
        });
    connect(&m_proxy, &QAbstractItemModel::layoutChanged, this, &ServersWindow::updateSpans);
    connect(&m_proxy, &QAbstractItemModel::modelReset, this, &ServersWindow::updateSpans);
    connect(&m_proxy, &QAbstractItemModel::dataChanged, this, &ServersWindow::updateCommands);
    connect(&m_actions, &ServerActions::forceStopOffered, this, &ServersWindow::updateCommands);

    buildCommands();
    connect(m_table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        if (currentServer() || !currentHost().isEmpty())
            m_serverMenu->popup(m_table->viewport()->mapToGlobal(at));
    });

    auto* top = new QHBoxLayout;
    top->addWidget(m_filter, 1);
    top->addWidget(m_grouping);
    auto* buttons = new QHBoxLayout;
    for (QAction* action : {m_commands.open, m_commands.copyUrl, m_commands.openFolder,
                            m_commands.stop, m_commands.forceStop})
        buttons->addWidget(buttonFor(action));
    buttons->addStretch(1);
    auto* part = new QWidget;
    auto* servers = new QVBoxLayout(part);
    servers->setContentsMargins(0, 0, 0, 0);
    servers->addLayout(top);
    servers->addWidget(m_state);
    servers->addWidget(m_table, 1);
    servers->addLayout(buttons);
    return part;
}

// Other Listeners: a second section, shown while there is something in it.
QWidget* ServersWindow::buildOthersSection() {
    m_othersSorted = new QSortFilterProxyModel(this);
    m_othersSorted->setSourceModel(&m_others);
    m_othersSorted->setDynamicSortFilter(true);
    m_othersSorted->sort(OtherListenersModel::Port);
    m_othersTable = newTable(m_othersSorted);
    m_othersTable->setObjectName(QStringLiteral("othersTable"));
    m_othersTable->horizontalHeader()->resizeSection(OtherListenersModel::Port, 70);
    m_othersLine = new QLabel;
    m_othersLine->setTextFormat(Qt::PlainText);
    m_showOther = new QAction(tr("Show"), this);
    connect(m_showOther, &QAction::triggered, this, [this] {
        if (const ListeningPort* other = currentOther(); other && !other->process.isEmpty())
            m_actions.allow(other->process);
    });
    const auto showable = [this] {
        const ListeningPort* other = currentOther();
        m_showOther->setEnabled(other && !other->process.isEmpty());
        m_showOther->setText(
            m_showOther->isEnabled() ? tr("Show %1").arg(displayName(other->process)) : tr("Show"));
    };
    connect(m_othersTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            showable);
    connect(m_othersSorted, &QAbstractItemModel::rowsRemoved, this, showable);
    connect(m_othersTable, &QTableView::doubleClicked, m_showOther, &QAction::trigger);
    showable();
    m_othersSection = new QWidget;
    auto* others = new QVBoxLayout(m_othersSection);
    others->setContentsMargins(0, 0, 0, 0);
    auto* heading = new QLabel(tr("Other Listeners"));
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    auto* othersTop = new QHBoxLayout;
    othersTop->addWidget(heading, 1);
    othersTop->addWidget(buttonFor(m_showOther));
    others->addLayout(othersTop);
    others->addWidget(m_othersLine);
    others->addWidget(m_othersTable, 1);
    m_othersSection->hide();
    return m_othersSection;
}

void ServersWindow::buildProgramMenu() {
    QMenu* program = menuBar()->addMenu(tr("&Harborwatch"));
    m_refresh = program->addAction(tr("Refresh"));
    m_refresh->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(m_refresh, &QAction::triggered, &m_actions.monitor(), &PortMonitor::scan);
    m_settings = program->addAction(tr("Settings…"));
    m_settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(m_settings, &QAction::triggered, this, &ServersWindow::settingsRequested);
    program->addSeparator();
    QAction* find = program->addAction(tr("Find"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(find, &QAction::triggered, this, [this] {
        m_filter->setFocus();
        m_filter->selectAll();
    });
    program->addSeparator();
    QAction* closing = program->addAction(tr("Close Window"));
    closing->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    connect(closing, &QAction::triggered, this, &QWidget::close);
    m_quit = program->addAction(tr("Quit"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(m_quit, &QAction::triggered, this, &ServersWindow::quitRequested);
}

ServersWindow::~ServersWindow() {
    follow(false);
}

void ServersWindow::buildCommands() {
    m_serverMenu = new QMenu(tr("&Server"), this);
    const auto add = [this](const QString& text, auto act) {
        QAction* action = m_serverMenu->addAction(text);
        connect(action, &QAction::triggered, this, [this, act](bool checked) {
            if (const std::optional<ListeningPort> server = currentServer())
                act(*server, checked);
        });
        return action;
    };
    ServerActions& actions = m_actions;
    m_commands.open = add(tr("Open in Browser"), [&actions](const ListeningPort& server, bool) {
        if (server.host.isEmpty())
            actions.openInBrowser(server);
        else
            actions.forwardAndOpen(server);
    });
    // Return opens, wherever the focus is in the window: typing a port in the
    // filter and pressing Return opens its server.
    m_commands.open->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
    m_commands.copyUrl = add(tr("Copy URL"), [&actions](const ListeningPort& server, bool) {
        if (server.host.isEmpty())
            actions.copyUrl(server);
        else
            actions.copyForwardedUrl(server);
    });
    m_commands.openFolder = add(tr("Open Folder"), [&actions](const ListeningPort& server, bool) {
        actions.openFolder(server);
    });
    m_serverMenu->addSeparator();
    m_commands.label = add(
        tr("Label…"), [&actions](const ListeningPort& server, bool) { actions.editLabel(server); });
    m_commands.useHttps = add(tr("Use HTTPS"), [&actions](const ListeningPort& server, bool on) {
        actions.setHttps(server, on);
    });
    m_commands.useHttps->setCheckable(true);
    m_commands.notify = add(tr("Notify"), [&actions](const ListeningPort& server, bool on) {
        actions.setNotify(server, on);
    });
    m_commands.notify->setCheckable(true);
    m_serverMenu->addSeparator();
    m_commands.stop = add(tr("Stop Server"),
                          [&actions](const ListeningPort& server, bool) { actions.stop(server); });
    // In the table only: in the filter field Delete deletes text.
    m_commands.stop->setShortcut(QKeySequence(Qt::Key_Delete));
    m_commands.stop->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(m_commands.stop);
    m_commands.forceStop = add(tr("Force Stop"), [&actions](const ListeningPort& server, bool) {
        actions.forceStop(server);
    });
    m_commands.stopForward = add(tr("Stop Forward"), [&actions](const ListeningPort& server, bool) {
        actions.stopForward(server.host, server.port);
    });
    // A host's actions: also for a group's row, which is no server.
    m_serverMenu->addSeparator();
    m_commands.forwardAll = m_serverMenu->addAction(tr("Forward All"));
    connect(m_commands.forwardAll, &QAction::triggered, this, [this] {
        if (const QString host = currentHost(); !host.isEmpty())
            m_actions.forwardAll(host);
    });
    m_commands.stopAllForwards = m_serverMenu->addAction(tr("Stop All Forwards"));
    connect(m_commands.stopAllForwards, &QAction::triggered, this, [this] {
        if (const QString host = currentHost(); !host.isEmpty())
            m_actions.stopAllForwards(host);
    });
}

QString ServersWindow::currentHost() const {
    const QModelIndex current = m_proxy.mapToSource(m_table->currentIndex());
    if (!current.isValid() || !m_table->selectionModel()->isRowSelected(
                                  m_table->currentIndex().row(), m_table->currentIndex().parent()))
        return {};
    return m_model.host(current.row());
}

std::optional<ListeningPort> ServersWindow::currentServer() const {
    const QModelIndex current = m_proxy.mapToSource(m_table->currentIndex());
    if (!current.isValid() || !m_table->selectionModel()->isRowSelected(
                                  m_table->currentIndex().row(), m_table->currentIndex().parent()))
        return std::nullopt;
    if (const ListeningPort* server = m_model.record(current.row()))
        return *server;
    return std::nullopt;
}

const ListeningPort* ServersWindow::currentOther() const {
    const QModelIndex current = m_othersSorted->mapToSource(m_othersTable->currentIndex());
    return current.isValid() ? m_others.listener(current.row()) : nullptr;
}

void ServersWindow::updateCommands() {
    const QModelIndex current = m_proxy.mapToSource(m_table->currentIndex());
    const int row = current.isValid() ? current.row() : -1;
    const ServerPresentation* shown = currentServer() ? m_model.presentation(row) : nullptr;
    const bool local = shown && shown->record().host.isEmpty();
    const bool remote = shown && !local;
    m_commands.open->setEnabled(shown);
    m_commands.open->setText(remote ? tr("Forward and Open") : tr("Open in Browser"));
    m_commands.copyUrl->setEnabled(shown);
    m_commands.openFolder->setEnabled(local && !shown->details().folder.isEmpty());
    // A choice is kept by port of this machine.
    for (QAction* choice : {m_commands.label, m_commands.useHttps, m_commands.notify})
        choice->setEnabled(local);
    m_commands.useHttps->setChecked(local && shown->https());
    m_commands.notify->setChecked(local && shown->choice().notify);
    m_commands.stop->setEnabled(shown);
    m_commands.stop->setText(shown && shown->isContainer() ? tr("Stop Container")
                                                           : tr("Stop Server"));
    m_commands.forceStop->setVisible(shown && m_actions.offersForceStop(shown->record()));
    m_commands.stopForward->setVisible(remote);
    m_commands.stopForward->setEnabled(remote && m_model.forwardedPort(row) > 0);
    // Forward All while a server of the host is not forwarded; Stop All
    // Forwards while one is.
    const QString host = currentHost();
    bool unforwarded = false;
    bool forwarded = false;
    for (int i = 0; i < m_model.rowCount(); ++i) {
        if (const ListeningPort* server = m_model.record(i); server && server->host == host) {
            const bool has = m_model.forwardedPort(i) > 0;
            forwarded = forwarded || has;
            unforwarded = unforwarded || !has;
        }
    }
    forwarded = forwarded || !m_actions.forwards().of(host).isEmpty();
    for (QAction* hostAction : {m_commands.forwardAll, m_commands.stopAllForwards})
        hostAction->setVisible(!host.isEmpty());
    m_commands.forwardAll->setEnabled(!host.isEmpty() && unforwarded);
    m_commands.stopAllForwards->setEnabled(!host.isEmpty() && forwarded);
}

// A group's row spans the table.
void ServersWindow::updateSpans() {
    m_table->clearSpans();
    if (m_model.grouping() == ServersModel::Grouping::None)
        return;
    for (int row = 0; row < m_proxy.rowCount(); ++row) {
        if (m_proxy.index(row, 0).data(ServersModel::IsGroupRole).toBool())
            m_table->setSpan(row, 0, 1, ServersModel::ColumnCount);
    }
}

void ServersWindow::filterChanged(const QString& text) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    m_proxy.setTerms(text.split(space, Qt::SkipEmptyParts));
    if (!currentServer())
        selectFirstServer();
    updateCommands();
}

void ServersWindow::selectFirstServer() {
    for (int row = 0; row < m_proxy.rowCount(); ++row) {
        const QModelIndex first = m_proxy.index(row, 0);
        if (!first.data(ServersModel::IsGroupRole).toBool()) {
            m_table->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect |
                                                                  QItemSelectionModel::Rows);
            return;
        }
    }
}

void ServersWindow::follow(bool live) {
    m_model.setLive(live);
    for (const QMetaObject::Connection& connection : std::as_const(m_following))
        disconnect(connection);
    m_following.clear();
    if (!live)
        return;
    PortMonitor& monitor = m_actions.monitor();
    for (const auto& changed : {&PortMonitor::portsChanged, &PortMonitor::scanErrorChanged,
                                &PortMonitor::problemsChanged, &PortMonitor::otherListenersChanged})
        m_following << connect(&monitor, changed, this, &ServersWindow::showState);
    showState();
    updateSpans();
    updateCommands();
}

void ServersWindow::showState() {
    const PortMonitor& monitor = m_actions.monitor();
    const bool impossible = monitor.filter().rangeIsReversed();
    QStringList lines;
    if (!monitor.scanError().isEmpty())
        lines << tr("Port scan failed: %1").arg(monitor.scanError());
    if (monitor.ports().isEmpty() && monitor.isStarted())
        lines << (impossible ? reversedRangeText() : tr("No ports running"));
    for (auto problem = monitor.problems().cbegin(); problem != monitor.problems().cend();
         ++problem)
        lines << problemText(problem.key(), problem.value());
    m_state->setText(lines.join(QLatin1Char('\n')));
    m_state->setVisible(!lines.isEmpty());

    m_others.show(monitor.otherListeners());
    m_othersLine->setText(reversedRangeText());
    m_othersLine->setVisible(impossible);
    m_othersTable->setVisible(!impossible);
    m_othersSection->setVisible(impossible || !monitor.otherListeners().isEmpty());
}

void ServersWindow::open() {
    if (!m_placed) {
        m_placed = true;
        placeOnScreen();
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    if (!currentServer())
        selectFirstServer();
}

void ServersWindow::openFiltered(const QStringList& terms) {
    m_filter->setText(terms.join(QLatin1Char(' ')));
    open();
}

void ServersWindow::placeOnScreen() {
    const QRect saved = m_actions.monitor().settings().get(settings::serversWindow);
    if (!saved.isValid()) {
        resize(firstSize);
        return;
    }
    // Where it was, unless no screen shows that place any more.
    const QList<QScreen*> screens = QGuiApplication::screens();
    const bool onScreen = std::any_of(screens.cbegin(), screens.cend(), [&saved](QScreen* s) {
        return s->availableGeometry().intersects(saved);
    });
    if (onScreen)
        setGeometry(saved);
    else
        resize(saved.size());
}

void ServersWindow::savePlace() {
    SettingsStore& store = m_actions.monitor().settings();
    if (store.get(settings::serversWindow) != geometry())
        store.set(settings::serversWindow, geometry());
}

void ServersWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    follow(true);
    // Whether traffic passes through the forwards is looked at again.
    m_actions.forwards().check();
}

void ServersWindow::hideEvent(QHideEvent* event) {
    QMainWindow::hideEvent(event);
    follow(false);
    // Minimising is a spontaneous hide: the window keeps its place.
    if (!event->spontaneous())
        savePlace();
}
