"""Minimize to the notification area and back, with a real XEmbed tray host (trayer)."""

import ctypes
import ctypes.util
import os
import queue
import shutil
import socket
import struct
import subprocess
import tempfile
import threading
import time
import unittest

from harness import Program, key, make_wav, run, screenshot, type_text, wait_for, window_info

TIP = "Restore Ombrix Converter"
TRAYER = ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "32",
          "--SetDockType", "true", "--transparent", "false"]


class XDisplay:
    """The few Xlib calls the tests need that no command-line tool offers."""

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    def __init__(self):
        self.xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xlib.XOpenDisplay.restype = ctypes.c_void_p
        self.xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.xlib.XInternAtom.restype = ctypes.c_ulong
        self.xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.xlib.XGetSelectionOwner.restype = ctypes.c_ulong
        self.xlib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                         ctypes.c_void_p]
        self.xlib.XFlush.argtypes = [ctypes.c_void_p]
        self.xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xlib.XkbGetNamedIndicator.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_int),
                                                   ctypes.POINTER(ctypes.c_int), ctypes.c_void_p, ctypes.c_void_p]
        self.display = self.xlib.XOpenDisplay(None)
        if not self.display:
            raise RuntimeError("cannot open the display " + os.environ.get("DISPLAY", ""))

    def close(self):
        self.xlib.XCloseDisplay(self.display)

    def atom(self, name):
        return self.xlib.XInternAtom(self.display, name.encode(), 0)

    def tray_owner(self):
        return self.xlib.XGetSelectionOwner(self.display, self.atom("_NET_SYSTEM_TRAY_S0"))

    def indicator(self, name):
        """Whether the keyboard's indicator of that name ("Num Lock", "Caps Lock") is lit."""
        index, state = ctypes.c_int(), ctypes.c_int()
        if not self.xlib.XkbGetNamedIndicator(self.display, self.atom(name), ctypes.byref(index),
                                              ctypes.byref(state), None, None):
            raise RuntimeError(f"the keyboard has no {name} indicator")
        return bool(state.value)

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW straight to a window, as a session manager would; works on a hidden one."""
        event = self.ClientMessage()
        event.type = 33  # ClientMessage
        event.window = window
        event.message_type = self.atom("WM_PROTOCOLS")
        event.format = 32
        event.data[0] = self.atom("WM_DELETE_WINDOW")
        event.data[1] = 0  # CurrentTime
        self.xlib.XSendEvent(self.display, window, 0, 0, ctypes.byref(event))
        self.xlib.XFlush(self.display)


# --- A StatusNotifierItem host for the tests: a private session bus, and a watcher on it written
# --- against the bare D-Bus wire protocol (Python has no D-Bus binding installed here).

def alignment(code):
    return {"y": 1, "g": 1, "v": 1, "(": 8, "{": 8}.get(code, 4)


def one_type(signature):
    """The first complete type of a signature."""
    if signature[0] == "a":
        return "a" + one_type(signature[1:])
    if signature[0] in "({":
        depth = 0
        for i, ch in enumerate(signature):
            depth += ch in "({"
            depth -= ch in ")}"
            if depth == 0:
                return signature[:i + 1]
    return signature[0]


def split_types(signature):
    types = []
    while signature:
        types.append(one_type(signature))
        signature = signature[len(types[-1]):]
    return types


class Marshal:
    """Little-endian D-Bus marshalling of the few types the watcher needs."""

    def __init__(self):
        self.buf = bytearray()

    def align(self, n):
        self.buf += bytes(-len(self.buf) % n)

    def put(self, signature, value):
        code = signature[0]
        if code == "y":
            self.buf.append(value)
        elif code in "bu":
            self.align(4)
            self.buf += struct.pack("<I", int(value))
        elif code == "i":
            self.align(4)
            self.buf += struct.pack("<i", value)
        elif code in "so":
            data = value.encode()
            self.align(4)
            self.buf += struct.pack("<I", len(data)) + data + b"\0"
        elif code == "g":
            data = value.encode()
            self.buf += bytes([len(data)]) + data + b"\0"
        elif code == "v":
            inner_signature, inner = value
            self.put("g", inner_signature)
            self.put(inner_signature, inner)
        elif code == "a":
            element = one_type(signature[1:])
            self.align(4)
            length_at = len(self.buf)
            self.buf += bytes(4)
            self.align(alignment(element[0]))
            begin = len(self.buf)
            for item in (value.items() if element[0] == "{" else value):
                self.put(element, item)
            struct.pack_into("<I", self.buf, length_at, len(self.buf) - begin)
        elif code in "({":
            self.align(8)
            for member, item in zip(split_types(signature[1:-1]), value):
                self.put(member, item)
        else:
            raise ValueError(f"cannot marshal {signature}")


class Unmarshal:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def align(self, n):
        self.pos += -self.pos % n

    def take(self, fmt, size):
        self.align(size)
        value = struct.unpack_from(fmt, self.data, self.pos)[0]
        self.pos += size
        return value

    def get(self, signature):
        code = signature[0]
        if code == "y":
            self.pos += 1
            return self.data[self.pos - 1]
        if code in "bu":
            return self.take("<I", 4)
        if code == "i":
            return self.take("<i", 4)
        if code in "so":
            length = self.take("<I", 4)
            value = self.data[self.pos:self.pos + length].decode()
            self.pos += length + 1
            return value
        if code == "g":
            length = self.data[self.pos]
            value = self.data[self.pos + 1:self.pos + 1 + length].decode()
            self.pos += length + 2
            return value
        if code == "v":
            inner_signature = self.get("g")
            return inner_signature, self.get(inner_signature)
        if code == "a":
            element = one_type(signature[1:])
            length = self.take("<I", 4)
            self.align(alignment(element[0]))
            end, items = self.pos + length, []
            while self.pos < end:
                items.append(self.get(element))
            return dict(items) if element[0] == "{" else items
        if code in "({":
            self.align(8)
            return tuple(self.get(member) for member in split_types(signature[1:-1]))
        raise ValueError(f"cannot unmarshal {signature}")


HEADER_FIELDS = {1: ("path", "o"), 2: ("interface", "s"), 3: ("member", "s"), 4: ("error", "s"),
                 5: ("reply_serial", "u"), 6: ("destination", "s"), 7: ("sender", "s"), 8: ("signature", "g")}
FIELD_CODES = {name: (code, kind) for code, (name, kind) in HEADER_FIELDS.items()}
METHOD_CALL, METHOD_RETURN, ERROR = 1, 2, 3
NO_REPLY_EXPECTED = 1


class Connection:
    """A bare D-Bus client: enough to own a name, answer calls and make calls."""

    def __init__(self, address, handler=None):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(address.split("unix:path=", 1)[1].split(",")[0])
        self.sock.sendall(b"\0AUTH EXTERNAL " + str(os.getuid()).encode().hex().encode() + b"\r\n")
        answer = b""
        while not answer.endswith(b"\r\n"):
            answer += self.sock.recv(1)
        if not answer.startswith(b"OK"):
            raise RuntimeError(f"the bus refused us: {answer!r}")
        self.sock.sendall(b"BEGIN\r\n")
        self.serial = 0
        self.lock = threading.Lock()
        self.replies = {}
        self.handler = handler
        self.buffer = b""
        threading.Thread(target=self.read_loop, daemon=True).start()
        self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "Hello")

    def send(self, kind, fields, signature="", args=(), flags=0, waiter=None):
        body = Marshal()
        for member, value in zip(split_types(signature), args):
            body.put(member, value)
        if signature:
            fields = dict(fields, signature=signature)
        with self.lock:
            self.serial += 1
            if waiter:
                self.replies[self.serial] = waiter
            header = Marshal()
            header.buf += struct.pack("<cBBBII", b"l", kind, flags, 1, len(body.buf), self.serial)
            header.put("a(yv)", [(FIELD_CODES[name][0], (FIELD_CODES[name][1], value))
                                 for name, value in fields.items()])
            header.align(8)
            self.sock.sendall(bytes(header.buf) + bytes(body.buf))

    def call(self, destination, path, interface, member, signature="", args=(), timeout=10):
        waiter = queue.Queue()
        self.send(METHOD_CALL, {"path": path, "interface": interface, "member": member,
                                "destination": destination}, signature, args, waiter=waiter)
        kind, message = waiter.get(timeout=timeout)
        if kind == ERROR:
            raise RuntimeError(f"{message['error']}: {message['body']}")
        return message["body"]

    def reply(self, message, signature="", args=()):
        self.send(METHOD_RETURN, {"reply_serial": message["serial"], "destination": message["sender"]},
                  signature, args)

    def error(self, message, name, text):
        self.send(ERROR, {"reply_serial": message["serial"], "destination": message["sender"], "error": name},
                  "s", (text,))

    def receive(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise EOFError
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def read_loop(self):
        try:
            while True:
                fixed = self.receive(16)
                body_length, serial, fields_length = struct.unpack_from("<III", fixed, 4)
                data = fixed + self.receive(fields_length + -fields_length % 8 + body_length)
                header = Unmarshal(data, 12)
                message = {"kind": data[1], "flags": data[2], "serial": serial}
                for code, (_, value) in header.get("a(yv)"):
                    if code in HEADER_FIELDS:
                        message[HEADER_FIELDS[code][0]] = value
                header.align(8)
                body = Unmarshal(data[header.pos:])
                message["body"] = [body.get(t) for t in split_types(message.get("signature", ""))]
                if message["kind"] in (METHOD_RETURN, ERROR):
                    waiter = self.replies.pop(message.get("reply_serial"), None)
                    if waiter:
                        waiter.put((message["kind"], message))
                elif message["kind"] == METHOD_CALL and self.handler:
                    self.handler(self, message)
        except (EOFError, OSError):
            pass

    def close(self):
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node><interface name="org.kde.StatusNotifierWatcher">
<method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
<method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
<property name="RegisteredStatusNotifierItems" type="as" access="read"/>
<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
<property name="ProtocolVersion" type="i" access="read"/>
</interface></node>"""


