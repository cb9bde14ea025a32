#include "sources/proc/proc_source.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <system_error>
#include <utility>

namespace {

// How long what a walk learned about the allowed processes may stand, and how
// long the holders of the other sockets may stand before they are searched for
// again (their search reads the descriptors of nearly every process).
constexpr std::chrono::seconds walkEvery{30};
constexpr std::chrono::minutes searchEvery{5};

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

} // namespace

ProcScan::ProcScan(ProcFs proc) : m_proc(std::move(proc)) {}

ScanResult ProcScan::run(const ScanFilter& filter, const std::atomic<bool>* cancel) {
    const auto sockets = m_proc.listeningSockets();
    if (!sockets)
        return {{},
                QCoreApplication::translate("ProcSource",
                                            "%1/net/tcp cannot be read; is /proc mounted?")
                    .arg(m_proc.root())};
    const auto now = std::chrono::steady_clock::now();
    const bool fresh = !m_known || filter.minPort != m_minPort || filter.maxPort != m_maxPort ||
                       filter.allowlist != m_allowlist || now - m_startedFresh >= searchEvery;
    if (fresh) {
        m_sockets.clear();
        m_processes.clear();
    }
    m_known = false; // until this scan is through
    m_pidsRead = false;

    // The sockets in the range, merged with the known ones by inode: the
    // known keep what was learned, the others are new.
    std::vector<const ListeningSocket*>& current = m_current;
    current.clear();
    for (const ListeningSocket& s : *sockets) {
        if (filter.inRange(s.port))
            current.push_back(&s);
    }
    std::sort(
        current.begin(), current.end(),
        [](const ListeningSocket* a, const ListeningSocket* b) { return a->inode < b->inode; });
    m_next.clear();
    bool appeared = false;
    auto known = m_sockets.begin();
    for (const ListeningSocket* s : current) {
        if (!m_next.empty() && m_next.back().inode == s->inode)
            continue; // listed twice
        while (known != m_sockets.end() && known->inode < s->inode)
            ++known;
        if (known != m_sockets.end() && known->inode == s->inode && known->port == s->port) {
            m_next.push_back(std::move(*known));
        } else {
            m_next.push_back({s->inode, s->port, s->address});
            appeared = true;
        }
    }
    std::swap(m_sockets, m_next);
    m_next.clear();
    current.clear();

    if (!m_sockets.empty()) {
        // Not one short-circuit: the holders that went are forgotten either way.
        const bool confirmed = confirmHolders();
        if (fresh || appeared || !confirmed || now - m_walked >= walkEvery) {
            if (!walk(filter, cancel))
                return {};
            m_walked = now;
        }
        if (!searchHolders(cancel))
            return {};
    }
    dropUnreferenced();

    m_known = true;
    m_minPort = filter.minPort;
    m_maxPort = filter.maxPort;
    m_allowlist = filter.allowlist;
    if (fresh) {
        m_walked = now;
        m_startedFresh = now;
    }
    return result();
}

bool ProcScan::confirmHolders() {
    bool confirmed = true;
    char comm[64];
    const auto gone = [&](const Process& p) {
        // The name before the start time: a pid reused in between shows in the latter.
        const qsizetype length = m_proc.comm(p.pid, comm, sizeof comm);
        if (length >= 0 && QByteArrayView(comm, length) == p.comm &&
            m_proc.startTime(p.pid) == p.startTime)
            return false;
        confirmed = false;
        for (Socket& s : m_sockets) {
            if (s.otherPid == p.pid)
                s.otherPid = unsearched;
        }
        return true;
    };
    m_processes.erase(std::remove_if(m_processes.begin(), m_processes.end(), gone),
                      m_processes.end());
    return confirmed;
}

