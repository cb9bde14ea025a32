#include "sources/proc/proc_source.h"

#include "core/process_names.h"
#include "core/split_ports.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QSet>

#include <algorithm>
#include <limits>
#include <system_error>
#include <utility>

namespace {

bool cancelled(const std::atomic<bool>* cancel) {
    return cancel && cancel->load(std::memory_order_relaxed);
}

// The order in which a walk meets holdings: by pid, then descriptor.
bool before(qint64 pid, int fd, qint64 otherPid, int otherFd) {
    return pid != otherPid ? pid < otherPid : fd < otherFd;
}

} // namespace

ProcScan::ProcScan(ProcFs proc, ProcScanTiming timing)
    : m_proc(std::move(proc)), m_timing(timing) {}

bool ProcScan::readSockets() {
    // The socket diagnostics answer for the real /proc at a fraction of the
    // tables' cost, on a connection kept open; the tables are the fallback,
    // and the only source under another root. Where /proc/net/tcp is missing,
    // so is /proc: that is asked once.
    m_raw.clear();
    m_tables.clear();
    if (m_proc.isSystem()) {
        if (!m_procMounted) {
            if (!m_proc.socketTables())
                return false;
            m_procMounted = true;
        }
        m_useDiagnostics = m_diagnostics.listening(m_raw);
        if (m_useDiagnostics)
            return true;
    }
    m_useDiagnostics = false;
    auto tables = m_proc.socketTables();
    if (!tables)
        return false;
    m_tables = std::move(*tables);
    return true;
}

void ProcScan::reset(const ScanFilter& filter) {
    m_sockets.clear();
    m_processes.clear();
    m_holdings.clear();
    m_exeNotes.clear();
    m_allowed.reset();
    if (filter.allowlist) {
        m_allowed.emplace();
        m_allowed->reserve(filter.allowlist->size());
        for (const QString& name : *filter.allowlist)
            m_allowed->insert(name.toUtf8());
    }
}

ScanResult ProcScan::run(const ScanFilter& filter, const std::atomic<bool>* cancel) {
    if (auto result = begin(filter))
        return std::move(*result);
    return complete(cancel);
}

std::optional<ScanResult> ProcScan::begin(const ScanFilter& filter) {
    m_walkDue = m_checkDue = false;
    if (!readSockets())
        return ScanResult{{},
                          QCoreApplication::translate(
                              "ProcSource", "%1/net/tcp cannot be read; is /proc mounted?")
                              .arg(m_proc.root())};
    m_now = std::chrono::steady_clock::now();
    m_filter = filter;
    const bool fresh = !m_known || filter.minPort != m_minPort || filter.maxPort != m_maxPort ||
                       filter.allowlist != m_allowlist;
    if (fresh)
        reset(filter);
    m_known = false; // until this scan is through

    const bool appeared = mergeSockets(filter);
    if (m_sockets.empty())
        return finish();
    confirmHolders();
    m_walkDue = fresh || appeared || m_now - m_walked >= m_timing.walk;
    m_checkDue = !m_walkDue && m_now - m_checked >= m_timing.check;
    if (m_walkDue || m_checkDue)
        return std::nullopt;
    resolve();
    if (markWanted() > 0)
        return std::nullopt;
    return finish();
}

ScanResult ProcScan::complete(const std::atomic<bool>* cancel) {
    if (m_walkDue) {
        if (!walk(cancel))
            return {};
        m_walked = m_now;
        m_checked = m_now;
    } else if (m_checkDue) {
        if (!check(cancel))
            return {};
        m_checked = m_now;
    }
    m_walkDue = m_checkDue = false;
    resolve();
    markWanted();
    if (!searchHolders(cancel))
        return {};
    return finish();
}

ScanResult ProcScan::finish() {
    dropUnreferenced();
    m_known = true;
    m_minPort = m_filter.minPort;
    m_maxPort = m_filter.maxPort;
    m_allowlist = m_filter.allowlist;
    return result();
}