class StatusNotifierWatcher:
    """A private session bus with a watcher that says a host is there and records the items."""

    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="ombrix-bus-")
        config = os.path.join(self.tmp.name, "bus.conf")
        with open(config, "w") as f:
            f.write(f"""<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path={self.tmp.name}/bus</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/></policy></busconfig>""")
        self.daemon = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file", config, "--print-address"],
                                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.daemon.stdout.readline().strip()
        self.items = queue.Queue()
        self.connection = Connection(self.address, self.handle)
        self.bus_call("RequestName", "su", (WATCHER, 4))

    def bus_call(self, member, signature="", args=()):
        return self.connection.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                    member, signature, args)

    def handle(self, conn, msg):
        member = msg.get("member")
        properties = {"IsStatusNotifierHostRegistered": ("b", True), "ProtocolVersion": ("i", 0),
                      "RegisteredStatusNotifierItems": ("as", [])}
        if member == "Introspect":
            conn.reply(msg, "s", (WATCHER_INTROSPECTION,))
        elif member == "Get" and msg["body"][1] in properties:
            conn.reply(msg, "v", (properties[msg["body"][1]],))
        elif member == "GetAll":
            conn.reply(msg, "a{sv}", (properties,))
        elif member == "RegisterStatusNotifierItem":
            service = msg["body"][0]
            # A service name, or an object path on the caller's connection.
            if service.startswith("/"):
                self.items.put((msg["sender"], service))
            else:
                self.items.put((service, "/StatusNotifierItem"))
            conn.reply(msg)
        elif not msg["flags"] & NO_REPLY_EXPECTED:
            conn.error(msg, "org.freedesktop.DBus.Error.UnknownMethod", str(member))

    def next_item(self, timeout=15):
        return self.items.get(timeout=timeout)

    def item_property(self, item, name):
        service, path = item
        return self.connection.call(service, path, "org.freedesktop.DBus.Properties", "Get", "ss",
                                    ("org.kde.StatusNotifierItem", name))[0][1]

    def item_alive(self, item):
        return bool(self.bus_call("NameHasOwner", "s", (item[0],))[0])

    def send_to_item(self, item, member):
        """What a host sends on a click: no reply awaited, like a panel."""
        service, path = item
        self.connection.send(METHOD_CALL, {"path": path, "interface": "org.kde.StatusNotifierItem", "member": member,
                                 "destination": service}, "ii", (0, 0), flags=NO_REPLY_EXPECTED)

    def close(self):
        self.connection.close()
        self.daemon.terminate()
        self.daemon.wait(timeout=10)
        self.tmp.cleanup()


