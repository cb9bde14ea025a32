#pragma once

#include "config/settings.h"
#include "core/listening_port.h"
#include "core/port_forwarding.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class PortMonitor;

// The forwards of other machines' servers to ports of this one, as the front
// ends reach them: through the monitor's sources, never by probing a source
// themselves. A forward is the source's own (it goes when its host goes).
//
// The forwards the user makes are kept in the settings ("forwards") until
// the user stops them, and, unless "restoreForwards" is off, set up again
// once their host connects after the program starts: on the local port they
// had when it is free, else on a free one. A server that starts on a host of
// "autoForward" while the program runs (not one of its first list) is
// forwarded at once, as if the user had asked.
class Forwards : public QObject {
    Q_OBJECT
public:
    // The local port on success; 0 and the reason otherwise.
    using Done = std::function<void(qint64 localPort, const QString& error)>;

    // Whether forwards are kept in (and set up again from) the settings, or
    // last only as long as the object, as a command line's call wants.
    enum class Keeping { InSettings, ForThisCallOnly };

    // `monitor` must outlive the object. With Keeping::InSettings the
    // forwards stored in its settings are set up as their hosts connect.
    explicit Forwards(PortMonitor& monitor, Keeping keeping = Keeping::InSettings,
                      QObject* parent = nullptr);
    ~Forwards() override;

    // From now on the forwards' states are kept in the file `path` for the
    // command line (see forward_states.h); the file goes with the object.
    void publishStates(const QString& path);

    // The forwards in force of the host's servers, ascending by remote port.
    QList<PortForward> of(const QString& host) const;
    // The forward of the remote record's port; none when it is not forwarded.
    std::optional<PortForward> forwardOf(const ListeningPort& remote) const;
    // The local port the remote record's port is forwarded to; 0 when none.
    qint64 localPortOf(const ListeningPort& remote) const;
    // Whether the record's source can forward it here.
    bool canForward(const ListeningPort& remote) const;

    // Forwards the host's `remotePort` to `localPort` here, or with 0 to the
    // same port when it is free, else to a free one; a port already forwarded
    // answers with its forward. The forward is kept in the settings. `done`
    // runs later, on this thread.
    void forward(const QString& host, qint64 remotePort, qint64 localPort, Done done);
    // Ends the forward of the host's `remotePort`, if there is one, and
    // forgets it in the settings.
    void cancel(const QString& host, qint64 remotePort, std::function<void()> done = {});
    // Forwards every listed server of the host that is not forwarded yet; a
    // failure is told through failed().
    void forwardAll(const QString& host);
    // Ends (and forgets) every forward of the host.
    void cancelAll(const QString& host);
    // Looks through every forward again: for a menu or window about to show
    // them.
    void check();

signals:
    // A forward was made, ended, moved or changed its state.
    void changed();
    // A forward the user did not ask for just now (one set up again at
    // start, of a new server of a host that forwards them all, or of Forward
    // All) could not be made.
    void failed(const QString& host, qint64 port, const QString& reason);

private:
    PortForwarding* forwarding(const QString& host) const;
    void restore();
    void forwardStarted(const QList<ListeningPort>& started);
    void followChange();

    PortMonitor& m_monitor;
    const Keeping m_keeping;
    // Stored forwards not set up yet in this run, waiting for their host.
    settings::StoredForwards m_restoring;
    bool m_listed = false; // the monitor has published a list
    QString m_statesPath;
    QByteArray m_published; // what the states file holds; empty: there is none
};
