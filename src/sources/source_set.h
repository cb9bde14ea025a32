#pragma once

#include "config/settings.h"
#include "core/server_source.h"
#include "sources/registry.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

// The sources in force, kept in line with the settings through the registry,
// scanned as one: a scan asks every source and merges their results. One scan
// at a time; its result arrives on the calling thread, never inside scan().
//
// Merging: a port (of a machine) goes to the first source, in the registry's
// order, that lists it; a listener that no allowed process holds is left out
// where a source lists its port. An essential source that fails fails the
// scan, with its reason; another one lists nothing and its reason goes into
// the result's `problems`. A record of this machine on a port that a source's
// forward holds is left out (see ScanResult::forwardedPorts). Every record carries the id of its
// source in `origin`.
//
// A container's published port is never told as its engine's proxy process
// (docker-proxy, rootlessport, conmon... see isEngineProxy()). When such a
// process holds a port of this machine that the container source does not
// list (the engine sets up the proxy before the container runs), the round
// waits while that source asks its engines again until they list the port, at
// most `proxyHoldMs`, once per proxy process and port; a proxy still holding
// the port of a container that has left the list is left out, so that the
// port stops as the container's.
class SourceSet {
public:
    using Done = ServerSource::Done;

    static constexpr int defaultProxyHoldMs = 3000;

    explicit SourceSet(Registry registry = sourceRegistry(), int proxyHoldMs = defaultProxyHoldMs);
    ~SourceSet();
    SourceSet(const SourceSet&) = delete;
    SourceSet& operator=(const SourceSet&) = delete;

    // Brings the sources in line with `values`: keeps those still asked for,
    // makes the new ones and drops the others. True when the set changed. A
    // scan that is running then starts again on the new set, and its callback
    // runs once, with the new set's result.
    bool update(const settings::Values& values);
    // Whether update() would change the set.
    bool changesWith(const settings::Values& values) const;
    // The ids of the sources in force, in order: what a list's filter
    // names as its source.
    QList<SourceId> identity() const;

    bool scan(ScanFilter filter, Done done);
    bool isScanning() const { return m_round.has_value(); }

    // The source that listed the record; null when it is no longer in force.
    ServerSource* sourceOf(const ListeningPort& record) const;
    // The source of that id; null when none is in force.
    ServerSource* source(const SourceId& id) const;

private:
    struct Entry {
        SourceId id;
        std::unique_ptr<ServerSource> source;
        bool essential = true;
    };
    struct Round {
        ScanFilter filter;
        Done done;
        QSet<SourceId> waiting = {}; // ids of the sources whose result is due
        QList<std::pair<SourceId, ScanResult>> results = {};
        bool restart = false;
        bool starting = false; // asking the sources, which may answer at once
        // The container source is asked again for the ports of proxies it
        // does not list (once per round); the round waits while `holding`.
        bool held = false;
        bool holding = false;
        bool rescanning = false;
        QSet<qint64> heldPorts = {};
        quint64 number = 0;
    };
    // A proxy process on a port: (port, pid).
    using Proxy = std::pair<qint64, qint64>;

    QList<SourceId> ids() const;
    void startRound();
    void finishRound();
    // The source of the containers' ports, if one is in force.
    const Entry* enginesEntry() const;
    // The engine proxies in the other sources' answers, and the container
    // source's ports of this machine; none when that source did not answer.
    std::optional<QSet<qint64>> containerPorts() const;
    QList<Proxy> proxies() const;
    bool holdForProxies();
    void relistHeld();
    void rescanEngines(quint64 number);
    ScanResult merged();

    Registry m_registry;
    int m_proxyHoldMs;
    std::vector<Entry> m_sources;
    std::optional<Round> m_round;
    quint64 m_rounds = 0;
    QTimer m_holdLimit;
    QTimer m_holdRetry;
    QSet<Proxy> m_heldProxies; // held back once already
    // Ports of listed containers that an engine's proxy holds, and has held
    // without a break since.
    QSet<qint64> m_containerPorts;
};
