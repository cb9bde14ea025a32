#include "sources/containers/container_source.h"

#include "core/frameworks.h"
#include "sources/containers/engine_call.h"
#include "sources/containers/engine_events.h"
#include "sources/containers/http_reply.h"
#include "system/procfs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
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

// One engine's socket and what it lists: found when its socket appears (or
// by a check that backs off after a failure), then followed through its event
// stream.
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
        m_patience.setSingleShot(true);
        connect(&m_patience, &QTimer::timeout, this, [this] { notAnswering(); });
        m_staleEnd.setSingleShot(true);
        connect(&m_staleEnd, &QTimer::timeout, this, [this] {
            // Gone for good, as far as anyone can tell: its containers with it.
            m_stale = false;
            set({}, m_problem);
        });
    }
    ~Engine() override { closeAll(); }

    void start() { m_timer.start(0); }
    // Whether the first look at the socket has come to an end: a listing, a
    // failure, no engine to ask, or one that does not answer.
    bool settled() const { return m_settled; }
    // Whether the engine has listed its containers since the source started.
    bool hasListed() const { return m_listed; }

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
    // Asks the engine for its containers now; `done` runs once it has
    // answered, failed, or is found not to be there.
    void lookNow(std::function<void()> done) {
        m_lookers.append(std::move(done));
        if (!m_prefix.isEmpty()) {
            m_relist.stop();
            list();
        } else if (!m_version) {
            m_timer.stop();
            check();
        }
    }
    // A request has waited longer than the engine's patience allows (or than
    // the first scan waits): the engine is told as not answering while the
    // request goes on.
    void notAnswering() {
        if (!m_version && !m_listing && m_inspecting == 0)
            return;
        markStale();
        set(m_containers, unavailable(ContainerEngine::tr("%1 does not answer").arg(engineName())));
        looked();
    }
    // Something changed in the folder of the socket: a socket that has
    // appeared is connected to at once.
    void folderChanged() {
        const bool there = socketOwner(m_socket.path).has_value();
        const bool appeared = there && !m_socketThere;
        m_socketThere = there;
        if (appeared && m_prefix.isEmpty() && !m_version) {
            m_timer.stop();
            m_retry = m_timing.firstRetry;
            check();
        }
    }

