// What the monitor adds to a polling cycle for server details and the
// listeners that are not allowed: 10 listed servers whose details are cached
// and 20 listeners in the range that are not allowed. The scan itself is the
// sources' (source_bench.cpp); here the source hands over its result at once.
#include "config/settings_store.h"
#include "monitor/port_monitor.h"
#include "support/fake_source.h"

#include "bench_application.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

void BM_MonitorCycleWithDetailsAndOthers(benchmark::State& state) {
    QCoreApplication& app = benchApplication();
    ScanResult result;
    for (qint64 i = 0; i < 10; ++i)
        result.ports.append({3000 + i, 10000 + i, QStringLiteral("node"), 5000 + quint64(i),
                             QStringLiteral("127.0.0.1")});
    for (qint64 i = 0; i < 20; ++i)
        result.others.append({5000 + i, 20000 + i, QStringLiteral("sshd"), 1, {}});
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("settings.json")));
    PortMonitor monitor(store, instantRegistry({result}, [](const ListeningPort& port) {
                            return ServerDetails{
                                QStringLiteral("/home/dev/src/shop"),
                                QStringLiteral("shop"),
                                {QStringLiteral("node"), QStringLiteral("server.js")},
                                QStringLiteral("node server.js"),
                                port.startTime,
                                port.address};
                        }));
    monitor.scan();
    // The details arrive from the reader's thread once.
    for (int i = 0; i < 1000 && monitor.details(3009).project.isEmpty(); ++i) {
        app.processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    if (monitor.details(3009).project.isEmpty() || monitor.otherListeners().size() != 20) {
        state.SkipWithError("the details or the other listeners are missing");
        return;
    }
    for (auto _ : state) {
        monitor.scan();
        benchmark::DoNotOptimize(monitor.details(3000));
    }
}
BENCHMARK(BM_MonitorCycleWithDetailsAndOthers)->Unit(benchmark::kMicrosecond);

} // namespace
