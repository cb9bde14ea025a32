#include "sources/containers/container_source.h"

#include "system/procfs.h"
#include "sources/containers/engine_call.h"
#include "sources/containers/http_reply.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <sys/stat.h>

namespace {

// The context of this file's texts for translation.
struct ContainerEngine {
    Q_DECLARE_TR_FUNCTIONS(ContainerEngine)
};

// The path with its folder's symbolic links resolved, so that /var/run and
// /run name one socket; the socket itself need not exist.
QString resolvedPath(const QString& path) {
    const QFileInfo info(QDir::cleanPath(path));
    const QString folder = info.absoluteDir().canonicalPath();
    return folder.isEmpty() ? info.absoluteFilePath() : folder + QLatin1Char('/') + info.fileName();
}

// The socket's owner, or none when there is no socket at the path.
std::optional<uint> socketOwner(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return std::nullopt;
    return info.st_uid;
}

// Whether a process of the user runs a Podman container: every container has
// a conmon (or conmon-rs) process watching it, whether or not the API service
// runs.
bool runsPodmanContainer(const ProcFs& proc, uint owner) {
    for (const qint64 pid : proc.pids()) {
        const auto comm = proc.comm(pid);
        if (!comm || !comm->startsWith("conmon"))
            continue;
        if (proc.owner(pid) != owner)
            continue;
        // One that exited and awaits its parent watches nothing.
        if (proc.isZombie(pid))
            continue;
        return true;
    }
    return false;
}

QString unavailable(const QString& reason) {
    return ContainerEngine::tr("Containers unavailable: %1").arg(reason);
}

} // namespace

QList<EngineSocket> defaultEngineSockets(const QProcessEnvironment& environment) {
    QList<EngineSocket> candidates;
    const QString host = environment.value(QStringLiteral("DOCKER_HOST"));
    const QString scheme = QStringLiteral("unix://");
    const bool hostIsSocket = host.startsWith(scheme) && host.size() > scheme.size();
    const auto isPodman = [](const QString& path) {
        return path.contains(QLatin1String("/podman/")) ||
               path.endsWith(QLatin1String("/podman.sock"));
    };
    if (hostIsSocket) {
        const QString path = host.mid(scheme.size());
        candidates.append({path, isPodman(path)});
    } else {
        candidates.append({QStringLiteral("/var/run/docker.sock"), false});
    }
    const QString runtime = environment.value(QStringLiteral("XDG_RUNTIME_DIR"));
    if (runtime.startsWith(QLatin1Char('/'))) {
        candidates.append({runtime + QStringLiteral("/docker.sock"), false});
        candidates.append({runtime + QStringLiteral("/podman/podman.sock"), true});
    }
    candidates.append({QStringLiteral("/run/podman/podman.sock"), true});

    QList<EngineSocket> sockets;
    QStringList seen;
    for (EngineSocket& socket : candidates) {
        const QString resolved = resolvedPath(socket.path);
        if (seen.contains(resolved))
            continue;
        seen.append(resolved);
        sockets.append(std::move(socket));
    }
    return sockets;
}

// One engine's socket and what it lists: found by a check that backs off,
// then followed through its event stream.
class ContainerSource::Engine : public QObject {
public:
    Engine(EngineSocket socket, const ContainerSourceTiming& timing, const ProcFs& proc,
           std::function<void()> changed)
        : m_socket(std::move(socket)), m_timing(timing), m_proc(proc),
          m_changed(std::move(changed)), m_retry(timing.firstRetry) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, [this] { check(); });
        m_relist.setSingleShot(true);
        connect(&m_relist, &QTimer::timeout, this, [this] { list(); });
    }
    ~Engine() override { closeAll(); }

    void start() { m_timer.start(0); }
    // Whether the first look at the socket has come to an end: a listing, a
    // failure, or no engine to ask.
    bool settled() const { return m_settled; }

    const EngineSocket& socket() const { return m_socket; }
    const QList<ContainerInfo>& containers() const { return m_containers; }
    const QString& problem() const { return m_problem; }
    const QString& product() const { return m_product; }
    // The API path prefix while connected ("/v1.41"), else empty.
    const QByteArray& prefix() const { return m_prefix; }

    // A request on the engine's socket; `done` runs on this thread.
    void request(const QByteArray& method, const QByteArray& target, int timeout,
                 EngineCall::Done done) {
        EngineCall::start(m_socket.path, httpRequest(method, m_prefix + target), timeout, this,
                          std::move(done));
    }
    // A change reported out of band (a stop): the list is read again soon.
    void relistSoon() {
        if (!m_prefix.isEmpty() && m_events)
            m_relist.start(m_timing.relistDelay);
    }

