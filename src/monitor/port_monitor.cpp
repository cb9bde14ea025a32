#include "monitor/port_monitor.h"

#include "config/settings_store.h"
#include "core/port_forwarding.h"
#include "monitor/details_reader.h"
#include "probe/probe_queue.h"

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
    : QObject(parent), m_store(store), m_sources(std::move(registry)), m_filterOf(storedFilter) {
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortMonitor::tick);
    m_newsScan.setSingleShot(true);
    m_newsScan.setInterval(newsScanMs);
    connect(&m_newsScan, &QTimer::timeout, this, &PortMonitor::scan);
    connect(&m_store, &SettingsStore::changed, this, &PortMonitor::followSetting);
    connect(this, &PortMonitor::forwardsChanged, this, &PortMonitor::followForwardStates);
    m_sources.update(m_store.values());
    followForwards();
    m_clock.start();
    setReadsDetails(true);
}

// The details reader goes first: it reads through the sources. Destroying the
// sources then drops a scan still running, so its callback can never reach a
// half-destroyed monitor.
PortMonitor::~PortMonitor() {
    m_detailsReader.reset();
    m_probe.reset();
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
    filter.sources = m_sources.identity();
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

bool PortMonitor::detailsSettled() const {
    if (!m_detailsReader)
        return true;
    if (m_detailsReader->isReading())
        return false;
    return std::all_of(m_ports.cbegin(), m_ports.cend(), [this](const ListeningPort& p) {
        return m_processDetails.contains(keyOf(p));
    });
}

void PortMonitor::refreshAnswers() {
    lookAtPorts(answerLifetimeMs);
}

void PortMonitor::lookAtPorts(qint64 olderThanMs) {
    if (!m_readsDetails || !m_store.get(settings::probe))
        return;
    if (!m_probe)
        m_probe = std::make_unique<ProbeQueue>();
    const qint64 now = m_clock.elapsed();
    for (const ListeningPort& port : std::as_const(m_ports)) {
        const ProcessKey key = keyOf(port);
        if (m_looking.contains(key))
            continue;
        const auto known = m_answers.constFind(key);
        if (known != m_answers.cend() && (olderThanMs < 0 || now - known->seenMs < olderThanMs))
            continue;
        // A server of this machine where it listens; another machine's only
        // where it is forwarded here.
        std::optional<ProbeTarget> target;
        if (port.host.isEmpty()) {
            target = probeTargetFor(port.address, port.port);
        } else if (const std::optional<PortForward> f = forwardOf(port);
                   f && f->state == ForwardState::Ok) {
            target = probeTargetFor(QStringLiteral("127.0.0.1"), f->localPort);
        }
        if (!target)
            continue;
        m_looking.insert(key);
        m_probe->look(*target, this, [this, key](const PortAnswer& answer) {
            m_looking.remove(key);
            bool listed = false;
            for (const ListeningPort& p : std::as_const(m_ports))
                listed = listed || keyOf(p) == key;
            if (!listed || !m_store.get(settings::probe))
                return;
            m_answers.insert(key, {answer, m_clock.elapsed()});
            if (updateDetails())
                emit detailsChanged();
        });
    }
}

bool PortMonitor::updateDetails() {
    QHash<PortPlace, ServerDetails> details;
    details.reserve(m_ports.size());
    for (const ListeningPort& port : std::as_const(m_ports)) {
        ServerDetails d = m_processDetails.value(keyOf(port));
        d.address = port.address;
        if (port.startTime != 0)
            d.startTime = port.startTime;
        if (const auto found = m_answers.constFind(keyOf(port)); found != m_answers.cend())
            d.answer = found->answer;
        details.insert(placeOf(port), std::move(d));
    }
    if (details == m_details)
        return false;
    m_details = std::move(details);
    return true;
}

void PortMonitor::followSetting(const QString& key) {
    if (key == settings::probe.name) {
        // Off: nothing connects, and what was found is forgotten.
        if (!m_store.get(settings::probe)) {
            m_probe.reset();
            m_looking.clear();
            m_answers.clear();
            if (updateDetails())
                emit detailsChanged();
        } else {
            lookAtPorts();
        }
        return;
    }
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
    followForwards();
    if (m_readsDetails)
        startDetailsReader();
    // Forwards of a host that went are gone with it.
    emit forwardsChanged();
}

std::optional<PortForward> PortMonitor::forwardOf(const ListeningPort& remote) const {
    ServerSource* source = remote.host.isEmpty() ? nullptr : m_sources.sourceOf(remote);
    if (!source || !source->forwarding())
        return std::nullopt;
    for (const PortForward& f : source->forwarding()->forwards()) {
        if (f.remotePort == remote.port)
            return f;
    }
    return std::nullopt;
}

// What answered through a forward stands while traffic passes; once it
// passes again, the server is looked at anew.
void PortMonitor::followForwardStates() {
    bool dropped = false;
    for (const ListeningPort& port : std::as_const(m_ports)) {
        if (port.host.isEmpty())
            continue;
        const std::optional<PortForward> f = forwardOf(port);
        if (!f || f->state != ForwardState::Ok)
            dropped = m_answers.remove(keyOf(port)) || dropped;
    }
    if (dropped && updateDetails())
        emit detailsChanged();
    lookAtPorts();
}

void PortMonitor::followForwards() {
    for (const SourceId& id : m_sources.identity()) {
        ServerSource* source = m_sources.source(id);
        if (!source)
            continue;
        if (PortForwarding* forwarding = source->forwarding())
            forwarding->setForwardsChanged([this] { emit forwardsChanged(); });
        source->setNews([this] {
            if (isStarted() && !m_newsScan.isActive())
                m_newsScan.start();
        });
    }
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
    m_scanFilter.sources = m_sources.identity();
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
        // and starts. One whose list stands meanwhile still tells them.
        QSet<SourceId> outOfReach;
        for (auto it = result.problems.cbegin(); it != result.problems.cend(); ++it) {
            if (!result.standingLists.contains(it.key()))
                outOfReach.insert(it.key());
        }
        changes.stopped.removeIf(
            [&](const ListeningPort& p) { return outOfReach.contains(p.origin); });
        changes.started.removeIf(
            [&](const ListeningPort& p) { return m_outOfReach.contains(p.origin); });
        m_outOfReach = std::move(outOfReach);
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
        m_answers.removeIf([&](auto entry) { return !listed.contains(entry.key()); });
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
        lookAtPorts();
    }

    if (m_followUpScan) {
        m_followUpScan = false;
        scan();
    }
}

std::optional<ListeningPort> PortMonitor::listed(const ListeningPort& port) const {
    const auto found =
        std::find_if(m_ports.cbegin(), m_ports.cend(),
                     [&port](const ListeningPort& p) { return sameProcess(p, port); });
    if (found == m_ports.cend())
        return std::nullopt;
    return *found;
}

ServerSource* PortMonitor::sourceOf(const ListeningPort& port) const {
    return m_sources.sourceOf(port);
}

ServerSource* PortMonitor::source(const SourceId& id) const {
    return m_sources.source(id);
}

ServerChoice serverChoice(const settings::PortChoices& choices, const ListeningPort& record) {
    if (!record.host.isEmpty())
        return {};
    const settings::PortChoice choice = choices.value(record.port);
    return {choice.label, choice.https, choice.notify};
}

ServerPresentation PortMonitor::present(const ListeningPort& record) const {
    return {record, details(record), serverChoice(m_store.values().ports, record)};
}
