#pragma once

#include "core/filter.h"
#include "core/listening_port.h"

#include <QByteArray>
#include <QList>
#include <QString>

// One process holding a listening socket, as `ss -p` names it.
struct SsHolder {
    qint64 pid = 0;
    QString name;

    friend bool operator==(const SsHolder&, const SsHolder&) = default;
};

// One line of `ss -Htlnp`: the socket's local address and port and the
// processes holding it (none when they cannot be seen).
struct SsSocket {
    QString address; // "127.0.0.1", "::1", "0.0.0.0", "::", "*"
    qint64 port = 0;
    QList<SsHolder> holders;

    friend bool operator==(const SsSocket&, const SsSocket&) = default;
};

// Reads the output of `ss -Htlnp`. Lines that are not a listening TCP socket
// are skipped. A name that holds a line break continues on the next line; the
// backslash escapes of newer ss ("\\", "\ooo") are decoded.
QList<SsSocket> parseSsListing(const QByteArray& text);

// The records the filter lists, one per port, ascending by port: of the
// processes on a port, the allowed one with the lowest pid (the parent of
// forked workers). Records get pid and name only; start time 0.
QList<ListeningPort> ssRecords(const QList<SsSocket>& sockets, const ScanFilter& filter);
