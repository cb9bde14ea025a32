"""A throw-away desktop session for running the real harborwatch binary.

One `Session` gives: a private network namespace when the kernel allows one
(so that only the test's own listeners are seen, whatever else runs on the
machine), an Xvfb display or GNOME's compositor (mutter, headless, with
Xwayland), a private D-Bus session bus with a fake panel and notification
daemon (fake_desktop.py) on it, fresh HOME and XDG directories, and helpers
that read and click the tray menu over com.canonical.dbusmenu the way a panel
does. Every process it starts is stopped by pid when the session
closes, whether the scenario passed, failed or timed out.
"""

import ctypes
import errno
import fcntl
import glob
import json
import os
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SYSTEM_PYTHON = "/usr/bin/python3"

_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1
_PR_SET_CHILD_SUBREAPER = 36
_CLONE_NEWUSER = 0x10000000
_CLONE_NEWNET = 0x40000000


class Failure(Exception):
    """A scenario's expectation that did not hold."""


class Skip(Exception):
    """The machine lacks what a scenario needs; the message says what."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(actual, expected, what):
    if actual != expected:
        raise Failure(f"{what}:\n  expected {expected!r}\n  actual   {actual!r}")


# ---------------------------------------------------------------------------
# Process isolation, done before any thread exists (unshare needs that).

def _bring_loopback_up():
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH", fcntl.ioctl(sock, 0x8913, request)[:18])[1]  # SIOCGIFFLAGS
        fcntl.ioctl(sock, 0x8914, struct.pack("16sH14x", b"lo", flags | 0x1))  # SIOCSIFFLAGS, IFF_UP
    finally:
        sock.close()


def isolate_network():
    """Moves this process (and so all it starts) into a network namespace of its
    own. Returns how ("network namespace", "user and network namespace") or
    None when the kernel refuses both, in which case the machine's other
    listeners are visible to the program under test."""
    if _libc.unshare(_CLONE_NEWNET) == 0:
        how = "network namespace"
    else:
        uid, gid = os.getuid(), os.getgid()
        if _libc.unshare(_CLONE_NEWUSER | _CLONE_NEWNET) != 0:
            return None
        # Keep the same ids inside, so the program runs as the same user.
        with open("/proc/self/setgroups", "w") as f:
            f.write("deny")
        with open("/proc/self/uid_map", "w") as f:
            f.write(f"{uid} {uid} 1")
        with open("/proc/self/gid_map", "w") as f:
            f.write(f"{gid} {gid} 1")
        how = "user and network namespace"
    try:
        _bring_loopback_up()
    except OSError:
        pass  # binding 127.0.0.1 works on a down loopback as well
    return how


def become_subreaper():
    """Orphans of anything we start (a lister left by a dying program, say)
    become our children, so that we can find and stop them."""
    _libc.prctl(_PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


def _die_with_parent():
    # Runs in the child between fork and exec: if the harness is killed (a
    # ctest timeout), the child is killed too.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def children_of(pid):
    """Pids whose parent is `pid`."""
    result = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
        except OSError:
            continue
        fields = stat[stat.rfind(")") + 2:].split()
        if fields[0] != "Z" and int(fields[1]) == pid:
            result.append(int(entry))
    return result


def process_name(pid):
    try:
        with open(f"/proc/{pid}/comm") as f:
            return f.read().strip()
    except OSError:
        return None


def descendants_of(pid):
    result = []
    todo = [pid]
    while todo:
        kids = children_of(todo.pop())
        result.extend(kids)
        todo.extend(kids)
    return result


# ---------------------------------------------------------------------------

def wait_until(condition, timeout, what, pump=None, interval=0.02):
    """Polls `condition` until it returns something true, at most `timeout`
    seconds; returns that value or raises Failure naming `what`."""
    deadline = time.monotonic() + timeout
    while True:
        if pump:
            pump()
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Failure(f"timed out after {timeout:g} s waiting for {what}")
        time.sleep(interval)


def wait_for_reading(read, predicate, timeout, what, pump, describe=repr):
    """Reads with `read` until `predicate` holds for the reading, at most
    `timeout` seconds; returns that reading. A timeout names `what` and shows
    the last reading through `describe`."""
    last = []

    def probe():
        last[:] = [read()]
        return predicate(last[0])
    try:
        wait_until(probe, timeout, what, pump=pump, interval=0.05)
    except Failure as e:
        raise Failure(f"{e}; {describe(last[0]) if last else 'nothing read'}") from None
    return last[0]


def decode_dbusmenu_label(label):
    """The text a panel shows for a dbusmenu label: "_x" marks a mnemonic and
    "__" is a literal underscore."""
    out = []
    i = 0
    while i < len(label):
        c = label[i]
        if c == "_":
            if i + 1 < len(label) and label[i + 1] == "_":
                out.append("_")
                i += 2
                continue
            i += 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


class MenuItem:
    def __init__(self, item_id, props, children):
        self.id = int(item_id)
        self.raw_label = str(props.get("label", ""))
        self.label = decode_dbusmenu_label(self.raw_label)
        self.type = str(props.get("type", "standard"))
        self.enabled = bool(props.get("enabled", True))
        self.visible = bool(props.get("visible", True))
        self.children_display = str(props.get("children-display", ""))
        self.shortcut = [[str(k) for k in combo] for combo in props.get("shortcut", [])]
        self.children = children

    def visible_children(self):
        return [c for c in self.children if c.visible]

    def is_submenu(self):
        return self.children_display == "submenu" or bool(self.children)

    def render(self):
        """The menu as a nested list of plain texts: "---" for a separator,
        "(disabled) " before an inert line, (title, [...]) for a submenu."""
        out = []
        for c in self.visible_children():
            prefix = "" if c.enabled else "(disabled) "
            if c.type == "separator":
                out.append("---")
            elif c.is_submenu():
                out.append((prefix + c.label, c.render()))
            else:
                out.append(prefix + c.label)
        return out

    def find(self, *labels):
        node = self
        for label in labels:
            matches = [c for c in node.visible_children() if c.type != "separator" and c.label == label]
            if len(matches) != 1:
                raise Failure(f"menu has {len(matches)} items labelled {label!r} under "
                              f"{node.label or 'the top level'!r}: {node.render()!r}")
            node = matches[0]
        return node


def _to_item(struct_value):
    item_id, props, children = struct_value
    return MenuItem(item_id, props, [_to_item(c) for c in children])


class TrayMenu:
    """The program's tray item as a panel sees it."""

    SETTLE = 0.3  # a layout is read once no update came for this long

    def __init__(self, session, service, item_path):
        import dbus
        self._dbus = dbus
        self.session = session
        self.service = service
        item = session.bus.get_object(service, item_path, introspect=False)
        props = dbus.Interface(item, "org.freedesktop.DBus.Properties")
        self.menu_path = str(props.Get("org.kde.StatusNotifierItem", "Menu"))
        self.item_properties = props
        self.last_update = time.monotonic()
        self.updates = 0
        for name in ("LayoutUpdated", "ItemsPropertiesUpdated"):
            session.bus.add_signal_receiver(self._on_update, signal_name=name,
                                            dbus_interface="com.canonical.dbusmenu",
                                            bus_name=service, path=self.menu_path)
        self.menu = dbus.Interface(session.bus.get_object(service, self.menu_path, introspect=False),
                                   "com.canonical.dbusmenu")

    def _on_update(self, *args):
        self.last_update = time.monotonic()
        self.updates += 1

    def settle(self, timeout=5.0):
        wait_until(lambda: time.monotonic() - self.last_update >= self.SETTLE, timeout,
                   "the menu layout to settle", pump=self.session.pump)

    def layout(self):
        self.settle()
        revision, root = self.menu.GetLayout(0, -1, self._dbus.Array([], signature="s"), timeout=10)
        return _to_item(root)

    def render(self):
        return self.layout().render()

    def wait_for(self, predicate, timeout, what):
        """Waits until predicate(rendered menu) holds; returns the rendered menu."""
        return wait_for_reading(self.render, predicate, timeout, what, self.session.pump,
                                lambda menu: f"last menu: {menu!r}")

    def click(self, *labels):
        """Triggers the item reached through `labels` as a panel does;
        returns the time of the click."""
        item = self.layout().find(*labels)
        check(item.enabled, f"menu item {labels!r} is disabled")
        return self.trigger(item)

    def trigger(self, item):
        dbus = self._dbus
        self.menu.Event(dbus.Int32(item.id), "clicked", dbus.Int32(0, variant_level=1),
                        dbus.UInt32(int(time.time()) & 0xFFFFFFFF), timeout=10)
        return time.monotonic()


