"""F1 and the help viewer on a real X server, with the real help file and its reader."""

import os
import re
import time
import unittest

from harness import Program, click, key, run, screenshot, wait_for, window_info

HELP_FILE = "Ombrix_Converter_Help.chm"


def transient_for(wid):
    """The window that WM_TRANSIENT_FOR of wid names, or None."""
    match = re.search(r"window id # (0x[0-9a-f]+)", run("xprop", "-id", str(wid), "WM_TRANSIENT_FOR", check=False))
    return int(match.group(1), 16) if match else None


class HelpViewer(unittest.TestCase):
    def start(self, with_help_file=True):
        self.program = Program()
        if not with_help_file:
            os.remove(os.path.join(self.program.workdir, HELP_FILE))
        self.addCleanup(self.program.stop)
        self.program.start()
        self.before = self.program.all_windows()
        self.program.activate()
        key("F1")
        return wait_for(lambda: (list(self.program.all_windows() - self.before) or [None])[0], what="the help viewer")

    def test_f1_opens_the_viewer_transient_for_main(self):
        viewer = self.start()
        program = self.program
        self.assertEqual(transient_for(viewer), program.wid)
        wait_for(lambda: run("xdotool", "getwindowname", str(viewer)).strip() == "Ombrix Converter Help",
                 what="the help file's title")
        self.assertTrue(window_info(viewer)["mapped"] and program.mapped())
        screenshot("help-viewer-page", viewer)

        # A second F1 on Main brings the same viewer forward instead of opening another.
        program.activate()
        key("F1")
        wait_for(lambda: run("xdotool", "getactivewindow").strip() == str(viewer), what="the viewer to come forward")
        self.assertEqual(program.all_windows() - self.before, {viewer})

    def test_f1_without_the_help_file_shows_the_viewers_message(self):
        viewer = self.start(with_help_file=False)
        program = self.program
        self.assertEqual(transient_for(viewer), program.wid)
        # The page says why; select it all and copy it, as a user would.
        info = window_info(viewer)
        click(info["x"] + info["width"] // 2, info["y"] + info["height"] // 2)
        expected = (f"Cannot open the help file {HELP_FILE}: it does not exist.\n"
                    f"Looked in the folder {program.workdir}.")

        def copied():
            key("ctrl+a", "ctrl+c")
            time.sleep(0.1)
            return run("xclip", "-o", "-selection", "clipboard", check=False).strip() == expected
        wait_for(copied, what="the viewer's message")
        screenshot("help-viewer-message", viewer)
        # No box of the program's own, and the program goes on.
        self.assertEqual(program.all_windows() - self.before, {viewer})
        self.assertTrue(program.alive() and program.mapped())


if __name__ == "__main__":
    unittest.main()
