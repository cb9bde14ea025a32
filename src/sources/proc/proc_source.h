#pragma once

#include "core/server_source.h"
#include "system/local_servers.h"
#include "system/procfs.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// How often a scan that carries over what it learned looks beyond the
// processes it knows.
struct ProcScanTiming {
    // The processes started since the last look (a holder's child keeps its
    // sockets), and whether each known holder still holds its sockets.
    std::chrono::milliseconds check = std::chrono::seconds(30);
    // The walk over every process: the one look that also sees a socket passed
    // to a process that was running before (SCM_RIGHTS), or a process holding
    // one that it was not known to hold renaming itself to an allowed name.
    std::chrono::milliseconds walk = std::chrono::minutes(10);
};

// Scans of /proc that carry over what the last one learned. Every scan reads
// the listening TCP sockets (IPv4 and IPv6) the kernel reports and keeps those
// whose port is in the range; with none, the scan ends there. A port is
// listed under the allowed process holding a socket on it that has the lowest
// pid (and, within it, the lowest descriptor), under the name that matched;
// a port no allowed process holds is an other listener, under its lowest
// holder (pid 0 when none can be seen). A port whose addresses different
// processes hold is listed once per address (see split_ports.h).
//
// What it learned is which processes hold which of those sockets: every
// allowed holder, the lowest holder of the others' sockets, and the holders
// met since. Each known holder is confirmed at every scan through its open
// <pid>/comm (one read: it fails once the process has gone), so an exit or a
// new name (an exec) is taken into account at once, without a walk.
//
// The walk over every process runs when a socket appears that it does not
// know, when the range or the allowlist changes (starting from nothing), and
// at least every `timing.walk`. It decides each process from its kernel name
// or, when that is not allowed or was cut, from its program and command line
// (see process_names.h; kept from the walk before while pid, entry and name
// stay the same), before reading its descriptors. At least every `timing.check` a check looks at
// the processes started since the last look (listed from the kernel's last given pid on, so it
// costs what they cost, not the whole table), reads their descriptors for known sockets, and
// confirms that each known holder still holds its sockets. The lowest holders of the sockets no
// allowed process holds are searched for through every process's descriptors, once per socket and
// again when that holder goes. A process that exits during a walk is left out. Not thread-safe.
class ProcScan {
public:
    explicit ProcScan(ProcFs proc = ProcFs(), ProcScanTiming timing = {});

    // `cancel`, when given and set, ends the scan early with an empty result.
    ScanResult run(const ScanFilter& filter, const std::atomic<bool>* cancel = nullptr);
    // The same in two parts: begin() reads the sockets and confirms the known
    // holders, and gives the result when that was all there was to do (it
    // costs about what the sockets and holders cost, so it may run where a
    // walk may not). Otherwise complete() does the rest: walk, check, search.
    std::optional<ScanResult> begin(const ScanFilter& filter);
    ScanResult complete(const std::atomic<bool>* cancel = nullptr);
    // Whether begin() costs one read per known holder: each has its name file
    // open.
    bool beginsCheaply() const;

    // How many walks over every process ran so far.
    int walks() const { return m_walks; }
    // How many checks for new processes ran so far.
    int checks() const { return m_checks; }
    // How many searches for the holders of other sockets ran so far.
    int holderSearches() const { return m_holderSearches; }

private:
    // Known holders at most kept open (<pid>/comm); the others are confirmed
    // by path, name and start time.
    static constexpr size_t maxOpenNames = 64;

    // A process that holds a known socket.
    struct Process {
        qint64 pid = 0;
        quint64 startTime = 0;
        QByteArray comm;
        QString name; // the name it is listed under
        bool allowed = false;
        ProcessNameFile nameFile;
    };
    // A process's descriptor holding a known socket.
    struct Holding {
        qint64 pid = 0;
        int fd = 0;
        quint64 inode = 0;
    };
    // A listening socket in the range.
    struct Socket {
        quint64 inode = 0;
        qint64 port = 0;
        QString address;
        // Whether its lowest holder was searched for since it was last needed.
        bool searched = false;
        // Of the holdings, the allowed one and the lowest: (pid, descriptor);
        // pid 0 when there is none.
        qint64 allowedPid = 0;
        int allowedFd = 0;
        qint64 otherPid = 0;
        int otherFd = 0;
        bool wanted = false; // searched for in the running search
    };
    // What a walk kept of a process whose kernel name alone does not decide
    // (not allowed, or cut): the name it is listed under.
    struct ExeNote {
        qint64 pid = 0;
        quint64 inode = 0;
        QByteArray comm;
        QString name; // empty: not allowed
    };

