// One scan of each socket source over the same process table: N sleeping
// processes holding M open descriptors each (files, pipes and local sockets),
// plus S servers on the allowlist and O listeners in the range whose process is
// not allowed. The counter "cpu_ms" is the CPU of the
// whole scan per iteration, this program's threads and the lister's process
// together; "wall_ms" is the time one scan takes; "servers" how many records
// it found (the machine's own servers in the range count too).
//
//   build/bench/bench/harborwatch_bench --benchmark_filter=Source
#include "core/server_details.h"
#include "sources/lsof/lsof_source.h"
#include "sources/proc/proc_source.h"

#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint64 minPort = 3000;
constexpr qint64 maxPort = 9999;

// Runs in a forked child until killed; only async-signal-safe calls.
[[noreturn]] void idleChild(int index, int descriptors, int ready) {
    char name[16];
    std::snprintf(name, sizeof name, "idle-%d", index);
    prctl(PR_SET_NAME, name, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    for (int opened = 0; opened < descriptors;) {
        int pair[2];
        switch (opened % 3) {
        case 0:
            opened += open("/dev/null", O_RDONLY) >= 0 ? 1 : descriptors;
            break;
        case 1:
            opened += pipe(pair) == 0 ? 2 : descriptors;
            break;
        default:
            opened += socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 ? 2 : descriptors;
            break;
        }
    }
    (void)!write(ready, "x", 1);
    for (;;)
        pause();
}

// Listens on 127.0.0.1 at a free port of the range under `name`.
[[noreturn]] void serverChild(const char* name, int ready) {
    prctl(PR_SET_NAME, name, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int port = 7000 + getpid() % 2000; port <= maxPort; ++port) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 8) == 0)
            break;
    }
    (void)!write(ready, "x", 1);
    for (;;)
        pause();
}

// The process table, kept while the benchmarks with the same size run.
class ProcessTable {
public:
    ProcessTable(int processes, int descriptors, int servers, int others)
        : m_processes(processes), m_descriptors(descriptors), m_servers(servers), m_others(others) {
        int ready[2];
        if (pipe(ready) != 0)
            return;
        for (int i = 0; i < processes + servers + others; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                close(ready[0]);
                if (i >= processes + servers)
                    serverChild("hw-other", ready[1]);
                if (i >= processes)
                    serverChild(i == processes + 1 ? "python3" : "node", ready[1]);
                idleChild(i, descriptors, ready[1]);
            }
            if (pid > 0)
                m_children.push_back(pid);
        }
        close(ready[1]);
        char byte;
        for (size_t i = 0; i < m_children.size(); ++i)
            (void)!read(ready[0], &byte, 1);
        close(ready[0]);
    }
    ~ProcessTable() {
        for (pid_t pid : m_children)
            kill(pid, SIGKILL);
        for (pid_t pid : m_children)
            waitpid(pid, nullptr, 0);
    }
    bool fits(int processes, int descriptors, int servers, int others) const {
        return processes == m_processes && descriptors == m_descriptors && servers == m_servers &&
               others == m_others;
    }

private:
    int m_processes;
    int m_descriptors;
    int m_servers;
    int m_others;
    std::vector<pid_t> m_children;
};

std::unique_ptr<ProcessTable>& table() {
    static std::unique_ptr<ProcessTable> current;
    return current;
}

double cpuSeconds() {
    double total = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        total += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    return total;
}

double wallSeconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

void useTable(const benchmark::State& state) {
    const int processes = static_cast<int>(state.range(0));
    const int descriptors = static_cast<int>(state.range(1));
    const int servers = static_cast<int>(state.range(2));
    const int others = static_cast<int>(state.range(3));
    if (!table() || !table()->fits(processes, descriptors, servers, others)) {
        table().reset();
        table() = std::make_unique<ProcessTable>(processes, descriptors, servers, others);
    }
}

