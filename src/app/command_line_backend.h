#pragma once

#include "app/command_line_output.h"
#include "scanner/listening_port.h"

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <optional>

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

// Which records one call shows: a port range and the allowed names, or any
// name.
struct ServerFilter {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    std::optional<QSet<QString>> allowlist; // none: every process

    friend bool operator==(const ServerFilter&, const ServerFilter&) = default;
};

QList<ListeningPort> applyFilter(const QList<ListeningPort>& ports, const ServerFilter& filter);

// The records of one scan, or why it failed.
struct Scan {
    QList<ListeningPort> ports;
    QString error;

    bool ok() const { return error.isEmpty(); }
};

// Every listening TCP port of the processes the user may inspect, one record
// per port, ascending, found by the lister the settings name.
Scan scanEverything(const QString& lister);

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

// The servers that started and stopped between two unfiltered scans, shown
// through the filter in force at each. A port that enters or leaves the list
// only because the filter changed is no event. Started first, each ascending
// by port.
QList<ServerChange> changesBetween(const QList<ListeningPort>& before,
                                   const ServerFilter& filterBefore,
                                   const QList<ListeningPort>& after,
                                   const ServerFilter& filterAfter);
