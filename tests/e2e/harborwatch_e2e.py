"""End-to-end scenarios for the harborwatch tray program.

    /usr/bin/python3 harborwatch_e2e.py --harborwatch BIN --listener BIN --artifacts DIR SCENARIO...

Each scenario starts its own session (see e2e_session.py), runs the real
program in it, talks to it only the way a desktop does (tray item and menu
over D-Bus, notifications, the clipboard, X windows) and asserts exact
texts. Screenshots and the program's logs go to DIR. The exit status is 0 when
every scenario passed, 77 when all were skipped (the machine lacks what they
need), 1 otherwise.
"""

import argparse
import glob
import os
import re
import signal
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_session  # noqa: E402  (imported before dbus: the namespace comes first)
from e2e_session import Failure, Skip, check, check_equal, wait_until  # noqa: E402

RANGE = "3000-9999"
SUBMENU = ["Open in Browser", "Copy URL", "Open Folder", "---", "Label…", "Use HTTPS", "Notify", "---",
           "Stop Server"]
COMMANDS = ["---", "Refresh", "Servers…", "Settings...", "---", "Quit"]
EMPTY_MENU = ["(disabled) No ports running"] + COMMANDS
POLL_PERIOD = 2.0  # the program rescans this often
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for these tests


def menu_with(*records, others=()):
    """The menu expected for (port, process) records, in port order, and the
    (port, process) listeners that are not allowed, with the servers' inert
    detail lines left out (see actions)."""
    servers = [(f"{port} - {name}", SUBMENU) for port, name in sorted(records)]
    hidden = [(f"{port} - {name}", [f"Show {name}"]) for port, name in sorted(others)]
    return servers + (["---", ("Other Listeners", hidden)] if hidden else []) + COMMANDS


def actions(menu):
    """The rendered menu without the inert lines (and the separator below them)
    that open each server's submenu: what it offers to do."""
    out = []
    for entry in menu:
        if isinstance(entry, tuple) and entry[0] != "Other Listeners":
            title, items = entry
            i = 0
            while i < len(items) and isinstance(items[i], str) and items[i].startswith("(disabled) "):
                i += 1
            if i and i < len(items) and items[i] == "---":
                i += 1
            entry = (title, items[i:])
        out.append(entry)
    return out


def started(notes):
    return sorted(n["body"] for n in notes if n["summary"] == "Port Started")


def stopped(notes):
    return sorted(n["body"] for n in notes if n["summary"] == "Port Stopped")


def check_notification_fields(notes):
    """Every request carries what a Linux notification daemon expects of it."""
    for n in notes:
        where = f"notification {n['summary']!r} {n['body']!r}"
        check_equal(n["app_name"], "Harborwatch", f"app_name of {where}")
        check_equal(n["replaces_id"], 0, f"replaces_id of {where}")
        check_equal(n["actions"], [], f"actions of {where}")
        check_equal(n["expire_timeout"], -1, f"expire_timeout of {where}")
        check_equal(n["hints"].get("desktop-entry"), "harborwatch", f"desktop-entry hint of {where}")
        check_equal(n["hints"].get("sound-name"), "message-new-instant", f"sound-name hint of {where}")
        check(n["summary"] in ("Port Started", "Port Stopped", "Ports Started", "Ports Stopped"),
              f"unexpected summary in {where}")
        # Run from the build tree, the icon theme has no "harborwatch" icon:
        # the image goes along with the notification.
        if not icon_installed():
            check("image-data" in n["hints"], f"no image-data hint in {where}")


def icon_installed():
    folders = os.environ.get("XDG_DATA_DIRS", "/usr/local/share:/usr/share").split(":")
    return any(glob.glob(os.path.join(f, "icons", "*", "*", "apps", "harborwatch.*")) for f in folders if f)


# ---------------------------------------------------------------------------
# Scenarios. Each takes a started desktop session.

