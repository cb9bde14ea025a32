// Parsing and filtering of generated listings, to show that the work grows
// linearly with the size of the lister's output.
#include "config/settings.h"
#include "core/filter.h"
#include "sources/lsof/lsof_listing.h"

#include <benchmark/benchmark.h>

namespace {

QString makeListing(int lines) {
    static const char* const names[] = {"node", "python3", "java", "chrome", "sshd", "Python"};
    QString text = QStringLiteral("COMMAND     PID USER   FD   TYPE DEVICE SIZE/OFF NODE NAME\n");
    text.reserve(lines * 80);
    for (int i = 0; i < lines; ++i) {
        // Every fourth line repeats the previous port over IPv6, as lsof does.
        // lsof orders its lines by process, not by port: stepping by 37 (prime
        // to 64000) scatters the ports over 1024-65023 without repeating them.
        const int port = 1024 + (i - (i % 4 == 3 ? 1 : 0)) * 37 % 64000;
        text += QStringLiteral("%1 %2 dev 23u IPv%3 0x%4 0t0 TCP %5:%6 (LISTEN)\n")
                    .arg(QLatin1String(names[i % 6]))
                    .arg(1000 + i)
                    .arg(i % 4 == 3 ? 6 : 4)
                    .arg(i, 0, 16)
                    .arg(i % 4 == 3 ? QStringLiteral("[::1]") : QStringLiteral("127.0.0.1"))
                    .arg(port);
    }
    return text;
}

void BM_ParseAndFilter(benchmark::State& state) {
    const QString listing = makeListing(static_cast<int>(state.range(0)));
    const ScanFilter filter{3000, 9999, settings::defaultAllowlist()};
    qsizetype kept = 0;
    for (auto _ : state) {
        auto ports = filter.apply(parseLsofListing(listing));
        kept = ports.size();
        benchmark::DoNotOptimize(ports);
    }
    // How many ports passed the filter, to show that the listing was read.
    state.counters["kept"] = static_cast<double>(kept);
    state.SetComplexityN(state.range(0));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseAndFilter)
    ->Arg(100)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Unit(benchmark::kMicrosecond)
    ->Complexity();

} // namespace

BENCHMARK_MAIN();
