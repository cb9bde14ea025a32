#include "sources/source_set.h"

#include "core/container_engines.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <algorithm>

SourceSet::SourceSet(Registry registry, int proxyHoldMs)
    : m_registry(std::move(registry)), m_proxyHoldMs(proxyHoldMs) {
    m_holdLimit.setSingleShot(true);
    QObject::connect(&m_holdLimit, &QTimer::timeout, [this] {
        // Over: the round ends with the container source's answer as it is now.
        if (!m_round || !m_round->holding)
            return;
        m_round->holding = false;
        m_holdRetry.stop();
        rescanEngines(m_round->number);
    });
    m_holdRetry.setSingleShot(true);
    QObject::connect(&m_holdRetry, &QTimer::timeout, [this] {
        if (m_round && m_round->holding)
            relistHeld();
    });
}

SourceSet::~SourceSet() = default;

QList<SourceId> SourceSet::ids() const {
    QList<SourceId> ids;
    for (const Entry& entry : m_sources)
        ids.append(entry.id);
    return ids;
}

bool SourceSet::changesWith(const settings::Values& values) const {
    QList<SourceId> wanted;
    for (const SourceSpec& choice : m_registry(values))
        wanted.append(choice.id);
    return wanted != ids();
}

bool SourceSet::update(const settings::Values& values) {
    const QList<SourceSpec> chosen = m_registry(values);
    QList<SourceId> wanted;
    for (const SourceSpec& choice : chosen)
        wanted.append(choice.id);
    if (wanted == ids())
        return false;

    std::vector<Entry> sources;
    for (const SourceSpec& choice : chosen) {
        const auto kept = std::find_if(m_sources.begin(), m_sources.end(),
                                       [&](const Entry& e) { return e.id == choice.id; });
        if (kept != m_sources.end())
            sources.push_back(std::move(*kept));
        else
            sources.push_back({choice.id, choice.make(), choice.essential});
    }
    // Dropped sources go now, and a scan of theirs with them.
    m_sources = std::move(sources);
    if (m_round) {
        m_round->restart = true;
        m_round->waiting.removeIf([&](const SourceId& id) { return !wanted.contains(id); });
        if (m_round->waiting.isEmpty()) {
            // Finished from the event loop, as a scan's result always is.
            QTimer::singleShot(0, [this, number = m_round->number] {
                if (m_round && m_round->number == number && m_round->waiting.isEmpty())
                    finishRound();
            });
        }
    }
    return true;
}

QList<SourceId> SourceSet::identity() const {
    return ids();
}

bool SourceSet::scan(ScanFilter filter, Done done) {
    if (m_round)
        return false;
    m_round = Round{std::move(filter), std::move(done)};
    startRound();
    return true;
}

void SourceSet::startRound() {
    Round& round = *m_round;
    round.number = ++m_rounds;
    round.restart = false;
    round.held = false;
    round.holding = false;
    round.rescanning = false;
    round.heldPorts.clear();
    m_holdLimit.stop();
    m_holdRetry.stop();
    round.results.clear();
    round.waiting.clear();
    round.starting = true;
    for (const Entry& entry : std::as_const(m_sources))
        round.waiting.insert(entry.id);
    for (const Entry& entry : std::as_const(m_sources)) {
        const SourceId id = entry.id;
        const quint64 number = round.number;
        const auto arrived = [this, id, number](ScanResult result) {
            if (!m_round || m_round->number != number || !m_round->waiting.remove(id))
                return;
            m_round->results.append({id, std::move(result)});
            if (m_round->waiting.isEmpty() && !m_round->starting)
                finishRound();
        };
        if (!entry.source->scan(round.filter, arrived)) {
            const QString busy =
                QCoreApplication::translate("SourceSet", "the %1 source is busy").arg(id.text());
            QTimer::singleShot(0, [arrived, busy] { arrived({{}, busy}); });
        }
    }
    round.starting = false;
    if (!round.waiting.isEmpty())
        return;
    if (m_sources.empty()) {
        // No source at all: answered from the event loop, as a scan is.
        QTimer::singleShot(0, [this, number = round.number] {
            if (m_round && m_round->number == number)
                finishRound();
        });
    } else {
        finishRound(); // every source answered at once
    }
}