private:
    QString engineName() const {
        if (!m_product.isEmpty())
            return m_product;
        return m_socket.podman ? QStringLiteral("Podman") : QStringLiteral("Docker");
    }

    void check() {
        const auto owner = socketOwner(m_socket.path);
        m_socketThere = owner.has_value();
        if (!owner) {
            // No engine here (now): nothing to report; a list it left stands
            // for a while.
            markStale();
            set(m_containers, {});
            retryLater();
            looked();
            return;
        }
        if (m_socket.podman && !runsPodmanContainer(m_proc, *owner)) {
            // Connecting would start the service just to hear it has nothing.
            m_stale = false;
            m_staleEnd.stop();
            set({}, {});
            m_retry = m_timing.firstRetry;
            m_timer.start(m_timing.idleCheck);
            looked();
            return;
        }
        m_version =
            EngineCall::start(m_socket.path, httpRequest("GET", "/version"), m_timing.request, this,
                              [this](EngineReply reply) { versionRead(std::move(reply)); });
        m_patience.start(m_timing.patience);
    }

    void versionRead(EngineReply reply) {
        m_version = nullptr;
        m_patience.stop();
        if (!reply.ok())
            return fail(reply);
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
        m_stream = {};
        m_events = EngineCall::start(
            m_socket.path, httpRequest("GET", eventsTarget(m_prefix)), m_timing.request, this,
            [this](EngineReply reply) { eventsEnded(std::move(reply)); },
            [this](const QByteArray& chunk) { eventsRead(chunk); });
        list();
    }

    void eventsRead(const QByteArray& chunk) {
        const EventsRead read = readEvents(m_stream, chunk);
        bool changed = read.unreadable;
        for (const ContainerEvent& event : read.events) {
            changed = true;
            if (event.change == ContainerChange::Started) {
                m_endedWhileListing.remove(event.id);
                continue;
            }
            if (event.change != ContainerChange::Ended)
                continue;
            // Out of the list at once: the engine may no longer be there to
            // be asked (Docker reports its containers' deaths while it stops).
            if (m_listing || m_inspecting > 0)
                m_endedWhileListing.insert(event.id);
            QList<ContainerInfo> containers = m_containers;
            if (containers.removeIf([&](const ContainerInfo& c) { return c.id == event.id; }) > 0)
                set(std::move(containers), m_problem);
        }
        if (changed && !m_relist.isActive())
            m_relist.start(m_timing.relistDelay);
    }

    void eventsEnded(EngineReply reply) {
        m_events = nullptr;
        if (reply.ok() && reply.status != 200)
            return fail(ContainerEngine::tr("the engine refused its events: %1")
                            .arg(engineMessage(reply.body)));
        closeAll();
        markStale();
        if (!socketOwner(m_socket.path)) {
            set(m_containers, {}); // it stopped and took its socket along
            m_retry = m_timing.firstRetry;
        } else {
            set(m_containers,
                unavailable(reply.ok()
                                ? ContainerEngine::tr("%1 ended its event stream").arg(engineName())
                                : reasonOf(reply)));
        }
        retryLater();
        looked();
    }

    void list() {
        if (m_prefix.isEmpty())
            return;
        if (m_listing || m_inspecting > 0) {
            m_listAgain = true;
            return;
        }
        m_listAgain = false;
        m_endedWhileListing.clear();
        m_listing = EngineCall::start(
            m_socket.path, httpRequest("GET", m_prefix + "/containers/json"), m_timing.request,
            this, [this](EngineReply reply) { listRead(std::move(reply)); });
        m_patience.start(m_timing.patience);
    }

    void listRead(EngineReply reply) {
        m_listing = nullptr;
        m_patience.stop();
        if (!reply.ok() && m_events && !socketOwner(m_socket.path)) {
            // Going away: its event stream still tells which containers end.
            markStale();
            set(m_containers, {});
            looked();
            return;
        }
        if (!reply.ok())
            return fail(reply);
        if (reply.status != 200)
            return fail(
                ContainerEngine::tr("the engine refused: %1").arg(engineMessage(reply.body)));
        ContainerList read = readContainerList(reply.body);
        if (!read.ok())
            return fail(read.error);
        inspect(std::move(read.containers));
    }

    // Reads the command line of each container not seen before, once, then
    // takes the list.
    void inspect(QList<ContainerInfo> containers) {
        auto pending = std::make_shared<QList<ContainerInfo>>(std::move(containers));
        const quint64 generation = m_generation;
        for (const ContainerInfo& container : std::as_const(*pending)) {
            if (m_commands.contains(container.id) || !isSafeContainerId(container.id))
                continue;
            m_commands.insert(container.id, {});
            m_inspections.append(EngineCall::start(
                m_socket.path,
                httpRequest("GET", m_prefix + "/containers/" + container.id.toLatin1() + "/json"),
                m_timing.request, this,
                [this, pending, generation, id = container.id](EngineReply reply) {
                    if (generation != m_generation)
                        return;
                    if (reply.ok() && reply.status == 200)
                        m_commands.insert(id, readCommand(reply.body));
                    m_inspections.removeAll(nullptr);
                    if (--m_inspecting == 0)
                        take(std::move(*pending));
                }));
            ++m_inspecting;
        }
        if (m_inspecting == 0)
            take(std::move(*pending));
    }

    void take(QList<ContainerInfo> containers) {
        // A container whose end was reported while the list was on its way
        // has ended, whatever the list says.
        containers.removeIf(
            [this](const ContainerInfo& c) { return m_endedWhileListing.contains(c.id); });
        QHash<QString, QStringList> commands;
        for (ContainerInfo& container : containers) {
            container.arguments = m_commands.value(container.id);
            commands.insert(container.id, container.arguments);
        }
        m_commands = std::move(commands); // those of containers no longer listed go
        m_retry = m_timing.firstRetry;
        m_stale = false;
        m_staleEnd.stop();
        m_listed = true;
        const bool none = containers.isEmpty();
        set(std::move(containers), {});
        if (m_socket.podman && none) {
            // Let a socket-activated service end when it is idle; a container
            // started later brings its conmon process, which the check sees.
            closeAll();
            m_timer.start(m_timing.idleCheck);
            looked();
            return;
        }
        if (m_listAgain)
            list();
        else
            looked();
    }

    QString reasonOf(const EngineReply& reply) const {
        if (reply.timedOut)
            return ContainerEngine::tr("%1 does not answer").arg(engineName());
        return reply.error;
    }

    void fail(const EngineReply& reply) { fail(reasonOf(reply)); }

    void fail(const QString& reason) {
        closeAll();
        markStale();
        // A socket that went away meanwhile is no problem: no engine is there.
        set(m_containers, socketOwner(m_socket.path) ? unavailable(reason) : QString());
        retryLater();
        looked();
    }

    void markStale() {
        if (m_stale || m_containers.isEmpty())
            return;
        m_stale = true;
        m_staleEnd.start(m_timing.staleList);
    }

    void closeAll() {
        for (QPointer<EngineCall>* call : {&m_version, &m_events, &m_listing}) {
            if (*call)
                (*call)->abort();
            *call = nullptr;
        }
        ++m_generation;
        for (const QPointer<EngineCall>& call : std::exchange(m_inspections, {})) {
            if (call)
                call->abort();
        }
        m_inspecting = 0;
        m_relist.stop();
        m_patience.stop();
        m_listAgain = false;
        m_prefix.clear();
        m_stream = {};
        m_endedWhileListing.clear();
    }

    void retryLater() {
        m_timer.start(m_retry);
        m_retry = std::min(m_retry * 2, m_timing.lastRetry);
    }

    // Those who asked for a look hear that it is over.
    void looked() {
        for (const std::function<void()>& done : std::exchange(m_lookers, {}))
            done();
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
    QTimer m_patience;
    QTimer m_staleEnd;
    QPointer<EngineCall> m_version;
    QPointer<EngineCall> m_events;
    QPointer<EngineCall> m_listing;
    EventStream m_stream;
    QSet<QString> m_endedWhileListing;
    QHash<QString, QStringList> m_commands; // by container id
    QList<QPointer<EngineCall>> m_inspections;
    int m_inspecting = 0;
    quint64 m_generation = 0;
    bool m_listAgain = false;
    QByteArray m_prefix;
    QString m_product;
    QList<ContainerInfo> m_containers;
    QString m_problem;
    QList<std::function<void()>> m_lookers;
    bool m_settled = false;
    bool m_listed = false;
    bool m_stale = false;
    bool m_socketThere = false;
};

