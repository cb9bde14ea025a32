#include "system/process_control.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// A pidfd for the process, closed on scope exit; -1 with errno set when it
// could not be opened.
class Pidfd {
public:
    explicit Pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
        m_fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
        (void)pid;
        errno = ENOSYS;
#endif
    }
    ~Pidfd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Pidfd(const Pidfd&) = delete;
    Pidfd& operator=(const Pidfd&) = delete;

    int fd() const {
        return m_fd;
    }

private:
    int m_fd = -1;
};

// Sends through the pidfd when there is one, else by pid; 0 or errno.
int sendSignal(const Pidfd& pidfd, pid_t pid, int signal) {
    int rc = -1;
#ifdef SYS_pidfd_send_signal
    if (pidfd.fd() >= 0)
        rc = static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd.fd(), signal, nullptr, 0));
    else
        rc = ::kill(pid, signal);
#else
    (void)pidfd;
    rc = ::kill(pid, signal);
#endif
    return rc == 0 ? 0 : errno;
}

StopResult fromErrno(int error, qint64 port) {
    if (error == ESRCH)
        return stopRefused(StopOutcome::Exited, port);
    if (error == EPERM)
        return stopRefused(StopOutcome::PermissionDenied, port);
    return stopRefused(StopOutcome::Failed, port, QString::fromLocal8Bit(std::strerror(error)));
}

bool validPid(qint64 pid) {
    // 0 and negative pids address process groups; larger values than pid_t
    // holds would be cut down to one of those or to another process.
    return pid > 0 && pid <= std::numeric_limits<pid_t>::max();
}

} // namespace

StopResult signalListedProcess(const ListeningPort& listed, int signal,
                               const ListeningCheck& stillListens, const ProcFs& proc) {
    if (!validPid(listed.pid))
        return stopRefused(StopOutcome::InvalidPid, listed.port);
    // Without the start time recorded at scan time nothing tells the listed
    // process from one that took over its pid since.
    if (listed.startTime == 0)
        return stopRefused(StopOutcome::UnknownStartTime, listed.port);
    const auto pid = static_cast<pid_t>(listed.pid);

    // Held before the check: if the pid is reused after it, the signal goes
    // nowhere (ESRCH) instead of to the newcomer. Kernels before 5.3 (ENOSYS)
    // and filters that forbid the call (EPERM) leave kill(2).
    const Pidfd pidfd(pid);
    if (pidfd.fd() < 0 && errno != ENOSYS && errno != EPERM)
        return fromErrno(errno, listed.port);

    // The process behind the pidfd is the listed one exactly when the pid's
    // current start time is the recorded one: if it had been replaced after
    // the pidfd was opened, the start time would be a later one.
    const auto startTime = proc.startTime(listed.pid);
    if (!startTime)
        return stopRefused(StopOutcome::Exited, listed.port);
    if (*startTime != listed.startTime)
        return stopRefused(StopOutcome::PidReused, listed.port);

    // Signal 0 checks the permission only. Asked before the socket check,
    // which cannot see another user's descriptors and would blame the port.
    if (const int error = sendSignal(pidfd, pid, 0))
        return fromErrno(error, listed.port);
    if (stillListens && !stillListens(listed.pid, listed.port))
        return stopRefused(StopOutcome::NotListening, listed.port);

    if (const int error = sendSignal(pidfd, pid, signal))
        return fromErrno(error, listed.port);
    return {StopOutcome::Delivered};
}

StopResult stopListedServer(const ListeningPort& listed, int signal, bool checkSocket,
                            const ProcFs& proc) {
    ListeningCheck check;
    if (checkSocket)
        check = [&proc](qint64 pid, qint64 port) { return proc.holdsListeningSocket(pid, port); };
    return signalListedProcess(listed, signal, check, proc);
}

bool listedServerStillRuns(const ListeningPort& listed, bool checkSocket, const ProcFs& proc) {
    if (!validPid(listed.pid) || listed.startTime == 0)
        return false;
    const auto startTime = proc.startTime(listed.pid);
    if (!startTime || *startTime != listed.startTime)
        return false;
    return !checkSocket || proc.holdsListeningSocket(listed.pid, listed.port);
}
