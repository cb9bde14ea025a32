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

// What one look found on a port. A plain value: the caller keeps it with the
// record it looked for (by pid and start time).
struct PortAnswer {
    enum class Kind {
        NotLooked,   // no look was made: the address is not one of this machine's
        Unreachable, // the connection was refused, or not made in time
        Http,        // answers HTTP
        Https,       // speaks TLS (status and title are those of HTTP over it, if any)
        Other,       // answers, but not HTTP
        Silent,      // takes the connection and says nothing in time
    };

    Kind kind = Kind::NotLooked;
    int status = 0;       // the HTTP status; 0 when none came
    QString title;        // the page's title (see pageTitle()); empty when none or unknown
    QString location;     // a redirect's Location, as sent; empty for other statuses
    qint64 elapsedMs = 0; // how long the look took

    friend bool operator==(const PortAnswer&, const PortAnswer&) = default;
};

// A fixed word for each kind, for logs and machine-readable output: "none",
// "unreachable", "http", "https", "other", "silent".
QString kindName(PortAnswer::Kind kind);
