"""The main window, About, the help viewer and the key panels as the window manager and the X server see them."""

import os
import shutil
import subprocess
import unittest

from harness import RUNTIME, TITLE, Program, XDisplay, active, centre, key, run, screenshot, search, \
    wait_for, window_info, xprop

HELP_FILE = "Ombrix_Converter_Help.chm"
# Each key panel's left edge in the status bar (19 px high), the X server's indicator and its key.
PANELS = {"NUM": (260, "Num Lock", "Num_Lock"), "CAPS": (356, "Caps Lock", "Caps_Lock"), "INS": (452, None, "Insert")}


class MainWindow(unittest.TestCase):
    def test_menu_bar_about_and_the_help_viewer_without_then_with_its_file(self):
        program = Program()
        os.remove(os.path.join(program.workdir, HELP_FILE))
        program.start(self)
        # The lists' area keeps its fixed size below a menu bar of the real font's height.
        self.assertTrue(15 <= window_info(program.wid)["height"] - 324 <= 40, "menu bar height")
        program.menu(2, 1)  # Help > About
        about = wait_for(program.dialogs, what="About")[0]
        # A task bar and a pager show Main only.
        state = xprop(about, "_NET_WM_STATE")
        self.assertTrue("_NET_WM_STATE_SKIP_TASKBAR" in state and "_NET_WM_STATE_SKIP_PAGER" in state, state)
        self.assertNotIn("SKIP", xprop(program.wid, "_NET_WM_STATE"))
        program.answer()  # Return on About's Close button

        program.activate()
        key("F1")
        viewer = wait_for(lambda: program.windows("Help"), what="the help viewer")[0]
        self.assertIn(f"window id # {program.wid:#x}", xprop(viewer, "WM_TRANSIENT_FOR"))
        # Without its file the viewer says why; select it all and copy it, as a user would.
        run("xdotool", "mousemove", "--sync", *centre(viewer), "click", 1)
        expected = f"Cannot open the help file {HELP_FILE}: it does not exist.\nLooked in the folder {program.workdir}."

        def copied():
            key("ctrl+a", "ctrl+c")
            return run("xclip", "-o", "-selection", "clipboard", check=False).strip() == expected
        wait_for(copied, what="the viewer's message")
        # A second F1, the file there by then: the same viewer shows it and comes forward where it is.
        shutil.copy(os.path.join(RUNTIME, HELP_FILE), program.workdir)
        # Moved by the user first: a second F1 must not place it again.
        run("xdotool", "windowmove", "--sync", viewer, window_info(viewer)["x"], window_info(viewer)["y"] + 40)
        where = window_info(viewer)
        program.activate()
        key("F1")
        wait_for(lambda: program.windows(TITLE + " Help") == [viewer], what="the viewer to show the file")
        wait_for(lambda: active() == viewer, what="the viewer to come forward")
        self.assertEqual(window_info(viewer), where)
        # No box of the program's own at any time, and the program goes on.
        self.assertEqual(program.dialogs(), [])

        # Main stays usable beside it, by mouse: toOGG (at 8,8 below the menu bar) answers "No file selected !",
        # File > Exit quits.
        main = window_info(program.wid)
        menu_bar = main["height"] - 324
        run("xdotool", "mousemove", "--sync", main["x"] + 70, main["y"] + menu_bar + 20, "click", 1)
        program.answer()
        run("xdotool", "mousemove", "--sync", main["x"] + 15, main["y"] + menu_bar // 2, "click", 1)
        key("Down", "Down", "Return")
        program.answer()  # Yes, the default button
        self.assertEqual(program.process.wait(timeout=15), 0)

    def lit(self, panel):
        """Whether the panel's text shows in the text colour, not the light grey of disabled text."""
        top = window_info(self.program.wid)["height"] - 19
        shot = screenshot("statusbar-" + panel, self.program.wid, "-crop", f"88x13+{PANELS[panel][0] + 4}+{top + 3}")
        darkest = float(run("convert", shot, "-colorspace", "Gray", "-format", "%[fx:minima]", "info:"))
        self.assertTrue(darkest < 0.3 or darkest > 0.5, f"{panel} is neither lit nor greyed: {darkest}")
        return darkest < 0.3

    def press(self, panel):
        """Presses the panel's key and waits for the X server's indicator (if any), then the panel, to change."""
        before, indicator = self.lit(panel), PANELS[panel][1]
        key(PANELS[panel][2])
        if indicator:
            wait_for(lambda: self.x.indicator(indicator) != before, what=f"{panel}'s indicator to change")
        wait_for(lambda: self.lit(panel) != before, timeout=5, what=f"{panel} to show {'off' if before else 'on'}")

    def test_key_panels_follow_the_keyboard(self):
        self.x = XDisplay(self)
        initial = {panel: self.x.indicator(PANELS[panel][1]) for panel in ("NUM", "CAPS")}

        def restore():  # Leave the keyboard as found: the X server outlives this test.
            for panel in initial:
                if self.x.indicator(PANELS[panel][1]) != initial[panel]:
                    key(PANELS[panel][2])
        self.addCleanup(restore)
        self.program = Program().start(self)
        self.program.activate()
        self.assertEqual({panel: self.lit(panel) for panel in PANELS}, {**initial, "INS": False})
        for panel in PANELS:
            self.press(panel)
            self.press(panel)

        # Followed while another program has the focus; the Insert key pressed there is not the program's.
        other = subprocess.Popen(["xmessage", "-geometry", "+0+0", "another program"], stderr=subprocess.DEVNULL)
        self.addCleanup(other.wait)
        self.addCleanup(other.kill)
        window = wait_for(lambda: search("--class", "^Xmessage$"), what="the other program's window")[0]
        run("xdotool", "windowactivate", "--sync", window, check=False)
        wait_for(lambda: active() == window, what="the other window's focus")
        key("Insert")
        self.press("NUM")
        self.assertFalse(self.lit("INS"))
