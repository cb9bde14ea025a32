#pragma once

#include "core/port_answer.h"
#include "probe/probe_target.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>

class PortLook;

// Looks at ports (see PortLook) a few at a time, so that a burst of new
// servers opens a handful of connections and not hundreds: at most `limit`
// looks run at once, never two at the same target, the others wait in the
// order they were asked for. Answers arrive on the queue's thread.
class ProbeQueue : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const PortAnswer&)>;

    static constexpr int defaultLimit = 4;

    explicit ProbeQueue(int limit = defaultLimit, QObject* parent = nullptr);
    // Ends the looks running (their connections closed) and drops those
    // waiting; no answer is given.
    ~ProbeQueue() override;

    // Looks at `target` when its turn comes and calls `done` with the answer,
    // unless `context` is gone by then (its look is then not made at all if it
    // has not started). Asked again while waiting, the target is looked at once
    // for both; asked while it is being looked at, it is looked at again after
    // that look, whose answer may be older than what the caller knows. `done`
    // may ask for more looks, but must not destroy the queue.
    void look(const ProbeTarget& target, QObject* context, Done done);

    int running() const { return int(m_running.size()); }
    int waiting() const { return int(m_waiting.size()); }

private:
    struct Waiter {
        QPointer<QObject> context;
        Done done;
    };
    struct Request {
        ProbeTarget target;
        QList<Waiter> waiters;
    };

    void startLooks();
    void lookFinished(PortLook* look, const PortAnswer& answer);

    int m_limit;
    QList<Request> m_waiting;
    QHash<PortLook*, QList<Waiter>> m_running;
};
