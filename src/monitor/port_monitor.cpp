#include "monitor/port_monitor.h"

#include "monitor/change_policy.h"
#include "monitor/details_reader.h"
#include "platform/settings_store.h"

#include <QDir>
#include <QJsonArray>
#include <QPointer>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {
// The same listed process: equal records with the same start time.
bool sameProcess(const ListeningPort& a, const ListeningPort& b) {
    return a == b && a.startTime == b.startTime;
}
} // namespace

PortMonitor::PortMonitor(std::unique_ptr<PortScanner> scanner, SettingsStore& store, Notify notify,
                         QObject* parent)
    : QObject(parent), m_scanner(std::move(scanner)), m_store(store), m_notify(std::move(notify)),
      m_allowlist(PortScanner::defaultAllowlist()) {
    setDetailsSource([home = QDir::homePath()](const ListeningPort& port) {
        return readServerDetails(port, QStringLiteral("/proc"), home);
    });
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortMonitor::tick);
    connect(&m_store, &SettingsStore::changed, this, &PortMonitor::followSetting);
    loadAllowlist();
    m_lister = m_store.values().lister;
    selectSource();
}

// Destroying the scanner first kills a lister that is still running, so its
// callback can never reach a half-destroyed monitor.
PortMonitor::~PortMonitor() {
    m_scanner.reset();
    m_detailsReader.reset();
}

void PortMonitor::setDetailsSource(ReadDetails read) {
    m_detailsReader.reset(); // a batch still being read is dropped
    m_processDetails.clear();
    if (read)
        m_detailsReader = std::make_unique<DetailsReader>(std::move(read));
    readMissingDetails();
}

ServerDetails PortMonitor::details(qint64 port) const {
    return m_details.value(port);
}

// Each listed process is read once; a record whose pid or start time changes
// is another process and is read anew.
void PortMonitor::readMissingDetails() {
    if (!m_detailsReader || m_detailsReader->isReading())
        return;
    QList<ListeningPort> missing;
    QSet<ProcessKey> asked;
    for (const ListeningPort& port : std::as_const(m_ports)) {
        const ProcessKey key = keyOf(port);
        if (!m_processDetails.contains(key) && !asked.contains(key)) {
            asked.insert(key);
            missing.append(port);
        }
    }
    if (missing.isEmpty())
        return;
    m_detailsReader->read(std::move(missing), [this](DetailsReader::Batch batch) {
        QSet<ProcessKey> listed;
        for (const ListeningPort& port : std::as_const(m_ports))
            listed.insert(keyOf(port));
        for (auto& [port, details] : batch) {
            if (listed.contains(keyOf(port)))
                m_processDetails.insert(keyOf(port), std::move(details));
        }
        if (updateDetails())
            emit detailsChanged();
        readMissingDetails(); // what was listed while this batch was read
    });
}

bool PortMonitor::updateDetails() {
    QHash<qint64, ServerDetails> details;
    details.reserve(m_ports.size());
    for (const ListeningPort& port : std::as_const(m_ports)) {
        ServerDetails d = m_processDetails.value(keyOf(port));
        d.address = port.address;
        if (port.startTime != 0)
            d.startTime = port.startTime;
        details.insert(port.port, std::move(d));
    }
    if (details == m_details)
        return false;
    m_details = std::move(details);
    return true;
}

void PortMonitor::setAllowlist(QSet<QString> names) {
    m_allowlist = std::move(names);
    emit allowlistChanged();
}

void PortMonitor::insertAllowed(const QString& name) {
    m_allowlist.insert(name);
    emit allowlistChanged();
}

void PortMonitor::removeAllowed(const QString& name) {
    m_allowlist.remove(name);
    emit allowlistChanged();
}

void PortMonitor::loadAllowlist() {
    // The store drops a broken list; a missing one leaves the defaults.
    if (m_store.contains(settings::allowlistKey))
        setAllowlist(m_store.values().allowlist);
}

void PortMonitor::followSetting(const QString& key) {
    const settings::Values stored = m_store.values();
    bool changed = false;
    if (key == settings::minPortKey && stored.minPort != m_minPort) {
        m_minPort = stored.minPort;
        changed = true;
    } else if (key == settings::maxPortKey && stored.maxPort != m_maxPort) {
        m_maxPort = stored.maxPort;
        changed = true;
    } else if (key == settings::allowlistKey && stored.allowlist != m_allowlist) {
        setAllowlist(stored.allowlist);
        changed = true;
    } else if (key == settings::listerKey && stored.lister != m_lister) {
        m_lister = stored.lister;
        selectSource();
        // A running scan starts again on the new source and reports from it.
        m_scanFilter.source = m_lister;
        changed = true;
    }
    if (changed)
        scan();
}

void PortMonitor::selectSource() {
    m_scanner->selectSource(sourceKindFromSetting(m_lister));
}

void PortMonitor::saveAllowlist() {
    QJsonArray names;
    for (const QString& name : std::as_const(m_allowlist))
        names.append(name);
    m_store.setArray(settings::allowlistKey, names);
}