private:
    void check() {
        const auto owner = socketOwner(m_socket.path);
        if (!owner) {
            // No engine here (yet): nothing to report.
            set({}, {});
            retryLater();
            return;
        }
        if (m_socket.podman && !runsPodmanContainer(m_proc, *owner)) {
            // Connecting would start the service just to hear it has nothing.
            set({}, {});
            m_retry = m_timing.firstRetry;
            m_timer.start(m_timing.idleCheck);
            return;
        }
        m_version =
            EngineCall::start(m_socket.path, httpRequest("GET", "/version"), m_timing.request, this,
                              [this](EngineReply reply) { versionRead(std::move(reply)); });
    }

    void versionRead(EngineReply reply) {
        m_version = nullptr;
        if (!reply.ok())
            return fail(reply.error);
        if (reply.status != 200)
            return fail(
                ContainerEngine::tr("the engine refused: %1").arg(engineMessage(reply.body)));
        const EngineVersion engine = readEngineVersion(reply.body);
        if (!engine.ok())
            return fail(engine.error);
        QString error;
        const QByteArray prefix = apiPrefix(engine, &error);
        if (prefix.isEmpty())
            return fail(
                ContainerEngine::tr("%1 %2: %3").arg(engine.product, engine.version, error));
        m_prefix = prefix;
        m_product = engine.product;
        // The stream first, so that no change between the listing and the
        // stream's start goes unnoticed.
        m_events = EngineCall::start(
            m_socket.path, httpRequest("GET", eventsTarget(m_prefix)), m_timing.request, this,
            [this](EngineReply reply) { eventsEnded(std::move(reply)); },
            [this](const QByteArray&) {
                // Filtered by the engine: any event is a start, death or stop.
                if (!m_relist.isActive())
                    m_relist.start(m_timing.relistDelay);
            });
        list();
    }

    void eventsEnded(EngineReply reply) {
        m_events = nullptr;
        if (reply.ok() && reply.status != 200)
            return fail(ContainerEngine::tr("the engine refused its events: %1")
                            .arg(engineMessage(reply.body)));
        closeAll();
        if (!socketOwner(m_socket.path)) {
            set({}, {}); // it stopped and took its socket along
            m_retry = m_timing.firstRetry;
        } else {
            set({}, unavailable(
                        reply.ok() ? ContainerEngine::tr("%1 ended its event stream").arg(m_product)
                                   : reply.error));
        }
        retryLater();
    }

    void list() {
        if (m_prefix.isEmpty())
            return;
        if (m_listing) {
            m_listAgain = true;
            return;
        }
        m_listAgain = false;
        m_listing = EngineCall::start(
            m_socket.path, httpRequest("GET", m_prefix + "/containers/json"), m_timing.request,
            this, [this](EngineReply reply) { listRead(std::move(reply)); });
    }

    void listRead(EngineReply reply) {
        m_listing = nullptr;
        if (!reply.ok())
            return fail(reply.error);
        if (reply.status != 200)
            return fail(
                ContainerEngine::tr("the engine refused: %1").arg(engineMessage(reply.body)));
        ContainerList read = readContainerList(reply.body);
        if (!read.ok())
            return fail(read.error);
        m_retry = m_timing.firstRetry;
        const bool none = read.containers.isEmpty();
        set(std::move(read.containers), {});
        if (m_socket.podman && none) {
            // Let a socket-activated service end when it is idle; a container
            // started later brings its conmon process, which the check sees.
            closeAll();
            m_timer.start(m_timing.idleCheck);
            return;
        }
        if (m_listAgain)
            list();
    }

    void fail(const QString& reason) {
        closeAll();
        set({}, unavailable(reason));
        retryLater();
    }

    void closeAll() {
        for (QPointer<EngineCall>* call : {&m_version, &m_events, &m_listing}) {
            if (*call)
                (*call)->abort();
            *call = nullptr;
        }
        m_relist.stop();
        m_listAgain = false;
        m_prefix.clear();
    }

    void retryLater() {
        m_timer.start(m_retry);
        m_retry = std::min(m_retry * 2, m_timing.lastRetry);
    }

    void set(QList<ContainerInfo> containers, QString problem) {
        const bool first = !m_settled;
        m_settled = true;
        if (containers == m_containers && problem == m_problem && !first)
            return;
        m_containers = std::move(containers);
        m_problem = std::move(problem);
        m_changed();
    }

    EngineSocket m_socket;
    ContainerSourceTiming m_timing;
    const ProcFs& m_proc;
    std::function<void()> m_changed;
    int m_retry;
    QTimer m_timer;
    QTimer m_relist;
    QPointer<EngineCall> m_version;
    QPointer<EngineCall> m_events;
    QPointer<EngineCall> m_listing;
    bool m_listAgain = false;
    QByteArray m_prefix;
    QString m_product;
    QList<ContainerInfo> m_containers;
    QString m_problem;
    bool m_settled = false;
};

