"""Drives the staged program on the real X server named by DISPLAY, with xdotool and friends."""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

RUNTIME = os.environ.get("OMBRIX_RUNTIME_DIR", "")
TITLE = "Ombrix Converter"
ARTIFACTS = os.environ.get("OMBRIX_ARTIFACTS", os.path.join(os.path.dirname(RUNTIME), "test-artifacts"))


def run(*args, check=True):
    """Runs a command and returns its standard output as text."""
    result = subprocess.run(args, capture_output=True, text=True, timeout=30)
    if check and result.returncode != 0:
        raise RuntimeError(f"{' '.join(args)} failed: {result.stderr.strip()}")
    return result.stdout


def wait_for(predicate, timeout=15.0, interval=0.05, what="condition"):
    """Polls predicate until it returns something true; returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(interval)


def key(*keys, delay_ms=40):
    """Types keys into whatever window has the keyboard focus."""
    run("xdotool", "key", "--delay", str(delay_ms), *keys)


def type_text(text):
    run("xdotool", "type", "--delay", "30", text)


def open_folder(name):
    """Types a folder's name into the focused folder list and opens it with Return."""
    type_text(name)
    key("Return")
    # Typed letters within the view's keyboard-search interval would extend the last search.
    time.sleep(0.8)


def window_info(wid):
    """xwininfo's fields of a window: absolute position, size and map state."""
    out = run("xwininfo", "-id", str(wid), check=False)
    info = {}
    for name, field in (("x", "Absolute upper-left X"), ("y", "Absolute upper-left Y"),
                        ("width", "Width"), ("height", "Height")):
        match = re.search(rf"{field}:\s+(-?\d+)", out)
        if match:
            info[name] = int(match.group(1))
    match = re.search(r"Map State:\s+(\w+)", out)
    info["mapped"] = bool(match) and match.group(1) == "IsViewable"
    return info


def click(x, y, button=1):
    run("xdotool", "mousemove", "--sync", str(x), str(y), "click", str(button))


def screenshot(name, wid="root"):
    """Saves a PNG of a window (or the whole screen) among the test artifacts; returns its path."""
    os.makedirs(ARTIFACTS, exist_ok=True)
    path = os.path.join(ARTIFACTS, name + ".png")
    run("import", "-window", str(wid), path)
    return path


def pixel(path, x, y):
    """The (r, g, b) of one pixel of a PNG file."""
    out = run("convert", path, "-format", f"%[fx:int(255*p{{{x},{y}}}.r)],%[fx:int(255*p{{{x},{y}}}.g)],"
              f"%[fx:int(255*p{{{x},{y}}}.b)]", "info:")
    return tuple(int(v) for v in out.strip().split(","))


def make_wav(path, seconds=0.5):
    """A real 16-bit PCM WAV file with a tone."""
    run("sox", "-n", "-r", "22050", "-b", "16", "-e", "signed-integer", "-c", "1", path,
        "synth", str(seconds), "sine", "440")


def settled(path):
    """True once path exists and its size stays put for a moment (the encoder has finished)."""
    if not os.path.exists(path):
        return False
    size = os.path.getsize(path)
    time.sleep(0.3)
    return size > 0 and os.path.getsize(path) == size


def open_folder(name):
    """Types a folder's name into the focused folder list and opens it with Return."""
    type_text(name)
    key("Return")
    # Typed letters within the view's keyboard-search interval would extend the last search.
    time.sleep(0.8)


class Program:
    """One run of the staged program in a temporary copy of its runtime folder."""

    def __init__(self, keep_tools=True, command=None, cwd=None):
        """With a command (an installed program, say), runs that in cwd instead of the staged copy."""
        self.process = None
        self.wid = None
        self.command = command or ["./ombrix-converter"]
        if command:
            self.tmp = tempfile.TemporaryDirectory(prefix="ombrix-e2e-")
            self.workdir = cwd or self.tmp.name
            return
        if not RUNTIME or not os.path.isfile(os.path.join(RUNTIME, "ombrix-converter")):
            raise RuntimeError("OMBRIX_RUNTIME_DIR does not hold the staged program")
        self.tmp = tempfile.TemporaryDirectory(prefix="ombrix-e2e-")
        self.workdir = os.path.join(self.tmp.name, "runtime")
        shutil.copytree(RUNTIME, self.workdir, symlinks=True)
        if not keep_tools:
            shutil.rmtree(os.path.join(self.workdir, "data"), ignore_errors=True)

    def start(self, env=None):
        environment = dict(os.environ)
        environment.setdefault("XDG_RUNTIME_DIR", self.tmp.name)
        environment.pop("QT_QPA_PLATFORM", None)
        environment.update(env or {})
        self.log = open(os.path.join(self.tmp.name, "program.log"), "w")
        self.process = subprocess.Popen(self.command, cwd=self.workdir, env=environment,
                                        stdout=self.log, stderr=subprocess.STDOUT)
        self.wid = wait_for(lambda: self.find_window(), timeout=30, what="the main window")
        wait_for(lambda: window_info(self.wid)["mapped"], what="the main window to map")
        return self

    def windows(self, title=TITLE, visible=True):
        """Ids of this program's top-level windows with exactly this title."""
        args = ["xdotool", "search", "--all", "--pid", str(self.process.pid)]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", f"^{re.escape(title)}$"]
        out = subprocess.run(args, capture_output=True, text=True, timeout=30).stdout
        return [int(w) for w in out.split()]

    def all_windows(self):
        """Ids of this program's visible top-level windows, whatever their titles."""
        out = subprocess.run(["xdotool", "search", "--all", "--pid", str(self.process.pid), "--onlyvisible",
                              "--name", ".*"], capture_output=True, text=True, timeout=30).stdout
        return {int(w) for w in out.split()}

    def find_window(self):
        # The main window is the largest window titled as the program.
        found = self.windows()
        if not found:
            return None
        return max(found, key=lambda w: window_info(w).get("width", 0) * window_info(w).get("height", 0))

    def dialogs(self):
        """Visible windows of the program other than the main window."""
        return [w for w in self.windows() if w != self.wid]

    def wait_dialog(self, timeout=15):
        return wait_for(lambda: (self.dialogs() or [None])[0], timeout=timeout, what="a dialog")

    def activate(self, wid=None):
        run("xdotool", "windowactivate", "--sync", str(wid or self.wid), check=False)
        run("xdotool", "windowfocus", "--sync", str(wid or self.wid), check=False)

    def mapped(self):
        return window_info(self.wid)["mapped"]

    def alive(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def menu(self, menu_index, entry_index):
        """Chooses a menu entry by keyboard: Alt focuses the menu bar, arrows walk to the entry."""
        self.activate()
        key("alt")
        key(*(["Right"] * menu_index), "Down", *(["Down"] * entry_index), "Return")

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.process:
            self.log.close()
        self.tmp.cleanup()

    def output(self):
        with open(os.path.join(self.tmp.name, "program.log")) as log:
            return log.read()
