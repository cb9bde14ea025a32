#pragma once

#include "monitor/port_changes.h"
#include "platform/settings.h"
#include "scanner/listening_port.h"
#include "scanner/port_scanner.h"
#include "scanner/server_details.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class DetailsReader;
class SettingsStore;

// The program's one model object. It polls the scanner every two seconds,
// publishes the filtered list of listening servers with their details and the
// listeners in the range that are not allowed, posts a desktop
// notification when a server starts or stops, stops a server on request, and
// keeps the allowlist in the settings store. The settings key "lister" chooses
// the scanner's source ("proc", the default, or "lsof"), also while it runs.
//
// It follows the settings store: a changed range, allowlist or source is
// applied and followed by a scan. Ports that enter or leave the list because
// of such a change are not announced (see comparePorts()); bursts are
// summarised (see noticesFor()).
//
// "Published" properties announce every assignment through their signal, also
// when the new value equals the old one; views rely on that to re-evaluate.
class PortMonitor : public QObject {
    Q_OBJECT
public:
    using Notify = std::function<void(const QString& title, const QString& body)>;
    using ReadDetails = std::function<ServerDetails(const ListeningPort&)>;
    // Posts a notification offering one action; `onAction` runs if the user
    // picks it. Desktops that show no actions post it plain.
    using NotifyWithAction =
        std::function<void(const QString& title, const QString& body, const QString& action,
                           std::function<void()> onAction)>;

    static constexpr qint64 defaultMinPort = settings::defaultMinPort;
    static constexpr qint64 defaultMaxPort = settings::defaultMaxPort;
    static constexpr int pollIntervalMs = 2000;
    static constexpr int rescanAfterStopMs = 500;
    static constexpr int stillRunningCheckMs = 5000;

    // The monitor keeps `scanner`; `store` and its settings must outlive it.
    PortMonitor(std::unique_ptr<PortScanner> scanner, SettingsStore& store, Notify notify,
                QObject* parent = nullptr);
    ~PortMonitor() override;

    // Published.
    const QList<ListeningPort>& ports() const { return m_ports; }
    // The listeners in the range whose process is not allowed (pid 0 and no
    // name when the process cannot be seen), ascending by port; published with
    // every successful scan.
    const QList<ListeningPort>& otherListeners() const { return m_otherListeners; }
    const QSet<QString>& allowlist() const { return m_allowlist; }
    void setAllowlist(QSet<QString> names);
    void insertAllowed(const QString& name);
    void removeAllowed(const QString& name);
    // Why the latest completed scan failed, in plain words; empty after a
    // successful scan.
    const QString& scanError() const { return m_scanError; }

    // The details of the server listed on `port`: its address and start time
    // at once, the rest once read (off the interface thread, once per
    // process). Fields that are not known are empty. detailsChanged() tells
    // when what this returns for a listed port has changed.
    ServerDetails details(qint64 port) const;
    // How details are read; the default reads /proc. An empty function reads
    // none. Takes effect for processes listed after the call.
    void setDetailsSource(ReadDetails read);

    // Plain: assignment has no side effect until the next scan.
    qint64 minPort() const { return m_minPort; }
    qint64 maxPort() const { return m_maxPort; }
    void setMinPort(qint64 port) { m_minPort = port; }
    void setMaxPort(qint64 port) { m_maxPort = port; }
    // The discovery source the settings name ("proc" or "lsof").
    const QString& lister() const { return m_lister; }

    SettingsStore& settings() const { return m_store; }
    bool isStarted() const { return m_timer.isActive(); }

    // Takes the stored range, scans once and starts the two-second timer. A
    // tick that finds a scan still running is skipped.
    void start();
    // Starts a scan, or, while one is running, makes exactly one more follow it.
    void scan();
    // Asks the server's process to terminate (SIGTERM) and rescans half a
    // second later; the list itself is left as it is. Only a record of the
    // published list is acted on, and only while its process is the one that
    // was listed. A refusal or failure is posted as "Server Not Stopped" and
    // written to stderr. If the same process still listens five seconds later,
    // "Server Still Running" is posted and Force Stop is offered for it.
    // True when the signal was delivered.
    bool stopProcess(const ListeningPort& port);
    // The same with SIGKILL, and no later check.
    bool forceStop(const ListeningPort& port);
    // Whether the server outlived a stop request, so Force Stop is offered.
    bool offersForceStop(const ListeningPort& port) const;
    // Where the "Server Still Running" notification goes with its "Force Stop"
    // action; unset, it is posted plain.
    void setNotifyWithAction(NotifyWithAction notify) { m_notifyWithAction = std::move(notify); }
    // Writes the allowlist to the settings store.
    void saveAllowlist();

signals:
    void portsChanged();
    void otherListenersChanged();
    void allowlistChanged();
    void scanErrorChanged();
    // A completed scan found servers that started or stopped; sent after
    // their notifications and before the list is published.
    void changesFound(const PortChanges& changes);
    void detailsChanged();
    // The server outlived a stop request: Force Stop is offered for it from now on.
    void forceStopOffered(const ListeningPort& port);

private:
    void loadAllowlist();
    void selectSource();
    void tick();
    void followSetting(const QString& key);
    ScanFilter filter() const;
    void finishScan(ScanResult result);
    void readMissingDetails();
    // Builds the details by port from the list and the cache; true when they changed.
    bool updateDetails();

    // One process as the details cache knows it: pid and start time.
    using ProcessKey = std::pair<qint64, quint64>;
    static ProcessKey keyOf(const ListeningPort& port) { return {port.pid, port.startTime}; }
    bool signalServer(const ListeningPort& port, int signal);
    void checkStillRunning(const ListeningPort& listed);

    std::unique_ptr<PortScanner> m_scanner;
    SettingsStore& m_store;
    Notify m_notify;
    NotifyWithAction m_notifyWithAction;

    QList<ListeningPort> m_ports;
    QList<ListeningPort> m_otherListeners;
    std::unique_ptr<DetailsReader> m_detailsReader;
    QHash<ProcessKey, ServerDetails> m_processDetails; // of listed processes only
    QHash<qint64, ServerDetails> m_details;            // by port
    QSet<QString> m_allowlist;
    QString m_scanError;
    // The filter of the scan running now, and of the list published; none
    // before the first scan completes.
    ScanFilter m_scanFilter;
    std::optional<ScanFilter> m_listFilter;
    // Listed servers that outlived a stop request, until they leave the list.
    QList<ListeningPort> m_forceStopOffered;
    QTimer m_timer;
    qint64 m_minPort = defaultMinPort;
    qint64 m_maxPort = defaultMaxPort;
    QString m_lister = settings::procLister;
    bool m_followUpScan = false;
};
