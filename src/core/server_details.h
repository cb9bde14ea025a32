#pragma once

#include "core/listening_port.h"
#include "core/port_answer.h"

#include <QString>
#include <QStringList>

#include <optional>

// What a container engine says of the container behind a published port.
struct ContainerFacts {
    QString id;      // the engine's full id of the container
    QString name;    // its name, without the leading "/"
    QString image;   // the image it runs, as the engine names it ("nginx:1.25")
    QString project; // the compose project (label com.docker.compose.project); may be empty
    QString service; // the compose service (label com.docker.compose.service); may be empty
    QString engine;  // "Docker" or "Podman"

    friend bool operator==(const ContainerFacts&, const ContainerFacts&) = default;
};

// What tells one listed server from another: where its process runs, which
// project that is, and how it was started. Every field is empty (or 0) when it
// could not be read: the process belongs to another user, or has exited.
struct ServerDetails {
    QString folder;         // the process's working folder
    QString project;        // the project's name (see projectOf, system/local_details.h)
    QStringList arguments;  // the command line as the process was given it
    QString commandLine;    // see commandLineText
    quint64 startTime = 0;  // clock ticks after boot, as in ListeningPort
    QString address;        // the listening address, as in ListeningPort
    QString framework = {}; // see detectFramework; empty when unknown
    bool https = false;     // the command line asks for HTTPS (see servesHttps)
    std::optional<ContainerFacts> container = {}; // set for a port published by a container
    QString projectFolder = {}; // the folder the project's name is taken from (see projectOf)
    // What answers on the port, from the last look at it; none before one.
    std::optional<PortAnswer> answer = {};

    friend bool operator==(const ServerDetails&, const ServerDetails&) = default;
};

// The arguments of a /proc/<pid>/cmdline text: NUL-separated, the last one
// ending in a NUL. A process that rewrote its command line (a title such as
// "nginx: master process") gives one argument with spaces. Empty for a kernel
// thread or a zombie.
QStringList argumentsFromCmdline(const QByteArray& cmdline);

// The arguments joined by spaces, the program's path shortened to its base
// name: "/usr/bin/python3 -m http.server" becomes "python3 -m http.server". A
// rewritten command line (one argument with spaces) is kept as it is.
QString commandLineText(const QStringList& arguments);

// The arguments as they would be typed: each one that is empty or holds a
// space or a shell-special character quoted in single quotes.
QString shellCommandText(const QStringList& arguments);

// `path` with the home folder written "~": "/home/ann/src/shop" -> "~/src/shop".
QString withHomeAsTilde(const QString& path, const QString& home);

// Whether the listening address takes connections sent to localhost: a
// loopback address, any address ("0.0.0.0", "::", "*"), or unknown.
bool reachableAsLocalhost(const QString& address);

// The address a browser uses to reach a server: "http://localhost:<port>",
// unless the server listens only on one specific other address, which a
// connection to localhost would not reach: then "http://192.168.1.20:<port>",
// or "http://[fd00::5]:<port>" for IPv6. With `https`, the same with "https://".
QString serverUrl(qint64 port, const QString& address, bool https = false);
// The same with the address as it is, also a loopback one ("http://[::1]:3000").
QString literalServerUrl(qint64 port, const QString& address, bool https = false);
