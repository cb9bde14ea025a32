#pragma once

#include "core/listening_port.h"
#include "core/server_details.h"
#include "system/procfs.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What tells a server of this machine from another, read from its process
// and the file system.

// The files whose presence makes a folder a project's root.
const QStringList& projectMarkers();

struct Project {
    QString folder; // the project's root folder
    QString name;   // its name
};

// The project that `folder` belongs to: the nearest folder from `folder`
// upward that holds one of the project markers, named as its manifest names
// it (see manifestName(): package.json, pyproject.toml, Cargo.toml, go.mod,
// composer.json, in that order), else by the folder's base name. So a
// workspace's package is named by its own manifest. When no folder holds a
// marker, `folder` itself, by its base name ("/" for the root). The home
// folder, "/" and anything above them are not searched: a home folder kept
// under version control is nobody's project. Reads the manifests (see
// readManifest()): never call it on the interface thread.
Project projectOf(const QString& folder, const QString& home);

// The text of the manifest file at `path` when it may be read: a regular file
// of at most 1 MiB (opened without blocking, so that a FIFO or a device in its
// place is never waited for) that lies inside `root`, a folder's canonical
// path, wherever symbolic links lead. None otherwise.
std::optional<QByteArray> readManifest(const QString& path, const QString& root);

// The details of the record's process, read from <pid>/{cwd,cmdline,stat}.
// Blocks on the file system: never call it on the interface thread.
ServerDetails readServerDetails(const ListeningPort& port, const ProcFs& proc, const QString& home);
