#pragma once

#include "core/container_engines.h"
#include "core/server_source.h"
#include "sources/containers/engine_api.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QProcessEnvironment>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ProcFs;

// A container engine's API socket.
struct EngineSocket {
    QString path;
    // Podman's service is started by systemd on the first connection and ends
    // when idle; it is only connected to while one of its containers runs.
    bool podman = false;

    friend bool operator==(const EngineSocket&, const EngineSocket&) = default;
};

// Where the engines listen, in order: Docker ($DOCKER_HOST when it is a
// unix:// address, else /var/run/docker.sock), rootless Docker
// ($XDG_RUNTIME_DIR/docker.sock), rootless and rootful Podman
// ($XDG_RUNTIME_DIR/podman/podman.sock, /run/podman/podman.sock). A path given
// twice (/var/run is /run) is kept once.
QList<EngineSocket> defaultEngineSockets(
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// How patient the source is, in milliseconds.
struct ContainerSourceTiming {
    int firstRetry = 1000;   // after a failure, doubling...
    int lastRetry = 30000;   // ...up to this
    int idleCheck = 5000;    // a Podman socket without running containers
    int request = 10000;     // any request but a stop
    int stop = 30000;        // the engine waits out the container's grace period (10 s)
    int relistDelay = 200;   // events that come together cause one listing
    int firstListing = 3000; // the longest a scan waits for the engines' first answer
    int patience = 3000;     // an engine asked for longer than this "does not answer"
    // How long an engine's last list stands while the engine cannot be asked
    // (Docker stops its containers over up to 10 s after its socket has gone).
    int staleList = 30000;
};

// Servers published by containers: the ports that Docker or Podman forward to
// a running container, listed through the engine's API. The containers are
// listed when an engine is found and again when its event stream reports a
// container's start, death or stop; a scan answers from that list. A socket
// that appears is noticed at once (its folder is watched); an engine that
// fails is asked again after a pause that backs off.
//
// When an engine goes away (Docker removes its socket at once when told to
// stop) its last list stands, marked stale: the deaths that its event stream
// still reports take their containers out of it, and it is replaced when the
// engine answers again, or dropped after `staleList`. An engine asked for
// longer than `patience` is told as "Containers unavailable: Docker does not
// answer".
//
// Records have the published port, pid 0, the container's name as the
// process, the binding's address, origin "containers" and start time 0.
// Lives on the thread that created it; details(), ports() and problem() may
// be called from any thread.
class ContainerSource : public QObject, public ServerSource, public ContainerEngines {
    Q_OBJECT

public:
    explicit ContainerSource(QList<EngineSocket> sockets = defaultEngineSockets(),
                             ContainerSourceTiming timing = {},
                             QString procRoot = QStringLiteral("/proc"), QObject* parent = nullptr);
    ~ContainerSource() override;

    // The published ports in the filter's range (its allowlist is not for
    // containers); ok() even while no engine answers.
    bool scan(ScanFilter filter, Done done) override;
    bool isScanning() const override { return m_scanning; }
    ServerDetails details(const ListeningPort& record) const override;
    // Stops (or kills, when `force`) the record's container through its engine.
    void stop(const ListeningPort& record, bool force, StopDone done) override;
    // Whether the engine says the record's container runs.
    void stillRuns(const ListeningPort& record, RunsDone done) override;
    void relist(std::function<void()> done) override;

    // One line for the user while an engine that is there cannot be used:
    // "Containers unavailable: <reason>". Empty when every engine answers and
    // when there is no engine at all.
    QString problem() const;
    // All published ports, ascending by port.
    QList<ListeningPort> ports() const;

signals:
    // The published ports or the problem changed; a scan now lists the news.
    void changed();

private:
    class Engine;
    struct Entry {
        ListeningPort record;
        ContainerInfo container;
        qsizetype engine = -1;
        QString product;
    };

    void engineChanged();
    void watchFolders();
    // Answers the waiting scan from the list as it is.
    void answer();
    std::optional<Entry> entryFor(const ListeningPort& record) const;

    ContainerSourceTiming m_timing;
    std::unique_ptr<ProcFs> m_proc; // for the Podman check
    std::vector<std::unique_ptr<Engine>> m_engines;
    bool m_scanning = false;
    // A scan made before every engine gave its first answer waits for them,
    // so that a single scan (the command line's) lists the containers.
    std::optional<std::pair<ScanFilter, Done>> m_waiting;
    QTimer m_firstWait;
    QFileSystemWatcher m_folders; // where the sockets appear

    mutable QMutex m_lock; // guards what follows
    QList<Entry> m_entries;
    QString m_problem;
    // The problem leaves the list standing: every engine with a problem has
    // listed its containers before (see ScanResult::standingLists).
    bool m_standing = false;
};