def scenario_menu_and_notifications(s):
    """Two allowed listeners in range are listed and notified; a name that is
    not allowed and an allowed one outside the range are not."""
    shop = os.path.join(s.home, "src", "shop")
    os.makedirs(os.path.join(shop, "web"))
    open(os.path.join(shop, "package.json"), "w").close()
    node_proc, node = s.start_listener("node", RANGE, extra=["--port", "auto"], cwd=os.path.join(shop, "web"))
    _, python = s.start_listener("python3", RANGE)
    _, unlisted = s.start_listener("hw-unlisted", RANGE)
    s.start_listener("node", "10000-20000")
    program = s.start_program()
    menu = s.tray_menu(program)

    expected_started = sorted([f"node on port {node}", f"python3 on port {python}"])
    s.wait_for_notifications(lambda notes: len(started(notes)) >= 2, 10, "two \"Port Started\" notifications")
    expected_menu = menu_with((node, "node"), (python, "python3"), others=[(unlisted, "hw-unlisted")])
    menu.wait_for(lambda m: actions(m) == expected_menu, 5, "the two servers in the menu")

    # The node server's submenu tells which project it is and how it runs.
    details = dict(e for e in menu.render() if isinstance(e, tuple))[f"{node} - node"][:4]
    check_equal(details[:2], ["(disabled) shop — ~/src/shop/web", f"(disabled) hw-listener node {RANGE} --port auto"],
                "the project and command line lines")
    pid_line = rf"\(disabled\) PID {node_proc.pid} · up \d+ (s|min) · 127\.0\.0\.1"
    check(re.fullmatch(pid_line, details[2]), f"pid line {details[2]!r} does not match {pid_line!r}")
    check_equal(details[3], "---", "the separator below the inert lines")

    # One more polling period: nothing else may be announced or listed.
    s.hold_still(POLL_PERIOD + 0.5)
    notes = s.notifications()
    check_equal(started(notes), expected_started, "\"Port Started\" bodies")
    check_equal(stopped(notes), [], "\"Port Stopped\" bodies")
    check_equal(len(notes), 2, "number of notifications")
    check_notification_fields(notes)
    check(all(n["pid"] == program.pid for n in notes), "notifications came from another process")
    check_equal(actions(menu.render()), expected_menu, "menu")

    layout = menu.layout()
    shortcuts = {label: layout.find(label).shortcut for label in ("Refresh", "Servers…", "Settings...", "Quit")}
    check_equal(shortcuts, {"Refresh": [["Control", "R"]], "Servers…": [["Control", "S"]],
                            "Settings...": [["Control", ","]],
                            "Quit": [["Control", "Q"]]}, "menu shortcuts")
    s.stop_program(program)


def scenario_copy_url(s):
    """"Copy URL" leaves exactly the server's URL on the X clipboard, and
    "Open in Browser" hands exactly that URL to the desktop's opener."""
    _, port = s.start_listener("node", RANGE)
    program = s.start_program()
    menu = s.tray_menu(program)
    title = f"{port} - node"
    menu.wait_for(lambda m: actions(m) == menu_with((port, "node")), 10, "the server in the menu")
    url = f"http://localhost:{port}"

    menu.click(title, "Copy URL")

    def clipboard():
        result = s.x("xclip", "-o", "-selection", "clipboard", check_status=False)
        return result.stdout if result.returncode == 0 else None
    wait_until(lambda: clipboard() == url, 5, f"the clipboard to hold {url!r} (it holds {clipboard()!r})",
               pump=s.pump, interval=0.1)
    targets = s.x("xclip", "-o", "-selection", "clipboard", "-t", "TARGETS").stdout.split()
    check("text/plain" in targets or "UTF8_STRING" in targets, f"clipboard targets {targets!r} hold no plain text")

    menu.click(title, "Open in Browser")
    wait_until(lambda: s.opened_urls(), 10, "\"Open in Browser\" to hand a URL to xdg-open", pump=s.pump)
    check_equal(s.opened_urls(), [url], "URLs handed to xdg-open")
    s.stop_program(program)


