"""The main window and the About window as a user sees them, on a real X server."""

import time
import unittest

from harness import Program, key, pixel, run, screenshot, wait_for, window_info

CLIENT = (553, 324)


class MainWindowLook(unittest.TestCase):
    def setUp(self):
        self.program = Program().start()

    def tearDown(self):
        self.program.stop()

    def test_fixed_size(self):
        program = self.program
        info = window_info(program.wid)
        self.assertEqual(info["width"], CLIENT[0])
        menu_bar = info["height"] - CLIENT[1]
        self.assertTrue(15 <= menu_bar <= 40, f"menu bar {menu_bar} px high")

        # The frame cannot be resized, whatever the window manager is asked.
        run("xdotool", "windowsize", str(program.wid), "800", "600")
        time.sleep(0.5)
        self.assertEqual((window_info(program.wid)["width"], window_info(program.wid)["height"]),
                         (info["width"], info["height"]))

        screenshot("main-window", program.wid)

    def test_about_blocks_main_until_closed(self):
        program = self.program
        program.menu(2, 1)  # Help > About
        about = program.wait_dialog()
        info = window_info(about)
        self.assertEqual((info["width"], info["height"]), (384, 216))
        # A task bar and a pager show Main only.
        states = run("xprop", "-id", str(about), "_NET_WM_STATE")
        self.assertIn("_NET_WM_STATE_SKIP_TASKBAR", states)
        self.assertIn("_NET_WM_STATE_SKIP_PAGER", states)
        self.assertNotIn("SKIP", run("xprop", "-id", str(program.wid), "_NET_WM_STATE"))

        shot = screenshot("about-window", about)
        # The version text "ver.: 1.11" is dark blue, RGB(0, 0, 64), in its box at (120, 40).
        blues = [pixel(shot, x, y) for x in range(120, 190, 3) for y in range(42, 56, 2)]
        self.assertTrue(any(r < 30 and g < 30 and 40 <= b <= 110 for r, g, b in blues), blues[:10])

        # Main takes no keys while About is open: F1 opens nothing.
        before = program.all_windows()
        program.activate()
        key("F1")
        time.sleep(1)
        self.assertEqual(program.all_windows(), before)

        # Return presses the focused Close button; Main takes keys again: F1 opens the help viewer.
        program.activate(about)
        key("Return")
        wait_for(lambda: about not in program.all_windows(), what="About to close")
        key("F1")
        viewer = wait_for(lambda: (list(program.all_windows() - before - {about}) or [None])[0],
                          what="the help viewer")
        self.assertTrue(window_info(viewer)["mapped"])
        screenshot("help-viewer", viewer)
        self.assertTrue(program.mapped())


if __name__ == "__main__":
    unittest.main()
