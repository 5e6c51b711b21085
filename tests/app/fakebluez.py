#!/usr/bin/python3
"""A stand-in for BlueZ on a private bus, for the printer application's tests.

fakebluez.py DIR: takes the name org.bluez on the bus DBUS_SYSTEM_BUS_ADDRESS
names and offers one powered adapter (/org/bluez/hci0) with four Bluetooth LE
pocket printers:
  11:22:33:44:55:01 "PeriPage_A6_BLE"   service ff00: write ff02 (WriteValue
      only, MTU 247), notify ff01, flow control on ff03 granting 2 writes of
      at most 100 bytes at a time
  11:22:33:44:55:02 "Paperang_P2S"      the 49535343-... service: write by
      AcquireWrite (MTU 185), notify
  11:22:33:44:55:03 "PeriPage_GONE_BLE" like the first, but it disconnects and
      vanishes from the bus after 600 bytes
  11:22:33:44:55:04 "PeriPage_MUTE_BLE" never answers Connect
  11:22:33:44:55:05 "B1-FAKE0001"       a Niimbot-like printer (pocketfake.py)
      on its one characteristic (notify and write-without-response, MTU 247);
      replies longer than 8 bytes come in two notifications
  11:22:33:44:55:06 "GB02"              a cat-like printer (pocketfake.py):
      service ae30, write ae01, notify ae02, pausing every 1500 row bytes
  11:22:33:44:55:07 "D11-FAKE0001"      a Niimbot D11-like printer
The printers that answer back read what they report from DIR/ADDRESS.state
and keep their pages as DIR/ADDRESS-pageN.pbm.
For each printer DIR/ADDRESS.bin keeps the bytes written (reassembled) and
DIR/ADDRESS.log one line per connection and per fault: "write N bytes over the
chunk limit", "write ahead of the flow grant". DIR/ready appears once the name
is taken. Runs until killed.
"""
import os
import socket
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pocketfake  # noqa: E402

OM = "org.freedesktop.DBus.ObjectManager"
PROPS = "org.freedesktop.DBus.Properties"
ADAPTER = "org.bluez.Adapter1"
DEVICE = "org.bluez.Device1"
SERVICE = "org.bluez.GattService1"
CHAR = "org.bluez.GattCharacteristic1"
BASE = "-0000-1000-8000-00805f9b34fb"
ISSC = "49535343-fe7d-4ae5-8fa9-9fafd205e455"
ISSC_WRITE = "49535343-8841-43f4-a8d4-ecbe34729bb3"
ISSC_NOTIFY = "49535343-1e4d-4bd9-ba61-23c647249616"

OUT = sys.argv[1]
ROOT = None


class Obj(dbus.service.Object):
    """An object with properties per interface and PropertiesChanged."""

    def __init__(self, bus, path, props):
        super().__init__(bus, path)
        self.path = path
        self.props = props

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, iface, name):
        return self.props[iface][name]

    @dbus.service.method(PROPS, in_signature="ssv")
    def Set(self, iface, name, value):
        self.set(iface, name, value)

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, iface):
        return self.props.get(iface, {})

    @dbus.service.signal(PROPS, signature="sa{sv}as")
    def PropertiesChanged(self, iface, changed, invalidated):
        pass

    def set(self, iface, name, value):
        self.props[iface][name] = value
        self.PropertiesChanged(iface, {name: value}, dbus.Array([], signature="s"))


