#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// What the engine's event stream (GET /events, asked for container events
// only) tells of its containers. Docker and Podman send one JSON object per
// line; the action is "Action" (or the older "status"), the container's id
// "id" (or "Actor"."ID"). Each engine names the actions its own way: Docker's
// "die" and "destroy" are Podman's "died" (in its own event log) and "remove".
// Only the actions that change which containers run are reported; the others
// ("create", "exec_start: ...", "health_status: ...", "cleanup", ...) are not.
enum class ContainerChange {
    Started,  // "start"
    Ended,    // "die", "died", "stop", "destroy", "remove": it runs no more
    Signalled // "kill": it may end
};

struct ContainerEvent {
    ContainerChange change = ContainerChange::Started;
    QString id;

    friend bool operator==(const ContainerEvent&, const ContainerEvent&) = default;
};

// The longest event line kept; a longer one is skipped up to its end.
inline constexpr qsizetype kMaxEventLine = 64 * 1024;

// The part of the stream read but not yet complete: at most kMaxEventLine
// bytes.
struct EventStream {
    QByteArray pending;
    bool skipping = false; // within a line too long to keep
};

struct EventsRead {
    QList<ContainerEvent> events;
    // A line could not be read (too long, or no JSON): something happened
    // that the reader cannot name.
    bool unreadable = false;
};

// Reads the next piece of the stream's body (transfer encoding removed), in
// any slicing: the events of the lines it completes, in order. Does no I/O.
EventsRead readEvents(EventStream& stream, QByteArrayView chunk);