void SourceSet::finishRound() {
    if (m_round->restart) {
        startRound();
        return;
    }
    if (!m_round->held && holdForProxies())
        return;
    ScanResult result = merged();
    Done done = std::move(m_round->done);
    m_round.reset();
    done(std::move(result));
}

const SourceSet::Entry* SourceSet::enginesEntry() const {
    for (const Entry& entry : m_sources) {
        if (dynamic_cast<ContainerEngines*>(entry.source.get()))
            return &entry;
    }
    return nullptr;
}

std::optional<QSet<qint64>> SourceSet::containerPorts() const {
    const Entry* engines = enginesEntry();
    if (!engines)
        return std::nullopt;
    for (const auto& [id, result] : m_round->results) {
        if (id != engines->id || !result.ok())
            continue;
        QSet<qint64> ports;
        for (const ListeningPort& p : result.ports) {
            if (p.host.isEmpty())
                ports.insert(p.port);
        }
        return ports;
    }
    return std::nullopt;
}

QList<SourceSet::Proxy> SourceSet::proxies() const {
    const Entry* engines = enginesEntry();
    QList<Proxy> found;
    for (const auto& [id, result] : m_round->results) {
        if (engines && id == engines->id)
            continue;
        for (const QList<ListeningPort>* list : {&result.ports, &result.others}) {
            for (const ListeningPort& p : *list) {
                if (p.host.isEmpty() && isEngineProxy(p.process))
                    found.append({p.port, p.pid});
            }
        }
    }
    return found;
}

bool SourceSet::holdForProxies() {
    const auto listed = containerPorts();
    if (!listed)
        return false;
    QSet<qint64> unknown;
    for (const Proxy& proxy : proxies()) {
        if (listed->contains(proxy.first) || m_containerPorts.contains(proxy.first) ||
            m_heldProxies.contains(proxy))
            continue;
        m_heldProxies.insert(proxy);
        unknown.insert(proxy.first);
    }
    if (unknown.isEmpty())
        return false;
    m_round->held = true;
    m_round->holding = true;
    m_round->heldPorts = std::move(unknown);
    m_holdLimit.start(m_proxyHoldMs);
    relistHeld();
    return true;
}

void SourceSet::relistHeld() {
    const Entry* engines = enginesEntry();
    if (!engines) {
        // Dropped meanwhile: the round starts again on the new set.
        m_round->holding = false;
        m_holdLimit.stop();
        finishRound();
        return;
    }
    dynamic_cast<ContainerEngines*>(engines->source.get())
        ->relist([this, number = m_round->number] { rescanEngines(number); });
}

// Takes the container source's answer again. The round ends once it lists
// every held port or the hold is over; until then the engines are asked again
// after a pause (a container is listed once it runs, a moment after its proxy
// listens).
void SourceSet::rescanEngines(quint64 number) {
    if (!m_round || m_round->number != number || m_round->rescanning)
        return;
    const Entry* engines = enginesEntry();
    const SourceId id = engines ? engines->id : SourceId{};
    m_round->rescanning = true;
    const auto answered = [this, number, id](ScanResult result) {
        if (!m_round || m_round->number != number)
            return;
        m_round->rescanning = false;
        for (auto& answer : m_round->results) {
            if (answer.first == id)
                answer.second = std::move(result);
        }
        const auto listed = containerPorts();
        if (m_round->holding && listed && !listed->contains(m_round->heldPorts)) {
            constexpr int pauseMs = 100;
            m_holdRetry.start(pauseMs);
            return;
        }
        m_round->holding = false;
        m_holdLimit.stop();
        finishRound();
    };
    // Called from the event loop (a timer, a queued callback): the round may
    // end here.
    if (!engines || !engines->source->scan(m_round->filter, answered)) {
        m_round->rescanning = false;
        m_round->holding = false;
        m_holdLimit.stop();
        m_holdRetry.stop();
        finishRound();
    }
}

