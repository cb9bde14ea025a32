#include "scanner/proc_source.h"

#include "scanner/process_identity.h"
#include "scanner/socket_table.h"

#include <QByteArray>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <unistd.h>
#include <vector>

namespace {

// An open directory descriptor, closed on scope exit.
class DirFd {
public:
    explicit DirFd(int fd) : m_fd(fd) {}
    ~DirFd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DirFd(const DirFd&) = delete;
    DirFd& operator=(const DirFd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// "<pid>/<leaf>", relative to the /proc descriptor.
struct PidPath {
    char text[48];
    PidPath(qint64 pid, const char* leaf) {
        std::snprintf(text, sizeof text, "%lld/%s", static_cast<long long>(pid), leaf);
    }
};

// The process ids among the entries of /proc, ascending.
std::vector<qint64> processIds(int procFd) {
    std::vector<qint64> pids;
    const int fd = ::dup(procFd);
    if (fd < 0)
        return pids;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return pids;
    }
    ::rewinddir(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] < '1' || name[0] > '9')
            continue;
        qint64 pid = 0;
        for (; *name >= '0' && *name <= '9'; ++name)
            pid = pid * 10 + (*name - '0');
        if (*name == '\0')
            pids.push_back(pid);
    }
    ::closedir(dir);
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The kernel name of the process, without the closing newline; none when the
// process is gone.
std::optional<QByteArray> commOf(int procFd, qint64 pid) {
    const int fd = ::openat(procFd, PidPath(pid, "comm").text, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[64];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    qsizetype length = n;
    if (buffer[length - 1] == '\n')
        --length;
    return QByteArray(buffer, length);
}

// The file name of the process's executable, a " (deleted)" mark dropped;
// empty when the link cannot be read (another user's process, a kernel
// thread, a process that is gone).
QByteArray exeNameOf(int procFd, qint64 pid) {
    char target[PATH_MAX];
    const ssize_t n = ::readlinkat(procFd, PidPath(pid, "exe").text, target, sizeof target);
    if (n <= 0 || n == ssize_t(sizeof target))
        return {};
    QByteArrayView path(target, n);
    constexpr QByteArrayView deleted(" (deleted)");
    if (path.endsWith(deleted))
        path.chop(deleted.size());
    return path.sliced(path.lastIndexOf('/') + 1).toByteArray();
}

// Calls `found(inode)` for every socket among the process's descriptors until
// it returns false. False when the folder cannot be read.
template <typename Found> bool forEachSocket(int procFd, qint64 pid, Found found) {
    const int fd = ::openat(procFd, PidPath(pid, "fd").text, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd >= 0 && forEachSocketInode(fd, found);
}

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

bool byPort(const ListeningPort& a, const ListeningPort& b) {
    return a.port < b.port;
}

} // namespace

ProcScan::ProcScan(QString procRoot) : m_procRoot(std::move(procRoot)) {}

std::optional<QList<ListeningSocket>> ProcScan::listeningSockets() const {
    // The kernel's socket diagnostics answer for the real /proc at a fraction
    // of the tables' cost; the tables are the fallback, and the only source
    // under another root.
    std::optional<QList<ListeningSocket>> sockets;
    if (m_procRoot == QLatin1String("/proc") && QFileInfo::exists(QStringLiteral("/proc/net/tcp")))
        sockets = queryListeningSockets();
    if (!sockets)
        sockets = readListeningSockets(m_procRoot);
    return sockets;
}

QHash<qint64, ListeningPort> ProcScan::allowedHolders(const Walk& walk,
                                                      const QSet<QString>& allowlist) const {
    QSet<QByteArray> allowed;
    allowed.reserve(allowlist.size());
    for (const QString& name : allowlist)
        allowed.insert(name.toUtf8());
    QHash<qint64, ListeningPort> held; // by port
    for (qint64 pid : walk.pids) {
        if (held.size() == walk.portCount || cancelled(walk.cancel))
            break;
        // The name decides before the descriptors are read.
        const auto comm = commOf(walk.procFd, pid);
        if (!comm)
            continue;
        QByteArray name = *comm;
        if (!allowed.contains(name)) {
            name = exeNameOf(walk.procFd, pid);
            if (name.isEmpty() || !allowed.contains(name))
                continue;
        }
        const auto startTime = processStartTime(pid, m_procRoot);
        if (!startTime)
            continue;
        forEachSocket(walk.procFd, pid, [&](quint64 inode) {
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
            (it->pid > 0 && processStartTime(it->pid, m_procRoot) != it->startTime))
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
            forEachSocket(walk.procFd, pid, [&](quint64 inode) {
                if (unknown.contains(inode))
                    found.append(inode);
                return found.size() < unknown.size();
            });
            if (found.isEmpty())
                continue;
            const auto startTime = processStartTime(pid, m_procRoot);
            const auto comm = commOf(walk.procFd, pid);
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

ScanResult ProcScan::run(const ScanRequest& request, const std::atomic<bool>* cancel) {
    const auto sockets = listeningSockets();
    if (!sockets)
        return {{}, ListerError::ProcUnreadable};
    Walk walk;
    walk.cancel = cancel;
    QSet<qint64> ports;
    for (const ListeningSocket& s : *sockets) {
        if (s.port >= request.minPort && s.port <= request.maxPort) {
            walk.sockets.insert(s.inode, &s);
            ports.insert(s.port);
        }
    }
    if (walk.sockets.isEmpty()) {
        m_holders.clear();
        return {};
    }
    walk.portCount = ports.size();
    const DirFd proc(
        ::open(m_procRoot.toLocal8Bit().constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (proc.get() < 0)
        return {{}, ListerError::ProcUnreadable};
    walk.procFd = proc.get();
    walk.pids = processIds(proc.get());

    const QHash<qint64, ListeningPort> held = allowedHolders(walk, request.allowlist);
    ScanResult result;
    result.others = otherHolders(walk, held);
    if (cancelled(cancel))
        return {};
    result.ports = held.values();
    std::sort(result.ports.begin(), result.ports.end(), byPort);
    return result;
}

ProcSource::ProcSource(QString procRoot) : m_scan(std::move(procRoot)) {}

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

bool ProcSource::scan(ScanRequest request, Done done) {
    if (m_done)
        return false;
    m_done = std::move(done);
    {
        const std::lock_guard lock(m_lock);
        m_request = std::move(request);
    }
    if (!m_worker.joinable())
        m_worker = std::thread(&ProcSource::work, this);
    else
        m_wake.notify_one();
    return true;
}

ScanResult ProcSource::scanBlocking(const ScanRequest& request) {
    const std::lock_guard lock(m_scanLock);
    return m_scan.run(request);
}

void ProcSource::work() {
    for (;;) {
        ScanRequest request;
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
