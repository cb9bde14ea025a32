#pragma once

#include "config/settings.h"
#include "core/changes.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class PortMonitor;

// What the user is told about one scan's changes. Up to three starts (or
// stops) are told one by one; more become one summary titled "Ports Started"
// (or "Ports Stopped") that names at most five of them. Starts come before
// stops.
struct Notice {
    QString title;
    QString body;
    friend bool operator==(const Notice&, const Notice&) = default;
};

inline constexpr int maxSingleNotices = 3;

QList<Notice> noticesFor(const PortChanges& changes);

// The changes the user wants to hear of: those of ports of this machine whose
// "notify" choice is off and those of quiet process names are left out. They
// stay in the list; only their notifications go.
PortChanges audibleChanges(PortChanges changes, const settings::Values& values);

// One event as a line: "node on port 3000", "Port 3000 is no longer
// listening"; a port of another machine names it: "node on port 5173 on box".
QString startedText(const ListeningPort& port);
QString stoppedText(const ListeningPort& port);

// Posts what the user is told of the monitor's changes: from the changes each
// scan finds, the notices above for the audible ones, through `notify`. A
// start told on its own of a server that `opens` (see setOpenAction())
// carries an "Open" action.
class ChangeNotices : public QObject {
    Q_OBJECT
public:
    using Notify = std::function<void(const QString& title, const QString& body)>;
    // Posts a notification offering one action; `onAction` runs if the user
    // picks it.
    using NotifyWithAction =
        std::function<void(const QString& title, const QString& body, const QString& action,
                           std::function<void()> onAction)>;
    using Opens = std::function<bool(const ListeningPort&)>;
    using Open = std::function<void(const ListeningPort&)>;

    ChangeNotices(PortMonitor& monitor, Notify notify, QObject* parent = nullptr);

    // The start of a server for which `opens` holds is posted through
    // `notify` with an "Open" action that calls `open` on it.
    void setOpenAction(NotifyWithAction notify, Opens opens, Open open);

private:
    void post(const PortChanges& changes, const settings::Values& values);

    Notify m_notify;
    NotifyWithAction m_notifyWithAction;
    Opens m_opens;
    Open m_open;
};