bool ProcScan::walk(const ScanFilter& filter, const std::atomic<bool>* cancel) {
    ++m_walks;
    qsizetype unresolved = qsizetype(m_sockets.size());
    for (Socket& s : m_sockets) {
        s.allowedPid = 0;
        s.allowedOrder = 0;
    }
    std::optional<QSet<QByteArray>> allowed;
    if (filter.allowlist) {
        if (filter.allowlist->isEmpty())
            return true; // no process is allowed
        allowed.emplace();
        allowed->reserve(filter.allowlist->size());
        for (const QString& name : *filter.allowlist)
            allowed->insert(name.toUtf8());
    }
    const auto allows = [&allowed](const QByteArray& name) {
        return !allowed || allowed->contains(name);
    };
    quint64 order = 0;
    char comm[64];
    for (qint64 pid : pids()) {
        if (unresolved == 0)
            break;
        if (cancelled(cancel))
            return false;
        // The name decides before the descriptors are read.
        const qsizetype length = m_proc.comm(pid, comm, sizeof comm);
        if (length < 0)
            continue;
        const QByteArray kernelName = QByteArray::fromRawData(comm, length);
        QByteArray exeName;
        if (!allows(kernelName)) {
            exeName = m_proc.exeName(pid);
            if (exeName.isEmpty() || !allows(exeName))
                continue;
        }
        const auto startTime = m_proc.startTime(pid);
        if (!startTime)
            continue;
        bool holds = false;
        m_proc.forEachSocketInode(pid, [&](quint64 inode) {
            Socket* s = socket(inode);
            if (s && s->allowedPid == 0) {
                s->allowedPid = pid;
                s->allowedOrder = ++order;
                holds = true;
                --unresolved;
            }
            return unresolved > 0;
        });
        if (holds)
            addProcess({pid, *startTime, QByteArray(comm, length),
                        QString::fromUtf8(exeName.isEmpty() ? kernelName : exeName)});
    }
    return true;
}

bool ProcScan::searchHolders(const std::atomic<bool>* cancel) {
    // The sockets of the ports no allowed process holds. A port is searched
    // for whole, so that its sockets' holders compare within one search.
    sortByPort();
    qsizetype wanted = 0;
    for (auto group = m_byPort.begin(); group != m_byPort.end();) {
        auto end = group;
        bool held = false, searched = true;
        for (; end != m_byPort.end() && (*end)->port == (*group)->port; ++end) {
            held = held || (*end)->allowedPid > 0;
            searched = searched && (*end)->otherPid != unsearched;
        }
        for (; group != end; ++group) {
            if (held) {
                (*group)->otherPid = unsearched; // not needed while the port is held
            } else if (!searched) {
                (*group)->wanted = true;
                ++wanted;
            }
        }
    }
    if (wanted == 0)
        return true;

    ++m_holderSearches;
    quint64 order = 0;
    char comm[64];
    for (qint64 pid : pids()) {
        if (wanted == 0)
            break;
        if (cancelled(cancel))
            return false;
        m_found.clear();
        m_proc.forEachSocketInode(pid, [&](quint64 inode) {
            Socket* s = socket(inode);
            if (s && s->wanted) {
                s->wanted = false;
                m_found.push_back(s);
                --wanted;
            }
            return wanted > 0;
        });
        if (m_found.empty())
            continue;
        const qsizetype length = m_proc.comm(pid, comm, sizeof comm);
        const auto startTime = m_proc.startTime(pid);
        if (length < 0 || !startTime) { // exited meanwhile
            for (Socket* s : m_found)
                s->wanted = true;
            wanted += qsizetype(m_found.size());
            continue;
        }
        const Process* known = process(pid);
        if (!known || known->startTime != *startTime)
            addProcess(
                {pid, *startTime, QByteArray(comm, length), QString::fromUtf8(comm, length)});
        for (Socket* s : m_found) {
            s->otherPid = pid;
            s->otherOrder = ++order;
        }
    }
    // Held by processes that cannot be seen: not searched for again.
    for (Socket& s : m_sockets) {
        if (std::exchange(s.wanted, false))
            s.otherPid = 0;
    }
    return true;
}

void ProcScan::sortByPort() {
    // Within a port, the one that is listed first: the allowed holder the walk
    // met first, else the lowest visible holder, else the lowest inode.
    m_byPort.clear();
    for (Socket& s : m_sockets)
        m_byPort.push_back(&s);
    std::sort(m_byPort.begin(), m_byPort.end(), [](const Socket* a, const Socket* b) {
        if (a->port != b->port)
            return a->port < b->port;
        if ((a->allowedPid > 0) != (b->allowedPid > 0))
            return a->allowedPid > 0;
        if (a->allowedPid > 0)
            return a->allowedOrder < b->allowedOrder;
        if ((a->otherPid > 0) != (b->otherPid > 0))
            return a->otherPid > 0;
        if (a->otherPid > 0 && a->otherPid != b->otherPid)
            return a->otherPid < b->otherPid;
        if (a->otherPid > 0)
            return a->otherOrder < b->otherOrder;
        return a->inode < b->inode;
    });
}

