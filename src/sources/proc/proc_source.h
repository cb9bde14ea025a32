#pragma once

#include "system/local_servers.h"
#include "system/procfs.h"
#include "core/server_source.h"

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

// Scans of /proc that carry over what the last one learned. Every scan reads
// the listening TCP sockets (IPv4 and IPv6) the kernel reports and keeps those
// whose port is in the range; with none, the scan ends there. What it learned
// about them stands while it holds: for each socket, the lowest allowed process
// holding it (pid, start time, the name that matched) or that none does, and,
// for the sockets of a port no allowed process holds, the lowest process
// holding it at all (pid 0 when none can be seen). A scan then only confirms
// that each of those processes still runs (its start time) under the same
// kernel name (comm).
//
// The walk over every process runs when a socket appears that it does not
// know, a known process exits or changes its kernel name, and at least every
// 30 seconds; the scan starts from nothing when the range or the allowlist
// changes and at least every 5 minutes. The walk decides each process from its
// kernel name or, when that is not allowed, from its executable's file name,
// before reading its descriptors: a port goes to the lowest allowed pid holding
// a socket on it, under the name that matched. The holders of the sockets left
// over are searched for through every process's descriptors, once per socket.
// A process that exits during a walk is left out. Not thread-safe.
class ProcScan {
public:
    explicit ProcScan(ProcFs proc = ProcFs());

    // `cancel`, when given and set, ends the scan early with an empty result.
    ScanResult run(const ScanFilter& filter, const std::atomic<bool>* cancel = nullptr);

    // How many walks over the allowed processes ran so far.
    int walks() const { return m_walks; }
    // How many searches for the holders of other sockets ran so far.
    int holderSearches() const { return m_holderSearches; }

private:
    static constexpr qint64 unsearched = -1;

    // A process that holds a known socket, valid while it has this start time.
    struct Process {
        qint64 pid = 0;
        quint64 startTime = 0;
        QByteArray comm;
        QString name; // the name it is listed under
    };
    // A listening socket in the range and what is known of its holders.
    struct Socket {
        quint64 inode = 0;
        qint64 port = 0;
        QString address;
        qint64 allowedPid = 0;        // the lowest allowed holder; 0: none
        quint64 allowedOrder = 0;     // when the walk met it: the first met wins a port
        qint64 otherPid = unsearched; // the lowest holder at all; 0: none visible
        quint64 otherOrder = 0;
        bool wanted = false; // searched for in the running search
    };

    // Forgets the processes that no longer run as they did; false when one went.
    bool confirmHolders();
    // Learns the lowest allowed holder of every known socket; false when cancelled.
    bool walk(const ScanFilter& filter, const std::atomic<bool>* cancel);
    // Learns the holders of the sockets of ports no allowed process holds.
    bool searchHolders(const std::atomic<bool>* cancel);
    void sortByPort();
    void dropUnreferenced();
    ScanResult result();

    Socket* socket(quint64 inode);
    const Process* process(qint64 pid) const;
    void addProcess(Process process);
    const std::vector<qint64>& pids();

    ProcFs m_proc;
    std::vector<Socket> m_sockets;    // ascending by inode
    std::vector<Process> m_processes; // ascending by pid
    // Scratch, kept for its capacity.
    std::vector<const ListeningSocket*> m_current;
    std::vector<Socket> m_next;
    std::vector<Socket*> m_byPort;
    std::vector<Socket*> m_found;
    std::vector<qint64> m_referenced;
    std::vector<qint64> m_pids; // of the running scan, read when first needed
    bool m_pidsRead = false;
    bool m_known = false; // whether the state is that of a finished scan
    qint64 m_minPort = 0, m_maxPort = 0;
    std::optional<QSet<QString>> m_allowlist;
    std::chrono::steady_clock::time_point m_walked;       // the last walk
    std::chrono::steady_clock::time_point m_startedFresh; // the last scan from nothing
    int m_walks = 0;
    int m_holderSearches = 0;
};

// Servers found in /proc, scanned on one long-lived worker thread started at
// the first scan. Results are delivered on the thread that created the
// source. Its records are stopped through a pidfd once pid, start time and a
// listening socket on the port confirm the process.
class ProcSource : public ServerSource {
public:
    explicit ProcSource(ProcFs proc = ProcFs(), QString home = {});
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

    std::mutex m_lock; // guards m_request, m_result and m_quit
    std::condition_variable m_wake;
    std::optional<ScanFilter> m_request;
    std::optional<ScanResult> m_result; // from the worker, not delivered yet
    bool m_quit = false;
    std::atomic<bool> m_cancel{false};
    std::thread m_worker;
};
