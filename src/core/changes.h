#pragma once

#include "core/filter.h"
#include "core/listening_port.h"

#include <QList>

// How one scan's list differs from the list before it, in events: servers that
// started or stopped listening. Ports compare by machine and number.
struct PortChanges {
    QList<ListeningPort> started; // in the order of the new list
    QList<ListeningPort> stopped; // in list order (see listedBefore)
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
// sources nothing can be told apart, and nothing is an event. Linear in the
// sizes of the lists.
PortChanges comparePorts(const QList<ListeningPort>& before, const ScanFilter& beforeFilter,
                         const QList<ListeningPort>& now, const ScanFilter& nowFilter);