bool ProcScan::mergeSockets(const ScanFilter& filter) {
    // The sockets in the range, merged with the known ones by inode: the
    // known keep what was learned, the others are new.
    m_current.clear();
    if (m_useDiagnostics) {
        for (size_t i = 0; i < m_raw.size(); ++i) {
            if (filter.inRange(m_raw[i].port))
                m_current.push_back({m_raw[i].inode, i});
        }
    } else {
        for (qsizetype i = 0; i < m_tables.size(); ++i) {
            if (filter.inRange(m_tables[i].port))
                m_current.push_back({m_tables[i].inode, size_t(i)});
        }
    }
    std::sort(m_current.begin(), m_current.end());
    m_next.clear();
    bool appeared = false;
    auto known = m_sockets.begin();
    for (const auto& [inode, index] : m_current) {
        if (!m_next.empty() && m_next.back().inode == inode)
            continue; // listed twice
        const qint64 port = m_useDiagnostics ? m_raw[index].port : m_tables[qsizetype(index)].port;
        while (known != m_sockets.end() && known->inode < inode)
            ++known;
        if (known != m_sockets.end() && known->inode == inode && known->port == port) {
            m_next.push_back(std::move(*known));
        } else {
            Socket s;
            s.inode = inode;
            s.port = port;
            s.address =
                m_useDiagnostics ? m_raw[index].addressText() : m_tables[qsizetype(index)].address;
            m_next.push_back(std::move(s));
            appeared = true;
        }
    }
    std::swap(m_sockets, m_next);
    m_next.clear();
    // The holdings of sockets that went go with them.
    m_holdings.erase(std::remove_if(m_holdings.begin(), m_holdings.end(),
                                    [this](const Holding& h) { return !socket(h.inode); }),
                     m_holdings.end());
    return appeared;
}

void ProcScan::confirmHolders() {
    char comm[64];
    for (auto it = m_processes.begin(); it != m_processes.end();) {
        Process& p = *it;
        qsizetype length;
        if (p.nameFile.isOpen()) {
            length = p.nameFile.read(comm, sizeof comm);
        } else {
            // The name before the start time: a pid reused in between shows in the latter.
            length = m_proc.comm(p.pid, comm, sizeof comm);
            if (length >= 0 && m_proc.startTime(p.pid) != p.startTime)
                length = -1;
        }
        if (length < 0) {
            setHoldings(p.pid, {});
            it = m_processes.erase(it);
            continue;
        }
        if (QByteArrayView(comm, length) != p.comm) {
            // A new name, or another program (an exec): decided anew, and
            // its sockets read again, as the walk would.
            p.comm = QByteArray(comm, length);
            p.name = allowedName(p.pid, p.comm);
            p.allowed = !p.name.isEmpty();
            if (!p.allowed)
                p.name = QString::fromUtf8(p.comm);
            setHoldings(p.pid, holdingsOf(p.pid));
        }
        ++it;
    }
}

QString ProcScan::allowedName(qint64 pid, const QByteArray& comm) const {
    // A name the kernel did not cut is the process's own.
    if (comm.size() != kernelNameBytes && (!m_allowed || m_allowed->contains(comm)))
        return QString::fromUtf8(comm);
    const QByteArray exe = m_proc.exeName(pid);
    const QByteArray cmdline = m_proc.cmdline(pid).value_or(QByteArray());
    if (!m_allowed)
        return QString::fromUtf8(fullProcessName(comm, exe, cmdline));
    const auto name = listedName(comm, exe, cmdline,
                                 [this](const QByteArray& n) { return m_allowed->contains(n); });
    return name ? QString::fromUtf8(*name) : QString();
}

std::vector<ProcScan::Holding> ProcScan::holdingsOf(qint64 pid) const {
    std::vector<Holding> holdings;
    m_proc.forEachSocket(pid, [&](int fd, quint64 inode) {
        const auto it = std::lower_bound(m_sockets.begin(), m_sockets.end(), inode,
                                         [](const Socket& s, quint64 i) { return s.inode < i; });
        if (it != m_sockets.end() && it->inode == inode)
            holdings.push_back({pid, fd, inode});
        return true;
    });
    return holdings;
}

void ProcScan::setHoldings(qint64 pid, const std::vector<Holding>& holdings) {
    const auto [first, last] =
        std::equal_range(m_holdings.begin(), m_holdings.end(), Holding{pid, 0, 0},
                         [](const Holding& a, const Holding& b) { return a.pid < b.pid; });
    for (auto h = first; h != last; ++h) {
        // The lowest holder of an other listener's socket let go of it: its
        // lowest holder is searched for anew.
        const bool kept = std::any_of(holdings.begin(), holdings.end(), [&](const Holding& k) {
            return k.fd == h->fd && k.inode == h->inode;
        });
        Socket* s = socket(h->inode);
        if (!kept && s && s->otherPid == pid && s->otherFd == h->fd)
            s->searched = false;
    }
    const auto at = m_holdings.erase(first, last);
    m_holdings.insert(at, holdings.begin(), holdings.end());
}