ContainerSource::ContainerSource(QList<EngineSocket> sockets, ContainerSourceTiming timing,
                                 QString procRoot, QObject* parent)
    : QObject(parent), m_timing(timing), m_proc(std::make_unique<ProcFs>(std::move(procRoot))) {
    m_firstWait.setSingleShot(true);
    connect(&m_firstWait, &QTimer::timeout, this, [this] {
        // An engine still asked by now does not answer, as far as this scan
        // is concerned.
        for (const auto& engine : m_engines) {
            if (!engine->settled())
                engine->notAnswering();
        }
        answer();
    });
    for (EngineSocket& socket : sockets) {
        m_engines.push_back(std::make_unique<Engine>(std::move(socket), timing, *m_proc,
                                                     [this] { engineChanged(); }));
        m_engines.back()->start();
    }
    connect(&m_folders, &QFileSystemWatcher::directoryChanged, this, [this] {
        watchFolders();
        for (const auto& engine : m_engines)
            engine->folderChanged();
    });
    watchFolders();
}

ContainerSource::~ContainerSource() = default;

// The folder of each socket, or while it does not exist the nearest one
// above it that does: a socket that appears is noticed at once.
void ContainerSource::watchFolders() {
    QStringList wanted;
    for (const auto& engine : m_engines) {
        QDir folder = QFileInfo(engine->socket().path).absoluteDir();
        while (!folder.exists() && !folder.isRoot())
            folder.setPath(QFileInfo(folder.path()).absolutePath());
        const QString path = folder.canonicalPath();
        if (!path.isEmpty() && !wanted.contains(path))
            wanted.append(path);
    }
    const QStringList watched = m_folders.directories();
    for (const QString& path : watched) {
        if (!wanted.contains(path))
            m_folders.removePath(path);
    }
    for (const QString& path : std::as_const(wanted)) {
        if (!watched.contains(path))
            m_folders.addPath(path);
    }
}

void ContainerSource::engineChanged() {
    const auto answerWhenSettled = qScopeGuard([this] {
        const bool settled = std::all_of(m_engines.cbegin(), m_engines.cend(),
                                         [](const auto& engine) { return engine->settled(); });
        if (m_waiting && settled)
            QMetaObject::invokeMethod(this, &ContainerSource::answer, Qt::QueuedConnection);
    });
    QList<Entry> entries;
    QString problem;
    bool standing = true;
    QSet<qint64> taken;
    for (size_t i = 0; i < m_engines.size(); ++i) {
        const Engine& engine = *m_engines[i];
        if (problem.isEmpty())
            problem = engine.problem();
        if (!engine.problem().isEmpty() && !engine.hasListed())
            standing = false;
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
        const bool same = problem == m_problem && standing == m_standing &&
                          entries.size() == m_entries.size() &&
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
        m_standing = standing;
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
        if (!m_problem.isEmpty()) {
            result.problems.insert(SourceId{}, m_problem);
            if (m_standing)
                result.standingLists.insert(SourceId{});
        }
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
    // The engine's inspection, else the list's command as one text.
    details.arguments = container.arguments;
    if (details.arguments.isEmpty() && !container.command.isEmpty())
        details.arguments = QStringList{container.command};
    details.commandLine = commandLineText(details.arguments);
    details.framework = detectFramework(details.arguments);
    details.https = servesHttps(details.arguments);
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

void ContainerSource::relist(std::function<void()> done) {
    if (m_engines.empty()) {
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
        return;
    }
    auto remaining = std::make_shared<size_t>(m_engines.size());
    auto shared = std::make_shared<std::function<void()>>(std::move(done));
    for (const auto& engine : m_engines) {
        engine->lookNow([this, remaining, shared] {
            if (--*remaining == 0)
                QMetaObject::invokeMethod(this, *shared, Qt::QueuedConnection);
        });
    }
}
