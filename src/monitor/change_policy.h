#pragma once

#include "monitor/port_changes.h"

#include <QList>
#include <QString>

// What the user is told about one scan's changes. Up to three starts (or
// stops) are told one by one; more become one summary titled "Ports Started"
// (or "Ports Stopped") that names at most five of them. Starts come before
// stops.
struct Notice {
    QString title;
    QString body;
    friend bool operator==(const Notice&, const Notice&) = default;
};

inline constexpr int maxSingleNotices = 3;

QList<Notice> noticesFor(const PortChanges& changes);

// One event as a line: "node on port 3000", "Port 3000 is no longer listening".
QString startedText(const ListeningPort& port);
QString stoppedText(const ListeningPort& port);
