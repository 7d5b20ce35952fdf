"""The NUM, CAPS and INS panels follow the real keyboard.

The panels are read from screenshots: a key that is on shows its text in the normal text colour,
one that is off in the light grey of disabled text, so the darkest pixel inside a panel tells its
state. The X server's own indicator state is the reference for NUM and CAPS.
"""

import subprocess
import time
import unittest

from harness import XDisplay, key, run, screenshot, search, start, wait_for, window_info

BAR_HEIGHT = 19
# Each panel's left edge, the X server's indicator and the key that toggles it.
PANELS = {"NUM": (260, "Num Lock", "Num_Lock"), "CAPS": (356, "Caps Lock", "Caps_Lock"), "INS": (452, None, "Insert")}
LOCKS = ("NUM", "CAPS")


class KeyPanels(unittest.TestCase):
    def lit(self, panel):
        """Whether the panel's text shows in the full text colour; from a fresh screenshot."""
        shot = screenshot("statusbar-" + panel, self.program.wid)
        top = window_info(self.program.wid)["height"] - BAR_HEIGHT
        darkest = float(run("convert", shot, "-crop", f"88x{BAR_HEIGHT - 6}+{PANELS[panel][0] + 4}+{top + 3}",
                            "-colorspace", "Gray", "-format", "%[fx:minima]", "info:"))
        self.assertTrue(darkest < 0.3 or darkest > 0.5, f"{panel} is neither lit nor greyed: {darkest}")
        return darkest < 0.3

    def wait_panel(self, panel, on):
        wait_for(lambda: self.lit(panel) == on, timeout=5, what=f"{panel} to show {'on' if on else 'off'}")

    def toggle(self, panel):
        """Presses the lock key and waits for the X server's indicator, then the panel, to change."""
        before = self.x.indicator(PANELS[panel][1])
        key(PANELS[panel][2])
        wait_for(lambda: self.x.indicator(PANELS[panel][1]) != before, what=f"{panel} to change")
        self.wait_panel(panel, not before)

    def test_panels_follow_the_keyboard(self):
        self.x = XDisplay(self)
        initial = {panel: self.x.indicator(PANELS[panel][1]) for panel in LOCKS}
        # Leave the keyboard as found: the X server outlives this test.
        self.addCleanup(lambda: [key(PANELS[p][2]) for p in LOCKS if self.x.indicator(PANELS[p][1]) != initial[p]])
        self.program = start(self)
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
            time.sleep(1)
        finally:
            run("xdotool", "keyup", "Insert")
        self.assertTrue(self.lit("INS"))

        for panel in LOCKS:
            self.assertEqual(self.lit(panel), self.x.indicator(PANELS[panel][1]), f"{panel} at start")
            self.toggle(panel)
            self.toggle(panel)

        # The locks are followed while another program has the focus; its Insert is not the program's to see.
        other = subprocess.Popen(["xmessage", "-geometry", "+0+0", "another program"], stderr=subprocess.DEVNULL)
        self.addCleanup(other.wait)
        self.addCleanup(other.terminate)
        window = wait_for(lambda: search("--class", "^Xmessage$"), what="the other program's window")[0]
        run("xdotool", "windowactivate", "--sync", window, check=False)
        wait_for(lambda: run("xdotool", "getactivewindow", check=False).strip() == str(window),
                 what="the other window to take the focus")
        self.toggle("NUM")
        key("Insert")
        self.assertTrue(self.lit("INS"))


if __name__ == "__main__":
    unittest.main()
