"""Minimize to the notification area and back, with a real XEmbed tray host (trayer)."""

import signal
import subprocess
import time
import unittest

from harness import TIP, Program, XDisplay, centre, key, run, screenshot, search, sound_folder, type_text, \
    wait_for, window_info, xprop


class MinimizeAndRestore(unittest.TestCase):
    def setUp(self):
        self.x = XDisplay(self)
        self.start_tray()
        # No session bus, so no StatusNotifierItem host: the XEmbed tray is the only one.
        self.program = Program().start(self, {"DBUS_SESSION_BUS_ADDRESS": "unix:path=/nonexistent/ombrix-no-bus"})

    def start_tray(self):
        wait_for(lambda: not self.x.tray_owner(), what="no other tray to be running")
        self.tray = subprocess.Popen(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                                      "--height", "32", "--SetDockType", "true", "--transparent", "false"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop_tray, self.tray)
        wait_for(self.x.tray_owner, what="trayer to own the tray selection")
        self.panel = wait_for(lambda: search("--classname", "^panel$"), what="trayer's panel")[0]

    def stop_tray(self, tray):
        tray.terminate()
        tray.wait(timeout=10)
        wait_for(lambda: not self.x.tray_owner(), what="the tray selection to be released")

    def docked_icon(self):
        """The program's icon window once it sits, mapped and of a usable size, inside the tray's panel."""
        icons = self.program.windows(TIP)
        if len(icons) != 1:
            return None
        icon, panel = window_info(icons[0]), window_info(self.panel)
        inside = all(panel[xy] <= icon[xy] and icon[xy] + icon[wh] <= panel[xy] + panel[wh]
                     for xy, wh in (("x", "width"), ("y", "height")))
        return icons[0] if icon["mapped"] and inside and min(icon["width"], icon["height"]) >= 16 else None

    def wait_docked(self):
        icon = wait_for(self.docked_icon, what="the icon to dock in the tray")
        x, y = centre(icon)
        # Not --sync: it waits for a movement that never comes when the pointer is there already.
        run("xdotool", "mousemove", x, y)
        wait_for(lambda: f"x:{x} y:{y} " in run("xdotool", "getmouselocation"), what="the pointer on the icon")
        return icon

    def minimize(self, docks=True):
        self.program.activate()
        key("ctrl+m")
        wait_for(lambda: not self.program.mapped(), what="the window to unmap")
        return docks and self.wait_docked()

    def wait_restored(self):
        wait_for(self.program.mapped, what="the window to map again")
        wait_for(lambda: not self.program.windows(TIP), what="the icon to go away")

    def lists_image(self, name):
        self.program.activate()
        time.sleep(0.3)
        menu_bar = window_info(self.program.wid)["height"] - 324
        return screenshot(name, self.program.wid, "-crop", f"553x280+0+{menu_bar + 40}")  # the lists only

    def wait_for_tip(self):
        """Moves the pointer one pixel on the icon, and again after each wait that shows no tip."""
        deadline, step = time.monotonic() + 30, 1
        while time.monotonic() < deadline:
            run("xdotool", "mousemove_relative", "--", step, 0)
            step = -step
            try:
                # Qt's tip windows carry the program's class but no process id.
                return wait_for(lambda: any("_TOOLTIP" in xprop(w, "_NET_WM_WINDOW_TYPE")
                                            for w in search("--class", "^ombrix-converter$")), timeout=3)
            except AssertionError:
                pass
        self.fail("the tip never showed while the pointer rested on the icon")

    def test_left_press_restores_as_it_was_and_without_a_docking_tray_the_window_stays(self):
        self.program.walk(sound_folder(self, names=("alpha.wav", "bravo.wav", "charlie.wav")))
        type_text("bravo")
        before = self.lists_image("tray-before-minimize")

        icon = self.minimize()
        colours = run("convert", screenshot("tray-icon", icon), "-format", "%k", "info:")
        self.assertGreater(int(colours), 8, "the icon window shows no picture")
        # A user's pointer drifts a little on the icon: the tip shows and nothing else happens. A move
        # that lands in Qt's deferred deactivation of the hidden window cancels the tip timer, as it
        # would for a user, who moves again: so does the test, until the tip shows.
        self.wait_for_tip()
        self.assertFalse(self.program.mapped())
        # A press alone restores: no release is needed.
        run("xdotool", "mousedown", 1)
        try:
            self.wait_restored()
        finally:
            run("xdotool", "mouseup", 1)
        difference = run("convert", before, self.lists_image("tray-after-restore"), "-compose", "difference",
                         "-composite", "-format", "%[fx:maxima]", "info:")
        self.assertEqual(float(difference), 0, "the lists changed between Minimize and restore")

        self.minimize()
        self.tray.kill()
        # Two seconds of grace for a tray that restarts, then the window shows and says why.
        wait_for(self.program.mapped, timeout=8, what="the window to map without a tray")
        self.program.answer()
        # With no tray at all, Minimize keeps the window and warns.
        self.program.activate()
        key("ctrl+m")
        self.program.answer()
        self.assertEqual((self.program.mapped(), self.program.windows(TIP)), (True, []))
        # A tray that hangs holds its selection but never docks the icon: after the grace time, the same.
        self.start_tray()
        self.tray.send_signal(signal.SIGSTOP)
        self.addCleanup(self.tray.send_signal, signal.SIGCONT)
        self.minimize(docks=False)
        wait_for(self.program.mapped, timeout=8, what="the window to come back")
        self.program.answer()

    def test_double_and_right_clicks_restore_once_and_the_icon_survives_a_tray_restart(self):
        self.minimize()
        run("xdotool", "click", "--repeat", 2, "--delay", 60, 1)
        self.wait_restored()
        time.sleep(1.0)
        self.assertEqual((self.program.mapped(), self.program.windows(TIP) + self.program.dialogs()), (True, []))

        self.minimize()
        self.stop_tray(self.tray)
        # Without a tray the icon window must not be left lying about on the screen.
        wait_for(lambda: not self.program.windows(TIP), what="the orphaned icon to go")
        self.start_tray()
        self.wait_docked()
        # The right button restores on its release.
        run("xdotool", "click", 3)
        self.wait_restored()

        self.minimize()
        self.x.request_close(self.program.wid)
        self.assertEqual(self.program.process.wait(timeout=15), 0)
