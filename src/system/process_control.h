#pragma once

#include "core/listening_port.h"
#include "core/server_source.h"
#include "system/procfs.h"

#include <functional>

// Whether the process still holds a listening socket on the port.
using ListeningCheck = std::function<bool(qint64 pid, qint64 port)>;

// Sends `signal` to the process of a listed record, only while it is still the
// process that was listed: same pid, the start time recorded at scan time, and,
// when `stillListens` is set, a listening socket on the record's port. The
// process is held through a pidfd opened before the check, so a process that
// takes over the pid after the check cannot receive the signal; without pidfd
// support, the check is followed by kill(2).
StopResult signalListedProcess(const ListeningPort& listed, int signal,
                               const ListeningCheck& stillListens, const ProcFs& proc = ProcFs());

// The same with the check of the live socket tables when `checkSocket` is set.
StopResult stopListedServer(const ListeningPort& listed, int signal, bool checkSocket = true,
                            const ProcFs& proc = ProcFs());

// Whether the listed process is still running (same pid and start time) and,
// when `checkSocket` is set, still listens on the record's port.
bool listedServerStillRuns(const ListeningPort& listed, bool checkSocket = true,
                           const ProcFs& proc = ProcFs());
