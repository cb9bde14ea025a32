#pragma once

#include "config/settings.h"
#include "core/changes.h"
#include "core/filter.h"
#include "core/listening_port.h"
#include "core/port_forwarding.h"
#include "core/presentation.h"
#include "core/server_details.h"
#include "core/server_source.h"
#include "sources/registry.h"
#include "sources/source_set.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class DetailsReader;
class ProbeQueue;
class SettingsStore;

// What the user chose for the record's port; ports of other machines have no
// choices.
ServerChoice serverChoice(const settings::PortChoices& choices, const ListeningPort& record);

// The program's one model object. It polls the sources in force every two
// seconds and publishes the servers they list with their details, the
// listeners in the range that are not allowed, and why the latest scan
// failed. It tells what started and stopped between two scans, as data
// (changesFound()); what the user is told of it is the notifier's business.
//
// It reads the settings from the store whenever it scans, and follows the
// store: a new value of a key that shapes the list (the range, the allowlist,
// the sources) brings the sources in line and is followed by a scan, also when
// the value is the one before. Ports that enter or leave the list because of
// such an edit are not announced as starts or stops (see comparePorts()).
//
// "Published" properties announce every assignment through their signal, also
// when the new value equals the old one; views rely on that to re-evaluate.
class PortMonitor : public QObject {
    Q_OBJECT
public:
    // What a scan lists, given the settings: by default their range and
    // allowlist. The command line lists other ports or every process.
    using FilterOf = std::function<ScanFilter(const settings::Values&)>;

    static constexpr int pollIntervalMs = 2000;

    // `store` must outlive the monitor. The registry chooses the sources from
    // the settings (sourceRegistry() unless a test gives its own).
    explicit PortMonitor(SettingsStore& store, Registry registry = sourceRegistry(),
                         QObject* parent = nullptr);
    ~PortMonitor() override;

    // Published.
    const QList<ListeningPort>& ports() const { return m_ports; }
    // The listeners in the range whose process is not allowed (pid 0 and no
    // name when the process cannot be seen), ascending by port; published with
    // every successful scan.
    const QList<ListeningPort>& otherListeners() const { return m_otherListeners; }
    // Why the latest completed scan failed, in plain words; empty after a
    // successful scan.
    const QString& scanError() const { return m_scanError; }
    // Why a source that does not fail the list lists nothing now, by its id
    // (see ScanResult::problems); published with every successful scan.
    const QMap<SourceId, QString>& problems() const { return m_problems; }

    // The details of the server listed on `port`: its address and start time
    // at once, the rest once its source has told them (off the interface
    // thread, once per process). Fields that are not known are empty.
    // detailsChanged() tells when what this returns for a listed port has
    // changed.
    ServerDetails details(const ListeningPort& record) const;
    // The same for a port of this machine.
    ServerDetails details(qint64 port) const;
    // Whether details are read at all (they are unless turned off, as the
    // command line's watch does).
    void setReadsDetails(bool reads);

    // How long an answer of a look at a port stands before it is looked at
    // again when someone asks (see refreshAnswers()).
    static constexpr qint64 answerLifetimeMs = 30'000;
    // Looks again at the listed servers whose last look is older than
    // answerLifetimeMs: for a menu or window about to show them. What
    // answers on a port is otherwise looked at once per listed process (of
    // this machine, or forwarded here), never on a poll, and not at all while
    // the setting "probe" is off. The answers arrive in details().
    void refreshAnswers();
    // Whether no look is under way (all answers due are in).
    bool answersSettled() const { return m_looking.isEmpty(); }
    // Whether the details of every listed server are in (or are not read).
    bool detailsSettled() const;

    // What the next scan lists.
    ScanFilter filter() const;
    void setFilterOf(FilterOf filterOf);

    SettingsStore& settings() const { return m_store; }
    bool isStarted() const { return m_timer.isActive(); }

