#pragma once

#include "config/settings.h"
#include "core/server_source.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

// One source as the settings ask for it.
struct SourceSpec {
    // Names the source in its records' `origin` and in a list's filter; the
    // same settings give the same id, so a source survives edits that do not
    // concern it.
    SourceId id;
    std::function<std::unique_ptr<ServerSource>()> make;
    // Whether its failure fails the list (the process source's), rather than
    // only leaving its own records out with the reason in `problems`.
    bool essential = true;
};

using Registry = std::function<QList<SourceSpec>(const settings::Values&)>;

class SshConnections;

// The sources in force for the settings, in the order their records take
// precedence: the one place that chooses them, for the tray and the command
// line alike. "containers" adds the container engines' published ports
// ahead of the rest; "lister" chooses the process source: /proc ("proc", the
// default) or lsof ("lsof"); every destination of "hosts" adds an SSH source
// that is not essential. The SSH sources made by the
// specs of one call share `connections` (a new one when null): at most a few
// of them set up a connection at once.
QList<SourceSpec> sourcesFor(const settings::Values& values,
                             std::shared_ptr<SshConnections> connections = {});

// sourcesFor() for one set of sources: every SSH source it makes, at every
// update, shares one SshConnections.
Registry sourceRegistry();

// The source of one SSH destination's servers, which also forwards their
// ports (it implements PortForwarding).
std::unique_ptr<ServerSource> hostSource(const QString& destination);

// Where the tray program keeps the states of its forwards for the command
// line (see monitor/forward_states.h): the private folder of the hosts'
// control sockets; empty when there is none.
QString forwardStatesPath();

// That host's source alone, failing the list when the host is out of reach:
// what the command line's --host lists.
QList<SourceSpec> hostSourcesFor(const QString& destination);
