#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <functional>

// One TCP socket in the listening state: the port, the owning process id and the
// process name as the lister printed it. Identity is the port; equality is the
// whole record, so a port taken over by another process is a different record.
struct ListeningPort {
    qint64 port = 0;
    qint64 pid = 0;
    QString process;

    qint64 id() const { return port; }

    friend bool operator==(const ListeningPort&, const ListeningPort&) = default;
};

inline size_t qHash(const ListeningPort& p, size_t seed = 0) {
    return qHashMulti(seed, p.port, p.pid, p.process);
}

template <> struct std::hash<ListeningPort> {
    size_t operator()(const ListeningPort& p) const noexcept { return qHash(p); }
};