void ProcScan::hold(qint64 pid, const std::vector<Holding>& holdings, const ProcessStat& stat,
                    const QString& name, bool allowed) {
    Process* known = process(pid);
    if (known && known->startTime != stat.startTime) {
        // The pid was given to another process since.
        setHoldings(pid, {});
        m_processes.erase(m_processes.begin() + (known - m_processes.data()));
        known = nullptr;
    }
    setHoldings(pid, holdings);
    if (known) { // the same process, as it is now
        known->comm = stat.comm;
        known->name = name;
        known->allowed = allowed;
        return;
    }
    if (holdings.empty())
        return;
    Process p{pid, stat.startTime, stat.comm, name, allowed, {}};
    if (openNames() < maxOpenNames)
        p.nameFile = m_proc.openName(pid);
    m_processes.insert(std::lower_bound(m_processes.begin(), m_processes.end(), pid,
                                        [](const Process& q, qint64 id) { return q.pid < id; }),
                       std::move(p));
}

bool ProcScan::walk(const std::atomic<bool>* cancel) {
    ++m_walks;
    // What the kernel had given out before the listing: a process started
    // while it is read is looked at by the next check.
    m_lastPid = m_proc.lastPid();
    m_forks = m_proc.forks();
    const std::vector<PidEntry> before = std::exchange(m_table, m_proc.pidEntries());
    auto seen = before.cbegin();
    std::vector<ExeNote> notes;
    auto note = m_exeNotes.cbegin();
    char comm[64];
    for (const PidEntry& entry : m_table) {
        if (cancelled(cancel))
            return false;
        const qint64 pid = entry.pid;
        // Started since the last look (as a check would have looked at it):
        // its descriptors are read whatever its name.
        while (seen != before.cend() && seen->pid < pid)
            ++seen;
        const bool started = !before.empty() && (seen == before.cend() || !(*seen == entry));
        // The name decides before the descriptors are read.
        const qsizetype length = m_proc.comm(pid, comm, sizeof comm);
        if (length < 0)
            continue;
        const QByteArray kernelName = QByteArray::fromRawData(comm, length);
        QString name;
        if (kernelName.size() != kernelNameBytes &&
            (!m_allowed || m_allowed->contains(kernelName))) {
            name = QString::fromUtf8(kernelName);
        } else {
            // Decided from its program and command line, as the walk before
            // decided it while the process is the same one under the same name.
            while (note != m_exeNotes.cend() && note->pid < pid)
                ++note;
            if (note != m_exeNotes.cend() && note->pid == pid && note->inode == entry.inode &&
                note->comm == kernelName)
                name = note->name;
            else
                name = allowedName(pid, QByteArray(comm, length));
            notes.push_back({pid, entry.inode, QByteArray(comm, length), name});
        }
        if (name.isEmpty()) {
            if (started) {
                if (const auto stat = m_proc.stat(pid))
                    examine(pid, *stat, {});
            }
            continue;
        }
        const auto startTime = m_proc.startTime(pid);
        if (!startTime)
            continue;
        hold(pid, holdingsOf(pid), {QByteArray(comm, length), *startTime}, name, true);
    }
    m_exeNotes = std::move(notes);
    return true;
}

bool ProcScan::check(const std::atomic<bool>* cancel) {
    ++m_checks;
    // Each known holder still holding its sockets: one that closed its copy
    // of one (another process may keep it) has its descriptors read again.
    std::vector<qint64> changed;
    for (const Holding& h : m_holdings) {
        if ((changed.empty() || changed.back() != h.pid) &&
            !m_proc.holdsSocketAt(h.pid, h.fd, h.inode))
            changed.push_back(h.pid);
    }
    for (const qint64 pid : changed)
        setHoldings(pid, holdingsOf(pid));

    // The processes started since the last look: those after the pid given out
    // then, up to the one given out last, counting on from the start past the
    // highest. A full round of pids (or no way to tell) lists them all.
    const auto lastPid = m_proc.lastPid();
    const auto forks = m_proc.forks();
    const auto pidMax = m_proc.pidMax();
    std::vector<std::pair<qint64, qint64>> ranges;
    if (lastPid && m_lastPid && forks && m_forks && pidMax && *forks >= *m_forks &&
        *forks - *m_forks < quint64(*pidMax / 2)) {
        if (*lastPid > *m_lastPid) {
            ranges.push_back({*m_lastPid + 1, *lastPid});
        } else if (*lastPid < *m_lastPid) {
            ranges.push_back({*m_lastPid + 1, *pidMax - 1});
            ranges.push_back({1, *lastPid});
        }
    } else {
        ranges.push_back({1, std::numeric_limits<qint64>::max()});
    }
    m_lastPid = lastPid;
    m_forks = forks;
    for (const auto& [first, last] : ranges) {
        const std::vector<PidEntry> listed = m_proc.pidEntries(first, last);
        // The table's entries in the range, for the processes seen before.
        const auto low = std::lower_bound(m_table.begin(), m_table.end(), first,
                                          [](const PidEntry& e, qint64 p) { return e.pid < p; });
        const auto high = std::upper_bound(low, m_table.end(), last,
                                           [](qint64 p, const PidEntry& e) { return p < e.pid; });
        auto seen = low;
        for (const PidEntry& entry : listed) {
            if (cancelled(cancel))
                return false;
            while (seen != high && seen->pid < entry.pid)
                ++seen;
            if (seen != high && *seen == entry)
                continue;
            if (const auto stat = m_proc.stat(entry.pid))
                examine(entry.pid, *stat, allowedName(entry.pid, stat->comm));
        }
        const auto at = m_table.erase(low, high);
        m_table.insert(at, listed.begin(), listed.end());
    }
    return true;
}

