#!/usr/bin/env python3
"""What remote hosts cost: the program watching 0, 1 and N hosts (10 unless
told), each a name in an ssh_config of its own for one real sshd that listens
on N ports, so that every host has a connection (and a control master) of
its own.

For each count it runs `harborwatch --watch` (the tray's model and sources,
without the menu) until every host is connected, then measures over a window
(60 s unless told):
  - local CPU per two-second cycle: the program and its ssh processes
    (sessions and control masters), user + system time;
  - remote CPU per cycle and host: everything the sshd forked (the sessions'
    sshd processes, the listing command and the `ss` runs it reaped);
  - memory: the program's and its ssh processes' resident and proportional
    set sizes at the end;
  - from a remote server's start to its row: a server started on the
    "remote" (this machine, under the name "node") until the watch prints it
    for each host, over a few trials.

As root everything runs in a private network namespace; otherwise sshd runs
as the user, who must be able to log in with a key.

    bench/hosts_bench.py [--program PATH] [--hosts N] [--window SECONDS]
                         [--trials N]
"""

import argparse
import json
import os
import random
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

CLOCK = os.sysconf("SC_CLK_TCK")
CYCLE_S = 2.0


def stat_of(pid):
    """(ppid, CPU seconds of the process and of its children it reaped) or None: its
    threads' time to the nanosecond (schedstat), its reaped children's in clock ticks."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            text = f.read()
        own = 0
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat") as f:
                own += int(f.read().split()[0])
    except OSError:
        return None
    fields = text[text.rindex(b")") + 2:].split()
    ppid = int(fields[1])
    cutime, cstime = (int(x) for x in fields[13:15])
    return ppid, own / 1e9 + (cutime + cstime) / CLOCK


def pids():
    return [int(e) for e in os.listdir("/proc") if e.isdigit()]


def cmdline(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read()
    except OSError:
        return b""


def descendants(root):
    children = {}
    for pid in pids():
        s = stat_of(pid)
        if s:
            children.setdefault(s[0], []).append(pid)
    out, todo = [], [root]
    while todo:
        pid = todo.pop()
        for child in children.get(pid, []):
            out.append(child)
            todo.append(child)
    return out


def memory_kib(pid):
    """(RSS, PSS) in KiB."""
    rss = pss = 0
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Rss:"):
                    rss = int(line.split()[1])
                elif line.startswith("Pss:"):
                    pss = int(line.split()[1])
    except OSError:
        pass
    return rss, pss


class Lab:
    """One sshd on `count` loopback ports and an ssh_config naming each."""

    def __init__(self, folder, count):
        self.folder = folder
        self.root = os.geteuid() == 0
        self.user = "root" if self.root else os.environ.get("USER") or os.environ["LOGNAME"]
        for name in ("host_key", "id"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                            f"{folder}/{name}"], check=True)
        shutil.copy(f"{folder}/id.pub", f"{folder}/authorized_keys")
        self.ports = []
        while len(self.ports) < max(count, 1):
            with socket.socket() as s:
                s.bind(("127.0.0.1", 0))
                port = s.getsockname()[1]
            if port not in self.ports and not 3000 <= port <= 9999:
                self.ports.append(port)
        with open(f"{folder}/sshd_config", "w") as f:
            for port in self.ports:
                f.write(f"Port {port}\n")
            f.write(f"ListenAddress 127.0.0.1\nHostKey {folder}/host_key\n"
                    f"AuthorizedKeysFile {folder}/authorized_keys\nPidFile none\nUsePAM no\n"
                    "StrictModes no\nPasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                    "MaxStartups 100\nMaxSessions 100\n")
        with open(f"{folder}/ssh_config", "w") as f:
            for i, port in enumerate(self.ports, 1):
                f.write(f"Host lab{i}\n  HostName 127.0.0.1\n  Port {port}\n  User {self.user}\n")
            f.write(f"Host *\n  IdentityFile {folder}/id\n  IdentitiesOnly yes\n"
                    f"  UserKnownHostsFile {folder}/known_hosts\n"
                    "  StrictHostKeyChecking accept-new\n")
        if self.root:
            os.makedirs("/run/sshd", exist_ok=True)
        self.sshd = subprocess.Popen(["/usr/sbin/sshd", "-D", "-e", "-f",
                                      f"{folder}/sshd_config"],
                                     stderr=open(f"{folder}/sshd.log", "w"))
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            try:
                socket.create_connection(("127.0.0.1", self.ports[-1]), 1).close()
                break
            except OSError:
                time.sleep(0.05)

    def ticks(self):
        return sum(stat_of(p)[1] for p in descendants(self.sshd.pid) if stat_of(p))

    def listing_commands(self):
        return [p for p in descendants(self.sshd.pid) if b"harborwatch-connected" in cmdline(p)]

    def stop(self):
        forked = descendants(self.sshd.pid)
        self.sshd.kill()
        self.sshd.wait()
        for pid in forked:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


class Node:
    """A server of the "remote": a process named node listening on a port."""

    def __init__(self):
        code = ("import ctypes, socket, sys, time\n"
                "ctypes.CDLL(None).prctl(15, b'node', 0, 0, 0)\n"
                "s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)\n"
                "s.bind(('127.0.0.1', int(sys.argv[1]))); s.listen()\n"
                "print('ready', flush=True); time.sleep(3600)\n")
        while True:
            self.port = random.randint(3000, 9999)
            self.process = subprocess.Popen([sys.executable, "-c", code, str(self.port)],
                                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            if self.process.stdout.readline().strip() == b"ready":
                self.started = time.monotonic()
                return
            self.process.wait()

    def stop(self):
        self.process.kill()
        self.process.wait()


class Watch:
    """harborwatch --watch over the lab's first `count` hosts."""

    def __init__(self, program, lab, count, folder):
        self.folder = folder
        config = f"{folder}/config"
        os.makedirs(f"{config}/harborwatch", exist_ok=True)
        runtime = f"{folder}/run"
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        with open(f"{config}/harborwatch/settings.json", "w") as f:
            json.dump({"hosts": [f"lab{i}" for i in range(1, count + 1)],
                       "allowlist": ["node"], "containers": False}, f)
        environment = dict(os.environ, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                           HARBORWATCH_SSH_CONFIG=f"{lab.folder}/ssh_config")
        self.marker = f"{lab.folder}/ssh_config".encode()
        self.masters = f"ssh: {runtime}/".encode()  # a control master's title
        self.process = subprocess.Popen([program, "--watch"], stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=environment)
        os.set_blocking(self.process.stdout.fileno(), False)
        self.buffer = b""
        self.count = count

    def lines(self, seconds):
        """The watch's lines within `seconds`."""
        deadline = time.monotonic() + seconds
        out = []
        while time.monotonic() < deadline:
            try:
                chunk = os.read(self.process.stdout.fileno(), 65536)
            except BlockingIOError:
                chunk = None
            if chunk:
                self.buffer += chunk
                while b"\n" in self.buffer:
                    line, self.buffer = self.buffer.split(b"\n", 1)
                    out.append((time.monotonic(), line.decode()))
            else:
                time.sleep(0.01)
                if out and time.monotonic() > deadline:
                    break
        return out

    def processes(self):
        """The program and its ssh processes."""
        ssh = [p for p in pids() if p != self.process.pid and
               (self.marker in cmdline(p) or cmdline(p).startswith(self.masters))]
        return [self.process.pid] + ssh

    def ticks(self):
        """CPU seconds of the program, and of its ssh processes."""
        processes = self.processes()
        own = stat_of(processes[0])
        return (own[1] if own else 0.0,
                sum(s[1] for s in map(stat_of, processes[1:]) if s))

    def memory(self):
        processes = self.processes()
        own = memory_kib(self.process.pid)
        ssh = [memory_kib(p) for p in processes[1:]]
        return own, (sum(r for r, _ in ssh), sum(p for _, p in ssh)), len(ssh)

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def measure(program, lab, count, window, trials, folder):
    watch = Watch(program, lab, count, folder)
    # Every host connected: its connection's listing command runs.
    deadline = time.monotonic() + 60
    while time.monotonic() < deadline and len(lab.listing_commands()) < count:
        time.sleep(0.2)
    connected = len(lab.listing_commands())
    watch.lines(4)  # the first lists
    local0, remote0, t0 = watch.ticks(), lab.ticks(), time.monotonic()
    watch.lines(window)
    local1, remote1, t1 = watch.ticks(), lab.ticks(), time.monotonic()
    cycles = (t1 - t0) / CYCLE_S
    result = {
        "hosts": count,
        "connected": connected,
        "program_ms_per_cycle": (local1[0] - local0[0]) * 1000 / cycles,
        "ssh_ms_per_cycle": (local1[1] - local0[1]) * 1000 / cycles,
        "local_ms_per_cycle": (sum(local1) - sum(local0)) * 1000 / cycles,
        "remote_ms_per_cycle_per_host":
            (remote1 - remote0) * 1000 / cycles / count if count else 0.0,
        "listing_commands": len(lab.listing_commands()),
    }
    (rss, pss), (ssh_rss, ssh_pss), ssh_count = watch.memory()
    result.update(rss_kib=rss, pss_kib=pss, ssh_processes=ssh_count, ssh_rss_kib=ssh_rss,
                  ssh_pss_kib=ssh_pss)
    delays = []
    for _ in range(trials if count else 0):
        node = Node()
        seen = {}
        for at, line in watch.lines(10):
            words = line.split()
            if words[:1] == ["started"] and words[1].endswith(f":{node.port}"):
                seen.setdefault(words[1], at - node.started)
            if len(seen) == count:
                break
        delays.extend(seen.values())
        node.stop()
        watch.lines(5)  # its stops
    if delays:
        delays.sort()
        result.update(row_mean_s=sum(delays) / len(delays), row_max_s=delays[-1],
                      rows=len(delays))
    watch.stop()
    # Its connections' remote ends gone before the next count starts.
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and lab.listing_commands():
        time.sleep(0.2)
    return result


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=None)
    parser.add_argument("--hosts", type=int, default=10)
    parser.add_argument("--window", type=float, default=60)
    parser.add_argument("--trials", type=int, default=5)
    arguments = parser.parse_args()
    program = arguments.program
    if not program:
        for build in ("bench", "dev", "test", ""):
            candidate = os.path.join(here, "..", "build", build, "src", "app", "harborwatch")
            if os.access(candidate, os.X_OK):
                program = os.path.abspath(candidate)
                break
    if not program:
        sys.exit("no harborwatch built: give --program")
    if os.geteuid() == 0 and not os.environ.get("HW_BENCH_NETNS"):
        os.execvpe("unshare", ["unshare", "-n", sys.executable] + sys.argv,
                   dict(os.environ, HW_BENCH_NETNS="1"))
    if os.geteuid() == 0:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    with tempfile.TemporaryDirectory(prefix="hw-hosts-", dir="/tmp") as folder:
        lab = Lab(folder, arguments.hosts)
        try:
            rows = []
            for count in sorted({0, 1, arguments.hosts}):
                run = f"{folder}/run-{count}"
                os.makedirs(run)
                rows.append(measure(program, lab, count, arguments.window, arguments.trials,
                                    run))
                print(json.dumps(rows[-1]), flush=True)
        finally:
            lab.stop()
    base = rows[0]["local_ms_per_cycle"]
    print(f"\n{'hosts':>5} {'local ms/cycle':>14} {'(program':>8} {'ssh)':>6} {'per host':>8}"
          f" {'remote ms/cycle/host':>20} {'RSS MiB':>7} {'ssh PSS MiB':>11}"
          f" {'start to row s':>14}")
    for row in rows:
        per_host = (row["local_ms_per_cycle"] - base) / row["hosts"] if row["hosts"] else 0
        delay = (f"{row['row_mean_s']:.1f} / {row['row_max_s']:.1f}"
                 if "row_mean_s" in row else "-")
        print(f"{row['hosts']:>5} {row['local_ms_per_cycle']:>14.2f}"
              f" {row['program_ms_per_cycle']:>8.2f} {row['ssh_ms_per_cycle']:>6.2f}"
              f" {per_host:>8.2f} {row['remote_ms_per_cycle_per_host']:>20.2f}"
              f" {row['rss_kib'] / 1024:>7.1f} {row['ssh_pss_kib'] / 1024:>11.1f}"
              f" {delay:>14}")
    print("(start to row: mean / max seconds over every host and trial)")


if __name__ == "__main__":
    main()
