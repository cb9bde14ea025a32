// What the Servers window's table adds to one poll of the monitor: a scan that
// lists the same servers again, with the table following the monitor (the
// window shown, sorted by port) and without it (the window closed).
#include "actions/server_actions.h"
#include "config/settings_store.h"
#include "monitor/forwards.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "support/fake_source.h"
#include "window/servers_model.h"

#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QList<ListeningPort> servers(qint64 count) {
    QList<ListeningPort> ports;
    for (qint64 i = 0; i < count; ++i)
        ports.append({1000 + i, 20000 + i, QStringLiteral("node")});
    return ports;
}

void BM_PollWithServersTable(benchmark::State& state) {
    const qint64 n = state.range(0);
    const bool shown = state.range(1) != 0;
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(QStringLiteral("settings.json")));
    PortMonitor monitor(store, instantRegistry({ScanResult{servers(n)}}));
    monitor.setReadsDetails(false);
    StopController stops(monitor, [](const QString&, const QString&) {});
    Forwards forwards(monitor);
    ServerActions actions(monitor, stops, forwards);
    ServersModel model(actions);
    ServersProxy sorted(model);
    model.setLive(shown);
    monitor.scan(); // the first list fills the table
    for (auto _ : state) {
        monitor.scan();
        benchmark::DoNotOptimize(sorted.rowCount());
    }
    state.SetItemsProcessed(state.iterations() * n);
    state.SetLabel(shown ? "window shown" : "window closed");
}
BENCHMARK(BM_PollWithServersTable)
    ->ArgsProduct({{20, 200, 2'000}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

} // namespace
