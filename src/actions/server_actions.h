#pragma once

#include "core/listening_port.h"
#include "core/presentation.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace settings {
struct PortChoice;
}
class Forwards;
class PortMonitor;
class QInputDialog;
class StopController;

// What the user can do to a listed server from any of the program's desktop
// front ends (the tray menu, the Servers window), done in one place: open it
// in the browser, copy its URL, open its folder, name its port, choose its
// scheme and whether it is notified, stop it, and, for another machine's
// server, forward its port here first. A choice for a port is stored in the
// settings, which the monitor and every front end follow. What fails is told
// through the signals, for the program to show.
class ServerActions : public QObject {
    Q_OBJECT
public:
    // All three must outlive the object.
    ServerActions(PortMonitor& monitor, StopController& stops, Forwards& forwards,
                  QObject* parent = nullptr);
    ~ServerActions() override;

    PortMonitor& monitor() const { return m_monitor; }
    Forwards& forwards() const { return m_forwards; }
    // The server as it is shown now (see PortMonitor::present).
    ServerPresentation present(const ListeningPort& record) const;

    void openInBrowser(const ListeningPort& record);
    void copyUrl(const ListeningPort& record);
    // "localhost:5432": for a server that is no web server.
    void copyAddress(const ListeningPort& record);
    // The working folder in the file manager; nothing while it is unknown.
    void openFolder(const ListeningPort& record);
    // A small dialog that does not block: the label is set when the user
    // accepts it, and removed when it is accepted empty.
    void editLabel(const ListeningPort& record);
    void setHttps(const ListeningPort& record, bool https);
    void setNotify(const ListeningPort& record, bool notify);
    // Adds the name to the allowlist, as the Processes tab does.
    void allow(const QString& name);

    void stop(const ListeningPort& record);
    void forceStop(const ListeningPort& record);
    bool offersForceStop(const ListeningPort& record) const;

    // Another machine's server: forwarded here (or its forward found), then
    // opened, or its local URL copied.
    void forwardAndOpen(const ListeningPort& remote);
    void copyForwardedUrl(const ListeningPort& remote);
    void stopForward(const QString& host, qint64 remotePort);
    // Every listed server of the host forwarded here (those not forwarded
    // yet), or every forward of the host ended.
    void forwardAll(const QString& host);
    void stopAllForwards(const QString& host);

signals:
    // "Open in Browser" found no browser to hand the address to.
    void browserFailed(const QString& url);
    // "Copy URL" was refused by the windowing system: the URL is not on the
    // clipboard.
    void copyFailed(const QString& url);
    // A forward could not be set up: `reason` is the source's.
    void forwardFailed(const QString& host, qint64 port, const QString& reason);
    // The server outlived a stop request: Force Stop is offered for it from now on.
    void forceStopOffered(const ListeningPort& record);

private:
    void changeChoice(const ListeningPort& record,
                      const std::function<void(settings::PortChoice&)>& change);
    void withLocalUrl(const ListeningPort& remote, std::function<void(const QString&)> use);
    void open(const QString& url);
    void copy(const QString& url);

    PortMonitor& m_monitor;
    StopController& m_stops;
    Forwards& m_forwards;
    QPointer<QInputDialog> m_labelDialog; // deletes itself when closed
};
