"""What the running tray program costs, beside one lsof run in the same process table.

    /usr/bin/python3 program_cost.py --harborwatch BIN --table BIN [--sizes 500x60,3000x10]
                                     [--seconds 60] [--quick] [--artifacts DIR]

For each size PROCESSES x DESCRIPTORS it starts a session of its own (the
end-to-end suite's: a private network namespace where the kernel allows one,
Xvfb, a private session bus with a fake panel and notification daemon, private
HOME and XDG folders), a process table (hw-process-table: that many idle
processes holding that many descriptors each, 10 "node" servers and 2 other
listeners), and the real program with its default settings. Once the program
lists the servers and has settled, it watches the program for --seconds:

  cpu/cycle   its CPU per two-second cycle: the run time of every thread to
              the nanosecond (/proc/PID/task/*/schedstat) and the CPU of the
              children it reaped (cutime+cstime)
  (ticks)     the same from utime+stime+cutime+cstime of /proc/PID/stat,
              counted in clock ticks of 10 ms: over a minute it tells a
              cycle's CPU to 0.33 ms at best
  wakeups/min voluntary context switches summed over /proc/PID/task/*/status
  bus/min     messages it sent on the session bus (dbus-monitor; the whole
              traffic is kept in ARTIFACTS/cost-SIZE-bus.log)
  RSS         VmRSS at the end

and then runs `lsof +c 0 -iTCP -sTCP:LISTEN -P -n` once in the same table (its
CPU, user and system). "ratio" is the program's CPU per cycle over lsof's.
These machines are noisy: compare ratios, not absolute times.

--quick (for CTest) measures one small table for a few seconds and checks only
that the figures could be taken. Exit status 0, 77 when the machine lacks what
the session needs, 1 on a failure.
"""

import argparse
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import e2e_session  # noqa: E402  (the namespace comes before any thread)
from e2e_session import Failure, Skip, check, wait_until  # noqa: E402

SKIPPED = 77
CYCLE = 2.0
SERVERS = 10
OTHERS = 2
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    """utime+stime+cutime+cstime of the process, in seconds (counted in clock ticks)."""
    with open(f"/proc/{pid}/stat") as f:
        stat = f.read()
    fields = stat[stat.rfind(")") + 2:].split()
    return sum(int(fields[i]) for i in (11, 12, 13, 14)) / TICKS


def children_seconds(pid):
    """cutime+cstime: the CPU of the children it reaped, in seconds."""
    with open(f"/proc/{pid}/stat") as f:
        stat = f.read()
    fields = stat[stat.rfind(")") + 2:].split()
    return sum(int(fields[i]) for i in (13, 14)) / TICKS


def run_seconds(pid):
    """The CPU time of every thread, to the nanosecond (the first field of
    /proc/PID/task/*/schedstat), plus that of its reaped children."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                total += int(f.read().split()[0])
        except (OSError, IndexError, ValueError):
            pass
    return total / 1e9 + children_seconds(pid)


def status_field(path, key):
    try:
        with open(path) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def thread_times(pid):
    """{thread id: (name, CPU seconds, voluntary switches)}."""
    times = {}
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/comm") as f:
                name = f.read().strip()
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                ns = int(f.read().split()[0])
        except (OSError, IndexError, ValueError):
            continue
        times[task] = (name, ns / 1e9, status_field(f"/proc/{pid}/task/{task}/status",
                                                    "voluntary_ctxt_switches"))
    return times


def wakeups(pid):
    """Voluntary context switches of every thread of the process."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        total += status_field(f"/proc/{pid}/task/{task}/status", "voluntary_ctxt_switches")
    return total


def rss_kb(pid):
    return status_field(f"/proc/{pid}/status", "VmRSS")


