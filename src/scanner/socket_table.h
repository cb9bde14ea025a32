#pragma once

#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

// One TCP socket in the listening state, as the kernel's socket table lists it.
struct ListeningSocket {
    quint64 inode = 0;
    qint64 port = 0;
    QString address = {}; // "127.0.0.1", "::1", "0.0.0.0", "::", "::ffff:10.0.0.2", ...
    qint64 uid = -1;      // owner of the socket

    friend bool operator==(const ListeningSocket&, const ListeningSocket&) = default;
};

// The listening sockets (state 0A) of one /proc/net/tcp or /proc/net/tcp6 text,
// in the order listed. The header line and lines that cannot be read are
// skipped. Addresses are printed by the kernel as the bytes of native-endian
// 32-bit words, which this undoes.
QList<ListeningSocket> parseSocketTable(QByteArrayView text);

// Both tables of <procRoot>/net: IPv4 first, then IPv6. None, with the reason
// in `error`, when /proc/net/tcp cannot be read (a missing tcp6 means a kernel
// without IPv6 and is not an error).
std::optional<QList<ListeningSocket>> readListeningSockets(const QString& procRoot,
                                                           QString* error = nullptr);

// Both families' listening TCP sockets as the kernel's socket diagnostics
// (NETLINK_SOCK_DIAG) report them, in the same form as the tables give them.
// It walks only the kernel's table of listening sockets, where reading
// /proc/net/tcp{,6} walks the whole table of established ones, which is large
// on any machine with some memory. None when the kernel does not answer.
std::optional<QList<ListeningSocket>> queryListeningSockets();

// Calls `found(inode)` for every socket among the descriptors of an open
// <pid>/fd folder until it returns false; closes the folder. False when it
// cannot be read.
bool forEachSocketInode(int fdFolder, const std::function<bool(quint64)>& found);

// The inodes of the sockets among a process's open descriptors
// (<procRoot>/<pid>/fd/* linking to "socket:[N]"). Empty when the folder cannot
// be read: the process exited, or belongs to another user.
QSet<quint64> socketInodesOf(qint64 pid, const QString& procRoot = QStringLiteral("/proc"));

// Whether the process still holds a socket listening on `port`.
bool holdsListeningSocket(qint64 pid, qint64 port,
                          const QString& procRoot = QStringLiteral("/proc"));
