#pragma once

#include "core/port_forwarding.h"

#include <QByteArray>
#include <QHash>
#include <QHashFunctions>
#include <QString>

#include <functional>
#include <optional>

// The states of the tray program's forwards, for the command line, which
// never talks to the tray program: a file of its own in the private runtime
// folder of the hosts' connections, written by the tray program when a state
// changes and removed when it quits. It names its writer (pid and start
// time), so a file left by a program that was killed is not believed.

// A host's remote port.
struct ForwardPlace {
    QString host;
    qint64 port = 0;
    friend bool operator==(const ForwardPlace&, const ForwardPlace&) = default;
};
inline size_t qHash(const ForwardPlace& p, size_t seed = 0) {
    return qHashMulti(seed, p.host, p.port);
}

using ForwardStates = QHash<ForwardPlace, PortForward>;

// The file's text: {"pid": N, "started": TICKS, "forwards": [{"host", "port",
// "local", "state"}]}, with the forwards whose state is known.
QByteArray forwardStatesText(const ForwardStates& states, qint64 pid, quint64 startTime);
// What a file of that text says, when it is one; `writer` gives its writer's
// pid and start time, which `alive` must confirm.
std::optional<ForwardStates> readForwardStates(const QByteArray& text,
                                               const std::function<bool(qint64, quint64)>& alive);

// Writes the states to `path` (atomically), and removes the file when they
// are empty. False when it could not be written.
bool writeForwardStates(const QString& path, const ForwardStates& states);
// The states in `path`, as far as its writer still runs; empty otherwise.
ForwardStates readForwardStatesFile(const QString& path);
