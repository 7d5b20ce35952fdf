"""The main window, About and the help viewer as the window manager sees them, on a real X server."""

import os
import re
import time
import unittest

from harness import TITLE, Program, centre, key, run, screenshot, wait_for, window_info, xprop

HELP_FILE = "Ombrix_Converter_Help.chm"


class Windows(unittest.TestCase):
    def test_menu_bar_fits_and_about_stays_off_the_task_bar(self):
        program = Program().start(self)
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

    def open_viewer(self, with_help_file):
        """Starts the program, presses F1 and returns the new viewer, which must be transient for Main."""
        self.program = Program()
        if not with_help_file:
            os.remove(os.path.join(self.program.workdir, HELP_FILE))
        self.program.start(self).activate()
        self.before = set(self.program.windows(None))
        key("F1")
        viewer = wait_for(lambda: (list(set(self.program.windows(None)) - self.before) or [None])[0],
                          what="the help viewer")
        self.assertIn(f"window id # {self.program.wid:#x}", xprop(viewer, "WM_TRANSIENT_FOR"))
        return viewer

    def test_f1_opens_the_help_file_and_a_second_f1_brings_it_forward(self):
        viewer = self.open_viewer(with_help_file=True)
        wait_for(lambda: run("xdotool", "getwindowname", viewer).strip() == TITLE + " Help", what="its title")
        screenshot("help-viewer-page", viewer)
        self.program.activate()
        key("F1")
        wait_for(lambda: run("xdotool", "getactivewindow").strip() == str(viewer), what="the viewer to come forward")
        self.assertEqual(set(self.program.windows(None)) - self.before, {viewer})

    def test_f1_without_the_help_file_shows_the_viewers_message(self):
        viewer = self.open_viewer(with_help_file=False)
        # The page says why; select it all and copy it, as a user would.
        run("xdotool", "mousemove", "--sync", *centre(viewer), "click", 1)
        expected = (f"Cannot open the help file {HELP_FILE}: it does not exist.\n"
                    f"Looked in the folder {self.program.workdir}.")

        def copied():
            key("ctrl+a", "ctrl+c")
            time.sleep(0.1)
            return run("xclip", "-o", "-selection", "clipboard", check=False).strip() == expected
        wait_for(copied, what="the viewer's message")
        # No box of the program's own, and the program goes on.
        self.assertEqual(set(self.program.windows(None)) - self.before, {viewer})
        self.assertTrue(self.program.alive())


if __name__ == "__main__":
    unittest.main()
