#include "sources/source_set.h"

#include <QCoreApplication>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <algorithm>

SourceSet::SourceSet(Registry registry) : m_registry(std::move(registry)) {}

SourceSet::~SourceSet() = default;

QStringList SourceSet::ids() const {
    QStringList ids;
    for (const Entry& entry : m_sources)
        ids.append(entry.id);
    return ids;
}

bool SourceSet::changesWith(const settings::Values& values) const {
    QStringList wanted;
    for (const SourceSpec& choice : m_registry(values))
        wanted.append(choice.id);
    return wanted != ids();
}

bool SourceSet::update(const settings::Values& values) {
    const QList<SourceSpec> chosen = m_registry(values);
    QStringList wanted;
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
        m_round->waiting.removeIf([&](const QString& id) { return !wanted.contains(id); });
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

QString SourceSet::identity() const {
    return ids().join(QLatin1Char('+'));
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
    round.results.clear();
    round.waiting.clear();
    round.starting = true;
    for (const Entry& entry : std::as_const(m_sources))
        round.waiting.insert(entry.id);
    for (const Entry& entry : std::as_const(m_sources)) {
        const QString id = entry.id;
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
                QCoreApplication::translate("SourceSet", "the %1 source is busy").arg(id);
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
    ScanResult result = merged();
    Done done = std::move(m_round->done);
    m_round.reset();
    done(std::move(result));
}

ScanResult SourceSet::merged() const {
    // In the order of the sources, not of the answers.
    QList<const std::pair<QString, ScanResult>*> answers;
    for (const Entry& entry : m_sources) {
        for (const auto& answer : m_round->results) {
            if (answer.first == entry.id)
                answers.append(&answer);
        }
    }
    ScanResult result;
    QHash<PortPlace, ListeningPort> ports;
    QHash<PortPlace, ListeningPort> others;
    QSet<PortPlace> forwarded;
    for (const auto* answer : std::as_const(answers)) {
        for (const qint64 port : answer->second.forwardedPorts)
            forwarded.insert({QString(), port});
    }
    for (const auto* answer : std::as_const(answers)) {
        const QString& id = answer->first;
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
            result.problems.insert(it.key().isEmpty() ? id : it.key(), it.value());
        for (ListeningPort p : r.ports) {
            p.origin = id;
            if (!ports.contains(placeOf(p)) && !forwarded.contains(placeOf(p)))
                ports.insert(placeOf(p), std::move(p));
        }
        for (ListeningPort p : r.others) {
            p.origin = id;
            if (!others.contains(placeOf(p)) && !forwarded.contains(placeOf(p)))
                others.insert(placeOf(p), std::move(p));
        }
    }
    result.ports = ports.values();
    std::sort(result.ports.begin(), result.ports.end(), listedBefore);
    for (const ListeningPort& p : std::as_const(others)) {
        if (!ports.contains(placeOf(p)))
            result.others.append(p);
    }
    std::sort(result.others.begin(), result.others.end(), listedBefore);
    return result;
}

ServerSource* SourceSet::sourceOf(const ListeningPort& record) const {
    return source(record.origin);
}

ServerSource* SourceSet::source(const QString& id) const {
    for (const Entry& entry : m_sources) {
        if (entry.id == id)
            return entry.source.get();
    }
    return nullptr;
}
