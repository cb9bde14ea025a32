#pragma once

#include "core/listening_port.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the engine's API says, read from its JSON replies. Pure functions: the
// requests themselves are made by EngineCall.
//
// The API version asked for is negotiated from GET /version: kPreferredApi
// when the engine's range holds it, else the nearest end of that range (the
// fields read here are the same in every version since 1.24).
inline constexpr int kPreferredApi = 41;    // "1.41"
inline constexpr int kOldestUsableApi = 24; // "1.24"

// One port binding of a container (an entry of "Ports").
struct PortBinding {
    QString ip;            // host address; empty when the engine names none
    qint64 publicPort = 0; // 0 when not published
    qint64 privatePort = 0;
    QString type; // "tcp", "udp", "sctp"

    friend bool operator==(const PortBinding&, const PortBinding&) = default;
};

// One running container, as GET /containers/json lists it.
struct ContainerInfo {
    QString id;
    QString name; // the first of "Names" without its leading "/"
    QString image;
    QString command;
    // The command line its process was started with (see readCommand); empty
    // until inspected, or when that failed: then `command` is all there is.
    QStringList arguments;
    QString state;      // "running", ...
    QString project;    // label com.docker.compose.project
    QString service;    // label com.docker.compose.service
    QString workingDir; // label com.docker.compose.project.working_dir
    QList<PortBinding> ports;

    friend bool operator==(const ContainerInfo&, const ContainerInfo&) = default;
};

struct ContainerList {
    QList<ContainerInfo> containers;
    QString error = {}; // why the reply could not be read; empty when it could

    bool ok() const { return error.isEmpty(); }
};

// The running containers of a GET /containers/json reply.
ContainerList readContainerList(QByteArrayView json);

// A published port as a record: one record per port over all containers,
// ascending by port. Only TCP bindings with a public port count; of several
// bindings of one port the IPv4 one is kept (then any address, then IPv6, then
// the smallest address, then the container listed first). The address is the
// binding's IP, "*" when the engine names none.
struct PublishedPort {
    ListeningPort record;
    qsizetype container = -1; // index into the list it was made from
};
QList<PublishedPort> publishedPorts(const QList<ContainerInfo>& containers);

// The engine's answer to GET /version.
struct EngineVersion {
    QString product; // "Docker" or "Podman"
    QString version; // the engine's own version, e.g. "20.10.24"
    int api = 0;     // the minor number of the newest API version ("1.41" -> 41)
    int minApi = 0;  // of the oldest one; 0 when not given
    QString error = {};

    bool ok() const { return error.isEmpty(); }
};
EngineVersion readEngineVersion(QByteArrayView json);

// The API version to ask for, as the path's prefix ("/v1.41"), or empty with
// the reason in `error` when the engine offers none that fits.
QByteArray apiPrefix(const EngineVersion& engine, QString* error);

// The target of the events request: every event of a container, with the
// filter JSON-encoded and URL-escaped. The actions are not filtered: the
// engines name them differently (see engine_events.h).
QByteArray eventsTarget(QByteArrayView prefix);

// Whether GET /containers/{id}/json says the container runs; none when the
// reply cannot be read.
std::optional<bool> readRunning(QByteArrayView json);

// The command line the container's process was started with, from GET
// /containers/{id}/json: "Path" followed by "Args". Empty when the reply
// names no path.
QStringList readCommand(QByteArrayView json);

// The engine's reason for a refusal: the "message" of its JSON error reply,
// or the text itself when it is no JSON (some refusals are plain text),
// shortened to one line.
QString engineMessage(QByteArrayView body);

// Whether `id` can be put in a request path as it is (hexadecimal ids, or
// names of letters, digits and "_.-").
bool isSafeContainerId(QStringView id);
