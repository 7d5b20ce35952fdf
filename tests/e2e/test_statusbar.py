"""The NUM, CAPS and INS panels follow the real keyboard; the X server's indicators are the reference.

A panel that is on shows its text in the normal text colour, one that is off in the light grey of
disabled text, so the darkest pixel inside a panel's screenshot tells its state."""

import subprocess
import unittest

from harness import Program, XDisplay, activate, active, key, run, screenshot, search, wait_for, window_info

# Each panel's left edge in the status bar (19 px high), the X server's indicator and its key.
PANELS = {"NUM": (260, "Num Lock", "Num_Lock"), "CAPS": (356, "Caps Lock", "Caps_Lock"), "INS": (452, None, "Insert")}
LOCKS = ("NUM", "CAPS")


class KeyPanels(unittest.TestCase):
    def lit(self, panel):
        """Whether the panel's text shows in the full text colour; from a fresh screenshot."""
        shot = screenshot("statusbar-" + panel, self.program.wid)
        top = window_info(self.program.wid)["height"] - 19
        darkest = float(run("convert", shot, "-crop", f"88x13+{PANELS[panel][0] + 4}+{top + 3}",
                            "-colorspace", "Gray", "-format", "%[fx:minima]", "info:"))
        self.assertTrue(darkest < 0.3 or darkest > 0.5, f"{panel} is neither lit nor greyed: {darkest}")
        return darkest < 0.3

    def press(self, panel):
        """Presses the panel's key and waits for the X server's indicator (if any), then the panel, to change."""
        before, indicator = self.lit(panel), PANELS[panel][1]
        key(PANELS[panel][2])
        if indicator:
            wait_for(lambda: self.x.indicator(indicator) != before, what=f"{panel}'s indicator to change")
        wait_for(lambda: self.lit(panel) != before, timeout=5, what=f"{panel} to show {'off' if before else 'on'}")

    def test_panels_follow_the_keyboard(self):
        self.x = XDisplay(self)
        initial = {panel: self.x.indicator(PANELS[panel][1]) for panel in LOCKS}

        def restore():  # Leave the keyboard as found: the X server outlives this test.
            for panel in LOCKS:
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
        activate(window)
        wait_for(lambda: active() == window, what="the other window's focus")
        key("Insert")
        self.press("NUM")
        self.assertFalse(self.lit("INS"))