void ProcScan::examine(qint64 pid, const ProcessStat& stat, const QString& allowedName) {
    // A socket comes to a new process from its parent (or from a process it
    // was passed to, which the walk sees): a process that is not allowed is
    // of interest only as the child of a holder, in case it takes an allowed
    // name later.
    const bool allowed = !allowedName.isEmpty();
    if (!allowed && !process(stat.parent))
        return;
    const std::vector<Holding> holdings = holdingsOf(pid);
    if (!holdings.empty())
        hold(pid, holdings, stat, allowed ? allowedName : QString::fromUtf8(stat.comm), allowed);
}

void ProcScan::resolve() {
    for (Socket& s : m_sockets) {
        s.allowedPid = s.otherPid = 0;
        s.allowedFd = s.otherFd = 0;
    }
    for (const Holding& h : m_holdings) {
        Socket* s = socket(h.inode);
        const Process* p = process(h.pid);
        if (!s || !p)
            continue;
        if (p->allowed &&
            (s->allowedPid == 0 || before(h.pid, h.fd, s->allowedPid, s->allowedFd))) {
            s->allowedPid = h.pid;
            s->allowedFd = h.fd;
        }
        if (s->otherPid == 0 || before(h.pid, h.fd, s->otherPid, s->otherFd)) {
            s->otherPid = h.pid;
            s->otherFd = h.fd;
        }
    }
}

qsizetype ProcScan::markWanted() {
    // The sockets no allowed process holds whose lowest holder is not known:
    // of a port no allowed process holds (an other listener), or of an
    // address of a held port that another process may hold. A port is
    // searched for whole, so that its sockets' holders compare within one
    // search.
    sortByPort();
    qsizetype wanted = 0;
    for (Socket& s : m_sockets)
        s.wanted = false;
    for (auto group = m_byPort.begin(); group != m_byPort.end();) {
        auto end = group;
        bool searched = true;
        for (; end != m_byPort.end() && (*end)->port == (*group)->port; ++end) {
            if ((*end)->allowedPid == 0)
                searched = searched && (*end)->searched;
        }
        for (; group != end; ++group) {
            if ((*group)->allowedPid > 0) {
                (*group)->searched = false; // not needed while an allowed process holds it
            } else if (!searched) {
                (*group)->wanted = true;
                ++wanted;
            }
        }
    }
    return wanted;
}

bool ProcScan::searchHolders(const std::atomic<bool>* cancel) {
    qsizetype wanted =
        std::count_if(m_sockets.begin(), m_sockets.end(), [](const Socket& s) { return s.wanted; });
    if (wanted == 0)
        return true;

    ++m_holderSearches;
    // Known holdings of the wanted sockets may not be the lowest: they are
    // found again in the search.
    for (const PidEntry& entry : m_proc.pidEntries()) {
        if (wanted == 0)
            break;
        if (cancelled(cancel))
            return false;
        const std::vector<Holding> holdings = holdingsOf(entry.pid);
        if (std::none_of(holdings.begin(), holdings.end(),
                         [this](const Holding& h) { return socket(h.inode)->wanted; }))
            continue;
        const auto stat = m_proc.stat(entry.pid);
        if (!stat)
            continue; // exited meanwhile
        for (const Holding& h : holdings) {
            Socket* s = socket(h.inode);
            if (std::exchange(s->wanted, false)) {
                s->searched = true;
                --wanted;
            }
        }
        const QString name = allowedName(entry.pid, stat->comm);
        const bool allowed = !name.isEmpty();
        hold(entry.pid, holdings, *stat, allowed ? name : QString::fromUtf8(stat->comm), allowed);
    }
    // Held by processes that cannot be seen: not searched for again.
    for (Socket& s : m_sockets) {
        if (std::exchange(s.wanted, false))
            s.searched = true;
    }
    dropUnreferenced();
    resolve();
    return true;
}

