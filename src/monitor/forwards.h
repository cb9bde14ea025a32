#pragma once

#include "core/listening_port.h"
#include "core/port_forwarding.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class PortMonitor;

// The forwards of other machines' servers to ports of this one, as the front
// ends reach them: through the monitor's sources, never by probing a source
// themselves. A forward is the source's own (it goes when its host goes).
class Forwards : public QObject {
    Q_OBJECT
public:
    // The local port on success; 0 and the reason otherwise.
    using Done = std::function<void(qint64 localPort, const QString& error)>;

    // `monitor` must outlive the object.
    explicit Forwards(PortMonitor& monitor, QObject* parent = nullptr);

    // The forwards in force of the host's servers, ascending by remote port.
    QList<PortForward> of(const QString& host) const;
    // The local port the remote record's port is forwarded to; 0 when none.
    qint64 localPortOf(const ListeningPort& remote) const;
    // Whether the record's source can forward it here.
    bool canForward(const ListeningPort& remote) const;

    // Forwards the host's `remotePort` to `localPort` here, or with 0 to the
    // same port when it is free, else to a free one; a port already forwarded
    // answers with its forward. `done` runs later, on this thread.
    void forward(const QString& host, qint64 remotePort, qint64 localPort, Done done);
    // Ends the forward of the host's `remotePort`, if there is one.
    void cancel(const QString& host, qint64 remotePort, std::function<void()> done = {});

signals:
    // A forward was made or ended.
    void changed();

private:
    PortForwarding* forwarding(const QString& host) const;

    PortMonitor& m_monitor;
};
