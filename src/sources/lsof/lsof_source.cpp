#include "sources/lsof/lsof_source.h"

#include "core/process_names.h"
#include "sources/lsof/lsof_listing.h"

LsofSource::LsofSource(ListerCommand command, ProcFs proc, QString home)
    : m_lister(std::move(command)), m_local(std::move(proc), std::move(home)) {}

ScanResult LsofSource::resultOf(const ListerResult& listing, const ScanFilter& filter,
                                const ProcFs& proc) {
    if (!listing.ok())
        return {{}, describeListerError(listing.error)};
    ScanResult result;
    const auto allows = [&filter](const QByteArray& name) {
        return filter.allows(QString::fromUtf8(name));
    };
    for (ListeningPort& p : parseLsofListing(listing.text)) {
        if (!filter.inRange(p.port))
            continue;
        p.startTime = proc.startTime(p.pid).value_or(0);
        // The name is lsof's (the kernel's, cut to 15 bytes); a cut one, or one
        // the allowlist does not hold, is looked at further in /proc.
        const QByteArray comm = p.process.toUtf8();
        std::optional<QByteArray> name;
        if (comm.size() != kernelNameBytes && allows(comm)) {
            name = comm;
        } else {
            const QByteArray cmdline = proc.cmdline(p.pid).value_or(QByteArray());
            name = filter.allowlist ? listedName(comm, proc.exeName(p.pid), cmdline, allows)
                                    : fullProcessName(comm, proc.exeName(p.pid), cmdline);
        }
        if (name) {
            p.process = QString::fromUtf8(*name);
            result.ports.append(std::move(p));
        } else {
            result.others.append(std::move(p));
        }
    }
    return result;
}

bool LsofSource::scan(ScanFilter filter, Done done) {
    return m_lister.start(
        [filter = std::move(filter), done = std::move(done),
         proc = m_local.proc()](ListerResult listing) { done(resultOf(listing, filter, proc)); });
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
