// The monitor's work for one completed scan: comparing the new ports with the
// previous ones, building the notifications and publishing the list. The
// source hands over prepared results at once, so no lister runs.
#include "config/settings_store.h"
#include "monitor/change_notices.h"
#include "monitor/port_monitor.h"
#include "support/fake_source.h"

#include "bench_application.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
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

// The monitor's own cost per polling tick when nothing changed, the usual
// case, with the looks at what answers off (0) or on (1). On, the first scan
// looks at each port once and the quiet ticks connect nowhere:
// "connections/scan" counts what a server of the benchmark's own, one of the
// listed ports, takes during the ticks ("first look": before them).
void BM_ScanUnchanged(benchmark::State& state) {
    QCoreApplication& app = benchApplication();
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    qint64 connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            ++connections;
            socket->close();
            socket->deleteLater();
        }
    });
    const qint64 n = state.range(0);
    QList<ListeningPort> ports = makePorts(n - 1, false);
    ports.append({server.serverPort(), 1, QStringLiteral("node"), 1, QStringLiteral("127.0.0.1")});
    Fixture f({ports});
    f.store.set(settings::maxPort, qint64(65535));
    f.store.set(settings::probe, state.range(1) != 0);
    f.monitor.scan();
    QElapsedTimer waited;
    waited.start();
    while (!f.monitor.answersSettled() && waited.elapsed() < 5000)
        app.processEvents(QEventLoop::AllEvents, 50);
    app.processEvents();
    const qint64 before = connections;
    for (auto _ : state) {
        f.monitor.scan();
        benchmark::DoNotOptimize(f.monitor.ports().size());
    }
    app.processEvents();
    state.SetItemsProcessed(state.iterations() * n);
    state.counters["first look"] = benchmark::Counter(double(before));
    state.counters["connections/scan"] =
        benchmark::Counter(double(connections - before) / double(state.iterations()));
}
BENCHMARK(BM_ScanUnchanged)
    ->Args({100, 0})
    ->Args({100, 1})
    ->ArgNames({"ports", "probe"})
    ->Unit(benchmark::kMicrosecond);

} // namespace
