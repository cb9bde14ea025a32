#include "system/local_servers.h"

#include "system/local_details.h"
#include "system/process_control.h"

#include <QDir>

#include <csignal>

LocalServers::LocalServers(ProcFs proc, QString home)
    : m_proc(std::move(proc)), m_home(home.isEmpty() ? QDir::homePath() : std::move(home)) {}

ServerDetails LocalServers::details(const ListeningPort& record) const {
    return readServerDetails(record, m_proc, m_home);
}

StopResult LocalServers::stop(const ListeningPort& record, bool force) const {
    return stopListedServer(record, force ? SIGKILL : SIGTERM, true, m_proc);
}

bool LocalServers::stillRuns(const ListeningPort& record) const {
    return listedServerStillRuns(record, true, m_proc);
}
