"""The main window, About and the help viewer as the window manager sees them, on a real X server."""

import os
import re
import shutil
import unittest

from harness import RUNTIME, TITLE, Program, active, centre, key, run, screenshot, wait_for, window_info, xprop

HELP_FILE = "Ombrix_Converter_Help.chm"


class Windows(unittest.TestCase):
    def test_menu_bar_about_and_the_help_viewer_without_then_with_its_file(self):
        program = Program()
        os.remove(os.path.join(program.workdir, HELP_FILE))
        program.start(self)
        screenshot("main-window", program.wid)
        # The lists' area keeps its fixed size below a menu bar of the real font's height.
        self.assertTrue(15 <= window_info(program.wid)["height"] - 324 <= 40, "menu bar height")
        program.menu(2, 1)  # Help > About
        about = program.wait_dialog()
        screenshot("about-window", about)
        # A task bar and a pager show Main only.
        skip = {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}
        self.assertLessEqual(skip, set(re.findall(r"\w+", xprop(about, "_NET_WM_STATE"))))
        self.assertNotIn("SKIP", xprop(program.wid, "_NET_WM_STATE"))
        program.answer()  # Return on About's Close button

        program.activate()
        before = set(program.windows(None))
        key("F1")
        viewer = wait_for(lambda: (list(set(program.windows(None)) - before) or [None])[0], what="the help viewer")
        self.assertIn(f"window id # {program.wid:#x}", xprop(viewer, "WM_TRANSIENT_FOR"))
        # Without its file the viewer says why; select it all and copy it, as a user would.
        run("xdotool", "mousemove", "--sync", *centre(viewer), "click", 1)
        expected = f"Cannot open the help file {HELP_FILE}: it does not exist.\nLooked in the folder {program.workdir}."

        def copied():
            key("ctrl+a", "ctrl+c")
            return run("xclip", "-o", "-selection", "clipboard", check=False).strip() == expected
        wait_for(copied, what="the viewer's message")

        # A second F1, the file there by then: the same viewer shows it and comes forward.
        shutil.copy(os.path.join(RUNTIME, HELP_FILE), program.workdir)
        program.activate()
        key("F1")
        wait_for(lambda: run("xdotool", "getwindowname", viewer).strip() == TITLE + " Help", what="the file's title")
        wait_for(lambda: active() == viewer, what="the viewer to come forward")
        screenshot("help-viewer-page", viewer)
        # No box of the program's own at any time, and the program goes on.
        self.assertEqual(set(program.windows(None)) - before, {viewer})
