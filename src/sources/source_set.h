#pragma once

#include "config/settings.h"
#include "core/server_source.h"
#include "sources/registry.h"

#include <QList>
#include <QSet>
#include <QString>

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
// forward holds is left out (see ScanResult::forwardedPorts). Every record carries the id of its source in
// `origin`.
class SourceSet {
public:
    using Done = ServerSource::Done;

    explicit SourceSet(Registry registry = sourceRegistry());
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
    // The ids of the sources in force, joined by "+": what a list's filter
    // names as its source.
    QString identity() const;

    bool scan(ScanFilter filter, Done done);
    bool isScanning() const { return m_round.has_value(); }

    // The source that listed the record; null when it is no longer in force.
    ServerSource* sourceOf(const ListeningPort& record) const;
    // The source of that id; null when none is in force.
    ServerSource* source(const QString& id) const;

private:
    struct Entry {
        QString id;
        std::unique_ptr<ServerSource> source;
        bool essential = true;
    };
    struct Round {
        ScanFilter filter;
        Done done;
        QSet<QString> waiting = {}; // ids of the sources whose result is due
        QList<std::pair<QString, ScanResult>> results = {};
        bool restart = false;
        bool starting = false; // asking the sources, which may answer at once
        quint64 number = 0;
    };

    QStringList ids() const;
    void startRound();
    void finishRound();
    ScanResult merged() const;

    Registry m_registry;
    std::vector<Entry> m_sources;
    std::optional<Round> m_round;
    quint64 m_rounds = 0;
};
