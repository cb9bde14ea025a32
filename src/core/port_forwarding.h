#pragma once

#include <QList>
#include <QString>

#include <functional>

// Whether traffic passes through a forward, as a connection through it last
// showed.
enum class ForwardState {
    Checking,     // made (or made again) and not looked at yet
    Ok,           // the remote server took the connection
    NoServer,     // the connection reached the host, where nothing took it
    Reconnecting, // the connection to the host is down: nothing passes
};

// One port of another machine made reachable here: connections to
// localhost:`localPort` reach the remote 127.0.0.1:`remotePort`.
struct PortForward {
    qint64 remotePort = 0;
    qint64 localPort = 0;
    ForwardState state = ForwardState::Checking;
    // The local port asked for, when it was in use and `localPort` is
    // another; 0 when the forward has the port it asked for.
    qint64 wantedPort = 0;

    friend bool operator==(const PortForward&, const PortForward&) = default;
};

// A source of servers on another machine that forwards their ports here (the
// SSH source). The forwards are the source's own: they go when it goes.
//
// A forward is looked at through a connection to its local end when it is
// made, after the host reconnected, when the remote port appears in or leaves
// the host's listing, and when checkForwards() asks; its state follows.
class PortForwarding {
public:
    // The local port on success; 0 and the reason otherwise.
    using ForwardDone = std::function<void(qint64 localPort, const QString& error)>;
    // How the local port is chosen when one is given.
    enum class LocalPort {
        Exactly,      // that port, or the forward fails
        OrAnyFreeOne, // that port when it is free, else any free one
    };

    virtual ~PortForwarding() = default;

    // The machine, as the user named it.
    virtual QString destination() const = 0;
    // Whether the connection to the host is up, so that a forward can be made.
    virtual bool isReachable() const = 0;
    // Forwards the remote port to `localPort` here, or with 0 to the same port
    // when it is free, else to a free one; a port already forwarded answers
    // with its forward. `done` runs on the calling thread, never inside
    // forward().
    virtual void forward(qint64 remotePort, qint64 localPort, ForwardDone done,
                         LocalPort choice = LocalPort::Exactly) = 0;
    // Ends the forward of the remote port, if there is one; `done` as above.
    virtual void cancelForward(qint64 remotePort, std::function<void()> done) = 0;
    // The forwards in force, ascending by remote port.
    virtual QList<PortForward> forwards() const = 0;
    // Looks through every forward again (one look at a time per forward).
    virtual void checkForwards() = 0;
    // `changed` runs whenever a forward is made, ends, moves or changes state.
    virtual void setForwardsChanged(std::function<void()> changed) = 0;
};