class TrayHost:
    """A trayer process, started and stopped by the test."""

    def __init__(self, x):
        self.x = x
        self.process = None

    def start(self):
        wait_for(lambda: not self.x.tray_owner(), what="no other tray to be running")
        self.process = subprocess.Popen(TRAYER, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: self.x.tray_owner(), what="trayer to own the tray selection")
        self.panel = wait_for(self.find_panel, what="trayer's panel")
        return self

    def find_panel(self):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "^panel$"],
                             capture_output=True, text=True, timeout=30).stdout.split()
        return int(out[0]) if out else None

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        wait_for(lambda: not self.x.tray_owner(), what="the tray selection to be released")


class TrayTestCase(unittest.TestCase):
    def setUp(self):
        self.x = XDisplay()
        self.addCleanup(self.x.close)
        self.tray = TrayHost(self.x).start()
        self.addCleanup(self.tray.stop)
        self.sounds = tempfile.mkdtemp(prefix="e2etray", dir="/tmp")
        self.addCleanup(shutil.rmtree, self.sounds, True)
        for name in ("alpha.wav", "bravo.wav", "charlie.wav"):
            make_wav(os.path.join(self.sounds, name), seconds=0.1)
        self.program = Program().start()
        self.addCleanup(self.program.stop)
        run("xdotool", "mouseup", "1", check=False)
        run("xdotool", "mouseup", "3", check=False)

    # --- the icon

    def icons(self):
        return self.program.windows(title=TIP)

    def docked_icon(self):
        """The program's icon window once it sits, mapped and of a usable size, inside the tray's panel."""
        icons = self.icons()
        if len(icons) != 1:
            return None
        icon, panel = window_info(icons[0]), window_info(self.tray.panel)
        inside = (panel["x"] <= icon["x"] and icon["x"] + icon["width"] <= panel["x"] + panel["width"]
                  and panel["y"] <= icon["y"] and icon["y"] + icon["height"] <= panel["y"] + panel["height"])
        if icon["mapped"] and inside and icon["width"] >= 16 and icon["height"] >= 16:
            return icons[0]
        return None

    def wait_docked(self):
        return wait_for(self.docked_icon, what="the icon to dock in the tray")

    def point_at(self, icon):
        info = window_info(icon)
        # Not --sync: it waits for a movement that never comes when the pointer is there already.
        x, y = info["x"] + info["width"] // 2, info["y"] + info["height"] // 2
        run("xdotool", "mousemove", str(x), str(y))
        wait_for(lambda: f"x:{x} y:{y} " in run("xdotool", "getmouselocation"), what="the pointer on the icon")

    def minimize(self):
        self.program.activate()
        key("ctrl+m")
        wait_for(lambda: not self.program.mapped(), what="the window to unmap")
        return self.wait_docked()

    def wait_restored(self):
        wait_for(self.program.mapped, what="the window to map again")
        wait_for(lambda: not self.icons(), what="the icon to go away")

    # --- the window's contents

    def open_folder(self, name):
        type_text(name)
        key("Return")
        time.sleep(0.8)  # past the folder list's keyboard search

    def browse_and_select(self):
        self.program.activate()
        key("Tab")
        self.open_folder("tmp")
        self.open_folder(os.path.basename(self.sounds))
        key("Tab")
        type_text("bravo")
        time.sleep(0.3)

    def lists_image(self, name):
        """A screenshot of the two columns of lists, with the window active."""
        self.program.activate()
        time.sleep(0.3)
        path = screenshot(name, self.program.wid)
        crop = path[:-4] + "-lists.png"
        info = window_info(self.program.wid)
        menu_bar = info["height"] - 324
        run("convert", path, "-crop", f"553x280+0+{menu_bar + 40}", "+repage", crop)
        return crop

    def same_image(self, first, second):
        out = subprocess.run(["compare", "-metric", "AE", first, second, "null:"], capture_output=True,
                             text=True, timeout=30)
        return out.stderr.strip() == "0"


