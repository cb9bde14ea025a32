#pragma once

#include "core/filter.h"
#include "core/listening_port.h"
#include "core/server_details.h"
#include "core/source_id.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <QString>

#include <functional>

class PortForwarding;

// The outcome of one scan: the listed servers, or why the scan failed. A failed
// scan is never reported as an empty list.
//
// `ports` are the servers the filter lists, ascending by port, one per port.
// `others` are the listening sockets in the range that no allowed process
// holds, as records of their holder, also sorted by port and one per port; a
// holder that cannot be seen (another user's process, for an ordinary user)
// gives a record with pid 0 and an empty name.
struct ScanResult {
    QList<ListeningPort> ports;
    QString error = {}; // why the scan failed, in plain words; empty when it did not
    QList<ListeningPort> others = {};
    // Why a source that does not fail the list lists nothing now (a container
    // engine out of reach, a host not connected), by the source's id; the
    // other sources' records stand.
    // In a source's own result, SourceId{} stands for that source.
    QMap<SourceId, QString> problems = {};
    // The sources among `problems` whose list stands all the same (the
    // containers an engine listed last, kept while it does not answer), keyed
    // as there: what enters or leaves their list is a server that started or
    // stopped.
    QSet<SourceId> standingLists = {};
    // Ports of this machine that the source's own forwards hold (an ssh
    // process listening for another machine's server): a record of this
    // machine on one of them is that forward, not a server, and is left out.
    QList<qint64> forwardedPorts = {};

    bool ok() const { return error.isEmpty(); }
};

// Why a request to stop a listed server was not carried out.
enum class StopOutcome {
    Delivered,
    NotListed,        // the record is no longer in the list the program shows
    InvalidPid,       // pid <= 0 or beyond pid_t: it would address a group or another pid
    UnknownStartTime, // the record carries no start time, so its process cannot be confirmed
    Exited,           // no process has the pid any more
    PidReused,        // a process with another start time has the pid now
    NotListening,     // the process no longer holds a listening socket on the port
    PermissionDenied, // the process belongs to another user
    Failed,           // refused for another reason (see the reason)
};

struct StopResult {
    StopOutcome outcome = StopOutcome::Failed;
    QString reason = {}; // plain words for the user; empty when delivered

    bool delivered() const { return outcome == StopOutcome::Delivered; }
};

// The plain words for an outcome: "it exited already", "another process has
// its pid now", "it no longer listens on port 3000", ... `detail` names the
// system's error for StopOutcome::Failed.
QString describeStopOutcome(StopOutcome outcome, qint64 port, const QString& detail = {});
// A result with the plain words for its outcome.
StopResult stopRefused(StopOutcome outcome, qint64 port, const QString& detail = {});

// Where servers come from: the kernel's tables, lsof, a container engine, a
// remote host. Each source lists its own records (marked with its id in
// `origin`) and answers for them: their details, how they are stopped, whether
// they still run. Sources live on the thread that created them.
class ServerSource {
public:
    using Done = std::function<void(ScanResult)>;
    using StopDone = std::function<void(StopResult)>;
    using RunsDone = std::function<void(bool)>;

    virtual ~ServerSource() = default;

    // Starts a scan and returns true, or returns false, starting nothing,
    // while one is running. `done` runs later, from the event loop of the
    // thread that called scan(), never inside scan(). Destroying a source while
    // it scans drops that scan without calling `done`.
    virtual bool scan(ScanFilter filter, Done done) = 0;
    virtual bool isScanning() const = 0;

    // What tells the record's server from another (folder, command line, ...),
    // as far as the source can tell. May block on the file system or the
    // network: called off the interface thread, possibly while a scan runs.
    virtual ServerDetails details(const ListeningPort& record) const = 0;

    // Asks the record's server to stop (SIGTERM, or SIGKILL when `force`), in
    // the source's own way and only while it is still the server that was
    // listed. `done` gets the outcome on the calling thread, possibly before
    // stop() returns.
    virtual void stop(const ListeningPort& record, bool force, StopDone done) = 0;
    // Whether the record's server still runs as it was listed; `done` as for stop().
    virtual void stillRuns(const ListeningPort& record, RunsDone done) = 0;

    // How the source forwards its servers' ports to this machine; null for a
    // source of this machine's own servers.
    virtual PortForwarding* forwarding() { return nullptr; }

    // `news` runs, on the source's thread, when what the source lists has
    // changed between scans (a remote host's listing), so that the change is
    // shown without waiting for the next poll. Sources that learn what runs
    // only when they scan ignore it.
    virtual void setNews(std::function<void()> news) { (void)news; }
};

// Runs one scan and waits for its result, running the calling thread's event
// loop meanwhile. For the command line and for tests.
ScanResult scanAndWait(ServerSource& source, const ScanFilter& filter);
