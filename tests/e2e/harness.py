"""Drives the staged program on the real X server named by DISPLAY, with xdotool, xwininfo, xprop and Xlib."""

import ctypes
import ctypes.util
import os
import re
import shutil
import subprocess
import tempfile
import time

RUNTIME = os.environ["OMBRIX_RUNTIME_DIR"]
TITLE = "Ombrix Converter"
TIP = "Restore Ombrix Converter"
ARTIFACTS = os.environ.get("OMBRIX_ARTIFACTS", os.path.join(os.path.dirname(RUNTIME), "test-artifacts"))


def run(*args, check=True, **options):
    result = subprocess.run([str(a) for a in args], capture_output=True, text=True, **{"timeout": 30, **options})
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, args))} failed: {result.stdout}{result.stderr}")
    return result.stdout


def wait_for(predicate, timeout=15.0, what="condition"):
    """Polls predicate until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while not (value := predicate()):
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(0.05)
    return value


def key(*keys):
    run("xdotool", "key", "--delay", "40", *keys)


def type_text(text):
    run("xdotool", "type", "--delay", "30", text)


def search(*args):
    return [int(w) for w in run("xdotool", "search", "--onlyvisible", *args, check=False).split()]


def active():
    return int(run("xdotool", "getactivewindow", check=False) or 0)


def xprop(wid, name):
    return run("xprop", "-id", wid, name, check=False)


def window_info(wid):
    """xwininfo's fields of a window: absolute position, size and map state."""
    out = run("xwininfo", "-id", wid, check=False)
    numbers = map(int, re.findall(r"(?:Absolute upper-left [XY]|Width|Height):\s+(-?\d+)", out))
    return dict(zip(("x", "y", "width", "height"), numbers), mapped="Map State: IsViewable" in out)


def centre(wid):
    info = window_info(wid)
    return info["x"] + info["width"] // 2, info["y"] + info["height"] // 2


def screenshot(name, wid, *options):
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, name + ".png")
    run("import", "-window", wid, *options, path)
    return path


def sound_folder(test, *parts, names=("voice01.wav",)):
    """A fresh folder under /tmp (removed after the test) holding real 16-bit PCM WAV files with a tone."""
    root = tempfile.mkdtemp(prefix="e2esnd", dir="/tmp")
    test.addCleanup(shutil.rmtree, root, True)
    folder = os.path.join(root, *parts)
    os.makedirs(folder, exist_ok=True)
    for name in names:
        run("sox", "-n", "-r", "22050", "-b", "16", "-e", "signed-integer", "-c", "1", os.path.join(folder, name),
            "synth", "0.1", "sine", "440")
    return folder


class Program:
    """One run of the staged program in a temporary copy of its runtime folder, or of command in cwd."""

    def __init__(self, command=None, cwd=None):
        self.process, self.command, self.workdir = None, command or ["./ombrix-converter"], cwd
        self.tmp = tempfile.TemporaryDirectory(prefix="ombrix-e2e-")
        if not command:
            self.workdir = os.path.join(self.tmp.name, "runtime")
            shutil.copytree(RUNTIME, self.workdir, symlinks=True)

    def start(self, test, env=None):
        """Starts the program for one test, which stops it after; waits for the main window to show."""
        test.addCleanup(self.stop)
        # Its output (sanitizer reports among it) goes into the test's own.
        self.process = subprocess.Popen(self.command, cwd=self.workdir, env={**os.environ, **(env or {})})
        self.wid = wait_for(self.windows, timeout=30, what="the main window")[0]
        return self

    def windows(self, title=TITLE):
        return search("--all", "--pid", self.process.pid, "--name", f"^{re.escape(title)}$")

    def dialogs(self):
        return [w for w in self.windows() if w != self.wid]

    def answer(self):
        dialog = wait_for(self.dialogs, what="a message box")[0]
        key("Return")
        wait_for(lambda: dialog not in self.dialogs(), what="the message box to close")

    def activate(self):
        run("xdotool", "windowactivate", "--sync", self.wid, check=False)
        run("xdotool", "windowfocus", "--sync", self.wid, check=False)

    def mapped(self):
        return window_info(self.wid)["mapped"]

    def menu(self, menu_index, entry_index):
        """Chooses a menu entry by keyboard: Alt focuses the menu bar, arrows walk to the entry."""
        self.activate()
        key("alt")
        key(*(["Right"] * menu_index), "Down", *(["Down"] * entry_index), "Return")

    def walk(self, folder):
        """Opens folder in the folder list, typing each name from /, and moves on to the file list."""
        self.activate()
        key("Tab")
        for name in folder.strip("/").split("/"):
            type_text(name)
            key("Return")
            # Typed letters within the view's keyboard-search interval would extend the last search.
            time.sleep(0.8)
        key("Tab")

    def stop(self):
        if self.process:
            self.process.kill()
            self.process.wait()
        self.tmp.cleanup()


class XDisplay:
    """The few Xlib calls the tests need that no command-line tool offers."""

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                    ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5), ("pad", ctypes.c_long * 12)]

    def __init__(self, test):
        self.xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xlib.XOpenDisplay.restype = ctypes.c_void_p
        # Wrapped, so that ctypes passes the pointer whole; atoms and window ids fit the default int results.
        self.display = ctypes.c_void_p(self.xlib.XOpenDisplay(None))
        if not self.display.value:
            raise RuntimeError("cannot open the display " + os.environ.get("DISPLAY", ""))
        test.addCleanup(self.xlib.XCloseDisplay, self.display)

    def atom(self, name):
        return ctypes.c_ulong(self.xlib.XInternAtom(self.display, name.encode(), 0))

    def tray_owner(self):
        return self.xlib.XGetSelectionOwner(self.display, self.atom("_NET_SYSTEM_TRAY_S0"))

    def indicator(self, name):
        """Whether the keyboard's indicator of that name ("Num Lock", "Caps Lock") is lit."""
        state = ctypes.c_int()
        if not self.xlib.XkbGetNamedIndicator(self.display, self.atom(name), None, ctypes.byref(state), None, None):
            raise RuntimeError(f"the keyboard has no {name} indicator")
        return bool(state.value)

    def request_close(self, window):
        """Sends WM_DELETE_WINDOW straight to a window, as a session manager would; works on a hidden one."""
        event = self.ClientMessage(type=33, window=window, message_type=self.atom("WM_PROTOCOLS"), format=32)
        event.data[0] = self.atom("WM_DELETE_WINDOW").value  # data[1], the time, stays CurrentTime
        self.xlib.XSendEvent(self.display, ctypes.c_ulong(window), 0, ctypes.c_long(0), ctypes.byref(event))
        self.xlib.XFlush(self.display)
