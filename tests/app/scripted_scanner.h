#pragma once

// A scanner whose runs end only when the test says so, through the callback
// the monitor handed it; it records stop requests instead of killing anything.

#include "scanner/port_scanner.h"

#include <QList>

#include <memory>
#include <utility>

struct ScannerScript {
    int scansStarted = 0;
    QList<qint64> stoppedPids;
    QList<qint64> stillRunning; // pids that ignore a stop request
    PortScanner::Done pending;

    bool finish(ScanResult result) {
        if (!pending)
            return false;
        std::exchange(pending, nullptr)(std::move(result));
        return true;
    }
};

class ScriptedScanner : public PortScanner {
public:
    explicit ScriptedScanner(std::shared_ptr<ScannerScript> script)
        : PortScanner(ListerCommand{}), m_script(std::move(script)) {}
    ~ScriptedScanner() override { m_script->pending = nullptr; }

    bool scan(qint64, qint64, QSet<QString>, Done done) override {
        if (m_script->pending)
            return false;
        ++m_script->scansStarted;
        m_script->pending = std::move(done);
        return true;
    }
    bool isScanning() const override { return static_cast<bool>(m_script->pending); }
    StopResult signalServer(const ListeningPort& listed, int) override {
        m_script->stoppedPids.append(listed.pid);
        return {StopOutcome::Delivered};
    }
    bool stillRuns(const ListeningPort& listed) const override {
        return m_script->stillRunning.contains(listed.pid);
    }

private:
    std::shared_ptr<ScannerScript> m_script;
};