def scenario_gnome_wayland_copy_url(s):
    """On GNOME's compositor, with the environment of a GNOME Wayland session
    and no platform chosen, "Copy URL" reaches both the Wayland and the X
    clipboard (the program runs on Xwayland), and the browser is started
    without a platform override. Run natively on Wayland by the user's choice,
    the same click is refused by the compositor (no focused window) and a "URL
    Not Copied" notification shows the URL instead."""
    # The harness itself must be able to use the clipboard, or nothing below
    # means anything.
    probe = "harborwatch harness check"
    s.hold_clipboard(probe)
    wait_until(lambda: s.x_clipboard() == probe, 10, f"xclip to read {probe!r} set by wl-copy",
               pump=s.pump, interval=0.1)

    _, port = s.start_listener("node", RANGE)
    title = f"{port} - node"
    url = f"http://localhost:{port}"

    native = s.start_program("harborwatch-native-wayland", {"QT_QPA_PLATFORM": "wayland"})
    menu = s.tray_menu(native)
    menu.wait_for(lambda m: actions(m) == menu_with((port, "node")), 10, "the server in the menu")
    menu.click(title, "Copy URL")
    notes = s.wait_for_notifications(lambda n: any(x["summary"] == "URL Not Copied" for x in n), 10,
                                     "the \"URL Not Copied\" notification")
    refused = [n for n in notes if n["summary"] == "URL Not Copied"]
    check_equal([n["body"] for n in refused], [f"The desktop refused to put {url} on the clipboard."],
                "\"URL Not Copied\" bodies")
    check_equal(s.wayland_clipboard(), probe, "the Wayland clipboard after a refused copy")
    s.stop_program(native)

    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: actions(m) == menu_with((port, "node")), 10, "the server in the menu")
    clicked = menu.click(title, "Copy URL")
    wait_until(lambda: s.wayland_clipboard() == url, 5,
               f"wl-paste to read {url!r} (it reads {s.wayland_clipboard()!r})", pump=s.pump, interval=0.1)
    check_equal(s.x_clipboard(), url, "the X clipboard (xclip) after \"Copy URL\"")
    print(f"gnome wayland: URL on both clipboards {time.monotonic() - clicked:.2f} s after the click")

    menu.click(title, "Open in Browser")
    wait_until(lambda: s.opened_urls(), 10, "\"Open in Browser\" to hand a URL to xdg-open", pump=s.pump)
    check_equal(s.opened_urls(), [url], "URLs handed to xdg-open")
    opener = s.opener_environment()
    check("QT_QPA_PLATFORM" not in opener,
          f"xdg-open was given QT_QPA_PLATFORM={opener.get('QT_QPA_PLATFORM')!r}")
    check_equal(opener.get("WAYLAND_DISPLAY"), s.wayland_display, "WAYLAND_DISPLAY given to xdg-open")

    refused = [n for n in s.notifications() if n["summary"] == "URL Not Copied" and n["pid"] == program.pid]
    check_equal(refused, [], "\"URL Not Copied\" notifications from the program on Xwayland")
    s.stop_program(program)


def scenario_stop_server(s):
    """"Stop Server" sends SIGTERM to the server; within two seconds the stop is
    announced and the submenu is gone."""
    node_proc, node = s.start_listener("node", RANGE)
    _, python = s.start_listener("python3", RANGE)
    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: actions(m) == menu_with((node, "node"), (python, "python3")), 10, "both servers in the menu")

    clicked = menu.click(f"{node} - node", "Stop Server")
    # hw-listener exits 0 on SIGTERM only (a SIGKILL shows as -9).
    wait_until(lambda: node_proc.poll() is not None, 2, "the node listener to exit")
    check_equal(node_proc.returncode, 0, "exit status of the stopped listener (0 means it got SIGTERM)")
    notes = s.wait_for_notifications(lambda n: stopped(n), 2 - (time.monotonic() - clicked),
                                     "the \"Port Stopped\" notification")
    check_equal(stopped(notes), [f"Port {node} is no longer listening"], "\"Port Stopped\" bodies")
    menu.wait_for(lambda m: actions(m) == menu_with((python, "python3")), max(0.1, 2 - (time.monotonic() - clicked)),
                  "the stopped server's submenu to go")
    elapsed = time.monotonic() - clicked
    print(f"stop server: listener gone, notified and menu updated {elapsed:.2f} s after the click")
    check_notification_fields(s.notifications())
    s.stop_program(program)


