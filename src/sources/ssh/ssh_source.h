#pragma once

#include "core/port_forwarding.h"
#include "core/server_source.h"
#include "sources/ssh/ss_listing.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

class QProcess;

// How patient the source is.
struct SshSourceTiming {
    int connectTimeoutS = 5; // ssh's ConnectTimeout
    int persistS = 30;       // ControlPersist: how long a master outlives a crash of ours
    int firstRetryMs = 2000; // after a failure, doubling...
    int lastRetryMs = 16000; // ...up to this
    int callTimeoutMs = 15000; // a listing that takes longer counts as a failure
    // How long the first scan waits for the first connection to answer, so
    // that a one-off listing (the command line) has the host's servers.
    int firstAnswerMs = 8000;
};

// The servers of another machine, reached with the system's ssh through one
// control master per destination. One remote command runs for as long as the
// connection lasts: it lists with `ss -Htlnp` every two seconds, or, where
// harborwatch is on the remote PATH, reads its watch stream after a first
// `ss` listing. A scan answers at once with the latest listing, under the
// scan's filter. So the remote's login shell starts once per connection, not
// once per listing. A host that does not answer fails the scan with ssh's
// reason, and is tried again after a wait that doubles from the first
// failure on.
//
// Records have the remote port, pid and name, the address, `host` = the
// destination, start time 0. Forwards go through the same master; they, the
// master and every ssh process of the source end when it is destroyed.
class SshSource : public QObject, public ServerSource, public PortForwarding {
    Q_OBJECT

public:
    explicit SshSource(QString destination, SshSourceTiming timing = {}, QObject* parent = nullptr);
    ~SshSource() override;

    bool scan(ScanFilter filter, Done done) override;
    bool isScanning() const override { return m_scan.has_value(); }
    // What a listing tells: the address.
    ServerDetails details(const ListeningPort& record) const override;
    // Signals the remote pid after checking, in the same remote command,
    // that it still holds the port.
    void stop(const ListeningPort& record, bool force, StopDone done) override;
    // Whether the latest listing still has the record.
    void stillRuns(const ListeningPort& record, RunsDone done) override;
    PortForwarding* forwarding() override { return this; }

    QString destination() const override { return m_destination; }
    void forward(qint64 remotePort, qint64 localPort, ForwardDone done) override;
    void cancelForward(qint64 remotePort, std::function<void()> done) override;
    QList<PortForward> forwards() const override { return m_forwards; }

    bool isConnected() const { return m_connected; }
    // Why the host is not connected; empty while it is.
    QString problem() const { return m_connected ? QString() : m_problem; }
    // Whether the remote harborwatch's stream is what lists the servers.
    bool readsRemoteWatch() const { return m_streamMode; }

signals:
    // A listing came in, or failed.
    void listed();

private:
    struct Scan {
        ScanFilter filter;
        Done done;
    };

    QStringList callArguments(const QStringList& tail) const;
    QProcess* call(const QStringList& tail, std::function<void(QProcess&)> finished);
    void start();
    void read();
    void readLine(const QByteArray& line);
    void ended(QProcess& process);
    void connected(QList<SsSocket> sockets);
    void failed(const QString& reason);
    void firstAnswer();
    void answer();
    QList<SsSocket> currentSockets() const;
    void discard(QProcess*& process);

    QString m_destination;
    SshSourceTiming m_timing;
    QString m_folderError;
    QStringList m_options;

    std::optional<Scan> m_scan;
    QTimer m_firstWait;
    bool m_answered = false; // the first connection has answered, one way or the other
    bool m_connected = false;
    bool m_everConnected = false;
    QString m_problem;
    QList<SsSocket> m_sockets;

    QProcess* m_session = nullptr; // the remote command that lists
    QTimer m_silence;              // no listing for this long ends it
    QByteArray m_buffer;           // output not read yet
    QByteArray m_listing;          // the `ss` lines of the listing being read
    bool m_streamMode = false;     // the remote harborwatch's stream is read
    bool m_streamSeen = false;     // it has told something
    QHash<qint64, SsSocket> m_streamed; // by port

    int m_retryMs;
    QTimer m_retry; // running while the next connection attempt waits

    QList<PortForward> m_forwards;
    QHash<qint64, QList<ForwardDone>> m_forwarding; // requests in flight, by remote port
};
