#pragma once

#include "scanner/listening_port.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// What one scan is asked to list: the port range, the allowlist (none: every
// process) and the discovery source.
struct ScanFilter {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    std::optional<QSet<QString>> allowlist;
    QString source;

    // Whether `port` is listed under this filter, given that the source
    // finds it.
    bool passes(const ListeningPort& port) const {
        return port.port >= minPort && port.port <= maxPort &&
               (!allowlist || allowlist->contains(port.process));
    }
    friend bool operator==(const ScanFilter&, const ScanFilter&) = default;
};

// How one scan's list differs from the list before it, in events: servers that
// started or stopped listening. Ports compare by number.
struct PortChanges {
    QList<ListeningPort> started; // in the order of the new list
    QList<ListeningPort> stopped; // ascending by port, as they were listed
    // The filter changed between the two scans; ports that entered or left
    // the list only because of that are in neither list above.
    bool filterChanged = false;

    bool isEmpty() const { return started.isEmpty() && stopped.isEmpty(); }
};

// Compares the list `before`, found under `beforeFilter`, with `now`, found
// under `nowFilter`. A new port is a start only when the earlier filter would
// have listed it too, and a missing port a stop only when the new filter
// would still list it; so an edit of the range or the allowlist is no event,
// while a server stopping in the same scan still is. After a change of the
// source nothing can be told apart, and nothing is an event. Linear in the
// sizes of the lists.
PortChanges comparePorts(const QList<ListeningPort>& before, const ScanFilter& beforeFilter,
                         const QList<ListeningPort>& now, const ScanFilter& nowFilter);
