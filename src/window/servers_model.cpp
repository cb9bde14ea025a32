#include "window/servers_model.h"

#include "actions/server_actions.h"
#include "config/settings_store.h"
#include "core/display_text.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"

#include <QFont>
#include <QHash>
#include <QSet>

#include <algorithm>

ServersModel::ServersModel(ServerActions& actions, QObject* parent)
    : RowsModel(parent), m_actions(actions) {}

ServersModel::~ServersModel() {
    setLive(false);
}

void ServersModel::setLive(bool live) {
    if (live == m_live)
        return;
    m_live = live;
    for (const QMetaObject::Connection& connection : std::as_const(m_following))
        disconnect(connection);
    m_following.clear();
    if (!live)
        return;
    PortMonitor& monitor = m_actions.monitor();
    m_following << connect(&monitor, &PortMonitor::portsChanged, this, &ServersModel::update)
                << connect(&monitor, &PortMonitor::detailsChanged, this, &ServersModel::update)
                << connect(&m_actions.forwards(), &Forwards::changed, this, &ServersModel::update)
                << connect(&monitor.settings(), &SettingsStore::changed, this,
                           [this](const QString& key) {
                               if (key == settings::ports.name)
                                   update();
                           });
    update();
}

void ServersModel::setGrouping(Grouping grouping) {
    if (grouping == m_grouping)
        return;
    m_grouping = grouping;
    if (!m_live)
        return;
    update();
    // Every row's group key changed with the grouping, not only theirs whose group did.
    if (!m_rows.isEmpty())
        emit dataChanged(index(0, 0), index(int(m_rows.size() - 1), ColumnCount - 1));
}

QString ServersModel::groupOf(const ServerPresentation& shown) const {
    switch (m_grouping) {
    case Grouping::None:
        return {};
    case Grouping::Project:
        return shown.details().project;
    case Grouping::Host:
        return shown.record().host;
    }
    return {};
}

void ServersModel::update() {
    const PortMonitor& monitor = m_actions.monitor();
    const settings::PortChoices choices = monitor.settings().get(settings::ports);
    const bool grouped = m_grouping != Grouping::None;

    // What every listed server shows now.
    QHash<ListeningPort, ServerTableRow> now;
    QList<ListeningPort> order;
    QSet<QString> groups;
    for (const ListeningPort& port : monitor.ports()) {
        ServerTableRow row;
        row.record = port;
        row.shown = ServerPresentation(port, monitor.details(port), serverChoice(choices, port));
        row.group = groupOf(row.shown);
        row.uptime = row.shown.uptime();
        if (!port.host.isEmpty())
            row.forward = m_actions.forwards().forwardOf(port).value_or(PortForward{});
        if (grouped)
            groups.insert(row.group);
        order.append(port);
        now.insert(port, std::move(row));
    }

    // Groups whose row must be looked at again: their servers changed.
    QSet<QString> touched;
    removeRowsWhere([&](const ServerTableRow& row) {
        if (row.isGroup)
            return !groups.contains(row.group);
        if (now.contains(row.record))
            return false;
        touched.insert(row.group);
        return true;
    });
    QSet<QString> shownGroups;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        ServerTableRow& row = m_rows[i];
        if (row.isGroup) {
            shownGroups.insert(row.group);
            continue;
        }
        ServerTableRow fresh = now.take(row.record);
        if (fresh.shown != row.shown || fresh.forward != row.forward || fresh.group != row.group) {
            touched << row.group << fresh.group;
            row = std::move(fresh);
            emit dataChanged(index(int(i), 0), index(int(i), ColumnCount - 1));
        } else if (fresh.uptime != row.uptime) {
            row.uptime = fresh.uptime;
            emit dataChanged(index(int(i), Uptime), index(int(i), Uptime));
        }
    }

    QList<ServerTableRow> added;
    QStringList newGroups(groups.cbegin(), groups.cend());
    newGroups.sort();
    for (const QString& group : std::as_const(newGroups)) {
        if (!shownGroups.contains(group))
            added.append({true, group, {}, {}, {}, {}});
    }
    for (const ListeningPort& port : std::as_const(order)) {
        if (const auto found = now.constFind(port); found != now.cend()) {
            touched.insert(found->group);
            added.append(*found);
        }
    }
    appendRows(added);
    if (!grouped)
        return;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].isGroup && touched.contains(m_rows[i].group))
            emit dataChanged(index(int(i), 0), index(int(i), ColumnCount - 1));
    }
}

