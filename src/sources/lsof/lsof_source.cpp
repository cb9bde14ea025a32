#include "sources/lsof/lsof_source.h"

#include "sources/lsof/lsof_listing.h"

LsofSource::LsofSource(ListerCommand command, ProcFs proc, QString home)
    : m_lister(std::move(command)), m_local(std::move(proc), std::move(home)) {}

ScanResult LsofSource::resultOf(const ListerResult& listing, const ScanFilter& filter,
                                const ProcFs& proc) {
    if (!listing.ok())
        return {{}, describeListerError(listing.error)};
    ScanResult result;
    for (ListeningPort& p : parseLsofListing(listing.text)) {
        if (!filter.inRange(p.port))
            continue;
        p.startTime = proc.startTime(p.pid).value_or(0);
        if (filter.allows(p.process))
            result.ports.append(std::move(p));
        else
            result.others.append(std::move(p));
    }
    return result;
}

bool LsofSource::scan(ScanFilter filter, Done done) {
    return m_lister.start([filter = std::move(filter), done = std::move(done),
                           proc = m_local.proc()](ListerResult listing) {
        done(resultOf(listing, filter, proc));
    });
}

ScanResult LsofSource::scanBlocking(const ScanFilter& filter) {
    return resultOf(m_lister.runBlocking(), filter, m_local.proc());
}

ServerDetails LsofSource::details(const ListeningPort& record) const {
    return m_local.details(record);
}

void LsofSource::stop(const ListeningPort& record, bool force, StopDone done) {
    done(m_local.stop(record, force));
}

void LsofSource::stillRuns(const ListeningPort& record, RunsDone done) {
    done(m_local.stillRuns(record));
}
