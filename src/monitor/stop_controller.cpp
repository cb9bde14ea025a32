#include "monitor/stop_controller.h"

#include "monitor/port_monitor.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cstdio>

StopController::StopController(PortMonitor& monitor, Notify notify, QObject* parent)
    : QObject(parent), m_monitor(monitor), m_notify(std::move(notify)) {
    connect(&m_monitor, &PortMonitor::portsChanged, this, [this] {
        m_forceStopOffered.removeIf(
            [this](const ListeningPort& p) { return !m_monitor.listed(p).has_value(); });
    });
}

void StopController::stop(const ListeningPort& port) {
    request(port, false);
}

void StopController::forceStop(const ListeningPort& port) {
    request(port, true);
}

bool StopController::offersForceStop(const ListeningPort& port) const {
    return std::any_of(m_forceStopOffered.cbegin(), m_forceStopOffered.cend(),
                       [&port](const ListeningPort& p) { return sameProcess(p, port); });
}

void StopController::request(const ListeningPort& port, bool force) {
    QTimer::singleShot(rescanAfterStopMs, &m_monitor, &PortMonitor::scan);
    // A record the menu showed before the list changed may name a process
    // that is gone; only what is listed now is acted on.
    const std::optional<ListeningPort> listed = m_monitor.listed(port);
    ServerSource* source = listed ? m_monitor.sourceOf(*listed) : nullptr;
    if (!source) {
        refused(port, describeStopOutcome(StopOutcome::NotListed, port.port));
        return;
    }
    source->stop(*listed, force,
                 [self = QPointer(this), record = *listed, force](const StopResult& result) {
                     if (!self)
                         return;
                     if (!result.delivered())
                         self->refused(record, result.reason);
                     else if (!force)
                         self->checkStillRunning(record);
                 });
}

void StopController::refused(const ListeningPort& port, const QString& reason) {
    const QString title = tr("Server Not Stopped");
    const QString body =
        tr("%1 on port %2: %3").arg(port.process, QString::number(port.port), reason);
    std::fprintf(stderr, "harborwatch: %s: %s\n", qPrintable(title), qPrintable(body));
    m_notify(title, body);
}

void StopController::checkStillRunning(const ListeningPort& listed) {
    // Precise: a coarse timer may fire up to 5 % early.
    QTimer::singleShot(stillRunningCheckMs, Qt::PreciseTimer, this, [this, listed] {
        ServerSource* source = m_monitor.sourceOf(listed);
        if (!source)
            return;
        source->stillRuns(listed, [self = QPointer(this), listed](bool runs) {
            if (self && runs)
                self->stillRunning(listed);
        });
    });
}

void StopController::stillRunning(const ListeningPort& listed) {
    if (!offersForceStop(listed))
        m_forceStopOffered.append(listed);
    emit forceStopOffered(listed);

    const QString title = tr("Server Still Running");
    const QString body =
        tr("%1 on port %2 did not stop").arg(listed.process, QString::number(listed.port));
    if (!m_notifyWithAction) {
        m_notify(title, body);
        return;
    }
    m_notifyWithAction(title, body, tr("Force Stop"), [self = QPointer(this), listed] {
        if (self)
            self->forceStop(listed);
    });
}
