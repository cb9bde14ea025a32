"""Days of use in minutes: the running tray program stays flat.

    /usr/bin/python3 soak.py --harborwatch BIN --listener BIN [--servers 10000] [--burst 20]
                             [--quick] [--artifacts DIR] [--wrap 'heaptrack -o FILE']

In a session of its own (the end-to-end suite's: a private network namespace
where the kernel allows one, Xvfb, a private bus with a fake panel and
notification daemon, private HOME and XDG folders) it runs the real program
with a container engine and a remote host configured, and then, round after
round:

  - a burst of servers ("node", allowed) starts, is listed, and stops again,
    while another burst's servers keep running across rounds;
  - every few rounds the container engine (stand_in_engine.py, Docker's API
    on the unix socket at $DOCKER_HOST) comes or goes, and its containers
    restart;
  - every few rounds the remote host (a local sshd on a loopback port, as
    tests/sources/ssh/real_sshd_test.cpp runs it) comes or goes; where no
    sshd can run, the host stays out of reach.

until --servers servers have started and stopped. Its RSS, open descriptors,
threads and children are sampled every 10 s (ARTIFACTS/soak-samples.csv; its
memory map at both ends in soak-smaps-*.txt) and
compared between the end of the warm-up (one round of everything) and the
end, both taken with every server stopped and the engine and the host gone:
RSS growth must stay under 1 MB (not asserted for a sanitized program, whose
allocator holds freed memory back on purpose), descriptors and threads must
be the same, and no child may be left. Exit status 0, 77 when the machine
lacks what the session needs, 1 when the program did not stay flat.

--quick (for CTest) is a short run of a few hundred servers.
"""

import argparse
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import e2e_session  # noqa: E402  (the namespace comes before any thread)
from e2e_session import Failure, Skip, check, wait_until  # noqa: E402

SKIPPED = 77
ENGINE_CONTAINERS = 3
ENGINE_FIRST_PORT = 8100