def lsof_once():
    """One lsof run as the lsof lister runs it: (CPU seconds, wall seconds)."""
    start = time.monotonic()
    proc = subprocess.Popen(["lsof", "+c", "0", "-iTCP", "-sTCP:LISTEN", "-P", "-n"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return usage.ru_utime + usage.ru_stime, time.monotonic() - start


def start_table(session, table, processes, descriptors):
    proc = session.spawn(f"process table {processes}x{descriptors}",
                         [table, str(processes), str(descriptors), str(SERVERS), str(OTHERS)],
                         stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    line = session._read_line(proc.stdout, 300, "the process table to start")
    started = int(line.split()[1]) if line.startswith("ready ") else 0
    check(started == processes + SERVERS + OTHERS,
          f"the process table started {started} of {processes + SERVERS + OTHERS} processes "
          "(ulimit -u, pids.max)")
    return proc


def served_rows(menu):
    return [e for e in menu.render() if isinstance(e, tuple) and " - node" in e[0]]


def measure(args, processes, descriptors):
    session = e2e_session.Session(f"cost-{processes}x{descriptors}", args.harborwatch, "/bin/false",
                                  args.artifacts)
    try:
        session.start_desktop()
        table = start_table(session, args.table, processes, descriptors)
        program = session.start_program(extra_env={
            # Private: no container engine of the machine is asked.
            "DOCKER_HOST": "unix://" + os.path.join(session.runtime, "no-engine.sock")})
        menu = session.tray_menu(program)
        wait_until(lambda: len(served_rows(menu)) == SERVERS, 120, f"the menu to list {SERVERS} servers",
                   pump=session.pump, interval=0.5)
        session.hold_still(args.warmup)

        owner = str(session.bus_daemon.GetNameOwner(menu.service))
        bus_log = session.artifact(f"{session.name}-bus.log")
        with open(bus_log, "w") as log:
            monitor = session.spawn("dbus-monitor", ["dbus-monitor", "--address", session.bus_address,
                                                     f"sender='{owner}'"],
                                    env=session.base_env(), stdout=log, stderr=subprocess.DEVNULL)
            session.hold_still(0.5)  # it has subscribed
            observer = None
            if args.observe:
                observer = session.spawn("observer", [part.format(pid=program.pid, size=session.name)
                                                      for part in args.observe.split()],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            threads0 = thread_times(program.pid)
            cpu0, run0 = cpu_seconds(program.pid), run_seconds(program.pid)
            wake0, t0 = wakeups(program.pid), time.monotonic()
            session.hold_still(args.seconds)
            cpu1, run1 = cpu_seconds(program.pid), run_seconds(program.pid)
            threads1 = thread_times(program.pid)
            wake1, t1 = wakeups(program.pid), time.monotonic()
            rss = rss_kb(program.pid)
            session.stop(monitor)
            if observer:
                observer.send_signal(2)  # SIGINT: strace and perf write what they saw
                observer.wait(30)
        with open(bus_log) as log:
            messages = sum(1 for line in log
                           if line.startswith(("signal ", "method call ", "method return ", "error "))
                           and f" sender={owner} " in line)
        threads = len(os.listdir(f"/proc/{program.pid}/task"))
        lsof_cpu, lsof_wall = lsof_once()
        session.stop_program(program)
        session.stop(table)

        minutes = (t1 - t0) / 60
        cycles = (t1 - t0) / CYCLE
        return {
            "size": f"{processes} x {descriptors}",
            "cpu_ms": (run1 - run0) * 1000 / cycles,
            "tick_ms": (cpu1 - cpu0) * 1000 / cycles,
            "lsof_ms": lsof_cpu * 1000,
            "lsof_wall_ms": lsof_wall * 1000,
            "wakeups": (wake1 - wake0) / minutes,
            "bus": messages / minutes,
            "rss_mb": rss / 1024,
            "threads": threads,
            "per_thread": [(name, (t1s - threads0.get(tid, (name, 0, 0))[1]) * 1000 / cycles,
                            (w1 - threads0.get(tid, (name, 0, 0))[2]) / minutes)
                           for tid, (name, t1s, w1) in sorted(threads1.items(), key=lambda i: int(i[0]))],
        }
    finally:
        session.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--harborwatch", required=True)
    parser.add_argument("--table", required=True, help="the hw-process-table helper")
    parser.add_argument("--artifacts", default=os.path.join(os.getcwd(), "cost-artifacts"))
    parser.add_argument("--sizes", default="500x60,3000x10")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--warmup", type=float, default=10)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--threads", action="store_true", help="also each thread's share")
    parser.add_argument("--observe", help="a command run beside the program while it is measured, "
                        "ended with SIGINT: {pid} is the program's pid, {size} the session's name "
                        "(e.g. 'strace -c -f -o /tmp/{size}.strace -p {pid}')")
    args = parser.parse_args()
    if args.quick:
        args.sizes, args.seconds, args.warmup = "40x10", 6, 2

    e2e_session.isolate_network()
    e2e_session.become_subreaper()
    # Room for the tables' descriptors and processes.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))

    rows = []
    try:
        for size in args.sizes.split(","):
            processes, descriptors = (int(n) for n in size.split("x"))
            rows.append(measure(args, processes, descriptors))
    except Skip as e:
        print(f"SKIPPED: {e}")
        return SKIPPED
    except Failure as e:
        print(f"FAILED: {e}")
        return 1

    print(f"{'processes x descriptors':>24} {'cpu/cycle':>10} {'(ticks)':>10} {'lsof':>10} "
          f"{'ratio':>8} {'wakeups/min':>12} {'bus/min':>8} {'RSS':>8} {'threads':>8}")
    for r in rows:
        print(f"{r['size']:>24} {r['cpu_ms']:>7.3f} ms {r['tick_ms']:>7.3f} ms {r['lsof_ms']:>7.0f} ms "
              f"{r['cpu_ms'] / r['lsof_ms']:>8.5f} {r['wakeups']:>12.0f} {r['bus']:>8.1f} "
              f"{r['rss_mb']:>5.1f} MB {r['threads']:>8}")
    if args.threads:
        for r in rows:
            print(f"{r['size']}: " + ", ".join(f"{name} {ms:.3f} ms/cycle {w:.0f} wakeups/min"
                                               for name, ms, w in r["per_thread"]))
    if len(rows) == 2:
        print(f"growth of cpu/cycle from the first size to the second: {rows[1]['cpu_ms'] / rows[0]['cpu_ms']:.2f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
