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
#include "system/local_details.h"

#include <QtGlobal>

#include "idle_process.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <spawn.h>
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

// A socket listening on 127.0.0.1 at a free port of the range.
int listenInRange() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int port = 7000 + getpid() % 2000; port <= maxPort; ++port) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 8) == 0)
            break;
    }
    return fd;
}

// Listens on 127.0.0.1 at a free port of the range under `name`.
[[noreturn]] void serverChild(const char* name, int ready) {
    prctl(PR_SET_NAME, name, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    listenInRange();
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
                idleProcess(i, descriptors, ready[1]);
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
    // Whether every process could be started (see ulimit -u and the pids
    // controller's pids.max).
    bool complete() const {
        return m_children.size() == size_t(m_processes + m_servers + m_others);
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
    const ScanFilter request{minPort, maxPort,
                             QSet<QString>{QStringLiteral("node"), QStringLiteral("python3")}};
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
    const auto add = [](const char* name, void (*run)(benchmark::State&), std::vector<int64_t> args,
                        double seconds) {
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

// The poll cycle of the /proc source at a given size: one with nothing
// changed, one in which a server listens on a new socket, and one walk from
// nothing, beside one lsof run over the same process table. "cpu_ms" is the
// scanning thread's CPU per cycle (lsof's own for the lsof run), "walks" how
// many cycles walked over every process.
//
//   build/bench/bench/harborwatch_bench --benchmark_filter=Cycle\|Walk\|LsofRun
namespace {

// A "node" server that closes its listening socket and listens on a new one
// each time it is told to.
class Relistener {
public:
    Relistener() {
        int command[2], answer[2];
        if (pipe(command) != 0 || pipe(answer) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_NAME, "node", 0, 0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
            close(command[1]);
            close(answer[0]);
            int fd = -1;
            char byte;
            while (read(command[0], &byte, 1) == 1) {
                if (fd >= 0)
                    close(fd);
                fd = listenInRange();
                (void)!write(answer[1], "x", 1);
            }
            _exit(0);
        }
        close(command[0]);
        close(answer[1]);
        m_command = command[1];
        m_answer = answer[0];
    }
    ~Relistener() {
        close(m_command);
        close(m_answer);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    Relistener(const Relistener&) = delete;
    Relistener& operator=(const Relistener&) = delete;

    bool relisten() {
        char byte;
        return m_pid > 0 && write(m_command, "x", 1) == 1 && read(m_answer, &byte, 1) == 1;
    }

private:
    pid_t m_pid = -1;
    int m_command = -1;
    int m_answer = -1;
};

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

bool tableStarted(benchmark::State& state) {
    useTable(state);
    if (table()->complete())
        return true;
    state.SkipWithError("not every process of the table could be started (ulimit -u, pids.max)");
    return false;
}

// Quiet: nothing changed. Check: the look for new processes and at the
// holders' descriptors, due every 30 s. Walk: the walk over every process
// that nothing asked for, due every 10 minutes. NewListener: a walk, asked
// for by a socket that appeared. FromNothing: the first scan.
enum class Cycle { Quiet, Check, Walk, NewListener, FromNothing };

ProcScanTiming timingFor(Cycle cycle) {
    ProcScanTiming timing;
    if (cycle == Cycle::Check)
        timing.check = std::chrono::milliseconds(0);
    if (cycle == Cycle::Walk)
        timing.walk = std::chrono::milliseconds(0);
    return timing;
}

void scanCycle(benchmark::State& state, Cycle cycle) {
    if (!tableStarted(state))
        return;
    std::optional<Relistener> relistener;
    if (cycle == Cycle::NewListener)
        relistener.emplace();
    const ProcFs proc;
    const ScanFilter filter{minPort, maxPort,
                            QSet<QString>{QStringLiteral("node"), QStringLiteral("python3")}};
    auto scan = std::make_unique<ProcScan>(proc, timingFor(cycle));
    if (relistener && !relistener->relisten())
        state.SkipWithError("the relistening server did not start");
    scan->run(filter); // learns what the cycles carry over
    const int walks = scan->walks();
    const int checks = scan->checks();
    double cpu = 0;
    qsizetype servers = 0;
    for (auto _ : state) {
        if (relistener)
            relistener->relisten();
        if (cycle == Cycle::FromNothing)
            scan = std::make_unique<ProcScan>(proc);
        const double wallStart = wallSeconds();
        const double cpuStart = threadCpuSeconds();
        const ScanResult result = scan->run(filter);
        cpu += threadCpuSeconds() - cpuStart;
        state.SetIterationTime(wallSeconds() - wallStart);
        if (!result.ok())
            state.SkipWithError("the scan failed");
        servers = result.ports.size();
    }
    const double n = double(state.iterations());
    state.counters["cpu_ms"] = cpu * 1000 / n;
    state.counters["servers"] = double(servers);
    state.counters["walks"] = cycle == Cycle::FromNothing ? 1 : (scan->walks() - walks) / n;
    state.counters["checks"] = (scan->checks() - checks) / n;
}

void BM_QuietCycle(benchmark::State& state) {
    scanCycle(state, Cycle::Quiet);
}
void BM_NewListenerCycle(benchmark::State& state) {
    scanCycle(state, Cycle::NewListener);
}
void BM_CheckCycle(benchmark::State& state) {
    scanCycle(state, Cycle::Check);
}
void BM_WalkCycle(benchmark::State& state) {
    scanCycle(state, Cycle::Walk);
}
void BM_WalkFromNothing(benchmark::State& state) {
    scanCycle(state, Cycle::FromNothing);
}

// One run of lsof as a lister of listening sockets runs it, its output thrown away.
void BM_LsofRun(benchmark::State& state) {
    if (!tableStarted(state))
        return;
    char lsof[] = "lsof", c[] = "+c", zero[] = "0", tcp[] = "-iTCP", listen[] = "-sTCP:LISTEN",
         ports[] = "-P", hosts[] = "-n";
    char* const argv[] = {lsof, c, zero, tcp, listen, ports, hosts, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    double cpu = 0;
    for (auto _ : state) {
        const double wallStart = wallSeconds();
        pid_t pid = 0;
        int status = 0;
        rusage usage{};
        if (posix_spawnp(&pid, "lsof", &actions, nullptr, argv, environ) != 0 ||
            wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) ||
            WEXITSTATUS(status) == 127) {
            state.SkipWithError("lsof cannot be run");
            break;
        }
        state.SetIterationTime(wallSeconds() - wallStart);
        cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    posix_spawn_file_actions_destroy(&actions);
    state.counters["cpu_ms"] =
        cpu * 1000 / double(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

// 10 listed servers and 2 listeners that are not allowed, among 500 processes
// of 60 descriptors and 3,000 of 10; the quick run of the tests takes one
// small table.
const bool cyclesRegistered = [] {
    const bool quick = qEnvironmentVariableIsSet("HARBORWATCH_BENCH_QUICK");
    const std::vector<std::vector<int64_t>> sizes =
        quick ? std::vector<std::vector<int64_t>>{{50, 10, 2, 1}}
              : std::vector<std::vector<int64_t>>{{500, 60, 10, 2}, {3000, 10, 10, 2}};
    for (const auto& size : sizes) {
        const auto add = [&size](const char* name, void (*run)(benchmark::State&),
                                 benchmark::TimeUnit unit, double seconds) {
            timed(benchmark::RegisterBenchmark(name, run)->Args(size)->Unit(unit)->UseManualTime(),
                  seconds);
        };
        add("BM_QuietCycle", BM_QuietCycle, benchmark::kMicrosecond, 2);
        add("BM_CheckCycle", BM_CheckCycle, benchmark::kMicrosecond, 2);
        add("BM_WalkCycle", BM_WalkCycle, benchmark::kMillisecond, 2);
        add("BM_NewListenerCycle", BM_NewListenerCycle, benchmark::kMillisecond, 2);
        add("BM_WalkFromNothing", BM_WalkFromNothing, benchmark::kMillisecond, 2);
        add("BM_LsofRun", BM_LsofRun, benchmark::kMillisecond, 3);
    }
    return true;
}();

} // namespace
