#pragma once

#include "core/procfs.h"
#include "core/server_source.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// One scan of /proc, run step by step:
// 1. the listening TCP sockets (IPv4 and IPv6) the kernel reports, kept when
//    their port is in the range; with none, the scan ends here;
// 2. the allowed processes among /proc/<pid>, decided from the kernel name
//    (comm) or, when that is not allowed, from the executable's file name,
//    before their descriptors are read;
// 3. the descriptors of those processes only, matched against the sockets'
//    inodes: a port goes to the lowest pid that holds a socket listening on
//    it, under the name that matched;
// 4. the holders of the sockets left over, searched once per socket and
//    remembered until the socket goes away (see `others` of ScanResult).
// A process that exits during the scan is left out. The object keeps the
// remembered holders between scans; it is not thread-safe.
class ProcScan {
public:
    explicit ProcScan(ProcFs proc = ProcFs());

    // `cancel`, when given and set, ends the scan early with an empty result.
    ScanResult run(const ScanFilter& filter, const std::atomic<bool>* cancel = nullptr);

    // How many full searches for holders ran so far (each reads the
    // descriptors of every visible process until the holders are found).
    int holderSearches() const { return m_holderSearches; }

private:
    struct Holder {
        qint64 pid = 0; // 0: no visible process holds it
        quint64 startTime = 0;
        QString name;
    };
    // What one scan walks over.
    struct Walk {
        QHash<quint64, const ListeningSocket*> sockets; // in the range, by inode
        qsizetype portCount = 0;                        // of those sockets
        std::vector<qint64> pids;                       // ascending
        const std::atomic<bool>* cancel = nullptr;
    };

    // Steps 2 and 3: the records of the allowed processes, by port.
    QHash<qint64, ListeningPort> allowedHolders(const Walk& walk, const ScanFilter& filter) const;
    // Step 4: the records of the sockets that no allowed process holds.
    QList<ListeningPort> otherHolders(const Walk& walk, const QHash<qint64, ListeningPort>& held);

    ProcFs m_proc;
    QHash<quint64, Holder> m_holders; // by socket inode
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

    ProcFs m_proc;
    QString m_home;
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
