#include "core/changes.h"

#include <algorithm>

PortChanges comparePorts(const QList<ListeningPort>& before, const ScanFilter& beforeFilter,
                         const QList<ListeningPort>& now, const ScanFilter& nowFilter) {
    PortChanges changes;
    changes.filterChanged = !(beforeFilter == nowFilter);
    if (beforeFilter.sources != nowFilter.sources)
        return changes;

    QSet<PortPlace> beforePorts;
    beforePorts.reserve(before.size());
    for (const ListeningPort& p : before)
        beforePorts.insert(placeOf(p));
    QSet<PortPlace> nowPorts;
    nowPorts.reserve(now.size());
    for (const ListeningPort& p : now)
        nowPorts.insert(placeOf(p));

    for (const ListeningPort& p : now) {
        if (!beforePorts.contains(placeOf(p)) && beforeFilter.passes(p)) {
            changes.started.append(p);
            beforePorts.insert(placeOf(p)); // a port listed twice starts once
        }
    }
    for (const ListeningPort& p : before) {
        if (!nowPorts.contains(placeOf(p)) && nowFilter.passes(p)) {
            changes.stopped.append(p);
            nowPorts.insert(placeOf(p));
        }
    }
    std::stable_sort(changes.stopped.begin(), changes.stopped.end(), listedBefore);
    return changes;
}
