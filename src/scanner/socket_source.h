#pragma once

#include "scanner/listening_port.h"
#include "scanner/lister.h"

#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

// What one scan asks for: the listening sockets whose port is in
// [minPort, maxPort], and which process names count as servers.
struct ScanRequest {
    qint64 minPort = 0;
    qint64 maxPort = 0;
    QSet<QString> allowlist;
};

// The outcome of one scan: the allowed servers, or why the scan failed. A
// failed scan is never reported as an empty list.
//
// `others` are the listening sockets in the range that no allowed process
// holds, as records of their holder, also sorted by port and one per port. A
// holder that cannot be seen (another user's process, for an ordinary user)
// gives a record with pid 0 and an empty name.
struct ScanResult {
    QList<ListeningPort> ports;
    ListerError error = ListerError::None;
    QList<ListeningPort> others = {};

    bool ok() const { return error == ListerError::None; }
};

// Where the listening sockets come from. One scan at a time: scan() returns
// false, starting nothing, while one is running; `done` runs later, from the
// event loop of the thread that called scan(), never inside scan().
// Destroying a source while it scans drops that scan without calling `done`.
class SocketSource {
public:
    using Done = std::function<void(ScanResult)>;

    virtual ~SocketSource() = default;

    virtual bool scan(ScanRequest request, Done done) = 0;
    virtual bool isScanning() const = 0;
    // The same scan, waited for on the calling thread. For tests and tools.
    virtual ScanResult scanBlocking(const ScanRequest& request) = 0;
};

// The sources the settings key "lister" chooses between.
enum class SourceKind {
    Proc, // the kernel's socket tables and process folders in /proc
    Lsof, // one lsof run per scan
};

// "lsof" selects lsof; anything else, an absent or unreadable value too,
// selects /proc.
inline SourceKind sourceKindFromSetting(const QString& value) {
    return value == QLatin1String("lsof") ? SourceKind::Lsof : SourceKind::Proc;
}