const ListeningPort* ServersModel::record(int row) const {
    if (row < 0 || row >= m_rows.size() || m_rows[row].isGroup)
        return nullptr;
    return &m_rows[row].record;
}

const ServerPresentation* ServersModel::presentation(int row) const {
    if (row < 0 || row >= m_rows.size() || m_rows[row].isGroup)
        return nullptr;
    return &m_rows[row].shown;
}

qint64 ServersModel::forwardedPort(int row) const {
    return row >= 0 && row < m_rows.size() ? m_rows[row].forward.localPort : 0;
}

QString ServersModel::host(int row) const {
    if (row < 0 || row >= m_rows.size())
        return {};
    if (m_rows[row].isGroup)
        return m_grouping == Grouping::Host ? m_rows[row].group : QString();
    return m_rows[row].record.host;
}

int ServersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ServersModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ServerTableRow& row = m_rows[index.row()];
    if (role == GroupRole) {
        // This machine first, servers without a project last.
        if (m_grouping == Grouping::Host)
            return row.group.isEmpty() ? QStringLiteral("0") : QStringLiteral("1") + row.group;
        if (m_grouping == Grouping::Project)
            return row.group.isEmpty() ? QStringLiteral("1") : QStringLiteral("0") + row.group;
        return QString();
    }
    if (role == IsGroupRole)
        return row.isGroup;
    if (row.isGroup) {
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        if (index.column() != Port || (role != Qt::DisplayRole && role != SortRole))
            return {};
        if (!row.group.isEmpty())
            return displayName(row.group);
        return m_grouping == Grouping::Host ? tr("This machine") : tr("No project");
    }
    const ServerPresentation& shown = row.shown;
    switch (role) {
    case Qt::ToolTipRole:
        return shown.detailLines().join(QLatin1Char('\n'));
    case Qt::TextAlignmentRole:
        if (index.column() == Port)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    case SortRole:
        if (index.column() == Port)
            return row.record.port;
        if (index.column() == Uptime)
            return shown.uptimeSeconds().value_or(-1);
        return data(index, Qt::DisplayRole);
    case Qt::DisplayRole:
        switch (Column(index.column())) {
        case Port:
            return row.record.port;
        case Name:
            return shown.name();
        case Kind:
            return displayName(shown.kind());
        case Project:
            return shown.project();
        case Host:
            return shown.host();
        case Address:
            return forwardedTitle(shown.address(), row.record.port, row.forward);
        case Uptime:
            return row.uptime;
        case ColumnCount:
            break;
        }
        return {};
    default:
        return {};
    }
}

QVariant ServersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (Column(section)) {
    case Port:
        return tr("Port");
    case Name:
        return tr("Name");
    case Kind:
        return tr("Framework or Label");
    case Project:
        return tr("Project");
    case Host:
        return tr("Host");
    case Address:
        return tr("Address");
    case Uptime:
        return tr("Uptime");
    case ColumnCount:
        break;
    }
    return {};
}

ServersProxy::ServersProxy(ServersModel& model, QObject* parent)
    : QSortFilterProxyModel(parent), m_model(model) {
    setSourceModel(&model);
    setSortRole(ServersModel::SortRole);
    setDynamicSortFilter(true);
    sort(ServersModel::Port, Qt::AscendingOrder);
}

void ServersProxy::setTerms(const QStringList& terms) {
    if (terms == m_terms)
        return;
    m_terms = terms;
    invalidateFilter();
}

