#include "monitor/port_monitor.h"

#include "config/settings_store.h"
#include "monitor/details_reader.h"

#include <algorithm>

namespace {

ScanFilter storedFilter(const settings::Values& values) {
    return {values.minPort, values.maxPort, values.allowlist};
}

// Whether two lists hold the same records, every field alike.
bool sameRecords(const QList<ListeningPort>& a, const QList<ListeningPort>& b) {
    return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
                      [](const ListeningPort& x, const ListeningPort& y) {
                          return x == y && x.startTime == y.startTime && x.address == y.address &&
                                 x.origin == y.origin && x.anyProcess == y.anyProcess;
                      });
}

} // namespace

PortMonitor::PortMonitor(SettingsStore& store, Registry registry, QObject* parent)
    : QObject(parent), m_store(store), m_sources(std::move(registry)),
      m_filterOf(storedFilter) {
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortMonitor::tick);
    connect(&m_store, &SettingsStore::changed, this, &PortMonitor::followSetting);
    m_sources.update(m_store.values());
    setReadsDetails(true);
}

// The details reader goes first: it reads through the sources. Destroying the
// sources then drops a scan still running, so its callback can never reach a
// half-destroyed monitor.
PortMonitor::~PortMonitor() {
    m_detailsReader.reset();
}

void PortMonitor::setReadsDetails(bool reads) {
    m_readsDetails = reads;
    m_detailsReader.reset(); // a batch still being read is dropped
    m_processDetails.clear();
    if (reads)
        startDetailsReader();
}

void PortMonitor::startDetailsReader() {
    m_detailsReader = std::make_unique<DetailsReader>([this](const ListeningPort& port) {
        // Runs on the reader's thread; the sources change only while no
        // reader exists (see updateSources()).
        const ServerSource* source = m_sources.sourceOf(port);
        return source ? source->details(port) : ServerDetails{};
    });
    readMissingDetails();
}

ServerDetails PortMonitor::details(const ListeningPort& record) const {
    return m_details.value(placeOf(record));
}

ServerDetails PortMonitor::details(qint64 port) const {
    return m_details.value({QString(), port});
}

ScanFilter PortMonitor::filter() const {
    ScanFilter filter = m_filterOf(m_store.values());
    filter.source = m_sources.identity();
    return filter;
}

void PortMonitor::setFilterOf(FilterOf filterOf) {
    m_filterOf = std::move(filterOf);
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
    QHash<PortPlace, ServerDetails> details;
    details.reserve(m_ports.size());
    for (const ListeningPort& port : std::as_const(m_ports)) {
        ServerDetails d = m_processDetails.value(keyOf(port));
        d.address = port.address;
        if (port.startTime != 0)
            d.startTime = port.startTime;
        details.insert(placeOf(port), std::move(d));
    }
    if (details == m_details)
        return false;
    m_details = std::move(details);
    return true;
}

void PortMonitor::followSetting(const QString& key) {
    const settings::KeyBase* entry = settings::find(key);
    if (!entry || !entry->relists)
        return;
    updateSources();
    scan();
}

void PortMonitor::updateSources() {
    const settings::Values values = m_store.values();
    if (!m_sources.changesWith(values))
        return;
    // The details reader reads through the sources on its own thread: it is
    // stopped while they change. Details of processes still listed stay.
    m_detailsReader.reset();
    m_sources.update(values);
    if (m_readsDetails)
        startDetailsReader();
}

void PortMonitor::start() {
    // Desktop notifications need no permission on Linux.
    scan();
    m_timer.start();
}

// A slow source is not run back to back: the tick that comes while it scans
// is dropped, not queued.
void PortMonitor::tick() {
    if (!m_sources.isScanning())
        scan();
}

void PortMonitor::scan() {
    if (m_sources.isScanning()) {
        m_followUpScan = true;
        return;
    }
    m_scanFilter = filter();
    m_sources.scan(m_scanFilter, [this](ScanResult result) { finishScan(std::move(result)); });
}

void PortMonitor::finishScan(ScanResult result) {
    // A scan that started again on sources changed meanwhile reports from them.
    m_scanFilter.source = m_sources.identity();
    if (!result.ok()) {
        // Keep what was last seen: a source that failed says nothing about
        // which servers run.
        m_scanError = result.error;
        emit scanErrorChanged();
    } else if (m_scanError.isEmpty() && m_listFilter && result.problems == m_problems &&
               sameRecords(result.ports, m_ports) && sameRecords(result.others, m_otherListeners)) {
        // What most scans find: what is published. Nothing started or stopped
        // and the details stand; the list is announced as after every scan.
        m_listFilter = m_scanFilter;
        emit problemsChanged();
        emit portsChanged();
        emit otherListenersChanged();
    } else {
        // The first list is compared under its own filter: every server on
        // it has started, as far as the user is concerned.
        PortChanges changes =
            comparePorts(m_ports, m_listFilter.value_or(m_scanFilter), result.ports, m_scanFilter);
        // A source out of reach says nothing about its servers: they leave
        // the list while it lasts and come back without being told as stops
        // and starts.
        changes.stopped.removeIf(
            [&](const ListeningPort& p) { return result.problems.contains(p.origin); });
        changes.started.removeIf(
            [&](const ListeningPort& p) { return m_problems.contains(p.origin); });
        m_listFilter = m_scanFilter;
        if (!changes.isEmpty())
            emit changesFound(changes);

        const bool hadError = !m_scanError.isEmpty();
        m_scanError.clear();
        m_ports = std::move(result.ports);
        m_otherListeners = std::move(result.others);
        m_problems = std::move(result.problems);
        // Details of processes no longer listed are forgotten.
        QSet<ProcessKey> listed;
        for (const ListeningPort& p : std::as_const(m_ports))
            listed.insert(keyOf(p));
        m_processDetails.removeIf([&](auto entry) { return !listed.contains(entry.key()); });
        // The details follow the new list before anyone hears of it, so a
        // port taken over by another process never shows the old one's.
        const bool detailsDiffer = updateDetails();
        if (hadError)
            emit scanErrorChanged();
        emit problemsChanged();
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

std::optional<ListeningPort> PortMonitor::listed(const ListeningPort& port) const {
    const auto found = std::find_if(m_ports.cbegin(), m_ports.cend(),
                                    [&port](const ListeningPort& p) { return sameProcess(p, port); });
    if (found == m_ports.cend())
        return std::nullopt;
    return *found;
}

ServerSource* PortMonitor::sourceOf(const ListeningPort& port) const {
    return m_sources.sourceOf(port);
}
