"""Minimize to the notification area and back, with a real XEmbed tray host (trayer)."""

import ctypes
import ctypes.util
import os
import shutil
import subprocess
import tempfile
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


class TrayHost:
    """A trayer process, started and stopped by the test."""

    def __init__(self, x):
        self.x = x
        self.process = None

    def start(self):
        wait_for(lambda: not self.x.tray_owner(), what="no other tray to be running")
        self.process = subprocess.Popen(TRAYER, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(self.x.tray_owner, what="trayer to own the tray selection")
        self.panel = wait_for(lambda: run("xdotool", "search", "--onlyvisible", "--classname", "^panel$",
                                          check=False).split(), what="trayer's panel")[0]
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        wait_for(lambda: not self.x.tray_owner(), what="the tray selection to be released")


class MinimizeAndRestore(unittest.TestCase):
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
        return icons[0] if icon["mapped"] and inside and min(icon["width"], icon["height"]) >= 16 else None

    def minimize(self):
        """Ctrl+M, then the pointer resting on the docked icon; returns the icon."""
        self.program.activate()
        key("ctrl+m")
        wait_for(lambda: not self.program.mapped(), what="the window to unmap")
        return self.point_at(wait_for(self.docked_icon, what="the icon to dock in the tray"))

    def point_at(self, icon):
        info = window_info(icon)
        # Not --sync: it waits for a movement that never comes when the pointer is there already.
        x, y = info["x"] + info["width"] // 2, info["y"] + info["height"] // 2
        run("xdotool", "mousemove", str(x), str(y))
        wait_for(lambda: f"x:{x} y:{y} " in run("xdotool", "getmouselocation"), what="the pointer on the icon")
        return icon

    def wait_restored(self):
        wait_for(self.program.mapped, what="the window to map again")
        wait_for(lambda: not self.icons(), what="the icon to go away")

    def lists_image(self, name):
        """A screenshot of the two columns of lists, with the window active."""
        self.program.activate()
        time.sleep(0.3)
        path = screenshot(name, self.program.wid)
        crop = path[:-4] + "-lists.png"
        menu_bar = window_info(self.program.wid)["height"] - 324
        run("convert", path, "-crop", f"553x280+0+{menu_bar + 40}", "+repage", crop)
        return crop

    def test_left_press_restores_the_window_as_it_was(self):
        self.program.activate()
        key("Tab")
        for folder in ("tmp", os.path.basename(self.sounds)):
            type_text(folder)
            key("Return")
            time.sleep(0.8)  # past the folder list's keyboard search
        key("Tab")
        type_text("bravo")
        time.sleep(0.3)
        before = self.lists_image("tray-before-minimize")

        icon = self.minimize()
        colours = run("convert", screenshot("tray-icon", icon), "-format", "%k", "info:").strip()
        self.assertGreater(int(colours), 8, "the icon window shows no picture")
        # A user's pointer drifts a little on the icon: the tip shows and nothing else happens. A move
        # that lands in Qt's deferred deactivation of the hidden window cancels the tip timer, as it
        # would for a user, who moves again: so does the test, until the tip shows.
        self.wait_for_tip()
        self.assertFalse(self.program.mapped())

        # A press alone restores: no release is needed.
        run("xdotool", "mousedown", "1")
        try:
            self.wait_restored()
        finally:
            run("xdotool", "mouseup", "1")
        compare = subprocess.run(["compare", "-metric", "AE", before, self.lists_image("tray-after-restore"),
                                  "null:"], capture_output=True, text=True, timeout=30)
        self.assertEqual(compare.stderr.strip(), "0", "the lists changed between Minimize and restore")

    def wait_for_tip(self):
        """Moves the pointer one pixel on the icon, and again after each wait that shows no tip."""
        deadline = time.monotonic() + 30
        step = 1
        while time.monotonic() < deadline:
            run("xdotool", "mousemove_relative", "--", str(step), "0")
            step = -step
            try:
                return wait_for(self.tooltip_shown, timeout=3, what="the tip to show")
            except AssertionError:
                pass
        self.fail("the tip never showed while the pointer rested on the icon")

    def tooltip_shown(self):
        # Qt's tip windows carry the program's class but no process id.
        for window in run("xdotool", "search", "--onlyvisible", "--class", "^ombrix-converter$",
                          check=False).split():
            if "_NET_WM_WINDOW_TYPE_TOOLTIP" in run("xprop", "-id", window, "_NET_WM_WINDOW_TYPE", check=False):
                return True
        return False

    def test_right_press_does_nothing_and_release_restores(self):
        icon = self.minimize()
        windows = self.program.all_windows()
        run("xdotool", "mousedown", "3")
        try:
            time.sleep(1.0)
            self.assertFalse(self.program.mapped())
            self.assertEqual(self.docked_icon(), icon)
            self.assertEqual(self.program.all_windows() - windows, set(), "a menu or other window came up")
        finally:
            run("xdotool", "mouseup", "3")
        self.wait_restored()

    def test_double_click_restores_once_and_minimize_works_again(self):
        self.minimize()
        run("xdotool", "click", "--repeat", "2", "--delay", "60", "1")
        self.wait_restored()
        time.sleep(1.0)
        self.assertTrue(self.program.mapped())
        self.assertEqual(self.icons(), [])
        self.assertEqual(self.program.dialogs(), [])
        self.minimize()
        run("xdotool", "click", "3")
        self.wait_restored()

    def test_icon_docks_again_when_the_tray_restarts(self):
        self.minimize()
        self.tray.stop()
        # Without a tray the icon window must not be left lying about on the screen.
        wait_for(lambda: not self.icons(), what="the orphaned icon to go")
        self.tray.start()
        self.point_at(wait_for(self.docked_icon, what="the icon to dock again"))
        run("xdotool", "click", "1")
        self.wait_restored()

    def test_window_comes_back_when_the_tray_dies(self):
        self.minimize()
        self.tray.process.kill()
        self.tray.process.wait(timeout=10)
        # Two seconds of grace for a tray that restarts, then the window shows and says why.
        wait_for(self.program.mapped, timeout=8, what="the window to map without a tray")
        self.program.wait_dialog(timeout=5)
        self.assertEqual(self.icons(), [])
        key("Return")
        wait_for(lambda: not self.program.dialogs(), what="the warning to close")
        # The program answers: Help > About opens.
        self.program.menu(2, 1)
        self.program.wait_dialog()

    def test_exit_while_in_the_tray_removes_the_icon(self):
        self.minimize()
        self.x.request_close(self.program.wid)
        self.assertEqual(self.program.wait_exit(), 0)
        self.assertEqual(self.icons(), [])


class NoTrayHost(unittest.TestCase):
    def test_minimize_keeps_the_window_and_warns(self):
        x = XDisplay()
        self.addCleanup(x.close)
        wait_for(lambda: not x.tray_owner(), what="no tray to be running")
        program = Program()
        self.addCleanup(program.stop)
        # No session bus either, so no StatusNotifierItem host.
        program.start(env={"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/ombrix-no-bus"})
        program.activate()
        key("ctrl+m")
        dialog = program.wait_dialog()
        self.assertTrue(program.mapped())
        screenshot("tray-unavailable-warning", dialog)
        self.assertEqual(program.windows(title=TIP), [])
        key("Return")
        wait_for(lambda: not program.dialogs(), what="the warning to close")
        self.assertTrue(program.mapped())
        self.assertTrue(program.alive())


if __name__ == "__main__":
    unittest.main()