    // Scans once and starts the two-second timer. A tick that finds a scan
    // still running is skipped.
    void start();
    // Starts a scan, or, while one is running, makes exactly one more follow it.
    void scan();

    // The record of the published list that is the same process as `port`
    // (see sameProcess()); none when it is no longer listed.
    std::optional<ListeningPort> listed(const ListeningPort& port) const;
    // The source that answers for a listed record; null when it is no longer
    // in force.
    ServerSource* sourceOf(const ListeningPort& port) const;
    // The source of that id (see sources/registry.h); null when none is in force.
    ServerSource* source(const SourceId& id) const;

    // The server as the front ends show it: the record, its details and the
    // user's choice for its port.
    ServerPresentation present(const ListeningPort& record) const;

signals:
    void portsChanged();
    void otherListenersChanged();
    void scanErrorChanged();
    void problemsChanged();
    // A completed scan found servers that started or stopped; sent before the
    // list is published.
    void changesFound(const PortChanges& changes);
    void detailsChanged();
    // A source's forward was made, ended, moved or changed its state (see
    // PortForwarding).
    void forwardsChanged();

private:
    void tick();
    void followSetting(const QString& key);
    void updateSources();
    // Hears of the forwards and the news of the sources in force.
    void followForwards();
    void followForwardStates();
    // The forward of another machine's record; none when it is not forwarded.
    std::optional<PortForward> forwardOf(const ListeningPort& remote) const;
    void finishScan(ScanResult result);
    void startDetailsReader();
    void readMissingDetails();
    // Looks at the listed servers that have no answer yet, or, with
    // `olderThanMs`, whose answer is older than that.
    void lookAtPorts(qint64 olderThanMs = -1);
    // Builds the details by port from the list and the cache; true when they changed.
    bool updateDetails();

    // One process as the details cache knows it: pid and start time.
    // One listed server as the details cache knows it: its source and
    // machine, pid and start time; the port too where there is no process
    // (a container's published port).
    struct ProcessKey {
        SourceId origin;
        QString host;
        qint64 pid = 0;
        quint64 startTime = 0;
        qint64 port = 0;
        friend bool operator==(const ProcessKey&, const ProcessKey&) = default;
        friend size_t qHash(const ProcessKey& k, size_t seed = 0) {
            return qHashMulti(seed, k.origin, k.host, k.pid, k.startTime, k.port);
        }
    };
    static ProcessKey keyOf(const ListeningPort& p) {
        return {p.origin, p.host, p.pid, p.startTime, p.pid > 0 ? 0 : p.port};
    }

    SettingsStore& m_store;
    SourceSet m_sources;
    FilterOf m_filterOf;

    QList<ListeningPort> m_ports;
    QList<ListeningPort> m_otherListeners;
    bool m_readsDetails = true;
    std::unique_ptr<DetailsReader> m_detailsReader;
    QHash<ProcessKey, ServerDetails> m_processDetails; // of listed processes only
    struct Answer {
        PortAnswer answer;
        qint64 seenMs = 0; // when it came, on m_clock
    };
    std::unique_ptr<ProbeQueue> m_probe;
    QHash<ProcessKey, Answer> m_answers; // of listed processes only
    QSet<ProcessKey> m_looking;          // asked for, not answered yet
    QElapsedTimer m_clock;
    QHash<PortPlace, ServerDetails> m_details; // by port
    QString m_scanError;
    QMap<SourceId, QString> m_problems;
    // The sources among them whose servers are left out while it lasts.
    QSet<SourceId> m_outOfReach;
    // The filter of the scan running now, and of the list published; none
    // before the first scan completes.
    ScanFilter m_scanFilter;
    std::optional<ScanFilter> m_listFilter;
    QTimer m_timer;
    bool m_followUpScan = false;
    // A source's news is shown by a scan this soon (see ServerSource::setNews()),
    // one scan for the news of many sources.
    static constexpr int newsScanMs = 50;
    QTimer m_newsScan;
};
