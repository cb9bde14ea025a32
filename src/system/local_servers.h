#pragma once

#include "core/listening_port.h"
#include "core/server_details.h"
#include "core/server_source.h"
#include "system/procfs.h"

#include <QString>

// What the sources of this machine's servers (the /proc source and the lsof
// source) do for their records alike: read their details, stop them through
// a pidfd once pid, start time and a listening socket on the port confirm the
// process, and tell whether they still run.
class LocalServers {
public:
    // `home` is the user's home folder (QDir::homePath() when empty), which
    // bounds the search for a project's folder.
    explicit LocalServers(ProcFs proc = ProcFs(), QString home = {});

    const ProcFs& proc() const { return m_proc; }

    // See readServerDetails(); blocks on the file system.
    ServerDetails details(const ListeningPort& record) const;
    // SIGTERM, or SIGKILL when `force`.
    StopResult stop(const ListeningPort& record, bool force) const;
    bool stillRuns(const ListeningPort& record) const;

private:
    ProcFs m_proc;
    QString m_home;
};