class MinimizeAndRestore(TrayTestCase):
    def test_left_press_restores_the_window_as_it_was(self):
        self.browse_and_select()
        before = self.lists_image("tray-before-minimize")

        icon = self.minimize()
        shot = screenshot("tray-icon", icon)
        colours = run("convert", shot, "-format", "%k", "info:").strip()
        self.assertGreater(int(colours), 8, "the icon window shows no picture")

        # Resting on the icon shows the tip and changes nothing. A pointer that jumps in makes one
        # crossing event and no motion; a user's pointer drifts a little.
        self.point_at(icon)
        run("xdotool", "mousemove_relative", "1", "0")
        wait_for(self.tooltip_shown, what="the tip to show")
        self.assertFalse(self.program.mapped())

        # A press alone restores: no release is needed.
        run("xdotool", "mousedown", "1")
        try:
            self.wait_restored()
        finally:
            run("xdotool", "mouseup", "1")
        self.assertTrue(self.same_image(before, self.lists_image("tray-after-restore")),
                        "the lists changed between Minimize and restore")

    def tooltip_shown(self):
        # Qt's tip windows carry the program's class but no process id.
        for window in subprocess.run(["xdotool", "search", "--onlyvisible", "--class", "^ombrix-converter$"],
                                     capture_output=True, text=True, timeout=30).stdout.split():
            if "_NET_WM_WINDOW_TYPE_TOOLTIP" in run("xprop", "-id", window, "_NET_WM_WINDOW_TYPE", check=False):
                return True
        return False

    def test_right_press_does_nothing_and_release_restores(self):
        icon = self.minimize()
        self.point_at(icon)
        windows = self.program.all_windows()
        run("xdotool", "mousedown", "3")
        try:
            time.sleep(1.0)
            self.assertFalse(self.program.mapped())
            self.assertEqual(self.docked_icon(), icon)
            # No menu or any other window comes up.
            self.assertEqual(self.program.all_windows() - windows, set())
        finally:
            run("xdotool", "mouseup", "3")
        self.wait_restored()

    def test_double_click_restores_once(self):
        icon = self.minimize()
        self.point_at(icon)
        run("xdotool", "click", "--repeat", "2", "--delay", "60", "1")
        self.wait_restored()
        time.sleep(1.0)
        self.assertTrue(self.program.mapped())
        self.assertEqual(self.icons(), [])
        self.assertEqual(self.program.dialogs(), [])
        self.assertTrue(self.program.alive())

    def test_minimize_twice_in_a_run(self):
        icon = self.minimize()
        self.point_at(icon)
        run("xdotool", "click", "1")
        self.wait_restored()

        icon = self.minimize()
        self.point_at(icon)
        run("xdotool", "click", "3")
        self.wait_restored()
        self.assertTrue(self.program.alive())

    def test_icon_docks_again_when_the_tray_restarts(self):
        self.minimize()
        self.tray.stop()
        # Without a tray the icon window must not be left lying about on the screen.
        wait_for(lambda: not self.icons(), what="the orphaned icon to go")
        self.tray.start()
        icon = self.wait_docked()
        self.point_at(icon)
        run("xdotool", "click", "1")
        self.wait_restored()

    def test_exit_while_in_the_tray_removes_the_icon(self):
        self.minimize()
        self.x.request_close(self.program.wid)
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.icons(), [])


