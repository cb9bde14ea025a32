#pragma once

#include <QList>
#include <QString>

#include <functional>

// One port of another machine made reachable here: connections to
// localhost:`localPort` reach the remote 127.0.0.1:`remotePort`.
struct PortForward {
    qint64 remotePort = 0;
    qint64 localPort = 0;

    friend bool operator==(const PortForward&, const PortForward&) = default;
};

// A source of servers on another machine that forwards their ports here (the
// SSH source). The forwards are the source's own: they go when it goes.
class PortForwarding {
public:
    // The local port on success; 0 and the reason otherwise.
    using ForwardDone = std::function<void(qint64 localPort, const QString& error)>;

    virtual ~PortForwarding() = default;

    // The machine, as the user named it.
    virtual QString destination() const = 0;
    // Forwards the remote port to `localPort` here, or with 0 to the same port
    // when it is free, else to a free one; a port already forwarded answers
    // with its forward. `done` runs on the calling thread, never inside
    // forward().
    virtual void forward(qint64 remotePort, qint64 localPort, ForwardDone done) = 0;
    // Ends the forward of the remote port, if there is one; `done` as above.
    virtual void cancelForward(qint64 remotePort, std::function<void()> done) = 0;
    // The forwards in force, ascending by remote port.
    virtual QList<PortForward> forwards() const = 0;
};
