#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One TCP socket in the listening state, as the kernel lists it.
struct ListeningSocket {
    quint64 inode = 0;
    qint64 port = 0;
    QString address = {}; // "127.0.0.1", "::1", "0.0.0.0", "::", "::ffff:10.0.0.2", ...
    qint64 uid = -1;      // owner of the socket

    friend bool operator==(const ListeningSocket&, const ListeningSocket&) = default;
};

// The one reader of the process file system. It reads below a root folder,
// "/proc" unless another is given (tests hand it a folder of their own, which
// needs to hold only what they read), through an open descriptor of that
// folder and small system calls relative to it, so a read costs no path
// lookup from "/". Every read answers "none" (or empty) for a process that does
// not exist (any more) or cannot be read. Reads may run on any thread.
class ProcFs {
public:
    explicit ProcFs(QString root = QStringLiteral("/proc"));

    const QString& root() const { return m_root; }
    // Whether the root is the system's /proc, for which the kernel answers
    // some questions more cheaply than the files do.
    bool isSystem() const { return m_root == QLatin1String("/proc"); }

    // The process ids among the root's entries, ascending.
    std::vector<qint64> pids() const;
    // The kernel name (<pid>/comm) without the closing newline.
    std::optional<QByteArray> comm(qint64 pid) const;
    // The same into `buffer` (the kernel's names take at most 16 bytes with the
    // newline), for reads that must not allocate: its length, or -1.
    qsizetype comm(qint64 pid, char* buffer, qsizetype size) const;
    // The file name of the process's executable (<pid>/exe), a " (deleted)"
    // mark dropped; empty when the link cannot be read (another user's
    // process, a kernel thread).
    QByteArray exeName(qint64 pid) const;
    // The process's start time in clock ticks after boot, field 22 of
    // <pid>/stat. With the pid it names one process for the lifetime of the
    // system: the kernel never gives a pid to two processes that started at
    // the same tick.
    std::optional<quint64> startTime(qint64 pid) const;
    // The user that owns the process (of its <pid> folder); none when it does
    // not exist.
    std::optional<uint> owner(qint64 pid) const;
    // Whether the process has exited and awaits its parent (state "Z" in
    // <pid>/stat): it holds nothing and watches nothing any more.
    bool isZombie(qint64 pid) const;
    // <pid>/cmdline as the kernel gives it; none when it cannot be read.
    std::optional<QByteArray> cmdline(qint64 pid) const;
    // The working folder (<pid>/cwd); empty when it cannot be read.
    QString cwd(qint64 pid) const;

    // Calls `found(inode)` for every socket among the process's open
    // descriptors (<pid>/fd/* linking to "socket:[N]") until it returns false.
    // False when the folder cannot be read.
    bool forEachSocketInode(qint64 pid, const std::function<bool(quint64)>& found) const;
    QSet<quint64> socketInodes(qint64 pid) const;

    // The listening TCP sockets of both families: from the kernel's socket
    // diagnostics for the system's /proc, which walk only the table of
    // listening sockets, else (and when the kernel does not answer) from
    // <root>/net/tcp and tcp6, which walk every established one too. None,
    // with the reason in `error`, when <root>/net/tcp cannot be read (a
    // missing tcp6 means a kernel without IPv6).
    std::optional<QList<ListeningSocket>> listeningSockets(QString* error = nullptr) const;
    // Only the tables, whatever the root.
    std::optional<QList<ListeningSocket>> socketTables(QString* error = nullptr) const;
    // Whether the process holds a socket listening on `port`.
    bool holdsListeningSocket(qint64 pid, qint64 port) const;

    // The moment of boot in seconds since the epoch ("btime" of <root>/stat).
    std::optional<qint64> bootTime() const;

private:
    class Folder;
    int folder() const;

    QString m_root;
    std::shared_ptr<Folder> m_folder;
};

// Field 3 (the state letter) of the text of a /proc/<pid>/stat file; 0 when
// malformed.
char stateFromStat(QByteArrayView stat);

// Field 22 of the text of a /proc/<pid>/stat file; none when malformed. The
// command name in field 2 may hold spaces and parentheses, so fields are
// counted from its last ")".
std::optional<quint64> startTimeFromStat(QByteArrayView stat);

// The listening sockets (state 0A) of one /proc/net/tcp or tcp6 text, in the
// order listed. The header line and lines that cannot be read are skipped.
// Addresses are printed by the kernel as the bytes of native-endian 32-bit
// words, which this undoes.
QList<ListeningSocket> parseSocketTable(QByteArrayView text);

// Both families' listening TCP sockets as the kernel's socket diagnostics
// (NETLINK_SOCK_DIAG) report them, in the form the tables give them. None when
// the kernel does not answer.
std::optional<QList<ListeningSocket>> queryListeningSockets();