void PortMonitor::start() {
    const settings::Values stored = m_store.values();
    m_minPort = stored.minPort;
    m_maxPort = stored.maxPort;
    // Desktop notifications need no permission on Linux.
    scan();
    m_timer.start();
}

// A slow source is not run back to back: the tick that comes while it scans
// is dropped, not queued.
void PortMonitor::tick() {
    if (!m_scanner->isScanning())
        scan();
}

void PortMonitor::scan() {
    if (m_scanner->isScanning()) {
        m_followUpScan = true;
        return;
    }
    m_scanFilter = filter();
    m_scanner->scan(m_minPort, m_maxPort, m_allowlist,
                    [this](ScanResult result) { finishScan(std::move(result)); });
}

ScanFilter PortMonitor::filter() const {
    return {m_minPort, m_maxPort, m_allowlist, m_lister};
}

void PortMonitor::finishScan(ScanResult result) {
    if (!result.ok()) {
        // Keep what was last seen: a lister that failed says nothing about
        // which servers run.
        m_scanError = describeListerError(result.error);
        emit scanErrorChanged();
    } else {
        // The first list is compared under its own filter: every server on
        // it has started, as far as the user is concerned.
        const PortChanges changes =
            comparePorts(m_ports, m_listFilter.value_or(m_scanFilter), result.ports, m_scanFilter);
        m_listFilter = m_scanFilter;
        for (const Notice& notice : noticesFor(changes))
            m_notify(notice.title, notice.body);
        if (!changes.isEmpty())
            emit changesFound(changes);

        const bool hadError = !m_scanError.isEmpty();
        m_scanError.clear();
        m_ports = std::move(result.ports);
        m_otherListeners = std::move(result.others);
        // Details of processes no longer listed are forgotten.
        QSet<ProcessKey> listed;
        for (const ListeningPort& p : std::as_const(m_ports))
            listed.insert(keyOf(p));
        m_processDetails.removeIf([&](auto entry) { return !listed.contains(entry.key()); });
        // The details follow the new list before anyone hears of it, so a
        // port taken over by another process never shows the old one's.
        const bool detailsDiffer = updateDetails();
        m_forceStopOffered.removeIf([this](const ListeningPort& p) {
            return std::none_of(m_ports.cbegin(), m_ports.cend(),
                                [&p](const ListeningPort& q) { return sameProcess(p, q); });
        });
        if (hadError)
            emit scanErrorChanged();
        emit portsChanged();
        emit otherListenersChanged();
        if (detailsDiffer)
            emit detailsChanged();
        readMissingDetails();
    }

    if (m_followUpScan) {
        m_followUpScan = false;
        scan();
    }
}

bool PortMonitor::stopProcess(const ListeningPort& port) {
    return signalServer(port, SIGTERM);
}

bool PortMonitor::forceStop(const ListeningPort& port) {
    return signalServer(port, SIGKILL);
}

bool PortMonitor::offersForceStop(const ListeningPort& port) const {
    return std::any_of(m_forceStopOffered.cbegin(), m_forceStopOffered.cend(),
                       [&port](const ListeningPort& p) { return sameProcess(p, port); });
}

bool PortMonitor::signalServer(const ListeningPort& port, int signal) {
    // A record the menu showed before the list changed may name a process
    // that is gone; only what is listed now is acted on.
    const auto listed =
        std::find_if(m_ports.cbegin(), m_ports.cend(),
                     [&port](const ListeningPort& p) { return sameProcess(p, port); });
    const StopResult result =
        listed == m_ports.cend()
            ? StopResult{StopOutcome::NotListed,
                         describeStopOutcome(StopOutcome::NotListed, port.port)}
            : m_scanner->signalServer(*listed, signal);
    QTimer::singleShot(rescanAfterStopMs, this, &PortMonitor::scan);

    if (!result.delivered()) {
        const QString title = tr("Server Not Stopped");
        const QString body =
            tr("%1 on port %2: %3").arg(port.process, QString::number(port.port), result.reason);
        std::fprintf(stderr, "harborwatch: %s: %s\n", qPrintable(title), qPrintable(body));
        m_notify(title, body);
        return false;
    }
    if (signal == SIGTERM) {
        // Precise: a coarse timer may fire up to 5 % early.
        QTimer::singleShot(stillRunningCheckMs, Qt::PreciseTimer, this,
                           [this, record = *listed] { checkStillRunning(record); });
    }
    return true;
}

void PortMonitor::checkStillRunning(const ListeningPort& listed) {
    if (!m_scanner->stillRuns(listed))
        return;
    if (!offersForceStop(listed))
        m_forceStopOffered.append(listed);
    emit forceStopOffered(listed);

    const QString title = tr("Server Still Running");
    const QString body =
        tr("%1 on port %2 did not stop").arg(listed.process, QString::number(listed.port));
    if (!m_notifyWithAction) {
        m_notify(title, body);
        return;
    }
    m_notifyWithAction(title, body, tr("Force Stop"), [self = QPointer(this), listed] {
        if (self)
            self->forceStop(listed);
    });
}