ContainerSource::ContainerSource(QList<EngineSocket> sockets, ContainerSourceTiming timing,
                                 QString procRoot, QObject* parent)
    : QObject(parent), m_timing(timing), m_proc(std::make_unique<ProcFs>(std::move(procRoot))) {
    m_firstWait.setSingleShot(true);
    connect(&m_firstWait, &QTimer::timeout, this, &ContainerSource::answer);
    for (EngineSocket& socket : sockets) {
        m_engines.push_back(std::make_unique<Engine>(std::move(socket), timing, *m_proc,
                                                     [this] { engineChanged(); }));
        m_engines.back()->start();
    }
}

ContainerSource::~ContainerSource() = default;

void ContainerSource::engineChanged() {
    const auto answerWhenSettled = qScopeGuard([this] {
        const bool settled = std::all_of(m_engines.cbegin(), m_engines.cend(),
                                         [](const auto& engine) { return engine->settled(); });
        if (m_waiting && settled)
            QMetaObject::invokeMethod(this, &ContainerSource::answer, Qt::QueuedConnection);
    });
    QList<Entry> entries;
    QString problem;
    QSet<qint64> taken;
    for (size_t i = 0; i < m_engines.size(); ++i) {
        const Engine& engine = *m_engines[i];
        if (problem.isEmpty())
            problem = engine.problem();
        const QList<ContainerInfo>& containers = engine.containers();
        for (PublishedPort& port : publishedPorts(containers)) {
            // One record per port: an engine listed earlier keeps it.
            if (taken.contains(port.record.port))
                continue;
            taken.insert(port.record.port);
            entries.append({std::move(port.record), containers[port.container], qsizetype(i),
                            engine.product()});
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const Entry& a, const Entry& b) { return a.record.port < b.record.port; });
    {
        const QMutexLocker locker(&m_lock);
        const bool same = problem == m_problem && entries.size() == m_entries.size() &&
                          std::equal(entries.begin(), entries.end(), m_entries.begin(),
                                     [](const Entry& a, const Entry& b) {
                                         return sameProcess(a.record, b.record) &&
                                                a.record.address == b.record.address &&
                                                a.container == b.container;
                                     });
        if (same)
            return;
        m_entries = std::move(entries);
        m_problem = std::move(problem);
    }
    emit changed();
}

bool ContainerSource::scan(ScanFilter filter, Done done) {
    if (m_scanning)
        return false;
    m_scanning = true;
    m_waiting.emplace(std::move(filter), std::move(done));
    const bool settled = std::all_of(m_engines.cbegin(), m_engines.cend(),
                                     [](const auto& engine) { return engine->settled(); });
    if (settled)
        QMetaObject::invokeMethod(this, &ContainerSource::answer, Qt::QueuedConnection);
    else
        m_firstWait.start(m_timing.firstListing);
    return true;
}

void ContainerSource::answer() {
    if (!m_waiting)
        return;
    m_firstWait.stop();
    auto [filter, done] = std::move(*m_waiting);
    m_waiting.reset();
    ScanResult result;
    {
        const QMutexLocker locker(&m_lock);
        for (const Entry& entry : m_entries) {
            if (filter.inRange(entry.record.port))
                result.ports.append(entry.record);
        }
        if (!m_problem.isEmpty())
            result.problems.insert(QString(), m_problem);
    }
    m_scanning = false;
    done(std::move(result));
}

