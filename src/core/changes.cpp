#include "core/changes.h"

#include <QHash>
#include <QSet>

#include <algorithm>

namespace {

// The records of one list by port (of a machine): one, or two and more for
// a split port. A place listed twice counts once.
QHash<PortPlace, QList<const ListeningPort*>> byPort(const QList<ListeningPort>& list) {
    QHash<PortPlace, QList<const ListeningPort*>> ports;
    ports.reserve(list.size());
    for (const ListeningPort& p : list) {
        QList<const ListeningPort*>& here = ports[portOf(p)];
        const bool listed = std::any_of(here.cbegin(), here.cend(), [&p](const ListeningPort* q) {
            return placeOf(*q) == placeOf(p);
        });
        if (!listed)
            here.append(&p);
    }
    return ports;
}

// Pairs the records of a port before and now: the same process first, then
// the same address, then in order. What is left over started or stopped;
// a port that is held on as many addresses as before changed nothing,
// whichever process holds it now.
void matchPort(QList<const ListeningPort*> before, QList<const ListeningPort*> now,
               QList<const ListeningPort*>& started, QList<const ListeningPort*>& stopped) {
    const auto pairOff = [&](const auto& same) {
        for (qsizetype i = 0; i < now.size();) {
            const auto match =
                std::find_if(before.begin(), before.end(),
                             [&](const ListeningPort* b) { return same(*b, *now[i]); });
            if (match == before.end()) {
                ++i;
                continue;
            }
            before.erase(match);
            now.removeAt(i);
        }
    };
    pairOff([](const ListeningPort& a, const ListeningPort& b) { return a.pid == b.pid; });
    pairOff([](const ListeningPort& a, const ListeningPort& b) { return a.address == b.address; });
    const qsizetype paired = std::min(before.size(), now.size());
    started += now.mid(paired);
    stopped += before.mid(paired);
}

} // namespace

PortChanges comparePorts(const QList<ListeningPort>& before, const ScanFilter& beforeFilter,
                         const QList<ListeningPort>& now, const ScanFilter& nowFilter) {
    PortChanges changes;
    changes.filterChanged = !(beforeFilter == nowFilter);
    if (beforeFilter.sources != nowFilter.sources)
        return changes;

    const auto beforePorts = byPort(before);
    const auto nowPorts = byPort(now);
    QList<const ListeningPort*> startedList;
    QList<const ListeningPort*> stopped;
    for (auto it = nowPorts.cbegin(); it != nowPorts.cend(); ++it)
        matchPort(beforePorts.value(it.key()), it.value(), startedList, stopped);
    for (auto it = beforePorts.cbegin(); it != beforePorts.cend(); ++it) {
        if (!nowPorts.contains(it.key()))
            stopped += it.value();
    }

    // A start only where the earlier filter would have listed the record too,
    // a stop only where the new one still would: an edit is no event. Starts
    // in the order of the new list.
    const QSet<const ListeningPort*> started(startedList.cbegin(), startedList.cend());
    for (const ListeningPort& p : now) {
        if (started.contains(&p) && beforeFilter.passes(p))
            changes.started.append(p);
    }
    for (const ListeningPort* p : std::as_const(stopped)) {
        if (nowFilter.passes(*p))
            changes.stopped.append(*p);
    }
    std::stable_sort(changes.stopped.begin(), changes.stopped.end(), listedBefore);
    return changes;
}
