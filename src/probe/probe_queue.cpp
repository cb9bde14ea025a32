#include "probe/probe_queue.h"

#include "probe/port_look.h"

#include <algorithm>

ProbeQueue::ProbeQueue(int limit, QObject* parent) : QObject(parent), m_limit(std::max(1, limit)) {}

ProbeQueue::~ProbeQueue() {
    // The looks are children: deleting them closes their connections.
    for (PortLook* look : m_running.keys())
        look->disconnect(this);
}

void ProbeQueue::look(const ProbeTarget& target, QObject* context, Done done) {
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(),
                                      [&target](const Request& r) { return r.target == target; });
    if (waiting != m_waiting.end())
        waiting->waiters.append({context, std::move(done)});
    else
        m_waiting.append({target, {{context, std::move(done)}}});
    startLooks();
}

void ProbeQueue::startLooks() {
    const auto anyoneWaits = [](const Request& request) {
        return std::any_of(request.waiters.begin(), request.waiters.end(),
                           [](const Waiter& w) { return !w.context.isNull(); });
    };
    m_waiting.removeIf([&anyoneWaits](const Request& r) { return !anyoneWaits(r); });
    for (qsizetype i = 0; i < m_waiting.size() && m_running.size() < m_limit;) {
        const ProbeTarget target = m_waiting[i].target;
        const bool busy = std::any_of(m_running.keyBegin(), m_running.keyEnd(),
                                      [&target](PortLook* l) { return l->target() == target; });
        if (busy) {
            ++i;
            continue;
        }
        auto* look = new PortLook(target, this);
        m_running.insert(look, m_waiting.takeAt(i).waiters);
        connect(look, &PortLook::finished, this,
                [this, look](const PortAnswer& answer) { lookFinished(look, answer); });
        look->start();
    }
}

void ProbeQueue::lookFinished(PortLook* look, const PortAnswer& answer) {
    const QList<Waiter> waiters = m_running.take(look);
    look->deleteLater();
    const QPointer<ProbeQueue> self(this);
    for (const Waiter& waiter : waiters) {
        if (waiter.context)
            waiter.done(answer);
    }
    if (self)
        startLooks();
}
