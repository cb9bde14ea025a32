#pragma once

#include "core/listening_port.h"

#include <QList>
#include <QStringView>

// The lister's listing as records: one per port (its first line wins), or one
// per address when different processes hold its addresses (see
// split_ports.h), ascending by port, with the listening address ("*" for any address
// becomes "0.0.0.0" or "::") and the escapes that lsof writes in command names
// decoded. Lines that cannot be read, and ports outside 1 to 65535, are left
// out.
QList<ListeningPort> parseLsofListing(QStringView text);