def scenario_live_updates(s):
    """A server started while the program runs is listed and notified within
    three seconds; when every server is gone the menu says so."""
    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: m == EMPTY_MENU, 10, "the empty menu")

    node_proc, node = s.start_listener("node", RANGE)
    begun = time.monotonic()
    s.wait_for_notifications(lambda n: started(n) == [f"node on port {node}"], 3,
                             "\"Port Started\" for the new server")
    menu.wait_for(lambda m: actions(m) == menu_with((node, "node")), max(0.1, 3 - (time.monotonic() - begun)),
                  "the new server in the menu")
    print(f"live update: new server listed and notified {time.monotonic() - begun:.2f} s after it listened")

    python_proc, python = s.start_listener("python3", RANGE)
    menu.wait_for(lambda m: actions(m) == menu_with((node, "node"), (python, "python3")), 3, "the second server in the menu")

    for proc in (node_proc, python_proc):
        check_equal(s.stop(proc), 0, "exit status of a listener")
    begun = time.monotonic()
    menu.wait_for(lambda m: m == EMPTY_MENU, 3, "\"No ports running\" once every server is gone")
    notes = s.wait_for_notifications(lambda n: len(stopped(n)) == 2, max(0.1, 3 - (time.monotonic() - begun)),
                                     "two \"Port Stopped\" notifications")
    check_equal(stopped(notes), sorted([f"Port {node} is no longer listening", f"Port {python} is no longer listening"]),
                "\"Port Stopped\" bodies")
    check_equal(started(notes), sorted([f"node on port {node}", f"python3 on port {python}"]), "\"Port Started\" bodies")
    check_notification_fields(notes)
    s.stop_program(program)


def scenario_literal_names(s):
    """Process names with "&", "%" and "_" and a name longer than nine
    characters are shown and announced exactly as they are."""
    names = ["tom&jerry&co", "cpu%1%s", "my_app", "redis-server"]
    s.write_settings({"allowlist": names})
    records = [(s.start_listener(name, RANGE)[1], name) for name in names]
    _, node = s.start_listener("node", RANGE)  # not in this allowlist
    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: actions(m) == menu_with(*records, others=[(node, "node")]), 10, "the four servers under their exact names")
    # Four servers at once are one summary, by port.
    notes = s.wait_for_notifications(lambda n: any(x["summary"] == "Ports Started" for x in n), 5,
                                     "a \"Ports Started\" notification")
    named = [f"{name} on port {port}" for port, name in sorted(records)]
    check_equal([x["body"] for x in notes if x["summary"] == "Ports Started"],
                [", ".join(named[:-1]) + " and " + named[-1]], "\"Ports Started\" body")
    # A panel that honours the mnemonic marks must still show the "&".
    raw = {item.label: item.raw_label for item in menu.layout().visible_children()}
    print(f"literal names: dbusmenu labels as sent: {sorted(raw.values())!r}")
    s.stop_program(program)


