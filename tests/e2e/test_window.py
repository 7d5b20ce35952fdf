"""The main window and the About window as the window manager sees them, on a real X server."""

import re
import time
import unittest

from harness import run, screenshot, start, window_info, xprop


class MainWindowLook(unittest.TestCase):
    def test_fixed_size_and_about_off_the_task_bar(self):
        program = start(self)
        size = lambda wid: (window_info(wid)["width"], window_info(wid)["height"])  # noqa: E731
        width, height = size(program.wid)
        self.assertEqual(width, 553)
        self.assertTrue(15 <= height - 324 <= 40, f"menu bar {height - 324} px high")
        # The frame cannot be resized, whatever the window manager is asked.
        run("xdotool", "windowsize", program.wid, 800, 600)
        time.sleep(0.5)
        self.assertEqual(size(program.wid), (width, height))
        screenshot("main-window", program.wid)

        program.menu(2, 1)  # Help > About
        about = program.wait_dialog()
        screenshot("about-window", about)
        self.assertEqual(size(about), (384, 216))
        # A task bar and a pager show Main only.
        skip = {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}
        self.assertLessEqual(skip, set(re.findall(r"\w+", xprop(about, "_NET_WM_STATE"))))
        self.assertNotIn("SKIP", xprop(program.wid, "_NET_WM_STATE"))


if __name__ == "__main__":
    unittest.main()
