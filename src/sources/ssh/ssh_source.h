#pragma once

#include "core/port_forwarding.h"
#include "core/server_source.h"
#include "sources/ssh/remote_stream.h"
#include "sources/ssh/ssh_connections.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// How patient the source is.
struct SshSourceTiming {
    int connectTimeoutS = 5;   // ssh's ConnectTimeout
    int persistS = 30;         // ControlPersist: how long a master outlives a crash of ours
    int firstRetryMs = 2000;   // after a failure, doubling...
    int lastRetryMs = 16000;   // ...up to this
    int callTimeoutMs = 15000; // a listing that takes longer counts as a failure
    // How long the first scan waits for the first connection to answer, so
    // that a one-off listing (the command line) has the host's servers.
    int firstAnswerMs = 8000;
    int stopTimeoutMs = 10000;    // a stop the host has not answered by then failed
    int forwardTimeoutMs = 15000; // so did a forward, or its cancel
    // A connection through a forward that the far end has neither closed nor
    // spoken on by then was taken by a server (see lookThroughForward()).
    int forwardQuietMs = 1500;
};

// The servers of another machine, reached with the system's ssh through one
// control master per destination. One remote command runs for as long as the
// connection lasts (remoteListingCommand()): it lists with `ss -Htlnpe` every
// two seconds, or, where harborwatch is on the remote PATH, reads its watch
// stream after a first `ss` listing. A scan answers at once with the latest
// listing, under the scan's filter. So the remote's login shell starts once
// per connection, not once per listing. A host that does not answer fails the
// scan with ssh's reason, and is tried again after a wait that doubles from
// the first failure on.
//
// The remote is not trusted: what it sends is read within the bounds of
// RemoteStream (a longer line ends the connection), its error output is kept
// up to 8 KiB, its texts are shown escaped and cut (remoteText()), and every
// ssh call has a deadline. The sources of one set share an SshConnections:
// at most a few of them set up a connection at once.
//
// Records have the remote port, pid, name and start time, the address,
// `host` = the destination. Forwards go through the same master; they, the
// master and every ssh process of the source end when it is destroyed. A
// forward is looked through (lookThroughForward()) when it is made, once it
// is set up again after a reconnection (on another local port when its own
// has been taken meanwhile), when its remote port appears in the listing or
// leaves it, and on checkForwards(); while the host is not connected it is
// "reconnecting".
class SshSource : public QObject, public ServerSource, public PortForwarding {
    Q_OBJECT

public:
    explicit SshSource(QString destination, SshSourceTiming timing = {},
                       std::shared_ptr<SshConnections> connections = {}, QObject* parent = nullptr);
    ~SshSource() override;

    bool scan(ScanFilter filter, Done done) override;
    bool isScanning() const override { return m_scan.has_value(); }
    // What a listing tells: the address.
    ServerDetails details(const ListeningPort& record) const override;
    // Signals the remote pid after checking, in the same remote command, that
    // it still has the start time it was listed with and holds the listed
    // socket; gives up after stopTimeoutMs.
    void stop(const ListeningPort& record, bool force, StopDone done) override;
    // Whether the latest listing still has the record.
    void stillRuns(const ListeningPort& record, RunsDone done) override;
    PortForwarding* forwarding() override { return this; }
    // Told when a listing differs from the one before, and when the host
    // connects or is lost.
    void setNews(std::function<void()> news) override { m_news = std::move(news); }

    QString destination() const override { return m_destination; }
    bool isReachable() const override { return isConnected(); }
    void forward(qint64 remotePort, qint64 localPort, ForwardDone done,
                 LocalPort choice = LocalPort::Exactly) override;
    void cancelForward(qint64 remotePort, std::function<void()> done) override;
    QList<PortForward> forwards() const override { return m_forwards; }
    void checkForwards() override;
    void setForwardsChanged(std::function<void()> changed) override {
        m_forwardsChanged = std::move(changed);
    }

    bool isConnected() const { return m_stage == Stage::Listed; }
    // Why the host lists nothing; empty while it lists. firstListingNotice()
    // when it is connected but its first listing has not come.
    QString problem() const;
    // Whether the remote harborwatch's stream is what lists the servers.
    bool readsRemoteWatch() const { return m_stream.readsWatch(); }

signals:
    // A listing came in, or failed.
    void listed();

private:
    enum class Stage {
        Down,       // the last attempt failed; the next one waits
        InLine,     // waiting for a turn to connect
        Connecting, // ssh runs, the remote command has not started
        Waiting,    // the remote command runs, its first listing has not come
        Listed,
    };
    struct Scan {
        ScanFilter filter;
        Done done;
    };
    // How an ssh call ended.
    struct CallEnd {
        bool started = true;
        QString startError;
        bool timedOut = false;
        bool crashed = false;
        int exitCode = 0;
        QByteArray errors; // the end of its error output
    };
    using CallDone = std::function<void(const CallEnd&)>;

    QStringList callArguments(const QStringList& tail) const;
    QProcess* call(const QStringList& tail, int timeoutMs, CallDone finished,
                   bool readsOutput = false);
    void start();
    void launch();
    void read();
    void ended(const CallEnd& end);
    void connected();
    void failed(const QString& reason);
    void firstAnswer();
    void answer();
    void discard(QProcess*& process);
    void expectListing();
    void silent();
    // Forwards.
    QProcess* callForward(const PortForward& f, CallDone finished);
    void forwardAgain(PortForward f);
    void lookThrough(qint64 remotePort);
    void setForwardState(qint64 remotePort, ForwardState state);
    void followListing();
    void forwardsChanged();

    QString m_destination;
    SshSourceTiming m_timing;
    std::shared_ptr<SshConnections> m_connections;
    QString m_folderError;
    QStringList m_options;

    std::optional<Scan> m_scan;
    QTimer m_firstWait;
    bool m_answered = false; // the first connection has answered, one way or the other
    Stage m_stage = Stage::InLine;
    bool m_everConnected = false;
    // A master of this source's may run: a session started and did not end
    // with the connection (status 255).
    bool m_mayHaveMaster = false;
    QString m_failure; // why the last attempt failed

    QProcess* m_session = nullptr; // the remote command that lists
    bool m_expecting = false;      // its silence counts (see expectListing())
    RemoteStream m_stream;         // what it wrote

    int m_retryMs;
    QTimer m_retry; // running while the next connection attempt waits

    QList<PortForward> m_forwards;
    QHash<qint64, QList<ForwardDone>> m_forwarding; // requests in flight, by remote port
    std::function<void()> m_forwardsChanged;
    std::function<void()> m_news;
    QList<SsSocket> m_toldSockets; // the listing `m_news` last told of
    // The looks through forwards under way, by remote port: the number of
    // the look, so that one started before the connection was lost is not
    // taken; and the ports to look at again once theirs is over.
    QHash<qint64, quint64> m_looking;
    quint64 m_looks = 0;
    QSet<qint64> m_lookAgain;
    QSet<qint64> m_listedForwards; // forwarded remote ports the latest listing has
};