    bool readSockets();
    void reset(const ScanFilter& filter);
    // Merges the sockets in the range into the known ones; true when one appeared.
    bool mergeSockets(const ScanFilter& filter);
    // Forgets the processes that exited and takes in new names.
    void confirmHolders();
    bool walk(const std::atomic<bool>* cancel);
    bool check(const std::atomic<bool>* cancel);
    // Reads the descriptors of a process started since the last look when it
    // could hold a known socket: it is allowed, or its parent is a holder.
    void examine(qint64 pid, const ProcessStat& stat, const QString& allowedName);
    ScanResult finish();
    // The known sockets among the process's descriptors, ascending by descriptor.
    std::vector<Holding> holdingsOf(qint64 pid) const;
    // Takes `holdings` as all the holdings of the process `stat` tells of,
    // listed under `name` when allowed; it is known while it has any.
    void hold(qint64 pid, const std::vector<Holding>& holdings, const ProcessStat& stat,
              const QString& name, bool allowed);
    // Replaces the holdings of a known process.
    void setHoldings(qint64 pid, const std::vector<Holding>& holdings);
    // The name a process with this kernel name is listed under when it is
    // allowed (its full name, else its kernel name, else its program's file
    // name, with or without its version); empty when it is not.
    QString allowedName(qint64 pid, const QByteArray& comm) const;
    void resolve();
    // Marks the sockets whose lowest holder is to be searched for; how many.
    qsizetype markWanted();
    bool searchHolders(const std::atomic<bool>* cancel);
    void sortByPort();
    void dropUnreferenced();
    ScanResult result();

    Socket* socket(quint64 inode);
    Process* process(qint64 pid);
    size_t openNames() const;

    ProcFs m_proc;
    ProcScanTiming m_timing;
    SocketDiagnostics m_diagnostics;
    bool m_useDiagnostics = false; // the sockets of this scan are in m_raw, else in m_tables
    bool m_procMounted = false;
    std::vector<Socket> m_sockets;    // ascending by inode
    std::vector<Process> m_processes; // ascending by pid
    std::vector<Holding> m_holdings;  // ascending by pid, then descriptor
    // The processes as the last walk and the checks since listed them, and
    // what the kernel had given out then, for the next check.
    std::vector<PidEntry> m_table;
    std::optional<qint64> m_lastPid;
    std::optional<quint64> m_forks;
    std::vector<ExeNote> m_exeNotes; // ascending by pid
    // Scratch, kept for its capacity.
    std::vector<RawListeningSocket> m_raw;
    QList<ListeningSocket> m_tables;
    std::vector<std::pair<quint64, size_t>> m_current; // (inode, index in m_raw or m_tables)
    std::vector<Socket> m_next;
    std::vector<Socket*> m_byPort;
    bool m_known = false; // whether the state is that of a finished scan
    // What the scan begun is still to do, and for which filter.
    bool m_walkDue = false;
    bool m_checkDue = false;
    ScanFilter m_filter;
    std::chrono::steady_clock::time_point m_now;
    qint64 m_minPort = 0, m_maxPort = 0;
    std::optional<QSet<QString>> m_allowlist;
    std::optional<QSet<QByteArray>> m_allowed;       // the allowlist's names as the kernel has them
    std::chrono::steady_clock::time_point m_walked;  // the last walk
    std::chrono::steady_clock::time_point m_checked; // the last walk or check
    int m_walks = 0;
    int m_checks = 0;
    int m_holderSearches = 0;
};

// Servers found in /proc. The part of a scan that costs about what the
// sockets and their known holders cost (all of it while nothing changes) runs
// on the calling thread; walks, checks and searches run on one long-lived
// worker thread started at the first scan, so a quiet cycle wakes no other
// thread. Results are delivered on the thread that created the source, from
// its event loop. Its records are stopped through a pidfd once pid, start time and a
// listening socket on the port confirm the process.
class ProcSource : public ServerSource {
public:
    explicit ProcSource(ProcFs proc = ProcFs(), QString home = {}, ProcScanTiming timing = {});
    ~ProcSource() override;
    ProcSource(const ProcSource&) = delete;
    ProcSource& operator=(const ProcSource&) = delete;

    bool scan(ScanFilter filter, Done done) override;
    bool isScanning() const override { return static_cast<bool>(m_done); }
    ServerDetails details(const ListeningPort& record) const override;
    void stop(const ListeningPort& record, bool force, StopDone done) override;
    void stillRuns(const ListeningPort& record, RunsDone done) override;

    // The same scan, waited for on the calling thread. For tests and tools.
    ScanResult scanBlocking(const ScanFilter& filter);

private:
    void work();
    void deliver();

    LocalServers m_local;
    QObject m_receiver; // on the creating thread; results are queued to it
    Done m_done;        // set while a scan runs; creating thread only

    std::mutex m_scanLock; // one ProcScan::run at a time (worker or blocking)
    ProcScan m_scan;

    // A scan for the worker: to be run whole, or completed once begun.
    struct Request {
        ScanFilter filter;
        bool begun = false;
    };
    std::mutex m_lock; // guards m_request, m_result and m_quit
    std::condition_variable m_wake;
    std::optional<Request> m_request;
    std::optional<ScanResult> m_result; // from the worker, not delivered yet
    bool m_quit = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};
