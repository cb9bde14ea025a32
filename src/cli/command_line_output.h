#pragma once

#include "core/listening_port.h"
#include "core/port_forwarding.h"
#include "core/server_details.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// One server as the command line prints it. What could not be read (another
// user's process, one that exited) is none and prints as null or "-".
struct ServerRow {
    qint64 port = 0;
    qint64 pid = 0;
    QString process;
    QString url;
    QString address;
    std::optional<QString> project = {};
    std::optional<QString> folder = {};
    std::optional<QStringList> command = {};
    std::optional<QDateTime> started = {};
    std::optional<QString> framework = {};
    std::optional<ContainerFacts> container = {};
    QString host = {}; // the machine, as named in "hosts"; empty for this one
    // The page's title, when a look found one.
    std::optional<QString> title = {};
    // What answered on the port; none when it was not looked at.
    std::optional<PortAnswer> probe = {};
    // A host's server's forward here, as the tray program holds it; none when
    // it is not forwarded.
    std::optional<PortForward> forward = {};
};

enum class ServerEvent { Started, Stopped };

// The aligned table with the header PORT, PID, NAME, FRAMEWORK, PROJECT, URL,
// TITLE, COMMAND and one line per row, every line ending in a newline; the
// port of another machine reads "box:5173". NAME is cut in the middle to 32
// terminal cells, PORT (its host) to 32, FRAMEWORK at its end to 20, PROJECT
// to 24, URL to 48 and TITLE at its end to 32, so that one long value leaves
// the other rows narrow. With a `terminalWidth` above 0 the COMMAND column is
// cut so that lines fit in it.
QString serverTable(const QList<ServerRow>& rows, int terminalWidth = 0);

// The row as JSON with the keys host (null for this machine), port, pid,
// process, url, address, project, folder, command, started (ISO 8601, UTC),
// framework, container (an object with id, name, image, project and
// service), probe (an object with state — "http", "https", "other" or
// "silent" —, status and title) and forward (an object with local and state:
// "ok", "no server" or "reconnecting"); null for what is unknown or was not
// looked at.
QJsonObject serverJson(const ServerRow& row);

// The rows as one JSON array, followed by a newline.
QByteArray serverListJson(const QList<ServerRow>& rows);

// One line of the watch: "started 5173 4242 node", or as one JSON object
// {"event", "port", "pid", "process", "time"}, with "host" for a port of
// another machine ("started box:5173 ..." as text); ends in a newline.
QByteArray watchLine(ServerEvent event, const ListeningPort& server, bool json,
                     const QDateTime& seenAt);

// "forward 5173 -> localhost:5174 ok": a forward's state as --forward tells
// it (see forwardStateName()); ends in a newline, empty while it is being
// looked at.
QByteArray forwardStateLine(const PortForward& forward);

// A source's problem as a line of the watch with --json: {"event": "problem",
// "source", "text", "time"} as it starts or changes, {"event":
// "problem-ended", "source", "time"} without `text` when it is over; ends in
// a newline.
QByteArray problemEventLine(const SourceId& source, const std::optional<QString>& text,
                            const QDateTime& seenAt);
