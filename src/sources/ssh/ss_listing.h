#pragma once

#include "core/filter.h"
#include "core/listening_port.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One process holding a listening socket, as `ss -p` names it, with its
// start time (field 22 of /proc/<pid>/stat) when the listing told it; 0 when
// not.
struct SsHolder {
    qint64 pid = 0;
    QString name;
    quint64 startTime = 0;

    friend bool operator==(const SsHolder&, const SsHolder&) = default;
};

// One line of `ss -Htlnpe`: the socket's local address and port, the
// processes holding it (none when they cannot be seen, or cannot be told
// for certain) and the socket's inode (0 when not listed).
struct SsSocket {
    QString address; // "127.0.0.1", "::1", "0.0.0.0", "::", "*"
    qint64 port = 0;
    QList<SsHolder> holders;
    quint64 inode = 0;

    friend bool operator==(const SsSocket&, const SsSocket&) = default;
};

// Reads the output of `ss -Htlnp`, with or without -e. Lines that are not a
// listening TCP socket are skipped. A name that holds a line break continues
// on the next line; the backslash escapes of newer ss ("\\", "\ooo") are
// decoded.
//
// The processes are read by the structure of the users field, each entry
// ("NAME",pid=N,fd=M) with a name of at most 15 bytes, as the kernel keeps
// them, followed by nothing or by the details of -e ("uid:N ino:N ...").
// A name is a process's own choice: one with quotes or "pid=" in it cannot
// make a second process, and a field that can be read in more than one way,
// or in none, gives a socket without holders. Its inode is the "ino:" that
// directly follows the field.
QList<SsSocket> parseSsListing(const QByteArray& text);

// The records the filter lists, one per port, ascending by port: of the
// processes on a port, the allowed one with the lowest pid (the parent of
// forked workers). Records get pid, name and the start time the holder has.
QList<ListeningPort> ssRecords(const QList<SsSocket>& sockets, const ScanFilter& filter);
