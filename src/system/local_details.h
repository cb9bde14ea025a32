#pragma once

#include "core/listening_port.h"
#include "core/server_details.h"
#include "system/procfs.h"

#include <QString>
#include <QStringList>

// What tells a server of this machine from another, read from its process
// and the file system.

// The files whose presence makes a folder a project's root.
const QStringList& projectMarkers();

// The base name of the nearest folder from `folder` upward that holds one of
// the project markers; when there is none, the base name of `folder` itself
// ("/" for the root). The home folder, "/" and anything above them are not
// searched: a home folder kept under version control is nobody's project.
QString projectName(const QString& folder, const QString& home);

// The details of the record's process, read from <pid>/{cwd,cmdline,stat}.
// Blocks on the file system: never call it on the interface thread.
ServerDetails readServerDetails(const ListeningPort& port, const ProcFs& proc,
                                const QString& home);
