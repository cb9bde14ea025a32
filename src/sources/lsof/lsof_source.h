#pragma once

#include "core/server_source.h"
#include "sources/lsof/lister.h"
#include "system/local_servers.h"
#include "system/procfs.h"

// Servers from one lsof run per scan: the listing is parsed (see
// parseLsofListing()) and split by the filter. Each record gets its
// process's start time from /proc, and is stopped as the /proc source's are.
class LsofSource : public ServerSource {
public:
    explicit LsofSource(ListerCommand command = defaultListerCommand(), ProcFs proc = ProcFs(),
                        QString home = {});

    bool scan(ScanFilter filter, Done done) override;
    bool isScanning() const override { return m_lister.isRunning(); }
    ServerDetails details(const ListeningPort& record) const override;
    void stop(const ListeningPort& record, bool force, StopDone done) override;
    void stillRuns(const ListeningPort& record, RunsDone done) override;

    // The same scan, waited for on the calling thread. For tests and tools.
    ScanResult scanBlocking(const ScanFilter& filter);

    // The scan's result for one run of the lister.
    static ScanResult resultOf(const ListerResult& listing, const ScanFilter& filter,
                               const ProcFs& proc);

private:
    Lister m_lister;
    LocalServers m_local;
};
