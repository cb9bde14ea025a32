#include "core/changes.h"

#include <algorithm>

PortChanges comparePorts(const QList<ListeningPort>& before, const ScanFilter& beforeFilter,
                         const QList<ListeningPort>& now, const ScanFilter& nowFilter) {
    PortChanges changes;
    changes.filterChanged = !(beforeFilter == nowFilter);
    if (beforeFilter.source != nowFilter.source)
        return changes;

    QSet<qint64> beforePorts;
    beforePorts.reserve(before.size());
    for (const ListeningPort& p : before)
        beforePorts.insert(p.port);
    QSet<qint64> nowPorts;
    nowPorts.reserve(now.size());
    for (const ListeningPort& p : now)
        nowPorts.insert(p.port);

    for (const ListeningPort& p : now) {
        if (!beforePorts.contains(p.port) && beforeFilter.passes(p)) {
            changes.started.append(p);
            beforePorts.insert(p.port); // a port listed twice starts once
        }
    }
    for (const ListeningPort& p : before) {
        if (!nowPorts.contains(p.port) && nowFilter.passes(p)) {
            changes.stopped.append(p);
            nowPorts.insert(p.port);
        }
    }
    std::sort(changes.stopped.begin(), changes.stopped.end(),
              [](const ListeningPort& a, const ListeningPort& b) { return a.port < b.port; });
    return changes;
}
