"""The desktop side of a session bus, as a panel and a notification daemon give it.

Run as its own process on the test's private bus:

    /usr/bin/python3 fake_desktop.py [--no-watcher]

It owns
  org.kde.StatusNotifierWatcher   watcher and host of tray items (unless --no-watcher)
  org.freedesktop.Notifications   records every Notify call
  io.harborwatch.TestDesktop      lets the test read what was recorded

and prints "ready" on stdout once every name is owned. It runs until SIGTERM.
"""

import json
import signal
import sys
import time

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

WATCHER_NAME = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
NOTIFY_NAME = "org.freedesktop.Notifications"
NOTIFY_PATH = "/org/freedesktop/Notifications"
CONTROL_NAME = "io.harborwatch.TestDesktop"
CONTROL_PATH = "/io/harborwatch/TestDesktop"
PROPS = "org.freedesktop.DBus.Properties"

# Qt reads IsStatusNotifierHostRegistered through an introspecting interface,
# so the property has to appear here or Qt decides there is no host and falls
# back to an XEmbed icon.
WATCHER_XML = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get">
      <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="out"/>
    </method>
    <method name="GetAll">
      <arg name="interface" type="s" direction="in"/><arg name="values" type="a{sv}" direction="out"/>
    </method>
    <method name="Set">
      <arg name="interface" type="s" direction="in"/><arg name="name" type="s" direction="in"/>
      <arg name="value" type="v" direction="in"/>
    </method>
    <signal name="PropertiesChanged">
      <arg type="s"/><arg type="a{sv}"/><arg type="as"/>
    </signal>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg name="xml" type="s" direction="out"/></method>
  </interface>
</node>
"""


def caller_pid(bus, sender):
    try:
        return int(bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus").GetConnectionUnixProcessID(
            sender, dbus_interface="org.freedesktop.DBus"))
    except dbus.DBusException:
        return 0


class Watcher(dbus.service.Object):
    """StatusNotifierWatcher that also acts as the one host on the bus."""

    def __init__(self, bus, recorder):
        super().__init__(bus, WATCHER_PATH)
        self.bus = bus
        self.recorder = recorder
        self.items = []  # "busname/path" entries, in registration order
        bus.add_signal_receiver(self._name_owner_changed, signal_name="NameOwnerChanged",
                                dbus_interface="org.freedesktop.DBus", bus_name="org.freedesktop.DBus")

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return WATCHER_XML

    @dbus.service.method(WATCHER_NAME, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Items pass either a bus name (the item lives at /StatusNotifierItem)
        # or an object path on the caller's own connection.
        if service.startswith("/"):
            entry = sender + service
        elif "/" in service:
            entry = service
        else:
            entry = service + "/StatusNotifierItem"
        self.recorder.registrations.append({
            "argument": str(service), "sender": str(sender), "entry": entry,
            "pid": caller_pid(self.bus, sender), "time": time.monotonic()})
        if entry not in self.items:
            self.items.append(entry)
            self.StatusNotifierItemRegistered(entry)

    @dbus.service.method(WATCHER_NAME, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER_NAME, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER_NAME, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    @dbus.service.signal(WATCHER_NAME, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.signal(WATCHER_NAME, signature="")
    def StatusNotifierHostUnregistered(self):
        pass

    def _properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        props = self._properties()
        if interface != WATCHER_NAME or name not in props:
            raise dbus.DBusException("org.freedesktop.DBus.Error.UnknownProperty", name)
        return props[name]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self._properties() if interface == WATCHER_NAME else {}

    @dbus.service.method(PROPS, in_signature="ssv", out_signature="")
    def Set(self, interface, name, value):
        raise dbus.DBusException("org.freedesktop.DBus.Error.PropertyReadOnly", name)

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    def _name_owner_changed(self, name, old, new):
        if new:
            return
        for entry in [e for e in self.items if e.split("/", 1)[0] == name]:
            self.items.remove(entry)
            self.StatusNotifierItemUnregistered(entry)


def hint_text(value):
    """A hint as text; an image (iiibiiay) by its size only, as its pixels would
    make each recorded notification hundreds of kilobytes long."""
    if isinstance(value, dbus.Struct) and len(value) == 7:
        return f"image {int(value[0])}x{int(value[1])}"
    return str(value)


class Notifications(dbus.service.Object):
    def __init__(self, bus, recorder):
        super().__init__(bus, NOTIFY_PATH)
        self.bus = bus
        self.recorder = recorder

    @dbus.service.method(NOTIFY_NAME, in_signature="susssasa{sv}i", out_signature="u",
                         sender_keyword="sender")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout,
               sender=None):
        self.recorder.notifications.append({
            "app_name": str(app_name), "replaces_id": int(replaces_id), "app_icon": str(app_icon),
            "summary": str(summary), "body": str(body), "actions": [str(a) for a in actions],
            "hints": {str(k): hint_text(v) for k, v in hints.items()}, "expire_timeout": int(expire_timeout),
            "pid": caller_pid(self.bus, sender), "time": time.monotonic()})
        return dbus.UInt32(len(self.recorder.notifications))

    @dbus.service.method(NOTIFY_NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["body", "icon-static", "sound"]

    @dbus.service.method(NOTIFY_NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("harborwatch-test-desktop", "Harborwatch", "1.0", "1.2")

    @dbus.service.method(NOTIFY_NAME, in_signature="u", out_signature="")
    def CloseNotification(self, notification_id):
        self.NotificationClosed(notification_id, dbus.UInt32(3))

    @dbus.service.signal(NOTIFY_NAME, signature="uu")
    def NotificationClosed(self, notification_id, reason):
        pass


class Recorder(dbus.service.Object):
    """What the test reads back: every notification and every item registration,
    as JSON, with times on this machine's monotonic clock."""

    def __init__(self, bus):
        super().__init__(bus, CONTROL_PATH)
        self.notifications = []
        self.registrations = []

    @dbus.service.method(CONTROL_NAME, in_signature="", out_signature="s")
    def Notifications(self):
        return json.dumps(self.notifications)

    @dbus.service.method(CONTROL_NAME, in_signature="", out_signature="s")
    def Registrations(self):
        return json.dumps(self.registrations)


def main():
    with_watcher = "--no-watcher" not in sys.argv[1:]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGINT, loop.quit)

    recorder = Recorder(bus)
    objects = [recorder, Notifications(bus, recorder)]
    names = [CONTROL_NAME, NOTIFY_NAME]
    if with_watcher:
        objects.append(Watcher(bus, recorder))
        names.append(WATCHER_NAME)
    # Keep the names alive as long as the loop runs.
    owned = [dbus.service.BusName(name, bus, do_not_queue=True) for name in names]
    print("ready", flush=True)
    loop.run()
    del owned, objects


if __name__ == "__main__":
    main()
