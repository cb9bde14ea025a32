#pragma once

// A source that answers every scan inside scan() with the next of its
// prepared results, so that a benchmark measures what the program does with a
// result and not how it was found.

#include "core/server_source.h"
#include "sources/registry.h"

#include <memory>
#include <utility>

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
inline Registry instantRegistry(
    QList<ScanResult> results,
    std::function<ServerDetails(const ListeningPort&)> details = {}) {
    return [results = std::move(results), details = std::move(details)](const settings::Values&) {
        return QList<SourceSpec>{{QStringLiteral("instant"), [results, details] {
                                      auto source = std::make_unique<InstantSource>(results);
                                      source->details_ = details;
                                      return source;
                                  }}};
    };
}
