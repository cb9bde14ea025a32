#pragma once

#include "scanner/listening_port.h"

#include <QString>

#include <functional>

// Why a signal for a listed server was not delivered.
enum class StopOutcome {
    Delivered,
    NotListed,        // the record is no longer in the list the program shows
    InvalidPid,       // pid <= 0 or beyond pid_t: it would address a group or another pid
    UnknownStartTime, // the record carries no start time, so its process cannot be confirmed
    Exited,           // no process has the pid any more
    PidReused,        // a process with another start time has the pid now
    NotListening,     // the process no longer holds a listening socket on the port
    PermissionDenied, // the process belongs to another user
    Failed,           // the system refused for another reason
};

struct StopResult {
    StopOutcome outcome = StopOutcome::Failed;
    QString reason = {}; // plain words for the user; empty when delivered

    bool delivered() const { return outcome == StopOutcome::Delivered; }
};

// The plain words for an outcome: "it exited already", "another process has
// its pid now", "it no longer listens on port 3000", ... `detail` names the
// system's error for StopOutcome::Failed.
QString describeStopOutcome(StopOutcome outcome, qint64 port, const QString& detail = {});

// Whether the process still holds a listening socket on the port.
using ListeningCheck = std::function<bool(qint64 pid, qint64 port)>;

// Sends `signal` to the process of a listed record, only while it is still the
// process that was listed: same pid, the start time recorded at scan time, and,
// when `stillListens` is set, a listening socket on the record's port. The
// process is held through a pidfd opened before the check, so a process that
// takes over the pid after the check cannot receive the signal; without pidfd
// support, the check is followed by kill(2).
StopResult signalListedProcess(const ListeningPort& listed, int signal,
                               const ListeningCheck& stillListens,
                               const QString& procRoot = QStringLiteral("/proc"));

// The same with the check of the live /proc socket tables when `checkSocket`
// is set. For callers that stop a server they have just scanned for, such as
// the command line.
StopResult stopListedServer(const ListeningPort& listed, int signal, bool checkSocket = true);

// Whether the listed process is still running (same pid and start time) and,
// when `checkSocket` is set, still listens on the record's port.
bool listedServerStillRuns(const ListeningPort& listed, bool checkSocket = true);
