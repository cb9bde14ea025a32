#pragma once

#include "app/command_line_output.h"
#include "scanner/listening_port.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class LsofSource;
class ProcScan;
class SettingsStore;

// What the command line takes from the rest of the program, each in one
// place: the stored settings, the discovery of listening servers, a server's
// details, the stop, and what counts as a server starting or stopping.

// What the stored settings mean for a scan.
struct ScanSettings {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    QSet<QString> allowlist;
    QString lister;

    friend bool operator==(const ScanSettings&, const ScanSettings&) = default;
};

ScanSettings readScanSettings(const SettingsStore& store);

// Which servers one call shows: a port range and the allowed names, or any
// name, found by the source the settings name.
struct ServerFilter {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    std::optional<QSet<QString>> allowlist; // none: every process
    QString lister;

    friend bool operator==(const ServerFilter&, const ServerFilter&) = default;
};

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
    Scan scan(const ServerFilter& filter);

private:
    std::unique_ptr<ProcScan> m_proc;
    std::unique_ptr<LsofSource> m_lsof;
};

// The record with what can be read about its process.
ServerRow serverRowOf(const ListeningPort& port);

// How a stop ended: delivered, or the reason in plain words.
struct StopAttempt {
    bool delivered = false;
    QString reason;
};

// SIGTERM (SIGKILL with `force`) to the listed server's process, only while
// it is still the process that was listed.
StopAttempt stopServer(const ListeningPort& listed, bool force);

struct ServerChange {
    ServerEvent event = ServerEvent::Started;
    ListeningPort server;

    friend bool operator==(const ServerChange&, const ServerChange&) = default;
};

// The servers that started and stopped between two scans, each listed under
// the filter in force at its time. A new port is a start only when the earlier
// filter would have shown it too, a missing port a stop only when the new
// filter would still show it, so an edit of the filter is no event while a
// server stopping in the same scan still is; after a change of the source
// nothing is. Started first, each ascending by port.
QList<ServerChange> changesBetween(const QList<ListeningPort>& before,
                                   const ServerFilter& filterBefore,
                                   const QList<ListeningPort>& now, const ServerFilter& filterNow);
