#pragma once

// A source for tests of the monitor, the stop controller and the menu: it
// records every request and completes a scan only when the test says so,
// through the callback it was given. Its state is shared with the test, so it
// stays readable after the monitor has destroyed the source.

#include "core/filter.h"
#include "core/server_source.h"
#include "sources/registry.h"

#include <QList>
#include <QStringList>

#include <algorithm>
#include <csignal>
#include <memory>
#include <utility>

struct FakeSourceState {
    QList<ScanFilter> requests;
    QList<qint64> stoppedPids;
    QList<int> sentSignals;                        // one per stoppedPids entry
    StopResult stopResult{StopOutcome::Delivered}; // what every stop request answers
    ServerSource::Done pending;
    int overlappingRequests = 0; // scan() called while a run was pending
    int destroyed = 0;           // sources made for this state that are gone
    QStringList made;            // the id of each source made, in order
    // Every server "running" on the machine; completeWithServers() filters
    // them as a real source would. A listed record still runs when it is
    // among them (start time included), or its pid is in `stillRunning`.
    QList<ListeningPort> servers;
    QList<qint64> stillRunning;
    // What details() answers; none: nothing known.
    std::function<ServerDetails(const ListeningPort&)> details;

    bool isRunning() const { return static_cast<bool>(pending); }

    // Ends the pending scan with this result. False when none is pending.
    bool complete(ScanResult result) {
        if (!pending)
            return false;
        std::exchange(pending, nullptr)(std::move(result));
        return true;
    }
    bool completeWith(QList<ListeningPort> ports) { return complete({std::move(ports)}); }
    // Ends the pending scan with `servers` filtered by that scan's request.
    bool completeWithServers() {
        if (!pending || requests.isEmpty())
            return false;
        return completeWith(requests.last().apply(servers));
    }
    // Ends the pending scan as failed, for `reason`.
    bool fail(const QString& reason) { return complete({{}, reason}); }
};

class FakeSource : public ServerSource {
public:
    explicit FakeSource(std::shared_ptr<FakeSourceState> state) : m_state(std::move(state)) {}
    // Like a real source: a scan still pending when it goes away never calls back.
    ~FakeSource() override {
        m_state->pending = nullptr;
        ++m_state->destroyed;
    }

    bool scan(ScanFilter filter, Done done) override {
        if (m_state->pending) {
            ++m_state->overlappingRequests;
            return false;
        }
        m_state->requests.append(std::move(filter));
        m_state->pending = std::move(done);
        return true;
    }
    bool isScanning() const override { return m_state->isRunning(); }
    ServerDetails details(const ListeningPort& record) const override {
        return m_state->details ? m_state->details(record) : ServerDetails{};
    }
    void stop(const ListeningPort& record, bool force, StopDone done) override {
        m_state->stoppedPids.append(record.pid);
        m_state->sentSignals.append(force ? SIGKILL : SIGTERM);
        done(m_state->stopResult);
    }
    void stillRuns(const ListeningPort& record, RunsDone done) override {
        done(m_state->stillRunning.contains(record.pid) ||
             std::any_of(m_state->servers.cbegin(), m_state->servers.cend(),
                         [&record](const ListeningPort& p) { return sameProcess(p, record); }));
    }

private:
    std::shared_ptr<FakeSourceState> m_state;
};

// The id a test names a source by: a source of the program's by its name
// ("proc", "lsof", "containers", "ssh:box"), any other name as a host of
// that name.
inline SourceId testId(const QString& name) {
    for (const auto kind :
         {SourceId::Kind::Proc, SourceId::Kind::Lsof, SourceId::Kind::Containers}) {
        if (SourceId::of(kind).text() == name)
            return SourceId::of(kind);
    }
    return SourceId::ofHost(name.startsWith(QLatin1String("ssh:")) ? name.mid(4) : name);
}

// The ids' names joined by "+".
inline QString idsText(const QList<SourceId>& ids) {
    QStringList names;
    for (const SourceId& id : ids)
        names.append(id.text());
    return names.join(QLatin1Char('+'));
}

// A registry of one fake source, named after the stored "lister" so that a
// change of it makes a new one.
inline Registry fakeRegistry(std::shared_ptr<FakeSourceState> state) {
    return [state](const settings::Values& values) {
        return QList<SourceSpec>{{testId(values.lister), [state, id = values.lister] {
                                      state->made.append(id);
                                      return std::make_unique<FakeSource>(state);
                                  }}};
    };
}

// A source that answers every scan inside scan() with the next of its
// prepared results, so that a benchmark measures what the program does with a
// result and not how it was found.
class InstantSource : public ServerSource {
public:
    explicit InstantSource(QList<ScanResult> results) : m_results(std::move(results)) {}

    bool scan(ScanFilter, Done done) override {
        const ScanResult& next = m_results[m_next];
        m_next = (m_next + 1) % m_results.size();
        done(next);
        return true;
    }
    bool isScanning() const override { return false; }
    ServerDetails details(const ListeningPort& record) const override {
        return details_ ? details_(record) : ServerDetails{};
    }
    void stop(const ListeningPort&, bool, StopDone done) override {
        done({StopOutcome::Delivered});
    }
    void stillRuns(const ListeningPort&, RunsDone done) override { done(false); }

    std::function<ServerDetails(const ListeningPort&)> details_;

private:
    QList<ScanResult> m_results;
    qsizetype m_next = 0;
};

// A registry of one instant source over `results`.
inline Registry instantRegistry(QList<ScanResult> results,
                                std::function<ServerDetails(const ListeningPort&)> details = {}) {
    return [results = std::move(results), details = std::move(details)](const settings::Values&) {
        return QList<SourceSpec>{{SourceId::of(SourceId::Kind::Proc), [results, details] {
                                      auto source = std::make_unique<InstantSource>(results);
                                      source->details_ = details;
                                      return source;
                                  }}};
    };
}
