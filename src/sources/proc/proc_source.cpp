#include "sources/proc/proc_source.h"

#include "core/process_control.h"
#include "core/server_details.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QSet>

#include <algorithm>
#include <csignal>

namespace {

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

bool byPort(const ListeningPort& a, const ListeningPort& b) {
    return a.port < b.port;
}

} // namespace

ProcScan::ProcScan(ProcFs proc) : m_proc(std::move(proc)) {}

QHash<qint64, ListeningPort> ProcScan::allowedHolders(const Walk& walk,
                                                      const ScanFilter& filter) const {
    std::optional<QSet<QByteArray>> allowed;
    if (filter.allowlist) {
        allowed.emplace();
        allowed->reserve(filter.allowlist->size());
        for (const QString& name : *filter.allowlist)
            allowed->insert(name.toUtf8());
    }
    const auto allows = [&allowed](const QByteArray& name) {
        return !allowed || allowed->contains(name);
    };
    QHash<qint64, ListeningPort> held; // by port
    for (qint64 pid : walk.pids) {
        if (held.size() == walk.portCount || cancelled(walk.cancel))
            break;
        // The name decides before the descriptors are read.
        const auto comm = m_proc.comm(pid);
        if (!comm)
            continue;
        QByteArray name = *comm;
        if (!allows(name)) {
            name = m_proc.exeName(pid);
            if (name.isEmpty() || !allows(name))
                continue;
        }
        const auto startTime = m_proc.startTime(pid);
        if (!startTime)
            continue;
        m_proc.forEachSocketInode(pid, [&](quint64 inode) {
            const ListeningSocket* s = walk.sockets.value(inode);
            if (s && !held.contains(s->port))
                held.insert(s->port,
                            {s->port, pid, QString::fromUtf8(name), *startTime, s->address});
            return true;
        });
    }
    return held;
}

QList<ListeningPort> ProcScan::otherHolders(const Walk& walk,
                                            const QHash<qint64, ListeningPort>& held) {
    // Forget sockets that are gone or now held by an allowed process, and
    // holders that have exited.
    for (auto it = m_holders.begin(); it != m_holders.end();) {
        const ListeningSocket* s = walk.sockets.value(it.key());
        if (!s || held.contains(s->port) ||
            (it->pid > 0 && m_proc.startTime(it->pid) != it->startTime))
            it = m_holders.erase(it);
        else
            ++it;
    }
    QSet<quint64> unknown;
    for (const ListeningSocket* s : walk.sockets) {
        if (!held.contains(s->port) && !m_holders.contains(s->inode))
            unknown.insert(s->inode);
    }
    if (!unknown.isEmpty()) {
        ++m_holderSearches;
        for (qint64 pid : walk.pids) {
            if (unknown.isEmpty() || cancelled(walk.cancel))
                break;
            QList<quint64> found;
            m_proc.forEachSocketInode(pid, [&](quint64 inode) {
                if (unknown.contains(inode))
                    found.append(inode);
                return found.size() < unknown.size();
            });
            if (found.isEmpty())
                continue;
            const auto startTime = m_proc.startTime(pid);
            const auto comm = m_proc.comm(pid);
            if (!startTime || !comm)
                continue; // exited meanwhile
            for (quint64 inode : std::as_const(found)) {
                m_holders.insert(inode, {pid, *startTime, QString::fromUtf8(*comm)});
                unknown.remove(inode);
            }
        }
        if (cancelled(walk.cancel))
            return {};
        // Held by processes that cannot be seen: not searched for again.
        for (quint64 inode : std::as_const(unknown))
            m_holders.insert(inode, {});
    }

    QHash<qint64, ListeningPort> others; // by port: the lowest visible pid
    for (auto it = m_holders.cbegin(); it != m_holders.cend(); ++it) {
        const ListeningSocket* s = walk.sockets.value(it.key());
        const auto existing = others.constFind(s->port);
        if (existing != others.cend() && existing->pid > 0 &&
            (it->pid == 0 || existing->pid <= it->pid))
            continue;
        others.insert(s->port, {s->port, it->pid, it->name, it->startTime, s->address});
    }
    QList<ListeningPort> sorted = others.values();
    std::sort(sorted.begin(), sorted.end(), byPort);
    return sorted;
}