ScanResult SourceSet::merged() {
    // A proxy on the port of a container that is no longer listed is what
    // remains of the container while it stops (Docker runs one per address
    // family, so the port counts, not the process).
    const auto listed = containerPorts();
    QSet<qint64> leftOver;
    if (listed) {
        QSet<qint64> proxied;
        QSet<Proxy> present;
        for (const Proxy& proxy : proxies()) {
            present.insert(proxy);
            if (listed->contains(proxy.first))
                proxied.insert(proxy.first);
            else if (m_containerPorts.contains(proxy.first))
                leftOver.insert(proxy.first);
        }
        m_containerPorts = proxied | leftOver;
        m_heldProxies &= present;
    } else {
        m_containerPorts.clear();
        m_heldProxies.clear();
    }
    const auto isLeftOver = [&leftOver](const ListeningPort& p) {
        return p.host.isEmpty() && leftOver.contains(p.port) && isEngineProxy(p.process);
    };

    // In the order of the sources, not of the answers.
    QList<const std::pair<SourceId, ScanResult>*> answers;
    for (const Entry& entry : m_sources) {
        for (const auto& answer : m_round->results) {
            if (answer.first == entry.id)
                answers.append(&answer);
        }
    }
    ScanResult result;
    QHash<PortPlace, ListeningPort> ports;
    QHash<PortPlace, ListeningPort> others;
    // The ports listed by the sources merged so far: a later source's record
    // there is left out, whatever its address.
    QSet<PortPlace> claimed;
    QSet<PortPlace> forwarded;
    for (const auto* answer : std::as_const(answers)) {
        for (const qint64 port : answer->second.forwardedPorts)
            forwarded.insert({QString(), port});
    }
    for (const auto* answer : std::as_const(answers)) {
        const SourceId& id = answer->first;
        const ScanResult& r = answer->second;
        const auto entry = std::find_if(m_sources.cbegin(), m_sources.cend(),
                                        [&](const Entry& e) { return e.id == id; });
        if (!r.ok()) {
            if (entry->essential)
                return {{}, r.error};
            result.problems.insert(id, r.error);
            continue;
        }
        for (auto it = r.problems.cbegin(); it != r.problems.cend(); ++it)
            result.problems.insert(it.key().isNone() ? id : it.key(), it.value());
        for (const SourceId& source : r.standingLists)
            result.standingLists.insert(source.isNone() ? id : source);
        const auto kept = [&](const ListeningPort& p, const QHash<PortPlace, ListeningPort>& in) {
            return !in.contains(placeOf(p)) && !claimed.contains(portOf(p)) &&
                   !forwarded.contains(portOf(p)) && !isLeftOver(p);
        };
        QSet<PortPlace> listedHere;
        for (ListeningPort p : r.ports) {
            p.origin = id;
            if (!kept(p, ports))
                continue;
            listedHere.insert(portOf(p));
            ports.insert(placeOf(p), std::move(p));
        }
        for (ListeningPort p : r.others) {
            p.origin = id;
            if (kept(p, others))
                others.insert(placeOf(p), std::move(p));
        }
        claimed.unite(listedHere);
    }
    result.ports = ports.values();
    std::sort(result.ports.begin(), result.ports.end(), listedBefore);
    for (const ListeningPort& p : std::as_const(others)) {
        if (!claimed.contains(portOf(p)))
            result.others.append(p);
    }
    std::sort(result.others.begin(), result.others.end(), listedBefore);
    return result;
}

ServerSource* SourceSet::sourceOf(const ListeningPort& record) const {
    return source(record.origin);
}

ServerSource* SourceSet::source(const SourceId& id) const {
    for (const Entry& entry : m_sources) {
        if (entry.id == id)
            return entry.source.get();
    }
    return nullptr;
}
