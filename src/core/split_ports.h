#pragma once

#include "core/listening_port.h"

#include <QList>

// A port that different processes hold on different addresses (127.0.0.1 by
// one, ::1 by another) is two servers: a client reaches one or the other
// depending on the address it asks.
//
// `byAddress` holds a source's records of each port and address, each under
// the holder the source would list there, ascending by port and, within a
// port, in the source's order of preference (a second record of the same
// address is left out). The result has one record per port, its first, when
// at most one process is seen holding it; otherwise one record per address,
// marked `split`.
QList<ListeningPort> splitByHolder(const QList<ListeningPort>& byAddress);
