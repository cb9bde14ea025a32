#pragma once

// A scanner for monitor tests: it records every request and completes a run
// only when the test says so, through the callback the monitor gave it.

#include "scanner/port_scanner.h"

#include <QList>
#include <QSet>
#include <QString>

#include <algorithm>
#include <memory>
#include <utility>

// What the fake saw and what it still owes. Shared with the test, so that it
// stays readable after the monitor has destroyed its scanner.
struct FakeScannerState {
    struct Request {
        qint64 minPort = 0;
        qint64 maxPort = 0;
        QSet<QString> allowlist;
    };

    QList<Request> requests;
    QList<qint64> stoppedPids;
    QList<SourceKind> selectedSources;
    QList<int> sentSignals;                        // one per stoppedPids entry
    StopResult stopResult{StopOutcome::Delivered}; // what every signal request answers
    PortScanner::Done pending;
    int overlappingRequests = 0; // scan() called while a run was pending
    bool destroyed = false;
    // Every server "running" on the machine; completeWithServers() filters
    // them as the real scanner would.
    QList<ListeningPort> servers;

    bool isRunning() const { return static_cast<bool>(pending); }

    // Ends the pending run with this result. False when no run is pending.
    bool complete(ScanResult result) {
        if (!pending)
            return false;
        PortScanner::Done done = std::exchange(pending, nullptr);
        done(std::move(result));
        return true;
    }
    bool completeWith(QList<ListeningPort> ports) {
        return complete({std::move(ports), ListerError::None});
    }
    // Ends the pending run with `servers` filtered by the range and allowlist
    // of that run's request.
    bool completeWithServers() {
        if (!pending || requests.isEmpty())
            return false;
        const Request& r = requests.last();
        return completeWith(PortScanner::filter(servers, r.minPort, r.maxPort, r.allowlist));
    }
    bool fail(ListerError error) { return complete({{}, error}); }
};

class FakeScanner : public PortScanner {
public:
    explicit FakeScanner(std::shared_ptr<FakeScannerState> state)
        : PortScanner(ListerCommand{}), m_state(std::move(state)) {}

    // Like the real scanner: a run still pending when the scanner goes away
    // never calls back.
    ~FakeScanner() override {
        m_state->pending = nullptr;
        m_state->destroyed = true;
    }

    bool scan(qint64 minPort, qint64 maxPort, QSet<QString> allowlist, Done done) override {
        if (m_state->pending) {
            ++m_state->overlappingRequests;
            return false;
        }
        m_state->requests.append({minPort, maxPort, std::move(allowlist)});
        m_state->pending = std::move(done);
        return true;
    }

    bool isScanning() const override { return m_state->isRunning(); }

    void selectSource(SourceKind kind) override { m_state->selectedSources.append(kind); }

    StopResult signalServer(const ListeningPort& listed, int signal) override {
        m_state->stoppedPids.append(listed.pid);
        m_state->sentSignals.append(signal);
        return m_state->stopResult;
    }

    // Running means among `servers`, start time included.
    bool stillRuns(const ListeningPort& listed) const override {
        return std::any_of(m_state->servers.cbegin(), m_state->servers.cend(),
                           [&listed](const ListeningPort& p) {
                               return p == listed && p.startTime == listed.startTime;
                           });
    }

private:
    std::shared_ptr<FakeScannerState> m_state;
};
