#include "scanner/lsof_source.h"

#include "scanner/port_scanner.h"
#include "scanner/process_identity.h"

LsofSource::LsofSource(ListerCommand command) : m_lister(std::move(command)) {}

ScanResult LsofSource::resultOf(const ListerResult& listing, const ScanRequest& request) {
    if (!listing.ok())
        return {{}, listing.error};
    ScanResult result;
    for (ListeningPort& p : PortScanner::parse(listing.text)) {
        if (p.port < request.minPort || p.port > request.maxPort)
            continue;
        p.startTime = processStartTime(p.pid).value_or(0);
        if (request.allowlist.contains(p.process))
            result.ports.append(std::move(p));
        else
            result.others.append(std::move(p));
    }
    return result;
}

bool LsofSource::scan(ScanRequest request, Done done) {
    return m_lister.start([request = std::move(request), done = std::move(done)](
                              ListerResult listing) { done(resultOf(listing, request)); });
}

ScanResult LsofSource::scanBlocking(const ScanRequest& request) {
    return resultOf(m_lister.runBlocking(), request);
}