void ProcScan::sortByPort() {
    // Within a port, the one that is listed first: the allowed holding a walk
    // meets first, else the lowest holder, else the lowest inode.
    m_byPort.clear();
    for (Socket& s : m_sockets)
        m_byPort.push_back(&s);
    std::sort(m_byPort.begin(), m_byPort.end(), [](const Socket* a, const Socket* b) {
        if (a->port != b->port)
            return a->port < b->port;
        if ((a->allowedPid > 0) != (b->allowedPid > 0))
            return a->allowedPid > 0;
        if (a->allowedPid > 0)
            return before(a->allowedPid, a->allowedFd, b->allowedPid, b->allowedFd);
        if ((a->otherPid > 0) != (b->otherPid > 0))
            return a->otherPid > 0;
        if (a->otherPid > 0 && (a->otherPid != b->otherPid || a->otherFd != b->otherFd))
            return before(a->otherPid, a->otherFd, b->otherPid, b->otherFd);
        return a->inode < b->inode;
    });
}

void ProcScan::dropUnreferenced() {
    m_processes.erase(
        std::remove_if(m_processes.begin(), m_processes.end(),
                       [this](const Process& p) {
                           return !std::binary_search(
                               m_holdings.begin(), m_holdings.end(), Holding{p.pid, 0, 0},
                               [](const Holding& a, const Holding& b) { return a.pid < b.pid; });
                       }),
        m_processes.end());
}

ScanResult ProcScan::result() {
    sortByPort();
    // Each socket under its holder, a port's first the one listed when no
    // other process holds one of its addresses.
    QList<ListeningPort> byAddress;
    byAddress.reserve(qsizetype(m_byPort.size()));
    for (const Socket* s : m_byPort) {
        // An other listener's holder is shown once its lowest is known.
        const qint64 pid = s->allowedPid > 0 ? s->allowedPid : s->searched ? s->otherPid : 0;
        const Process* p = pid > 0 ? process(pid) : nullptr;
        byAddress.append(
            {s->port, p ? pid : 0, p ? p->name : QString(), p ? p->startTime : 0, s->address});
    }
    ScanResult result;
    for (ListeningPort& record : splitByHolder(byAddress)) {
        const Process* p = record.pid > 0 ? process(record.pid) : nullptr;
        (p && p->allowed ? result.ports : result.others).append(std::move(record));
    }
    return result;
}

ProcScan::Socket* ProcScan::socket(quint64 inode) {
    const auto it = std::lower_bound(m_sockets.begin(), m_sockets.end(), inode,
                                     [](const Socket& s, quint64 i) { return s.inode < i; });
    return it != m_sockets.end() && it->inode == inode ? &*it : nullptr;
}

ProcScan::Process* ProcScan::process(qint64 pid) {
    const auto it = std::lower_bound(m_processes.begin(), m_processes.end(), pid,
                                     [](const Process& p, qint64 id) { return p.pid < id; });
    return it != m_processes.end() && it->pid == pid ? &*it : nullptr;
}

bool ProcScan::beginsCheaply() const {
    return std::all_of(m_processes.begin(), m_processes.end(),
                       [](const Process& p) { return p.nameFile.isOpen(); });
}

size_t ProcScan::openNames() const {
    return size_t(std::count_if(m_processes.begin(), m_processes.end(),
                                [](const Process& p) { return p.nameFile.isOpen(); }));
}

ProcSource::ProcSource(ProcFs proc, QString home, ProcScanTiming timing)
    : m_local(proc, std::move(home)), m_scan(std::move(proc), timing) {}

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
    std::optional<ScanResult> result;
    bool begun = false;
    {
        const std::lock_guard lock(m_scanLock);
        if (m_scan.beginsCheaply()) {
            result = m_scan.begin(filter);
            begun = true;
        }
    }
    if (result) {
        {
            const std::lock_guard lock(m_lock);
            m_result = std::move(result);
        }
        QMetaObject::invokeMethod(
            &m_receiver, [this] { deliver(); }, Qt::QueuedConnection);
        return true;
    }
    {
        const std::lock_guard lock(m_lock);
        m_request = Request{std::move(filter), begun};
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
        Request request;
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
            result =
                request.begun ? m_scan.complete(&m_cancel) : m_scan.run(request.filter, &m_cancel);
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