ScanResult ProcScan::run(const ScanFilter& filter, const std::atomic<bool>* cancel) {
    const auto sockets = m_proc.listeningSockets();
    if (!sockets)
        return {{},
                QCoreApplication::translate("ProcSource",
                                            "%1/net/tcp cannot be read; is /proc mounted?")
                    .arg(m_proc.root())};
    Walk walk;
    walk.cancel = cancel;
    QSet<qint64> ports;
    for (const ListeningSocket& s : *sockets) {
        if (filter.inRange(s.port)) {
            walk.sockets.insert(s.inode, &s);
            ports.insert(s.port);
        }
    }
    if (walk.sockets.isEmpty()) {
        m_holders.clear();
        return {};
    }
    walk.portCount = ports.size();
    walk.pids = m_proc.pids();

    const QHash<qint64, ListeningPort> held = allowedHolders(walk, filter);
    ScanResult result;
    result.others = otherHolders(walk, held);
    if (cancelled(cancel))
        return {};
    result.ports = held.values();
    std::sort(result.ports.begin(), result.ports.end(), byPort);
    return result;
}

ProcSource::ProcSource(ProcFs proc, QString home)
    : m_proc(proc), m_home(home.isEmpty() ? QDir::homePath() : std::move(home)),
      m_scan(std::move(proc)) {}

ProcSource::~ProcSource() {
    {
        const std::lock_guard lock(m_lock);
        m_quit = true;
    }
    m_cancel = true;
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
    // A result still queued to m_receiver is discarded with it.
}

bool ProcSource::scan(ScanFilter filter, Done done) {
    if (m_done)
        return false;
    m_done = std::move(done);
    {
        const std::lock_guard lock(m_lock);
        m_request = std::move(filter);
    }
    if (!m_worker.joinable())
        m_worker = std::thread(&ProcSource::work, this);
    else
        m_wake.notify_one();
    return true;
}

ScanResult ProcSource::scanBlocking(const ScanFilter& filter) {
    const std::lock_guard lock(m_scanLock);
    return m_scan.run(filter);
}

ServerDetails ProcSource::details(const ListeningPort& record) const {
    return readServerDetails(record, m_proc, m_home);
}

void ProcSource::stop(const ListeningPort& record, bool force, StopDone done) {
    done(stopListedServer(record, force ? SIGKILL : SIGTERM, true, m_proc));
}

void ProcSource::stillRuns(const ListeningPort& record, RunsDone done) {
    done(listedServerStillRuns(record, true, m_proc));
}

void ProcSource::work() {
    for (;;) {
        ScanFilter request;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [this] { return m_quit || m_request.has_value(); });
            if (m_quit)
                return;
            request = std::move(*m_request);
            m_request.reset();
        }
        ScanResult result;
        {
            const std::lock_guard lock(m_scanLock);
            result = m_scan.run(request, &m_cancel);
        }
        if (m_cancel)
            return;
        // The result is handed over under the lock; the queued call carries
        // nothing but the source, so no data is shared through Qt's event.
        {
            const std::lock_guard lock(m_lock);
            m_result = std::move(result);
        }
        QMetaObject::invokeMethod(
            &m_receiver, [this] { deliver(); }, Qt::QueuedConnection);
    }
}

void ProcSource::deliver() {
    ScanResult result;
    {
        const std::lock_guard lock(m_lock);
        result = std::move(*m_result);
        m_result.reset();
    }
    // Detached first, so that `done` may start the next scan.
    Done done = std::exchange(m_done, nullptr);
    done(std::move(result));
}