void ProcScan::dropUnreferenced() {
    m_referenced.clear();
    for (const Socket& s : m_sockets) {
        if (s.allowedPid > 0)
            m_referenced.push_back(s.allowedPid);
        if (s.otherPid > 0)
            m_referenced.push_back(s.otherPid);
    }
    std::sort(m_referenced.begin(), m_referenced.end());
    m_processes.erase(std::remove_if(m_processes.begin(), m_processes.end(),
                                     [this](const Process& p) {
                                         return !std::binary_search(m_referenced.begin(),
                                                                    m_referenced.end(), p.pid);
                                     }),
                      m_processes.end());
}

ScanResult ProcScan::result() {
    sortByPort();
    ScanResult result;
    for (auto it = m_byPort.begin(); it != m_byPort.end(); ++it) {
        if (it != m_byPort.begin() && (*(it - 1))->port == (*it)->port)
            continue;
        const Socket& s = **it;
        const qint64 pid = s.allowedPid > 0 ? s.allowedPid : std::max<qint64>(s.otherPid, 0);
        const Process* p = pid > 0 ? process(pid) : nullptr;
        ListeningPort record{s.port, p ? pid : 0, p ? p->name : QString(), p ? p->startTime : 0,
                             s.address};
        (s.allowedPid > 0 ? result.ports : result.others).append(std::move(record));
    }
    return result;
}

ProcScan::Socket* ProcScan::socket(quint64 inode) {
    const auto it = std::lower_bound(m_sockets.begin(), m_sockets.end(), inode,
                                     [](const Socket& s, quint64 i) { return s.inode < i; });
    return it != m_sockets.end() && it->inode == inode ? &*it : nullptr;
}

const ProcScan::Process* ProcScan::process(qint64 pid) const {
    const auto it = std::lower_bound(m_processes.begin(), m_processes.end(), pid,
                                     [](const Process& p, qint64 id) { return p.pid < id; });
    return it != m_processes.end() && it->pid == pid ? &*it : nullptr;
}

void ProcScan::addProcess(Process process) {
    const auto it = std::lower_bound(m_processes.begin(), m_processes.end(), process.pid,
                                     [](const Process& p, qint64 id) { return p.pid < id; });
    if (it != m_processes.end() && it->pid == process.pid)
        *it = std::move(process);
    else
        m_processes.insert(it, std::move(process));
}

const std::vector<qint64>& ProcScan::pids() {
    if (!m_pidsRead) {
        m_pids = m_proc.pids();
        m_pidsRead = true;
    }
    return m_pids;
}

ProcSource::ProcSource(ProcFs proc, QString home)
    : m_local(proc, std::move(home)), m_scan(std::move(proc)) {}

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
    if (m_worker.joinable()) {
        m_wake.notify_one();
        return true;
    }
    try {
        m_worker = std::thread(&ProcSource::work, this);
    } catch (const std::system_error& e) {
        // No thread to be had (a process limit): this scan fails, the next
        // one tries again.
        const std::lock_guard lock(m_lock);
        m_request.reset();
        m_result = ScanResult{
            {},
            QCoreApplication::translate("ProcSource", "the scan could not be started: %1")
                .arg(QString::fromLocal8Bit(e.what()))};
        QMetaObject::invokeMethod(
            &m_receiver, [this] { deliver(); }, Qt::QueuedConnection);
    }
    return true;
}

ScanResult ProcSource::scanBlocking(const ScanFilter& filter) {
    const std::lock_guard lock(m_scanLock);
    return m_scan.run(filter);
}

ServerDetails ProcSource::details(const ListeningPort& record) const {
    return m_local.details(record);
}

void ProcSource::stop(const ListeningPort& record, bool force, StopDone done) {
    done(m_local.stop(record, force));
}

void ProcSource::stillRuns(const ListeningPort& record, RunsDone done) {
    done(m_local.stillRuns(record));
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
