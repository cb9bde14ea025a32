#pragma once

#include <QString>

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
