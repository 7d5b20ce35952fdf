"""The NUM, CAPS and INS panels follow the real keyboard.

The panels are read from screenshots: a key that is on shows its text in the normal text colour,
one that is off in the light grey of disabled text, so the darkest pixel inside a panel tells its
state. The X server's own indicator state is the reference for NUM and CAPS.
"""

import subprocess
import unittest

from harness import Program, key, run, screenshot, wait_for, window_info
from test_tray import XDisplay

STATUS_BAR_HEIGHT = 19
PANELS = {"NUM": (260, 96), "CAPS": (356, 96), "INS": (452, 96)}
INDICATORS = {"NUM": "Num Lock", "CAPS": "Caps Lock"}
KEYS = {"NUM": "Num_Lock", "CAPS": "Caps_Lock"}


class KeyPanels(unittest.TestCase):
    def setUp(self):
        self.x = XDisplay()
        self.addCleanup(self.x.close)
        # Leave the keyboard as found: the X server outlives this test.
        self.addCleanup(self.restore_locks, {name: self.x.indicator(ind) for name, ind in INDICATORS.items()})
        self.program = Program().start()
        self.addCleanup(self.program.stop)
        self.shots = 0

    def restore_locks(self, initial):
        for name, indicator in INDICATORS.items():
            if self.x.indicator(indicator) != initial[name]:
                key(KEYS[name])

    def lit(self, panel):
        """Whether the panel's text shows in the full text colour; from a fresh screenshot."""
        self.shots += 1
        shot = screenshot(f"statusbar-{self._testMethodName}-{self.shots}", self.program.wid)
        left, width = PANELS[panel]
        top = window_info(self.program.wid)["height"] - STATUS_BAR_HEIGHT
        darkest = float(run("convert", shot, "-crop", f"{width - 8}x{STATUS_BAR_HEIGHT - 6}+{left + 4}+{top + 3}",
                            "-colorspace", "Gray", "-format", "%[fx:minima]", "info:"))
        self.assertTrue(darkest < 0.3 or darkest > 0.5, f"{panel} is neither lit nor greyed: {darkest}")
        return darkest < 0.3

    def wait_panel(self, panel, on):
        wait_for(lambda: self.lit(panel) == on, timeout=5, what=f"{panel} to show {'on' if on else 'off'}")

    def test_num_and_caps_follow_the_keyboard(self):
        self.program.activate()
        for panel in ("NUM", "CAPS"):
            indicator = INDICATORS[panel]
            self.assertEqual(self.lit(panel), self.x.indicator(indicator), f"{panel} at start")
            for _ in range(2):
                before = self.x.indicator(indicator)
                key(KEYS[panel])
                wait_for(lambda: self.x.indicator(indicator) != before, what=f"{indicator} to change")
                self.wait_panel(panel, not before)

    def test_locks_are_followed_while_another_window_has_the_focus(self):
        other = subprocess.Popen(["xmessage", "-geometry", "+0+0", "another program"], stderr=subprocess.DEVNULL)
        self.addCleanup(other.wait)
        self.addCleanup(other.terminate)
        window = wait_for(lambda: run("xdotool", "search", "--onlyvisible", "--class", "^Xmessage$", check=False)
                          .split(), what="the other program's window")[0]
        run("xdotool", "windowactivate", "--sync", window, check=False)
        wait_for(lambda: run("xdotool", "getactivewindow", check=False).strip() == window,
                 what="the other window to take the focus")

        before = self.x.indicator("Num Lock")
        key("Num_Lock")
        self.wait_panel("NUM", not before)
        # Insert pressed in another program's window is not the program's to see.
        insert = self.lit("INS")
        key("Insert")
        self.assertEqual(self.lit("INS"), insert)

    def test_insert_toggles_with_each_press(self):
        self.program.activate()
        self.assertFalse(self.lit("INS"))
        key("Insert")
        self.wait_panel("INS", True)
        key("Insert")
        self.wait_panel("INS", False)
        # Held down: one press, however long the key repeats.
        run("xdotool", "keydown", "Insert")
        try:
            self.wait_panel("INS", True)
            subprocess.run(["sleep", "1"])
        finally:
            run("xdotool", "keyup", "Insert")
        self.assertTrue(self.lit("INS"))


if __name__ == "__main__":
    unittest.main()