def status_field(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def figures(pid):
    return {
        "rss_kb": status_field(pid, "VmRSS"),
        "fds": len(os.listdir(f"/proc/{pid}/fd")),
        "threads": status_field(pid, "Threads"),
        "children": [(p, e2e_session.process_name(p)) for p in e2e_session.descendants_of(pid)],
    }


def sanitized(pid):
    with open(f"/proc/{pid}/maps") as f:
        return "libasan" in f.read()


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


class Host:
    """A local sshd the program's host entry reaches, started and stopped at will."""

    def __init__(self, session):
        self.session = session
        self.proc = None
        self.dir = os.path.join(session.tmp, "ssh")
        self.port = free_port()
        self.usable = bool(shutil.which("ssh") and shutil.which("ssh-keygen") and os.path.exists("/usr/sbin/sshd"))
        if not self.usable:
            return
        os.makedirs(self.dir, mode=0o700)
        for key in ("host_key", "id"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(self.dir, key)],
                           check=True)
        shutil.copy(os.path.join(self.dir, "id.pub"), os.path.join(self.dir, "authorized_keys"))
        with open(os.path.join(self.dir, "sshd_config"), "w") as f:
            f.write(f"Port {self.port}\nListenAddress 127.0.0.1\nHostKey {self.dir}/host_key\n"
                    f"AuthorizedKeysFile {self.dir}/authorized_keys\nPidFile none\nUsePAM no\n"
                    "StrictModes no\nPasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                    "PermitRootLogin prohibit-password\nAllowTcpForwarding yes\n")
        self.config = os.path.join(self.dir, "ssh_config")
        with open(self.config, "w") as f:
            f.write(f"Host *\n  IdentityFile {self.dir}/id\n  IdentitiesOnly yes\n"
                    f"  UserKnownHostsFile {self.dir}/known_hosts\n  StrictHostKeyChecking accept-new\n")
        if os.geteuid() == 0:
            os.makedirs("/run/sshd", exist_ok=True)  # sshd's privilege separation folder

    def destination(self):
        user = "root" if os.geteuid() == 0 else os.environ.get("USER", "")
        return f"ssh://{user}@127.0.0.1:{self.port}"

    def up(self):
        if not self.usable or self.proc:
            return
        self.proc = self.session.spawn("sshd", ["/usr/sbin/sshd", "-D", "-e", "-f",
                                                os.path.join(self.dir, "sshd_config")],
                                       stdout=subprocess.DEVNULL,
                                       stderr=open(os.path.join(self.dir, "sshd.log"), "a"))

        def listening():
            with socket.socket() as s:
                return s.connect_ex(("127.0.0.1", self.port)) == 0
        try:
            wait_until(listening, 10, "sshd to listen", interval=0.05)
        except Failure:
            self.usable = False
            self.down()

    def down(self):
        """As a host that crashes: the listener and the sessions it forked."""
        if not self.proc:
            return
        sessions = e2e_session.descendants_of(self.proc.pid)
        self.session.stop(self.proc, timeout=3)
        for pid in sessions:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        self.proc = None


class Engine:
    def __init__(self, session):
        self.session = session
        self.path = os.path.join(session.runtime, "engine.sock")
        self.proc = None

    def up(self):
        if self.proc:
            return
        self.proc = self.session.spawn(
            "engine", [e2e_session.SYSTEM_PYTHON, os.path.join(HERE, "stand_in_engine.py"), self.path,
                       str(ENGINE_CONTAINERS), str(ENGINE_FIRST_PORT)],
            stdout=subprocess.PIPE, text=True)
        line = self.session._read_line(self.proc.stdout, 10, "the stand-in engine to listen")
        check(line.strip() == "ready", f"the stand-in engine said {line!r}")

    def restart_containers(self):
        if self.proc:
            self.proc.send_signal(signal.SIGUSR1)

    def down(self):
        if self.proc:
            self.session.stop(self.proc, timeout=3)
            self.proc.stdout.close()
            self.proc = None


class Servers:
    def __init__(self, session):
        self.session = session
        self.started = 0
        self.running = []

    def start(self, count):
        procs = [subprocess.Popen([self.session.listener_path, "node", "3000-7999"], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, text=True,
                                  preexec_fn=e2e_session._die_with_parent)
                 for _ in range(count)]
        for proc in procs:
            line = self.session._read_line(proc.stdout, 10, "a server to listen")
            check(line.strip().isdigit(), f"a server printed {line!r}")
        self.started += count
        self.running.extend(procs)
        return procs

    def stop(self, procs):
        for proc in procs:
            proc.send_signal(signal.SIGTERM)
        for proc in procs:
            proc.wait(10)
            proc.stdout.close()
            self.running.remove(proc)

    def stop_all(self):
        self.stop(list(self.running))


def quiet_state(session, program, servers, engine, host, settle):
    """Every server stopped, the engine and the host gone; the program's figures
    once it has seen that and settled."""
    servers.stop_all()
    engine.down()
    host.down()
    session.hold_still(settle)
    # A reconnect attempt to the host that is gone may be under way: it ends
    # within moments.
    deadline = time.monotonic() + 10
    while figures(program.pid)["children"] and time.monotonic() < deadline:
        session.hold_still(0.2)
    return figures(program.pid)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--harborwatch", required=True)
    parser.add_argument("--listener", required=True)
    parser.add_argument("--artifacts", default=os.path.join(os.getcwd(), "soak-artifacts"))
    parser.add_argument("--servers", type=int, default=10000, help="servers to start and stop in all")
    parser.add_argument("--burst", type=int, default=20, help="servers that start and stop together")
    parser.add_argument("--round", type=float, default=2.5, help="seconds a burst runs")
    parser.add_argument("--settle", type=float, default=15, help="seconds before a measure")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--wrap", default="", help="a command put before the program (heaptrack, valgrind)")
    args = parser.parse_args()
    if args.quick:
        args.servers, args.burst, args.round, args.settle = 240, 12, 2.2, 8

    e2e_session.isolate_network()
    e2e_session.become_subreaper()
    session = e2e_session.Session("soak", args.harborwatch, args.listener, args.artifacts)
    try:
        session.start_desktop()
        host = Host(session)
        engine = Engine(session)
        servers = Servers(session)
        session.write_settings({"hosts": [host.destination()]})
        env = {"DOCKER_HOST": "unix://" + engine.path}
        if host.usable:
            env["HARBORWATCH_SSH_CONFIG"] = host.config
        if args.wrap:
            wrapper = os.path.join(session.tmp, "wrapped-harborwatch")
            with open(wrapper, "w") as f:
                f.write(f"#!/bin/sh\nexec {args.wrap} {args.harborwatch} \"$@\"\n")
            os.chmod(wrapper, 0o755)
            session.harborwatch = wrapper
        program = session.start_program(extra_env=env)
        session.tray_menu(program, timeout=120)

        samples = open(os.path.join(args.artifacts, "soak-samples.csv"), "w")
        samples.write("seconds,servers_started,rss_kb,fds,threads,children\n")
        start = time.monotonic()
        last_sample = [0.0]

        def sample(force=False):
            now = time.monotonic()
            if not force and now - last_sample[0] < 10:
                return
            last_sample[0] = now
            f = figures(program.pid)
            samples.write(f"{now - start:.0f},{servers.started},{f['rss_kb']},{f['fds']},{f['threads']},"
                          f"{len(f['children'])}\n")
            samples.flush()

        def round_of(number):
            """One round: a burst that comes and goes, the lasting burst
            renewed now and then, the engine and the host toggled."""
            if number % 3 == 0:
                engine.up() if engine.proc is None else engine.down()
            elif number % 3 == 1:
                engine.restart_containers()
            if number % 5 == 0:
                host.up() if host.proc is None else host.down()
            lasting = [p for p in servers.running]
            burst = servers.start(args.burst)
            session.hold_still(args.round)
            servers.stop(burst)
            if number % 4 == 0:
                servers.stop(lasting)
                servers.start(max(1, args.burst // 4))
            check(program.poll() is None, f"the program ended with status {program.returncode}")
            sample()

        # Warm-up: one round of everything, twice over.
        for number in range(15):
            round_of(number)
        warm = quiet_state(session, program, servers, engine, host, args.settle)
        shutil.copy(f"/proc/{program.pid}/smaps", os.path.join(args.artifacts, "soak-smaps-warm-up.txt"))
        warm_started = servers.started
        warm_time = time.monotonic()
        sample(force=True)

        number = 15
        while servers.started < args.servers:
            round_of(number)
            number += 1
        end = quiet_state(session, program, servers, engine, host, args.settle)
        shutil.copy(f"/proc/{program.pid}/smaps", os.path.join(args.artifacts, "soak-smaps-end.txt"))
        sample(force=True)
        minutes = (time.monotonic() - warm_time) / 60
        notes = session.notifications()
        sanitizer = sanitized(program.pid)
        session.stop_program(program)

        growth = end["rss_kb"] - warm["rss_kb"]
        print(f"{servers.started} servers started and stopped ({servers.started - warm_started} after the "
              f"warm-up, over {minutes:.1f} min), {number} rounds, {len(notes)} notifications; "
              f"host {'reachable when up' if host.usable else 'never reachable (no sshd here)'}")
        print(f"{'':>10} {'RSS':>10} {'descriptors':>12} {'threads':>8} {'children':>9}")
        for name, f in (("warm-up", warm), ("end", end)):
            print(f"{name:>10} {f['rss_kb'] / 1024:>7.2f} MB {f['fds']:>12} {f['threads']:>8} "
                  f"{len(f['children']):>9}")
        print(f"RSS growth {growth} kB ({growth / max(minutes, 1e-9):.1f} kB a minute)"
              + (" -- a sanitized program: RSS not judged" if sanitizer else ""))
        check(end["fds"] == warm["fds"], f"descriptors went from {warm['fds']} to {end['fds']}")
        check(end["threads"] == warm["threads"], f"threads went from {warm['threads']} to {end['threads']}")
        check(not end["children"], f"children left: {end['children']}")
        check(sanitizer or growth < 1024, f"RSS grew by {growth} kB")
    except Skip as e:
        print(f"SKIPPED: {e}")
        return SKIPPED
    except Failure as e:
        print(f"FAILED: {e}")
        return 1
    finally:
        session.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
