#include "monitor/port_monitor.h"

#include "platform/settings_store.h"
#include "scanner/display_text.h"

#include <QJsonArray>

#include <algorithm>

namespace {
const QString allowlistKey = QStringLiteral("allowlist");
const QString minPortKey = QStringLiteral("minPort");
const QString maxPortKey = QStringLiteral("maxPort");
const QString listerKey = QStringLiteral("lister");
} // namespace

PortMonitor::PortMonitor(std::unique_ptr<PortScanner> scanner, SettingsStore& store, Notify notify,
                         QObject* parent)
    : QObject(parent), m_scanner(std::move(scanner)), m_store(store), m_notify(std::move(notify)),
      m_allowlist(PortScanner::defaultAllowlist()) {
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PortMonitor::tick);
    loadAllowlist();
    selectSource();
    connect(&m_store, &SettingsStore::changed, this, [this](const QString& key) {
        if (key != listerKey)
            return;
        selectSource();
        if (isStarted())
            scan();
    });
}

// Destroying the scanner first kills a lister that is still running, so its
// callback can never reach a half-destroyed monitor.
PortMonitor::~PortMonitor() {
    m_scanner.reset();
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
    const auto stored = m_store.array(allowlistKey);
    if (!stored)
        return;
    QSet<QString> names;
    names.reserve(stored->size());
    for (const QJsonValue& value : *stored) {
        if (!value.isString())
            return; // one foreign element rejects the whole list
        names.insert(value.toString());
    }
    setAllowlist(std::move(names));
}

void PortMonitor::selectSource() {
    m_scanner->selectSource(sourceKindFromSetting(m_store.string(listerKey)));
}

void PortMonitor::saveAllowlist() {
    QJsonArray names;
    for (const QString& name : std::as_const(m_allowlist))
        names.append(name);
    m_store.setArray(allowlistKey, names);
}

void PortMonitor::start() {
    // Zero, negative and absent stored bounds all mean the default.
    const qint64 storedMin = m_store.integer(minPortKey);
    const qint64 storedMax = m_store.integer(maxPortKey);
    m_minPort = storedMin > 0 ? storedMin : defaultMinPort;
    m_maxPort = storedMax > 0 ? storedMax : defaultMaxPort;
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
    m_scanner->scan(m_minPort, m_maxPort, m_allowlist,
                    [this](ScanResult result) { finishScan(std::move(result)); });
}

void PortMonitor::finishScan(ScanResult result) {
    if (!result.ok()) {
        // Keep what was last seen: a lister that failed says nothing about
        // which servers run.
        m_scanError = describeListerError(result.error);
        emit scanErrorChanged();
    } else {
        QSet<qint64> current;
        current.reserve(result.ports.size());
        for (const ListeningPort& p : std::as_const(result.ports))
            current.insert(p.port);

        // The list is ascending and holds each port once, so the first record
        // for a new port is the one it shows.
        for (const ListeningPort& p : std::as_const(result.ports)) {
            if (!m_previousPorts.contains(p.port))
                m_notify(tr("Port Started"),
                         tr("%1 on port %2").arg(displayName(p.process), QString::number(p.port)));
        }
        QList<qint64> stopped;
        for (qint64 port : std::as_const(m_previousPorts)) {
            if (!current.contains(port))
                stopped.append(port);
        }
        std::sort(stopped.begin(), stopped.end());
        for (qint64 port : std::as_const(stopped))
            m_notify(tr("Port Stopped"),
                     tr("Port %1 is no longer listening").arg(QString::number(port)));

        m_previousPorts = std::move(current);
        const bool hadError = !m_scanError.isEmpty();
        m_scanError.clear();
        m_ports = std::move(result.ports);
        m_otherListeners = std::move(result.others);
        if (hadError)
            emit scanErrorChanged();
        emit portsChanged();
        emit otherListenersChanged();
    }

    if (m_followUpScan) {
        m_followUpScan = false;
        scan();
    }
}

void PortMonitor::stopProcess(const ListeningPort& port) {
    m_scanner->stopProcess(port.pid);
    QTimer::singleShot(rescanAfterStopMs, this, &PortMonitor::scan);
}