class Root(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/")
        self.objects = []

    @dbus.service.method(OM, out_signature="a{oa{sa{sv}}}")
    def GetManagedObjects(self):
        return {dbus.ObjectPath(o.path): o.props for o in self.objects}

    @dbus.service.signal(OM, signature="oas")
    def InterfacesRemoved(self, path, interfaces):
        pass


class Adapter(Obj):
    def __init__(self, bus):
        super().__init__(bus, "/org/bluez/hci0", {ADAPTER: {
            "Address": dbus.String("00:11:22:33:44:00"), "Powered": dbus.Boolean(True),
            "Discovering": dbus.Boolean(False)}})

    @dbus.service.method(ADAPTER)
    def StartDiscovery(self):
        self.set(ADAPTER, "Discovering", dbus.Boolean(True))

    @dbus.service.method(ADAPTER)
    def StopDiscovery(self):
        self.set(ADAPTER, "Discovering", dbus.Boolean(False))


class Printer:
    """One device: its objects, what it received and the faults it saw."""

    def __init__(self, bus, address, name, service, write, notify, flow=None, mtu=247,
                 acquire=False, vanish_after=0, mute=False, talker=None):
        self.address, self.vanish_after, self.mute = address, vanish_after, mute
        self.received = 0
        self.credits = 0
        self.chunk_limit = 100 if flow else mtu - 3
        self.pending = []
        self.data = open(os.path.join(OUT, address + ".bin"), "ab")
        self.log = open(os.path.join(OUT, address + ".log"), "a")
        dev = "/org/bluez/hci0/dev_" + address.replace(":", "_")
        self.device = Device(bus, dev, self, name, [service])
        svc = Obj(bus, dev + "/service0001", {SERVICE: {
            "UUID": dbus.String(service), "Device": dbus.ObjectPath(dev), "Primary": dbus.Boolean(True)}})
        if write == notify:  # one characteristic both ways
            self.write = self.notify = Characteristic(bus, svc.path + "/char0002", self, write,
                                                      ["read", "write-without-response", "notify"], mtu)
            self.objects = [self.device, svc, self.write]
        else:
            self.write = Characteristic(bus, svc.path + "/char0002", self, write,
                                        ["write-without-response", "write"], mtu, acquire)
            self.notify = Characteristic(bus, svc.path + "/char0003", self, notify, ["notify"], mtu)
            self.objects = [self.device, svc, self.write, self.notify]
        self.talker = None
        if talker:
            state = os.path.join(OUT, address + ".state")
            open(state, "a").close()
            self.talker = talker(os.path.join(OUT, address), self.send, state)
            GLib.timeout_add(2, self.tick)
        self.flow = None
        if flow:
            self.flow = Characteristic(bus, svc.path + "/char0004", self, flow, ["notify"], mtu)
            self.objects.append(self.flow)
        ROOT.objects.extend(self.objects)

    def send(self, frame):
        """A notification; a Niimbot-like printer splits longer replies."""
        pieces = [frame]
        if isinstance(self.talker, pocketfake.Niimbot) and len(frame) > 8:
            pieces = [frame[:len(frame) // 2], frame[len(frame) // 2:]]
        for piece in pieces:
            self.notify.set(CHAR, "Value", dbus.Array(list(piece), signature="y"))

    def tick(self):
        self.talker.tick(pocketfake.time.monotonic())
        return True

    def note(self, text):
        self.log.write(text + "\n")
        self.log.flush()

    def grant(self, writes, chunk=None):
        self.credits += writes
        value = [writes] + ([chunk & 0xFF, chunk >> 8] if chunk else [])
        self.flow.set(CHAR, "Value", dbus.Array(value, signature="y"))
        return False

    def started(self, char):
        if char is self.flow:
            self.credits = 0
            GLib.timeout_add(20, self.grant, 2, 100)

    def received_write(self, value):
        if len(value) > self.chunk_limit:
            self.note("write %d bytes over the chunk limit %d" % (len(value), self.chunk_limit))
        if self.flow:
            if self.credits <= 0:
                self.note("write ahead of the flow grant")
            self.credits -= 1
            # The printer takes the next two once it has printed these.
            if self.credits == 0:
                GLib.timeout_add(2, self.grant, 2)
        self.data.write(bytes(value))
        self.data.flush()
        if self.talker:
            self.talker.feed(bytes(value))
        self.received += len(value)
        if self.vanish_after and self.received >= self.vanish_after:
            self.vanish_after = 0
            GLib.idle_add(self.vanish)

    def vanish(self):
        self.note("vanished after %d bytes" % self.received)
        self.device.set(DEVICE, "Connected", dbus.Boolean(False))
        for o in self.objects:
            ROOT.objects.remove(o)
            ROOT.InterfacesRemoved(dbus.ObjectPath(o.path), dbus.Array(list(o.props), signature="s"))
            o.remove_from_connection()
        return False


class Device(Obj):
    def __init__(self, bus, path, printer, name, uuids):
        super().__init__(bus, path, {DEVICE: {
            "Address": dbus.String(printer.address), "Name": dbus.String(name),
            "Alias": dbus.String(name), "Adapter": dbus.ObjectPath("/org/bluez/hci0"),
            "Paired": dbus.Boolean(False), "Connected": dbus.Boolean(False),
            "ServicesResolved": dbus.Boolean(False),
            "UUIDs": dbus.Array(uuids, signature="s")}})
        self.printer = printer

    @dbus.service.method(DEVICE, async_callbacks=("ok", "err"))
    def Connect(self, ok, err):
        if self.printer.mute:
            self.printer.pending.append((ok, err))  # never answered
            return
        self.printer.note("connect")
        self.set(DEVICE, "Connected", dbus.Boolean(True))
        self.set(DEVICE, "ServicesResolved", dbus.Boolean(True))
        ok()

    @dbus.service.method(DEVICE)
    def Disconnect(self):
        self.printer.note("disconnect")
        self.set(DEVICE, "ServicesResolved", dbus.Boolean(False))
        self.set(DEVICE, "Connected", dbus.Boolean(False))


class Characteristic(Obj):
    def __init__(self, bus, path, printer, uuid, flags, mtu, acquire=False):
        super().__init__(bus, path, {CHAR: {
            "UUID": dbus.String(uuid), "Service": dbus.ObjectPath(path.rsplit("/", 1)[0]),
            "Flags": dbus.Array(flags, signature="s"), "MTU": dbus.UInt16(mtu),
            "Value": dbus.Array([], signature="y")}})
        self.printer, self.mtu, self.acquire = printer, mtu, acquire
        self.sock = None

    @dbus.service.method(CHAR, in_signature="aya{sv}", byte_arrays=True)
    def WriteValue(self, value, options):
        if str(options.get("type", "")) != "command":
            self.printer.note("write with type %s" % options.get("type", "(none)"))
        self.printer.received_write(value)

    @dbus.service.method(CHAR, in_signature="a{sv}", out_signature="hq")
    def AcquireWrite(self, options):
        if not self.acquire:
            raise dbus.exceptions.DBusException("Operation is not supported",
                                                name="org.bluez.Error.NotSupported")
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        self.sock = ours
        GLib.io_add_watch(ours.fileno(), GLib.IO_IN | GLib.IO_HUP | GLib.IO_ERR, self.packet)
        fd = dbus.types.UnixFd(theirs)
        theirs.close()
        return fd, dbus.UInt16(self.mtu)

    def packet(self, fd, condition):
        data = self.sock.recv(4096) if condition & GLib.IO_IN else b""
        if not data:
            self.sock.close()
            self.sock = None
            return False
        self.printer.received_write(data)
        return True

    @dbus.service.method(CHAR)
    def StartNotify(self):
        self.printer.started(self)

    @dbus.service.method(CHAR)
    def StopNotify(self):
        pass


def main():
    global ROOT
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SystemBus()
    ROOT = Root(bus)
    ROOT.objects.append(Adapter(bus))
    ff = lambda n: "0000%s%s" % (n, BASE)
    Printer(bus, "11:22:33:44:55:01", "PeriPage_A6_BLE", ff("ff00"), ff("ff02"), ff("ff01"), ff("ff03"))
    Printer(bus, "11:22:33:44:55:02", "Paperang_P2S", ISSC, ISSC_WRITE, ISSC_NOTIFY, mtu=185, acquire=True)
    Printer(bus, "11:22:33:44:55:03", "PeriPage_GONE_BLE", ff("ff00"), ff("ff02"), ff("ff01"), ff("ff03"),
            vanish_after=600)
    Printer(bus, "11:22:33:44:55:04", "PeriPage_MUTE_BLE", ff("ff00"), ff("ff02"), ff("ff01"), ff("ff03"),
            mute=True)
    niim = "e7810a71-73ae-499d-8c15-faa9aef0c3f2"
    niim_char = "bef8d6c9-9c21-4c9e-b632-bd58c1009f9f"
    Printer(bus, "11:22:33:44:55:05", "B1-FAKE0001", niim, niim_char, niim_char, talker=pocketfake.Niimbot)
    Printer(bus, "11:22:33:44:55:06", "GB02", ff("ae30"), ff("ae01"), ff("ae02"),
            talker=lambda prefix, send, state: pocketfake.Cat(prefix, send, state, pause_every=1500))
    Printer(bus, "11:22:33:44:55:07", "D11-FAKE0001", niim, niim_char, niim_char,
            talker=lambda prefix, send, state: pocketfake.Niimbot(prefix, send, state, d11=True))
    name = dbus.service.BusName("org.bluez", bus)  # noqa: F841 (held while running)
    open(os.path.join(OUT, "ready"), "w").close()
    GLib.MainLoop().run()


if __name__ == "__main__":
    main()
