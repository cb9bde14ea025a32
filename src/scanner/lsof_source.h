#pragma once

#include "scanner/lister.h"
#include "scanner/socket_source.h"

// Listening sockets from one lsof run per scan: the listing is parsed, one
// record per port (its first line), and split by the range and the allowlist.
// Each record gets its process's start time from /proc.
class LsofSource : public SocketSource {
public:
    explicit LsofSource(ListerCommand command = defaultListerCommand());

    bool scan(ScanRequest request, Done done) override;
    bool isScanning() const override { return m_lister.isRunning(); }
    ScanResult scanBlocking(const ScanRequest& request) override;

    // The scan's result for one run of the lister.
    static ScanResult resultOf(const ListerResult& listing, const ScanRequest& request);

private:
    Lister m_lister;
};