bool ServersProxy::serverAccepted(int sourceRow) const {
    const ServerPresentation* shown = m_model.presentation(sourceRow);
    return shown && shown->matches(m_terms);
}

// A group's row stays while one of its servers does.
bool ServersProxy::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    const QModelIndex row = m_model.index(sourceRow, 0);
    if (!row.data(ServersModel::IsGroupRole).toBool())
        return serverAccepted(sourceRow);
    const QString group = row.data(ServersModel::GroupRole).toString();
    for (int i = 0; i < m_model.rowCount(); ++i) {
        const QModelIndex member = m_model.index(i, 0);
        if (!member.data(ServersModel::IsGroupRole).toBool() &&
            member.data(ServersModel::GroupRole).toString() == group && serverAccepted(i))
            return true;
    }
    return false;
}

bool ServersProxy::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    // Qt asks lessThan(right, left) to sort in descending order: what stays
    // in place whatever the order (groups ascending, each group's row first)
    // is answered the other way round then.
    const bool ascending = sortOrder() == Qt::AscendingOrder;
    const auto fixed = [ascending](bool leftFirst, bool rightFirst) {
        return ascending ? leftFirst : rightFirst;
    };
    if (m_model.grouping() != ServersModel::Grouping::None) {
        const QString leftGroup = left.data(ServersModel::GroupRole).toString();
        const QString rightGroup = right.data(ServersModel::GroupRole).toString();
        if (leftGroup != rightGroup) {
            const int order = leftGroup.compare(rightGroup, Qt::CaseInsensitive);
            const bool leftFirst = order != 0 ? order < 0 : leftGroup < rightGroup;
            return fixed(leftFirst, !leftFirst);
        }
        const bool leftIsGroup = left.data(ServersModel::IsGroupRole).toBool();
        const bool rightIsGroup = right.data(ServersModel::IsGroupRole).toBool();
        if (leftIsGroup || rightIsGroup)
            return fixed(leftIsGroup && !rightIsGroup, rightIsGroup && !leftIsGroup);
    }
    const QVariant a = left.data(ServersModel::SortRole);
    const QVariant b = right.data(ServersModel::SortRole);
    if (a.typeId() == QMetaType::LongLong && b.typeId() == QMetaType::LongLong) {
        if (a.toLongLong() != b.toLongLong())
            return a.toLongLong() < b.toLongLong();
    } else if (const int order = QString::compare(a.toString(), b.toString(), Qt::CaseInsensitive);
               order != 0) {
        return order < 0;
    }
    // Equal in the column: this machine's first, then by host and port.
    const ListeningPort* l = m_model.record(left.row());
    const ListeningPort* r = m_model.record(right.row());
    return l && r && listedBefore(*l, *r);
}

OtherListenersModel::OtherListenersModel(QObject* parent) : RowsModel(parent) {}

void OtherListenersModel::show(const QList<ListeningPort>& listeners) {
    const QSet<ListeningPort> now(listeners.cbegin(), listeners.cend());
    QSet<ListeningPort> shown;
    removeRowsWhere([&](const ListeningPort& listener) {
        if (!now.contains(listener))
            return true;
        shown.insert(listener);
        return false;
    });
    QList<ListeningPort> added;
    for (const ListeningPort& listener : listeners) {
        if (!shown.contains(listener))
            added.append(listener);
    }
    appendRows(added);
}

const ListeningPort* OtherListenersModel::listener(int row) const {
    return row >= 0 && row < m_rows.size() ? &m_rows[row] : nullptr;
}

int OtherListenersModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant OtherListenersModel::data(const QModelIndex& index, int role) const {
    const ListeningPort* other = index.isValid() ? listener(index.row()) : nullptr;
    if (!other)
        return {};
    if (role == Qt::TextAlignmentRole && index.column() == Port)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    if (index.column() == Port)
        return other->port;
    // The holder could not be seen (another user's process).
    return other->process.isEmpty() ? tr("unknown process") : displayName(other->process);
}

QVariant OtherListenersModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    return section == Port ? tr("Port") : tr("Name");
}