class Session:
    def __init__(self, name, harborwatch, listener, artifacts):
        self.name = name
        self.harborwatch = harborwatch
        self.listener_path = listener
        self.artifacts = artifacts
        os.makedirs(artifacts, exist_ok=True)
        self.tmp = tempfile.mkdtemp(prefix=f"hw-e2e-{name}-")
        self.home = os.path.join(self.tmp, "home")
        self.config = os.path.join(self.tmp, "config")
        self.runtime = os.path.join(self.tmp, "runtime")
        self.bindir = os.path.join(self.tmp, "bin")
        self.opened_log = os.path.join(self.tmp, "opened-urls")
        self.opener_env = os.path.join(self.tmp, "opener-environment")
        for d in (self.home, self.config, self.runtime, self.bindir):
            os.makedirs(d, mode=0o700)
        # The stand-in servers take connections and say nothing: the looks at
        # what answers (tested on their own) would name every row "(not
        # answering)". A scenario that wants them says "probe": true.
        self.write_settings({})
        self._write_fake_browser()
        self.started = []  # (description, Popen), in start order
        self.bus = None
        self.display = None
        self.bus_address = None
        self.wayland_display = None  # set when the desktop is mutter
        self.xauthority = None
        self._remote_desktop = None

    # -- processes ---------------------------------------------------------

    def spawn(self, description, argv, env=None, **kwargs):
        kwargs.setdefault("stdin", subprocess.DEVNULL)
        proc = subprocess.Popen(argv, env=env, preexec_fn=_die_with_parent, **kwargs)
        self.started.append((description, proc))
        return proc

    def stop(self, proc, timeout=5.0):
        """SIGTERM, then SIGKILL after `timeout`; returns the exit status."""
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        return proc.returncode

    def close(self):
        if self.bus is not None:
            try:
                self.bus.close()
            except Exception:
                pass
        for description, proc in reversed(self.started):
            self.stop(proc, timeout=3.0)
            for stream in (proc.stdout, proc.stderr):
                if stream:
                    stream.close()
        # Whatever those left behind (detached helpers, orphaned listers) was
        # handed to us as subreaper: stop it by pid too.
        for _ in range(3):
            leftovers = descendants_of(os.getpid())
            if not leftovers:
                break
            for pid in leftovers:
                try:
                    os.kill(pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
            for pid in leftovers:
                try:
                    os.waitpid(pid, 0)
                except ChildProcessError:
                    pass
        shutil.rmtree(self.tmp, ignore_errors=True)

    # -- the desktop -------------------------------------------------------

    def start_desktop(self, with_watcher=True, compositor="xvfb"):
        """Starts the display server, the bus and the fake desktop on it.
        compositor="mutter" gives a GNOME Wayland session instead of Xvfb:
        mutter, the fake panel and the program share the one private bus."""
        if compositor == "mutter":
            for tool in ("mutter", "Xwayland", "wl-copy", "wl-paste"):
                if not shutil.which(tool):
                    raise Skip(f"{tool} is not installed (scripts/deps.sh installs it)")
            self._start_bus()
            self._start_mutter()
        else:
            self._start_xvfb()
            self._start_bus()
        argv = [SYSTEM_PYTHON, os.path.join(HERE, "fake_desktop.py")]
        if not with_watcher:
            argv.append("--no-watcher")
        env = dict(self.base_env())
        desktop = self.spawn("fake desktop", argv, env=env, stdout=subprocess.PIPE, text=True,
                             stderr=open(self.artifact(f"{self.name}-desktop.log"), "w"))
        line = self._read_line(desktop.stdout, 10, "the fake desktop to own its bus names")
        check(line.strip() == "ready", f"fake desktop said {line!r}")
        self._connect()
        if compositor == "mutter":
            self._give_the_seat_a_keyboard()

    # -- GNOME's compositor ----------------------------------------------------

    MUTTER_START_LIMIT = 30  # seconds; it opens its displays in 1 to 5 s here

    def _start_mutter(self):
        """mutter --wayland --headless with a virtual monitor and Xwayland, on
        the session's bus, its sockets in the fresh 0700 runtime folder. Raises
        Skip where it cannot start."""
        name = "hw-wayland"
        socket_path = os.path.join(self.runtime, name)
        log = self.artifact(f"{self.name}-mutter.log")
        env = self.base_env()
        for key in ("DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY"):
            env.pop(key, None)
        env["GSETTINGS_BACKEND"] = "memory"
        argv = [shutil.which("mutter"), "--wayland", "--headless", "--virtual-monitor", "1280x800",
                "--wayland-display", name]
        with open(log, "w") as output:
            mutter = self.spawn("mutter", argv, env=env, stdout=output, stderr=subprocess.STDOUT)

        def displays():
            with open(log, errors="replace") as f:
                text = f.read()
            if mutter.poll() is not None:
                last = text.strip().splitlines()[-1] if text.strip() else "no output"
                raise Skip(f"mutter cannot start here (exit status {mutter.returncode}: {last}); see {log}")
            found = re.search(r"Using public X11 display (:\d+)", text)
            auth = glob.glob(os.path.join(self.runtime, ".mutter-Xwaylandauth.*"))
            return found and auth and os.path.exists(socket_path) and (found.group(1), auth[0])
        try:
            self.display, self.xauthority = wait_until(displays, self.MUTTER_START_LIMIT,
                                                       "mutter to open its displays", interval=0.1)
        except Failure as e:
            raise Skip(f"mutter cannot start here: {e}; see {log}") from None
        self.wayland_display = name

    def _give_the_seat_a_keyboard(self):
        """The headless seat has no keyboard, and without one mutter lets no
        client own the clipboard. A remote-desktop session that has sent one
        key event gives it one, for as long as our bus connection lives."""
        service = "org.gnome.Mutter.RemoteDesktop"
        try:
            wait_until(lambda: self.bus_daemon.NameHasOwner(service), 10, f"mutter to own {service}",
                       pump=self.pump)
        except Failure as e:
            raise Skip(f"mutter offers no remote-desktop session, so its seat has no keyboard: {e}") from None
        remote = self.dbus.Interface(self.bus.get_object(service, "/org/gnome/Mutter/RemoteDesktop",
                                                         introspect=False), service)
        path = remote.CreateSession(timeout=10)
        session = self.dbus.Interface(self.bus.get_object(service, path, introspect=False),
                                      service + ".Session")
        session.Start(timeout=10)
        for pressed in (True, False):  # left Shift: types nothing
            session.NotifyKeyboardKeycode(self.dbus.UInt32(42), pressed, timeout=10)
        self._remote_desktop = session

    def hold_clipboard(self, text, attempts=5):
        """Puts `text` on the Wayland clipboard as a client of the session does,
        and checks that wl-paste reads it back; wl-copy keeps offering it until
        stopped or replaced. wl-copy sets the clipboard once its surface has
        keyboard focus, which a wl-paste started meanwhile takes away, so it
        is given a moment first and started again when that was not enough."""
        for attempt in range(attempts):
            copier = self.spawn("wl-copy", ["wl-copy", "--foreground", text], env=self.base_env(),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.hold_still(0.5 * (attempt + 1))
            if self.wayland_clipboard() == text:
                return copier
            self.stop(copier)
        raise Failure(f"wl-paste did not read {text!r} back from wl-copy in {attempts} attempts: "
                      "the harness cannot use the clipboard of this session")

    def wayland_clipboard(self):
        """The Wayland clipboard's text, or None when it is empty."""
        result = subprocess.run(["wl-paste", "-n"], env=self.base_env(), capture_output=True, text=True,
                                timeout=10)
        return result.stdout if result.returncode == 0 else None

    def x_clipboard(self):
        """The X clipboard's text, or None when it is empty."""
        result = self.x("xclip", "-o", "-selection", "clipboard", check_status=False)
        return result.stdout if result.returncode == 0 else None

    def _start_xvfb(self, attempts=3):
        # Xvfb servers starting side by side (parallel scenarios) now and then
        # fail to compile their keymap and give up; another start succeeds.
        for attempt in range(1, attempts + 1):
            read_end, write_end = os.pipe()
            log = self.artifact(f"{self.name}-xvfb.log")
            xvfb = self.spawn("Xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                                       "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                              stderr=open(log, "a"))
            os.close(write_end)
            with os.fdopen(read_end) as pipe:
                number = self._read_line(pipe, 15, "Xvfb to open a display").strip()
            if number.isdigit():
                self.display = f":{number}"
                return
            self.stop(xvfb)
            print(f"  Xvfb gave no display number (attempt {attempt} of {attempts}); see {log}")
        raise Failure(f"Xvfb did not give a display number in {attempts} attempts")

    def _start_bus(self):
        socket_path = os.path.join(self.tmp, "bus")
        config = os.path.join(self.tmp, "bus.conf")
        # No service directories: nothing gets activated behind the test's back.
        with open(config, "w") as f:
            f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket_path}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
""")
        daemon = self.spawn("dbus-daemon", ["dbus-daemon", "--nofork", "--nosyslog", f"--config-file={config}",
                                            "--print-address=1"],
                            stdout=subprocess.PIPE, text=True, stderr=subprocess.DEVNULL)
        self.bus_address = self._read_line(daemon.stdout, 10, "dbus-daemon to listen").strip()
        check(self.bus_address.startswith("unix:"), f"dbus-daemon printed {self.bus_address!r}")

    def _connect(self):
        import dbus
        import dbus.bus
        from dbus.mainloop.glib import DBusGMainLoop
        from gi.repository import GLib
        self._context = GLib.MainContext.default()
        self.bus = dbus.bus.BusConnection(self.bus_address, mainloop=DBusGMainLoop())
        self.dbus = dbus
        self.bus_daemon = dbus.Interface(self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus"),
                                         "org.freedesktop.DBus")
        self.recorder = dbus.Interface(
            self.bus.get_object("io.harborwatch.TestDesktop", "/io/harborwatch/TestDesktop", introspect=False),
            "io.harborwatch.TestDesktop")

    def pump(self):
        while self._context.pending():
            self._context.iteration(False)

    @staticmethod
    def _read_line(stream, timeout, what):
        ready, _, _ = select.select([stream], [], [], timeout)
        if not ready:
            raise Failure(f"timed out after {timeout} s waiting for {what}")
        return stream.readline()

    def _write_fake_browser(self):
        # The program hands URLs to xdg-open; this one only writes them down,
        # and the environment it was given.
        path = os.path.join(self.bindir, "xdg-open")
        with open(path, "w") as f:
            f.write(f'#!/bin/sh\nenv > "{self.opener_env}"\nprintf "%s\\n" "$*" >> "{self.opened_log}"\n')
        os.chmod(path, 0o755)

    def opened_urls(self):
        try:
            with open(self.opened_log) as f:
                return f.read().splitlines()
        except FileNotFoundError:
            return []

    def opener_environment(self):
        """The environment of the last xdg-open the program started."""
        with open(self.opener_env) as f:
            return dict(line.split("=", 1) for line in f.read().splitlines() if "=" in line)

    def artifact(self, filename):
        return os.path.join(self.artifacts, filename)

    def base_env(self):
        env = {
            "PATH": self.bindir + ":/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin",
            "HOME": self.home,
            "XDG_CONFIG_HOME": self.config,
            "XDG_RUNTIME_DIR": self.runtime,
            "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
            "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
            "LANG": "C.UTF-8",
            "QT_QPA_PLATFORM": "xcb",
        }
        if self.display:
            env["DISPLAY"] = self.display
        if self.wayland_display:
            # As a GNOME Wayland session starts a program: no platform chosen.
            del env["QT_QPA_PLATFORM"]
            env.update({"WAYLAND_DISPLAY": self.wayland_display, "XAUTHORITY": self.xauthority,
                        "XDG_SESSION_TYPE": "wayland", "XDG_CURRENT_DESKTOP": "GNOME"})
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        for key in ("ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"):
            if key in os.environ:
                env[key] = os.environ[key]
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"),
                                                     f"suppressions={os.path.join(HERE, 'asan.supp')}"]))
        env.setdefault("LSAN_OPTIONS", f"suppressions={os.path.join(HERE, '..', 'lsan.supp')}:print_suppressions=0")
        env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1")
        return env

    # -- settings ------------------------------------------------------------

    def write_settings(self, values):
        values = dict(values)
        values.setdefault("probe", False)
        directory = os.path.join(self.config, "harborwatch")
        os.makedirs(directory, exist_ok=True)
        with open(os.path.join(directory, "settings.json"), "w") as f:
            json.dump(values, f)

    # -- listeners -----------------------------------------------------------

    def start_listener(self, name, ports, extra=(), cwd=None):
        """Starts hw-listener NAME PORTS EXTRA... in `cwd` and returns (process, port)."""
        proc = self.spawn(f"listener {name}", [self.listener_path, name, ports, *extra], stdout=subprocess.PIPE,
                          text=True, stderr=subprocess.DEVNULL, cwd=cwd)
        line = self._read_line(proc.stdout, 10, f"listener {name!r} to listen")
        check(line.strip().isdigit(), f"listener {name!r} printed {line!r} (exit {proc.poll()})")
        return proc, int(line)

    # -- the program ---------------------------------------------------------

    def start_program(self, label="harborwatch", extra_env=None):
        log_path = self.artifact(f"{self.name}-{label}.log")
        env = dict(self.base_env(), **(extra_env or {}))
        proc = self.spawn(label, [self.harborwatch], env=env, stdout=subprocess.DEVNULL,
                          stderr=open(log_path, "w"))
        proc.log_path = log_path
        return proc

    def program_log(self, proc):
        with open(proc.log_path, errors="replace") as f:
            return f.read()

    def check_clean_log(self, proc):
        log = self.program_log(proc)
        for marker in ("ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"):
            at = log.find(marker)
            check(at < 0, f"{marker!r} in {proc.log_path}:\n{log[max(0, at - 200):at + 3000]}")

    def leftovers(self):
        """Processes below this harness that it did not start itself: what
        the programs it ran left behind (orphans are handed to us)."""
        ours = {proc.pid for _, proc in self.started}
        return [(pid, process_name(pid)) for pid in descendants_of(os.getpid()) if pid not in ours]

    def stop_program(self, proc):
        """SIGTERM must end the program cleanly: exit status 0, no sanitizer report."""
        status = self.stop(proc, timeout=10.0)
        left = [(pid, name) for pid, name in self.leftovers() if name in ("lsof", "kill")]
        check(not left, f"harborwatch left {left!r} running after SIGTERM")
        self.check_clean_log(proc)
        check_equal(status, 0, f"exit status of harborwatch after SIGTERM (log {proc.log_path})")

    def connection_pid(self, name):
        try:
            return int(self.bus_daemon.GetConnectionUnixProcessID(name))
        except self.dbus.DBusException:
            return None

    def registered_items(self):
        watcher = self.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                      introspect=False)
        items = watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                            dbus_interface="org.freedesktop.DBus.Properties")
        return [str(i) for i in items]

    def tray_menu(self, proc, timeout=30.0):
        """Waits until `proc` has registered its tray item, then returns it."""
        def find():
            check(proc.poll() is None,
                  f"harborwatch exited with {proc.returncode}:\n{self.program_log(proc)[-3000:]}")
            for entry in self.registered_items():
                service, _, path = entry.partition("/")
                if self.connection_pid(service) == proc.pid:
                    return service, "/" + path
            return None
        service, path = wait_until(find, timeout, "harborwatch to register its tray item", pump=self.pump,
                                   interval=0.05)
        return TrayMenu(self, service, path)

    def notifications(self):
        return json.loads(str(self.recorder.Notifications()))

    def registrations(self):
        return json.loads(str(self.recorder.Registrations()))

    def wait_for_notifications(self, predicate, timeout, what):
        return wait_for_reading(
            self.notifications, predicate, timeout, what, self.pump,
            lambda seen: f"notifications so far: {[(n['summary'], n['body']) for n in seen]!r}")

    # -- X -------------------------------------------------------------------

    def x(self, *argv, timeout=10.0, check_status=True):
        result = subprocess.run(list(argv), env=self.base_env(), capture_output=True, text=True,
                                timeout=timeout)
        if check_status and result.returncode != 0:
            raise Failure(f"{' '.join(argv)} failed ({result.returncode}): {result.stderr.strip()}")
        return result

    def screenshot(self, filename, window="root"):
        path = self.artifact(filename)
        self.x("import", "-window", str(window), path, timeout=20.0)
        return path

    def pixels(self, window):
        """The window's (or "root"'s) pixels as raw bytes, for comparing pictures."""
        result = subprocess.run(["import", "-window", str(window), "-depth", "8", "rgb:-"], env=self.base_env(),
                                capture_output=True, timeout=20)
        if result.returncode != 0:
            raise Failure(f"import -window {window} failed: {result.stderr.decode(errors='replace').strip()}")
        return result.stdout

    def steady_pixels(self, window, previous=None, timeout=5.0):
        """Waits until the window's picture differs from `previous` and then
        holds still for a moment (a repaint has landed); returns it."""
        pixels = wait_until(lambda: (lambda p: p if p != previous else None)(self.pixels(window)), timeout,
                            "the window to be redrawn", pump=self.pump, interval=0.1)
        for _ in range(20):
            self.hold_still(0.15)
            again = self.pixels(window)
            if again == pixels:
                break
            pixels = again
        return pixels

    def capture_tabs(self, window, pattern):
        """Saves the settings window on each of its four tabs to
        pattern.format(tab=...), switching with Ctrl+Tab; each picture must
        differ from the one before, or the tab did not change."""
        self.x("xdotool", "windowraise", str(window))
        self.x("xdotool", "windowfocus", str(window))
        previous = None
        for index, tab in enumerate(("ports", "processes", "hosts", "about")):
            if index > 0:
                self.x("xdotool", "key", "--clearmodifiers", "ctrl+Tab")
            try:
                previous = self.steady_pixels(window, previous)
            except Failure:
                raise Failure(f"Ctrl+Tab did not bring the {tab} tab into view") from None
            self.x("import", "-window", str(window), pattern.format(tab=tab), timeout=20)

    def hold_still(self, seconds):
        """Lets everything run for `seconds` (to show that nothing more happens)."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.pump()
            time.sleep(0.05)

    def windows_named(self, name):
        result = self.x("xdotool", "search", "--onlyvisible", "--name", name, check_status=False)
        return [int(w) for w in result.stdout.split()]
