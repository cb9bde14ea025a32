#pragma once

#include "core/listening_port.h"
#include "core/port_forwarding.h"
#include "core/presentation.h"

#include <QAbstractTableModel>
#include <QList>
#include <QMetaObject>
#include <QSortFilterProxyModel>
#include <QStringList>

class ServerActions;

// Rows kept in step with a list by removing the rows that left and appending
// those that came, so that a view keeps its selection and scroll position.
template <typename Row> class RowsModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(m_rows.size());
    }

protected:
    using QAbstractTableModel::QAbstractTableModel;

    // Removes every row for which `gone` holds, a run of neighbours at a time.
    template <typename Gone> void removeRowsWhere(Gone gone) {
        for (qsizetype end = m_rows.size(); end > 0;) {
            if (!gone(m_rows[end - 1])) {
                --end;
                continue;
            }
            qsizetype begin = end - 1;
            while (begin > 0 && gone(m_rows[begin - 1]))
                --begin;
            beginRemoveRows({}, int(begin), int(end - 1));
            m_rows.remove(begin, end - begin);
            endRemoveRows();
            end = begin;
        }
    }
    void appendRows(const QList<Row>& rows) {
        if (rows.isEmpty())
            return;
        beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size() - 1));
        m_rows.append(rows);
        endInsertRows();
    }

    QList<Row> m_rows;
};

// One row of the Servers window's table: a server, or a group's heading.
struct ServerTableRow {
    bool isGroup = false;
    QString group; // the group it is in (or is); empty while not grouped
    ListeningPort record;
    ServerPresentation shown;
    QString uptime;           // as last announced
    PortForward forward = {}; // a host's server's forward here; local port 0 when none
};

// Every listed server — this machine's, containers', each host's — as one
// row of a table, its cells given by its presentation. Servers can be
// grouped by project or host: each group then has a row of its own, which
// ServersProxy keeps above its servers.
//
// While live it follows the monitor, the forwards and the choices for ports:
// rows that left are removed, rows that came are appended and rows whose
// presentation changed are announced, never a reset. While not live it does
// nothing at all, and setLive(true) brings it up to date.
class ServersModel : public RowsModel<ServerTableRow> {
    Q_OBJECT
public:
    enum Column { Port, Name, Kind, Project, Host, Address, Uptime, ColumnCount };
    enum Role {
        SortRole = Qt::UserRole + 1, // what a column sorts by
        GroupRole,                   // the group's sort key; empty while not grouped
        IsGroupRole,                 // true for a group's row
    };
    enum class Grouping { None, Project, Host };

    // `actions` must outlive the model.
    explicit ServersModel(ServerActions& actions, QObject* parent = nullptr);
    ~ServersModel() override;

    void setLive(bool live);
    bool isLive() const { return m_live; }
    void setGrouping(Grouping grouping);
    Grouping grouping() const { return m_grouping; }

    // The server of a row; null for a group's row or a row out of range.
    const ListeningPort* record(int row) const;
    const ServerPresentation* presentation(int row) const;
    // The port here that a host's server is forwarded to; 0 when none.
    qint64 forwardedPort(int row) const;
    // The host of a row: a host's server's, or, grouped by host, the group's;
    // empty for this machine.
    QString host(int row) const;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Brings the rows in line with the monitor now.
    void update();

private:
    QString groupOf(const ServerPresentation& shown) const;

    ServerActions& m_actions;
    bool m_live = false;
    Grouping m_grouping = Grouping::None;
    QList<QMetaObject::Connection> m_following;
};

// The servers' rows filtered by terms as one types (see
// ServerPresentation::matches()) and sorted by any column; grouped rows stay
// under their group's row, groups in ascending order whichever way a column
// sorts.
class ServersProxy : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit ServersProxy(ServersModel& model, QObject* parent = nullptr);

    void setTerms(const QStringList& terms);
    const QStringList& terms() const { return m_terms; }
    ServersModel& servers() const { return m_model; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool serverAccepted(int sourceRow) const;

    ServersModel& m_model;
    QStringList m_terms;
};

// The listeners in the range whose process is not allowed: port and name.
class OtherListenersModel : public RowsModel<ListeningPort> {
    Q_OBJECT
public:
    enum Column { Port, Name, ColumnCount };

    explicit OtherListenersModel(QObject* parent = nullptr);

    // Removes the listeners that left, appends those that came.
    void show(const QList<ListeningPort>& listeners);
    const ListeningPort* listener(int row) const;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
};
