#pragma once

#include "core/listening_port.h"
#include "core/source_id.h"

#include <QList>
#include <QSet>
#include <QString>

#include <optional>

// What a scan lists: the listening sockets whose port lies in the inclusive
// range [minPort, maxPort] (neither bound validated), held by a process whose
// name is on the allowlist, matched exactly and case-sensitively. Without an
// allowlist every process counts.
//
// `sources` are the sources in force when the list was made, in the
// registry's order. They are no criterion for a record; lists made by
// different sources cannot be compared (see comparePorts()).
struct ScanFilter {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    std::optional<QSet<QString>> allowlist;
    QList<SourceId> sources = {};

    bool inRange(qint64 port) const { return port >= minPort && port <= maxPort; }
    // A range whose From is above its To: no port can be listed, whatever runs.
    bool rangeIsReversed() const { return minPort > maxPort; }
    bool allows(const QString& name) const { return !allowlist || allowlist->contains(name); }
    // Whether the record is listed under this filter, given that a source finds it.
    bool passes(const ListeningPort& port) const {
        return inRange(port.port) && (port.anyProcess || allows(port.process));
    }
    // The records that pass, in their order.
    QList<ListeningPort> apply(const QList<ListeningPort>& ports) const;

    friend bool operator==(const ScanFilter&, const ScanFilter&) = default;
};
