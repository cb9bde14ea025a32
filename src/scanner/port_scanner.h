#pragma once

#include "scanner/listening_port.h"
#include "scanner/lister.h"
#include "scanner/process_control.h"
#include "scanner/socket_source.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

// Reads a decimal integer: one optional "+" or "-", then one or more digits,
// nothing else, and the value fits a signed 64-bit integer.
std::optional<qint64> parseInteger(QStringView text);

// Answers which allowed processes listen on which ports of a range, and stops a
// process. The scan runs asynchronously on one socket source (/proc or lsof),
// one scan at a time. The virtual members are the seam that lets the monitor be
// tested with a fake.
class PortScanner {
public:
    using Done = std::function<void(ScanResult)>;

    // Scans /proc until lsof is selected.
    PortScanner();
    // Runs `command` as the lister until /proc is selected.
    explicit PortScanner(ListerCommand command);
    // Scans with `source`, taken for a /proc source, until lsof is selected.
    explicit PortScanner(std::unique_ptr<SocketSource> source);
    virtual ~PortScanner();
    PortScanner(const PortScanner&) = delete;
    PortScanner& operator=(const PortScanner&) = delete;

    // Starts a scan and returns true; `done` runs later, on the calling thread's
    // event loop. Returns false, starting nothing, while a scan is running.
    virtual bool scan(qint64 minPort, qint64 maxPort, QSet<QString> allowlist, Done done);
    virtual bool isScanning() const;

    // Scans with a source of this kind from now on. A scan that is running is
    // started again on the new source; its callback runs once, with the new
    // source's result.
    virtual void selectSource(SourceKind kind);
    SourceKind sourceKind() const { return m_kind; }

    // The same scan, waited for on the calling thread. For tests and tools.
    ScanResult scanBlocking(qint64 minPort, qint64 maxPort, const QSet<QString>& allowlist) const;

    // Sends `signal` to a listed server's process once it is confirmed to be
    // the process that was listed (signalListedProcess), with the socket check
    // when socketCheck() is on.
    virtual StopResult signalServer(const ListeningPort& listed, int signal);
    // Whether the listed server's process still runs (and, with the socket
    // check, still listens on its port).
    virtual bool stillRuns(const ListeningPort& listed) const;
    // Asks the listed server to terminate (SIGTERM); true exactly when the
    // signal was delivered.
    bool stopProcess(const ListeningPort& listed);

    // Whether a stop also confirms that the process still holds a listening
    // socket on the record's port: with the /proc source, whose records come
    // from those sockets. Records from lsof are checked by pid and start time.
    bool socketCheck() const { return m_kind == SourceKind::Proc; }

    // The process names that count as development servers until the user edits
    // the list.
    static const QSet<QString>& defaultAllowlist();

    // The lister's listing as records: one per port (the first line for a port
    // wins), ascending by port, with the listening address ("*" for any address
    // becomes "0.0.0.0" or "::") and the escapes that lsof writes in command
    // names decoded. Lines that cannot be read, and ports outside 1 to 65535,
    // are left out.
    static QList<ListeningPort> parse(QStringView text);

    // Keeps the records with minPort <= port <= maxPort whose process is on the
    // allowlist (exact, case-sensitive), in their order.
    static QList<ListeningPort> filter(const QList<ListeningPort>& ports, qint64 minPort,
                                       qint64 maxPort, const QSet<QString>& allowlist);

private:
    struct Pending {
        ScanRequest request;
        Done done;
    };
    bool startPending();

    ListerCommand m_command;
    SourceKind m_kind;
    std::unique_ptr<SocketSource> m_source;
    std::optional<Pending> m_pending; // while a scan runs
};