std::optional<ContainerSource::Entry> ContainerSource::entryFor(const ListeningPort& record) const {
    const QMutexLocker locker(&m_lock);
    for (const Entry& entry : m_entries) {
        if (entry.record.port == record.port && entry.record.process == record.process)
            return entry;
    }
    return std::nullopt;
}

ServerDetails ContainerSource::details(const ListeningPort& record) const {
    ServerDetails details;
    details.address = record.address;
    const auto entry = entryFor(record);
    if (!entry)
        return details;
    const ContainerInfo& container = entry->container;
    details.folder = container.workingDir;
    details.project = container.project;
    if (details.project.isEmpty() && !details.folder.isEmpty())
        details.project = QFileInfo(QDir::cleanPath(details.folder)).fileName();
    details.commandLine = container.command;
    details.container = ContainerFacts{container.id,      container.name,    container.image,
                                       container.project, container.service, entry->product};
    return details;
}

QList<ListeningPort> ContainerSource::ports() const {
    const QMutexLocker locker(&m_lock);
    QList<ListeningPort> ports;
    ports.reserve(m_entries.size());
    for (const Entry& entry : m_entries)
        ports.append(entry.record);
    return ports;
}

QString ContainerSource::problem() const {
    const QMutexLocker locker(&m_lock);
    return m_problem;
}

void ContainerSource::stop(const ListeningPort& record, bool force, StopDone done) {
    const auto entry = entryFor(record);
    const auto answer = [this, &done](StopResult result) {
        QMetaObject::invokeMethod(
            this, [done = std::move(done), result = std::move(result)] { done(result); },
            Qt::QueuedConnection);
    };
    if (!entry)
        return answer(stopRefused(StopOutcome::NotListed, record.port));
    Engine& engine = *m_engines[size_t(entry->engine)];
    if (engine.prefix().isEmpty())
        return answer({StopOutcome::Failed, ContainerEngine::tr("the engine did not answer")});
    if (!isSafeContainerId(entry->container.id))
        return answer({StopOutcome::Failed,
                       ContainerEngine::tr("the engine gave the container an unusable id")});
    const QByteArray target = "/containers/" + entry->container.id.toLatin1() +
                              (force ? QByteArray("/kill") : QByteArray("/stop"));
    QPointer<Engine> from(&engine);
    engine.request(
        "POST", target, force ? m_timing.request : m_timing.stop,
        [from, port = record.port, done = std::move(done)](EngineReply reply) {
            if (!reply.ok())
                return done(
                    {StopOutcome::Failed, ContainerEngine::tr("the engine did not answer")});
            switch (reply.status) {
            case 200:
            case 204:
                if (from)
                    from->relistSoon();
                return done({StopOutcome::Delivered});
            case 304: // already stopped
            case 404: // no such container
            case 409: // not running (kill)
                return done(stopRefused(StopOutcome::Exited, port));
            default:
                return done(
                    {StopOutcome::Failed,
                     ContainerEngine::tr("the engine refused: %1").arg(engineMessage(reply.body))});
            }
        });
}

void ContainerSource::stillRuns(const ListeningPort& record, RunsDone done) {
    const auto entry = entryFor(record);
    Engine* engine = entry ? m_engines[size_t(entry->engine)].get() : nullptr;
    if (!entry || engine->prefix().isEmpty() || !isSafeContainerId(entry->container.id)) {
        const bool listed = entry.has_value();
        QMetaObject::invokeMethod(
            this, [done = std::move(done), listed] { done(listed); }, Qt::QueuedConnection);
        return;
    }
    engine->request("GET", "/containers/" + entry->container.id.toLatin1() + "/json",
                    m_timing.request, [done = std::move(done)](EngineReply reply) {
                        if (reply.ok() && reply.status == 404)
                            return done(false);
                        // An engine that cannot tell leaves the container as listed.
                        const auto running = reply.ok() && reply.status == 200
                                                 ? readRunning(reply.body)
                                                 : std::nullopt;
                        done(running.value_or(true));
                    });
}
