#pragma once

#include "core/listening_port.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class PortMonitor;

// Stops listed servers on the user's request. Only a record of the monitor's
// published list is acted on, through the source that listed it, which checks
// that its server is still the one that was listed; the monitor scans again
// half a second later. A refusal or failure is posted as "Server Not Stopped"
// and written to stderr. A server still running five seconds after a stop
// request is posted as "Server Still Running", with a "Force Stop" action, and
// offered Force Stop until it leaves the list.
class StopController : public QObject {
    Q_OBJECT
public:
    using Notify = std::function<void(const QString& title, const QString& body)>;
    // Posts a notification offering one action; `onAction` runs if the user
    // picks it. Desktops that show no actions post it plain.
    using NotifyWithAction =
        std::function<void(const QString& title, const QString& body, const QString& action,
                           std::function<void()> onAction)>;

    static constexpr int rescanAfterStopMs = 500;
    static constexpr int stillRunningCheckMs = 5000;

    // `monitor` must outlive the controller.
    StopController(PortMonitor& monitor, Notify notify, QObject* parent = nullptr);

    // Where "Server Still Running" goes with its "Force Stop" action; unset,
    // it is posted plain.
    void setNotifyWithAction(NotifyWithAction notify) { m_notifyWithAction = std::move(notify); }

    // Asks the server to stop (SIGTERM for a process) and checks five seconds
    // later whether it did.
    void stop(const ListeningPort& port);
    // The same at once (SIGKILL), with no later check.
    void forceStop(const ListeningPort& port);
    // Whether the server outlived a stop request, so Force Stop is offered.
    bool offersForceStop(const ListeningPort& port) const;

signals:
    // The server outlived a stop request: Force Stop is offered for it from now on.
    void forceStopOffered(const ListeningPort& port);

private:
    void request(const ListeningPort& port, bool force);
    void refused(const ListeningPort& port, const QString& reason);
    void checkStillRunning(const ListeningPort& listed);
    void stillRunning(const ListeningPort& listed);

    PortMonitor& m_monitor;
    Notify m_notify;
    NotifyWithAction m_notifyWithAction;
    // Listed servers that outlived a stop request, until they leave the list.
    QList<ListeningPort> m_forceStopOffered;
};