def scenario_single_instance(s):
    """A second launch hands over to the first, which opens its one Servers
    window listing the servers; only one tray item is ever registered.
    "Settings..." opens the one Settings window. Screenshots of the Servers
    window and of the settings tabs are saved."""
    shop = os.path.join(s.home, "src", "shop")
    os.makedirs(os.path.join(shop, "web"))
    open(os.path.join(shop, "package.json"), "w").close()
    _, node = s.start_listener("node", RANGE, cwd=os.path.join(shop, "web"))
    _, python = s.start_listener("python3", RANGE)
    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: actions(m) == menu_with((node, "node"), (python, "python3")), 10,
                  "both servers in the menu")

    second = s.start_program("second-instance")
    try:
        status = second.wait(20)
    except subprocess.TimeoutExpired:
        raise Failure("the second launch did not exit within 20 s") from None
    s.check_clean_log(second)
    check_equal(status, 0, "exit status of the second launch")

    windows = wait_until(lambda: s.windows_named("^Servers$"), 10, "a window titled \"Servers\"", pump=s.pump)
    check_equal(len(windows), 1, "number of visible windows titled \"Servers\"")
    servers = windows[0]
    check_equal(s.x("xdotool", "getwindowpid", str(servers)).stdout.strip(), str(program.pid),
                "pid owning the Servers window")
    check_equal(s.windows_named("^Settings$"), [], "Settings windows after the second launch")
    registrations = s.registrations()
    check_equal([r["pid"] for r in registrations], [program.pid], "pids that registered a tray item")
    check_equal(len(s.registered_items()), 1, "number of registered tray items")

    # "Servers…" with the window open brings that window back: still one.
    menu.click("Servers…")
    s.hold_still(0.5)
    check_equal(s.windows_named("^Servers$"), [servers], "Servers windows after \"Servers…\"")
    s.hold_still(1.0)  # the projects are read right after the list
    s.steady_pixels(servers)
    s.screenshot("servers-window.png", servers)

    menu.click("Settings...")
    windows = wait_until(lambda: s.windows_named("^Settings$"), 10, "a window titled \"Settings\"", pump=s.pump)
    check_equal(len(windows), 1, "number of visible windows titled \"Settings\"")
    window = windows[0]
    wm_name = s.x("xprop", "-id", str(window), "WM_NAME").stdout.strip()
    check_equal(wm_name, 'WM_NAME(STRING) = "Settings"', "WM_NAME of the settings window")
    menu.click("Settings...")
    s.hold_still(0.5)
    check_equal(s.windows_named("^Settings$"), [window], "Settings windows after \"Settings...\" again")
    geometry = s.x("xdotool", "getwindowgeometry", str(window)).stdout.split("\n")[2].strip()
    print(f"single instance: settings window {geometry}")

    s.capture_tabs(window, s.artifact("settings-{tab}.png"))
    s.stop_program(program)


def gdbus_call(s, path, method, *arguments):
    """Calls a method of the running program over the session bus with gdbus,
    as a shell does; returns gdbus's output (printed, as a transcript)."""
    argv = ["gdbus", "call", "--session", "--dest", "io.harborwatch.Harborwatch", "--object-path", path,
            "--method", method, *arguments]
    output = s.x(*argv).stdout.strip()
    quoted = " ".join(a if re.fullmatch(r"[\w./=-]+", a) else f'"{a}"' for a in argv)
    print(f"$ {quoted}\n{output}")
    return output


def search_provider_files():
    """(BusName, ObjectPath) of GNOME Shell's provider file and
    (Service, Path) of KRunner's, as installed."""
    data = os.path.join(e2e_session.HERE, "..", "..", "data", "search")
    values = {}
    for name in ("io.harborwatch.Harborwatch.search-provider.ini", "harborwatch-krunner.desktop"):
        with open(os.path.join(data, name)) as f:
            values.update(line.strip().split("=", 1) for line in f if "=" in line)
    return ((values["BusName"], values["ObjectPath"]),
            (values["X-Plasma-DBusRunner-Service"], values["X-Plasma-DBusRunner-Path"]))