// `fresh`: a new source for every scan, so that the holders of the other
// listeners are searched for every time, as when they first appear.
template <typename Source> void scanSource(benchmark::State& state, bool fresh = false) {
    useTable(state);
    auto source = std::make_unique<Source>();
    const ScanFilter request{
        minPort, maxPort, QSet<QString>{QStringLiteral("node"), QStringLiteral("python3")}};
    const ScanFilter nothingAllowed{minPort, maxPort, QSet<QString>{}};
    qsizetype found = 0;
    qsizetype notAllowed = 0;
    if (!fresh)
        source->scanBlocking(request); // finds the other listeners' holders once
    const double cpuStart = cpuSeconds();
    const double wallStart = wallSeconds();
    for (auto _ : state) {
        if (fresh)
            source = std::make_unique<Source>();
        const ScanResult result = source->scanBlocking(fresh ? nothingAllowed : request);
        if (!result.ok())
            state.SkipWithError("the scan failed");
        found = fresh ? result.others.size() : result.ports.size();
        notAllowed = result.others.size();
    }
    const double n = double(state.iterations());
    state.counters["cpu_ms"] = (cpuSeconds() - cpuStart) * 1000 / n;
    state.counters["wall_ms"] = (wallSeconds() - wallStart) * 1000 / n;
    state.counters["servers"] = double(found);
    state.counters["others"] = double(notAllowed);
}

void BM_ProcSource(benchmark::State& state) {
    scanSource<ProcSource>(state);
}
void BM_LsofSource(benchmark::State& state) {
    scanSource<LsofSource>(state);
}
// The servers are not allowed: their holders are searched for through every
// process's descriptors, which the source does once per listening socket.
void BM_ProcSourceOthersFirstSeen(benchmark::State& state) {
    scanSource<ProcSource>(state, true);
}

// Reading the details of every listed server, as happens once for each
// server when it first appears (not every cycle).
void BM_ReadServerDetails(benchmark::State& state) {
    useTable(state);
    ProcSource source;
    const ScanResult listed = source.scanBlocking(
        {minPort, maxPort, QSet<QString>{QStringLiteral("node"), QStringLiteral("python3")}});
    if (listed.ports.size() < state.range(2))
        state.SkipWithError("not every server was found");
    const QString home = QStringLiteral("/nonexistent");
    for (auto _ : state) {
        for (const ListeningPort& port : listed.ports)
            benchmark::DoNotOptimize(readServerDetails(port, ProcFs(), home));
    }
    state.counters["servers"] = double(listed.ports.size());
}

// Long enough for steady figures; one iteration when the benchmarks only have
// to show that they still run (HARBORWATCH_BENCH_QUICK).
benchmark::internal::Benchmark* timed(benchmark::internal::Benchmark* b, double seconds) {
    return qEnvironmentVariableIsSet("HARBORWATCH_BENCH_QUICK") ? b->Iterations(1)
                                                                 : b->MinTime(seconds);
}

// Each size once for both sources, side by side; then 10 listed servers and 20
// listeners that are not allowed (args: processes, descriptors, servers, others).
const bool registered = [] {
    const auto add = [](const char* name, void (*run)(benchmark::State&),
                        std::vector<int64_t> args, double seconds) {
        timed(benchmark::RegisterBenchmark(name, run)
                  ->Args(std::move(args))
                  ->Unit(benchmark::kMillisecond)
                  ->UseRealTime(),
              seconds);
    };
    add("BM_ProcSource", BM_ProcSource, {500, 60, 2, 0}, 2);
    add("BM_LsofSource", BM_LsofSource, {500, 60, 2, 0}, 5);
    add("BM_ProcSource", BM_ProcSource, {500, 60, 10, 20}, 2);
    add("BM_LsofSource", BM_LsofSource, {500, 60, 10, 20}, 5);
    benchmark::RegisterBenchmark("BM_ReadServerDetails", BM_ReadServerDetails)
        ->Args({500, 60, 10, 0})
        ->Unit(benchmark::kMicrosecond);
    add("BM_ProcSourceOthersFirstSeen", BM_ProcSourceOthersFirstSeen, {500, 60, 2, 0}, 2);
    return true;
}();

} // namespace
