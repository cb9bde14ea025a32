#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// How the program calls the system's ssh.

// The folder of the control sockets: $XDG_RUNTIME_DIR/harborwatch, or
// <temp>/harborwatch-<uid> without a runtime folder. Made with mode 0700; one
// that exists must be the user's own and closed to others. Empty, with the
// reason in `error`, when there is none to be had.
QString sshControlFolder(QString* error,
                         const QProcessEnvironment& environment =
                             QProcessEnvironment::systemEnvironment());

// The options of every ssh call: one control master per destination in
// `controlFolder`, kept `persistSeconds` after its last use; never a prompt
// (BatchMode), `connectTimeout` seconds to connect, dead connections noticed
// by keep-alives. $HARBORWATCH_SSH_CONFIG, when set, names the ssh_config
// file used instead of ~/.ssh/config (-F), which is how tests give theirs.
QStringList sshOptions(const QString& controlFolder, int connectTimeout, int persistSeconds,
                       const QProcessEnvironment& environment =
                           QProcessEnvironment::systemEnvironment());

// The line of ssh's error output that tells why it failed: its last one that
// is not empty; `fallback` when there is none.
QString sshReason(const QByteArray& errorOutput, const QString& fallback);

// One remote shell command that sends SIGTERM (SIGKILL with `force`) to `pid`
// only while it still holds a listening socket on `port` (by `ss`) and, when
// `startTime` is not 0, still has that start time. Exits 0 when sent, 3 when
// the pid no longer holds the port, 4 when its start time differs, else kill's
// status.
QString remoteStopCommand(qint64 pid, qint64 port, quint64 startTime, bool force);

// The exit status of remoteStopCommand() for a pid that no longer holds the
// port, and for one with another start time.
inline constexpr int remoteNotListening = 3;
inline constexpr int remotePidReused = 4;