def scenario_no_tray(s):
    """GNOME without a tray: the program opens its Servers window at start and
    keeps running when it is closed, answering the desktop's search on the
    bus name and object paths its provider files name: GNOME Shell's and
    KRunner's, each asked for "5173"."""
    shop = os.path.join(s.home, "src", "shop-frontend")
    os.makedirs(shop)
    open(os.path.join(shop, "package.json"), "w").close()
    _, vite = s.start_listener("node", "5173" if port_is_free(5173) else RANGE, cwd=shop)
    _, other = s.start_listener("python3", RANGE, cwd=s.home)
    program = s.start_program(extra_env={"XDG_CURRENT_DESKTOP": "GNOME"})
    servers = wait_until(lambda: s.windows_named("^Servers$"), 15, "the Servers window at start",
                         pump=s.pump)[0]
    check_equal(s.x("xdotool", "getwindowpid", str(servers)).stdout.strip(), str(program.pid),
                "pid owning the Servers window")
    (gnome_bus, gnome_path), (krunner_bus, krunner_path) = search_provider_files()
    check_equal({gnome_bus, krunner_bus}, {"io.harborwatch.Harborwatch"}, "bus names of the provider files")
    check_equal(s.connection_pid("io.harborwatch.Harborwatch"), program.pid, "owner of the bus name")

    term = str(vite)
    gnome = "org.gnome.Shell.SearchProvider2."
    ids = wait_until(lambda: re.findall(r"'([^']*)'", gdbus_call(s, gnome_path, gnome + "GetInitialResultSet",
                                                                  f"['{term}']")),
                     10, f"GNOME Shell's search to find {term}", pump=s.pump, interval=0.5)
    check_equal(len(ids), 1, f"results for {term}")
    metas = gdbus_call(s, gnome_path, gnome + "GetResultMetas", f"['{ids[0]}']")
    check(f"'name': <'{vite} · node — shop-frontend'>" in metas, f"GetResultMetas named it otherwise: {metas}")
    check(f"'description': <'http://localhost:{vite}'>" in metas, f"GetResultMetas described it otherwise: {metas}")
    gdbus_call(s, gnome_path, gnome + "ActivateResult", ids[0], f"['{term}']", "0")
    wait_until(lambda: s.opened_urls(), 10, "ActivateResult to hand a URL to xdg-open", pump=s.pump)
    check_equal(s.opened_urls(), [f"http://localhost:{vite}"], "URLs handed to xdg-open")

    matches = gdbus_call(s, krunner_path, "org.kde.krunner1.Match", term)
    check(f"'{vite} · node — shop-frontend'" in matches and f"'subtext': <'http://localhost:{vite}'>" in matches,
          f"KRunner's Match answered otherwise: {matches}")
    gdbus_call(s, krunner_path, "org.kde.krunner1.Actions")

    # Closing the window leaves the program running, still answering.
    s.x("xdotool", "windowraise", str(servers))
    s.x("xdotool", "windowfocus", "--sync", str(servers))
    s.x("xdotool", "key", "--clearmodifiers", "ctrl+w")
    wait_until(lambda: not s.windows_named("^Servers$"), 5, "the Servers window to close", pump=s.pump)
    s.hold_still(1.0)
    check(program.poll() is None, f"the program ended when its window closed:\n{s.program_log(program)[-2000:]}")
    found = gdbus_call(s, gnome_path, gnome + "GetInitialResultSet", f"['{other}']")
    check(f"{other}:" in found, f"no result for {other} after the window closed: {found}")
    check("GNOME shows the icon only with its AppIndicator extension" in s.program_log(program) or
          "GNOME has one only with its AppIndicator extension" in s.program_log(program),
          "the program did not say why there is no icon")
    s.stop_program(program)


def port_is_free(port):
    import socket
    with socket.socket() as probe:
        try:
            probe.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


def scenario_quit(s):
    """"Quit" ends the program with status 0 within two seconds and leaves no
    lister process behind."""
    s.start_listener("node", RANGE)
    program = s.start_program()
    menu = s.tray_menu(program)
    menu.wait_for(lambda m: len(m) == len(COMMANDS) + 1 and m[0][0].endswith(" - node"), 10, "the server in the menu")

    # "Refresh" right before "Quit" has a lister running when the program is
    # asked to quit (unless it scans synchronously): it must not outlive it.
    layout = menu.layout()
    menu.trigger(layout.find("Refresh"))
    clicked = menu.trigger(layout.find("Quit"))
    listing = [pid for pid in e2e_session.children_of(program.pid) if e2e_session.process_name(pid) == "lsof"]
    try:
        status = program.wait(10)
    except subprocess.TimeoutExpired:
        raise Failure("the program did not exit within 10 s of \"Quit\"") from None
    elapsed = time.monotonic() - clicked
    left = s.leftovers()
    print(f"quit: exited {elapsed:.2f} s after the click (sanitizer exit checks included); "
          f"lister running at the click: {'yes' if listing else 'no'}")
    s.check_clean_log(program)
    check_equal(status, 0, "exit status after \"Quit\"")
    check(elapsed <= 2.0, f"the program took {elapsed:.2f} s to exit after \"Quit\" (at most 2 s)")
    check_equal(left, [], "processes left behind by the program")


