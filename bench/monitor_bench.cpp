// The monitor's work for one completed scan: comparing the new ports with the
// previous ones, building the notifications and publishing the list. The
// source hands over prepared results at once, so no lister runs.
#include "config/settings_store.h"
#include "monitor/change_notices.h"
#include "monitor/port_monitor.h"
#include "support/fake_source.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>
#include <utility>

namespace {

// `count` ports, ascending. With `shifted`, the upper half moves to other port
// numbers, so alternating with the unshifted list starts and stops count/2
// ports on every scan.
QList<ListeningPort> makePorts(qint64 count, bool shifted) {
    static const QString names[] = {QStringLiteral("node"), QStringLiteral("python3"),
                                    QStringLiteral("java"), QStringLiteral("ruby")};
    QList<ListeningPort> ports;
    ports.reserve(count);
    for (qint64 i = 0; i < count; ++i) {
        const qint64 port = 1000 + 2 * i + (shifted && i >= count / 2 ? 1 : 0);
        ports.append({port, 20000 + i, names[i % 4]});
    }
    return ports;
}

QList<ScanResult> resultsOf(const QList<QList<ListeningPort>>& lists) {
    QList<ScanResult> results;
    for (const QList<ListeningPort>& ports : lists)
        results.append({ports});
    return results;
}

struct Fixture {
    explicit Fixture(const QList<QList<ListeningPort>>& results)
        : store(dir.filePath(QStringLiteral("settings.json"))),
          monitor(store, instantRegistry(resultsOf(results))),
          notices(monitor, [this](const QString& title, const QString& body) {
              ++notifications;
              benchmark::DoNotOptimize(title);
              benchmark::DoNotOptimize(body);
          }) {}

    QTemporaryDir dir;
    SettingsStore store;
    qint64 notifications = 0;
    PortMonitor monitor;
    ChangeNotices notices;
};

// One scan's change detection and publication while half the ports change.
void BM_ScanWithChanges(benchmark::State& state) {
    const qint64 n = state.range(0);
    Fixture f({makePorts(n, false), makePorts(n, true)});
    f.monitor.scan(); // the first scan would report every port as new
    f.notifications = 0;
    for (auto _ : state) {
        f.monitor.scan();
        benchmark::DoNotOptimize(f.monitor.ports().size());
    }
    state.SetComplexityN(n);
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["notifications/scan"] =
        benchmark::Counter(static_cast<double>(f.notifications) / state.iterations());
}
BENCHMARK(BM_ScanWithChanges)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1'000)
    ->Arg(10'000)
    ->Arg(200'000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity(benchmark::oN);

// The monitor's own cost per polling tick when nothing changed, the usual case.
void BM_ScanUnchanged(benchmark::State& state) {
    const qint64 n = state.range(0);
    Fixture f({makePorts(n, false)});
    f.monitor.scan();
    for (auto _ : state) {
        f.monitor.scan();
        benchmark::DoNotOptimize(f.monitor.ports().size());
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ScanUnchanged)->Arg(100)->Unit(benchmark::kMicrosecond);

} // namespace
