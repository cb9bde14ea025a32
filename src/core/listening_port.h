#pragma once

#include "core/source_id.h"

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>

// One TCP socket in the listening state: the machine, the port, the owning
// process id and the process name. Identity is the machine and the port;
// equality is those, pid and name, so a port taken over by another process is
// a different record.
//
// The other fields describe the record further but take no part in equality or
// hashing, which the menu and the change detection use:
// - `startTime` is the process's start time in clock ticks after boot (field 22
//   of /proc/<pid>/stat), 0 when unknown. With the pid it names one process for
//   the lifetime of the system, so a stop can check it still has the process
//   it listed.
// - `address` is the local address the socket listens on as text ("127.0.0.1",
//   "::1", "0.0.0.0", "::", "*" from lsof, or a specific address); empty when
//   unknown.
// - `origin` names the source that listed the record (see sources/registry.h),
//   which answers for it: its details, how it is stopped.
// - `anyProcess` marks a record listed whatever process holds its port (a
//   container's published port): the allowlist does not apply to it.
// - `split` marks a port that different processes hold on different addresses
//   (127.0.0.1 and ::1, say): each is listed, for its `address` only, since a
//   client reaches one or the other depending on the address it asks.
struct ListeningPort {
    qint64 port = 0;
    qint64 pid = 0;
    QString process;
    quint64 startTime = 0;
    QString address = {};
    SourceId origin = {};
    // The machine the port is on, as the user named it (an SSH destination);
    // empty for this machine.
    QString host = {};
    bool anyProcess = false;
    bool split = false;

    qint64 id() const { return port; }

    friend bool operator==(const ListeningPort& a, const ListeningPort& b) {
        return a.port == b.port && a.pid == b.pid && a.process == b.process && a.host == b.host;
    }
};

inline size_t qHash(const ListeningPort& p, size_t seed = 0) {
    return qHashMulti(seed, p.port, p.pid, p.process, p.host);
}

// Where a record is: its machine and port, and for a split port its address;
// unique in a list.
struct PortPlace {
    QString host;
    qint64 port = 0;
    QString address = {}; // for a split port; empty otherwise

    friend bool operator==(const PortPlace&, const PortPlace&) = default;
};

inline PortPlace placeOf(const ListeningPort& p) {
    return {p.host, p.port, p.split ? p.address : QString()};
}

// The machine and port alone, whatever the address: what a source claims
// when it lists a record there.
inline PortPlace portOf(const ListeningPort& p) {
    return {p.host, p.port};
}

inline size_t qHash(const PortPlace& p, size_t seed = 0) {
    return qHashMulti(seed, p.host, p.port, p.address);
}

// Records ordered as lists show them: this machine's first, then by host, by
// port, and the records of a split port by address.
inline bool listedBefore(const ListeningPort& a, const ListeningPort& b) {
    if (a.host != b.host)
        return a.host < b.host;
    if (a.port != b.port)
        return a.port < b.port;
    return a.address < b.address;
}

template <> struct std::hash<ListeningPort> {
    size_t operator()(const ListeningPort& p) const noexcept { return qHash(p); }
};

// The same listed process: equal records whose process started at the same
// moment, so neither a reused pid nor a renamed process passes for it.
inline bool sameProcess(const ListeningPort& a, const ListeningPort& b) {
    return a == b && a.startTime == b.startTime;
}
