#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

// How the program calls the system's ssh, and what it runs on the remote.

// The longest control folder whose sockets fit a unix socket's path (107
// bytes and a NUL): the folder, "/ssh-", the 40 hex digits of %C and, while
// ssh sets up a master, a "." and 16 random characters more.
inline constexpr qsizetype longestControlFolder = 107 - 5 - 40 - 17;

// The folder of the control sockets: $XDG_RUNTIME_DIR/harborwatch, or
// <temp>/harborwatch-<uid> without a runtime folder; /tmp/harborwatch-<uid>
// when that one's path is too long for a control socket (then `tooLong`
// names it). Made with mode 0700; one that exists must be the user's own and
// closed to others. Empty, with the reason in `error`, when there is none to
// be had.
QString
sshControlFolder(QString* error, QString* tooLong = nullptr,
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// The options of every ssh call: one control master per destination in
// `controlFolder`, kept `persistSeconds` after its last use; never a prompt
// (BatchMode), `connectTimeout` seconds to connect, dead connections noticed
// by keep-alives. $HARBORWATCH_SSH_CONFIG, when set, names the ssh_config
// file used instead of ~/.ssh/config (-F), which is how tests give theirs.
QStringList
sshOptions(const QString& controlFolder, int connectTimeout, int persistSeconds,
           const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// Text from the remote as it may be shown: control and bidirectional
// characters escaped (as names are), at most 300 characters.
QString remoteText(QStringView text);

// The line of ssh's error output that tells why it failed: its last one that
// is not empty, as remoteText() shows it; `fallback` when there is none.
QString sshReason(const QByteArray& errorOutput, const QString& fallback);

// The remote command that lists for as long as the connection lasts. It
// writes remoteConnected at once; then `ss -Htlnpe` (listening TCP sockets,
// their processes and inodes), a line "harborwatch-stat PID REST" for each
// pid that listing names (REST: its /proc/<pid>/stat after the name, so the
// start time is its 20th field) and remoteListed; again every two seconds,
// or, where harborwatch is on the remote PATH, its watch stream between
// remoteWatchFound and remoteWatchGone after the first listing.
QString remoteListingCommand();

// The lines remoteListingCommand() writes between its listings.
inline constexpr char remoteConnected[] = "harborwatch-connected";
inline constexpr char remoteListed[] = "harborwatch-listed";
inline constexpr char remoteStat[] = "harborwatch-stat ";
inline constexpr char remoteWatchFound[] = "harborwatch-found";
inline constexpr char remoteWatchGone[] = "harborwatch-gone";

// One remote command that sends SIGTERM (SIGKILL with `force`) to `pid` only
// while it still has `startTime` (when not 0) and holds the listening socket
// `inode` (by /proc/<pid>/fd; with 0, one that `ss` lists on `port`). Only
// these numbers go into it. Exits 0 when sent, else one of the statuses
// below or kill's.
QString remoteStopCommand(qint64 pid, qint64 port, quint64 inode, quint64 startTime, bool force);

inline constexpr int remoteNotListening = 3;
inline constexpr int remotePidReused = 4;
inline constexpr int remoteExited = 5;
inline constexpr int remoteNotPermitted = 6; // its descriptors cannot be read