class StatusNotifierHost(unittest.TestCase):
    """No XEmbed tray, but a StatusNotifierItem host: Qt's tray icon serves, activation restores."""

    def setUp(self):
        self.x = XDisplay()
        self.addCleanup(self.x.close)
        wait_for(lambda: not self.x.tray_owner(), what="no XEmbed tray to be running")
        self.watcher = StatusNotifierWatcher()
        self.addCleanup(self.watcher.close)
        self.program = Program()
        self.addCleanup(self.program.stop)
        self.program.start(env={"DBUS_SESSION_BUS_ADDRESS": self.watcher.address})

    def minimize(self):
        self.program.activate()
        key("ctrl+m")
        wait_for(lambda: not self.program.mapped(), what="the window to unmap")
        item = self.watcher.next_item()
        self.assertEqual(self.watcher.item_property(item, "ToolTip")[2], TIP)
        return item

    def test_activation_and_context_request_restore(self):
        item = self.minimize()
        # A middle click is not a restore.
        self.watcher.send_to_item(item, "SecondaryActivate")
        time.sleep(1.0)
        self.assertFalse(self.program.mapped())
        self.assertEqual(self.program.dialogs(), [])

        self.watcher.send_to_item(item, "Activate")
        wait_for(self.program.mapped, what="the window to map again")
        wait_for(lambda: not self.watcher.item_alive(item), what="the item to go away")

        item = self.minimize()
        windows = self.program.all_windows()
        self.watcher.send_to_item(item, "ContextMenu")
        wait_for(self.program.mapped, what="the window to map again")
        wait_for(lambda: not self.watcher.item_alive(item), what="the item to go away")
        # No menu comes with it.
        self.assertEqual(self.program.all_windows() - windows, {self.program.wid})


class NoTrayHost(unittest.TestCase):
    def setUp(self):
        self.x = XDisplay()
        self.addCleanup(self.x.close)
        wait_for(lambda: not self.x.tray_owner(), what="no tray to be running")
        self.program = Program()
        self.addCleanup(self.program.stop)
        # No session bus either, so no StatusNotifierItem host.
        self.program.start(env={"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/ombrix-no-bus"})

    def test_minimize_keeps_the_window_and_warns(self):
        program = self.program
        program.activate()
        key("ctrl+m")
        dialog = program.wait_dialog()
        self.assertTrue(program.mapped())
        screenshot("tray-unavailable-warning", dialog)
        self.assertEqual(program.windows(title=TIP), [])
        key("Return")
        wait_for(lambda: dialog not in program.dialogs(), what="the warning to close")
        self.assertTrue(program.mapped())
        self.assertTrue(program.alive())
        self.assertEqual(program.dialogs(), [])


if __name__ == "__main__":
    unittest.main()
