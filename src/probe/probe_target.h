#pragma once

#include <QHashFunctions>
#include <QHostAddress>
#include <QString>

#include <optional>

// Where a look connects: an address of this machine and a TCP port.
struct ProbeTarget {
    QHostAddress address;
    quint16 port = 0;

    friend bool operator==(const ProbeTarget&, const ProbeTarget&) = default;
};

inline size_t qHash(const ProbeTarget& target, size_t seed = 0) {
    return qHashMulti(seed, target.address, target.port);
}

// The target for a server of this machine that listens on `address` (as a
// listed record gives it) and `port`: that address, or the loopback address
// of its family for an any-address ("0.0.0.0", "*" or empty: 127.0.0.1;
// "::": ::1); an IPv4-mapped address as IPv4. None for a text that is no
// address, or a port outside 1 to 65535.
std::optional<ProbeTarget> probeTargetFor(const QString& address, qint64 port);