def scenario_port_range(s):
    """A stored range of 8000 to 9000 restricts the menu to that range."""
    s.write_settings({"minPort": 8000, "maxPort": 9000})
    _, inside = s.start_listener("node", "8000-9000")
    s.start_listener("node", "3000-7999")
    s.start_listener("python3", "9001-9999")
    program = s.start_program()
    menu = s.tray_menu(program)
    s.wait_for_notifications(lambda n: started(n), 10, "a \"Port Started\" notification")
    menu.wait_for(lambda m: actions(m) == menu_with((inside, "node")), 5, "only the server inside 8000-9000")
    s.hold_still(POLL_PERIOD + 0.5)
    check_equal(actions(menu.render()), menu_with((inside, "node")), "menu")
    check_equal(started(s.notifications()), [f"node on port {inside}"], "\"Port Started\" bodies")
    s.stop_program(program)


SCENARIOS = {
    "menu_and_notifications": scenario_menu_and_notifications,
    "copy_url": scenario_copy_url,
    "stop_server": scenario_stop_server,
    "live_updates": scenario_live_updates,
    "literal_names": scenario_literal_names,
    "single_instance": scenario_single_instance,
    "quit": scenario_quit,
    "port_range": scenario_port_range,
    "gnome_wayland_copy_url": scenario_gnome_wayland_copy_url,
    "no_tray": scenario_no_tray,
}
COMPOSITOR = {"gnome_wayland_copy_url": "mutter"}  # the others run on Xvfb
WATCHER = {"no_tray": False}  # the others have a panel that hosts tray items


class ScenarioTimeout(Failure):
    pass


def run(name, args):
    session = e2e_session.Session(name, args.harborwatch, args.listener, args.artifacts)

    def on_alarm(signum, frame):
        raise ScenarioTimeout(f"scenario {name} ran longer than {args.timeout} s")
    signal.signal(signal.SIGALRM, on_alarm)
    signal.alarm(args.timeout)
    begun = time.monotonic()
    try:
        session.start_desktop(with_watcher=WATCHER.get(name, True), compositor=COMPOSITOR.get(name, "xvfb"))
        SCENARIOS[name](session)
        print(f"PASS {name} ({time.monotonic() - begun:.1f} s)", flush=True)
        return True
    except Skip as e:
        print(f"SKIP {name}: {e}", flush=True)
        return None
    except Exception as e:  # a failed expectation, a timeout or a broken harness
        print(f"FAIL {name} ({time.monotonic() - begun:.1f} s): {e}", flush=True)
        if not isinstance(e, Failure):
            traceback.print_exc()
        keep_evidence(session, name)
        return False
    finally:
        signal.alarm(0)
        session.close()


def keep_evidence(session, name):
    # Xwayland's root window holds no picture of a Wayland desktop.
    if not session.display or session.wayland_display:
        return
    try:
        session.screenshot(f"{name}-failure.png")
        print(f"  screenshot: {session.artifact(name + '-failure.png')}")
    except Exception as e:
        print(f"  no screenshot: {e}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--harborwatch", required=True)
    parser.add_argument("--listener", required=True)
    parser.add_argument("--artifacts", required=True)
    parser.add_argument("--timeout", type=int, default=75, help="seconds per scenario")
    parser.add_argument("scenarios", nargs="*", help=f"any of {', '.join(SCENARIOS)} (default: all)")
    args = parser.parse_args()
    names = args.scenarios or list(SCENARIOS)
    unknown = [n for n in names if n not in SCENARIOS]
    if unknown:
        parser.error(f"unknown scenario(s): {', '.join(unknown)}")

    how = e2e_session.isolate_network()
    print(f"isolation: {how or 'none: the machine’s other listeners are visible'}", flush=True)
    e2e_session.become_subreaper()
    results = [run(name, args) for name in names]
    if all(result is None for result in results):
        return SKIPPED
    return 0 if all(result is not False for result in results) else 1


if __name__ == "__main__":
    sys.exit(main())
