#pragma once

#include "app/command_line_output.h"
#include "monitor/port_changes.h"
#include "scanner/listening_port.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class LsofSource;
class ProcScan;

// What the command line takes from the rest of the program, each in one
// place: the discovery of listening servers and a server's details. A stop
// goes through stopListedServer (scanner/process_control.h), as the tray's.

// The servers of one scan, or why it failed.
struct Scan {
    QList<ListeningPort> ports;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// Scans on the calling thread, which in the command line waits for nothing
// else. Kept for the scans of a watch: the /proc scan remembers the holders
// of sockets that it found.
class ServerScanner {
public:
    ServerScanner();
    ~ServerScanner();
    ServerScanner(const ServerScanner&) = delete;
    ServerScanner& operator=(const ServerScanner&) = delete;

    // The servers the filter shows, ascending by port. Without an allowlist,
    // every listener in the range whose process the user may inspect.
    Scan scan(const ScanFilter& filter);

private:
    std::unique_ptr<ProcScan> m_proc;
    std::unique_ptr<LsofSource> m_lsof;
};

// The record with what can be read about its process.
ServerRow serverRowOf(const ListeningPort& port);
