"""Runs a real Windows tool through real Wine from the window, and reports a missing Wine."""

import filecmp
import os
import shutil
import tempfile
import unittest

from harness import Program, key, make_wav, open_folder, type_text, wait_for


class WindowsTool(unittest.TestCase):
    def setUp(self):
        self.assertTrue(os.environ.get("WINEPREFIX"), "scripts/test.sh makes the tests' own Wine prefix")
        self.root = tempfile.mkdtemp(prefix="e2ewine", dir="/tmp")
        self.sounds = os.path.join(self.root, "My Sounds é")
        os.makedirs(self.sounds)
        self.wav = os.path.join(self.sounds, "voice 01.wav")
        make_wav(self.wav)
        self.program = Program()
        # The mingw-built tool as a user copies it from a zip: no run bit.
        tool = os.path.join(self.program.workdir, "data", "wavtolip.exe")
        shutil.copyfile(os.path.join(os.environ["OMBRIX_PE_TOOLS"], "copytolip64.exe"), tool)
        os.chmod(tool, 0o644)

    def tearDown(self):
        self.program.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def wav_to_lip(self, env=None):
        """Selects voice 01.wav through the lists and chooses Conversions > WAV -> LIP."""
        program = self.program.start(env)
        program.activate()
        key("Tab")
        for folder in ("tmp", os.path.basename(self.root), "My Sounds"):
            open_folder(folder)
        key("Tab")
        type_text("voice")
        program.menu(1, 1)
        return program

    def test_windows_tool_gets_the_file(self):
        program = self.wav_to_lip()
        lip = os.path.join(self.sounds, "voice 01.lip")
        wait_for(lambda: os.path.exists(lip) and filecmp.cmp(lip, self.wav, shallow=False), timeout=90,
                 what="the Windows tool to copy voice 01.wav to voice 01.lip")
        self.assertEqual(program.dialogs(), [])
        self.assertTrue(program.alive())

    def test_without_wine_the_error_box_appears_and_the_window_stays(self):
        program = self.wav_to_lip({"PATH": "/nonexistent"})
        dialog = program.wait_dialog()
        key("Return")
        wait_for(lambda: dialog not in program.dialogs(), what="the error box to close")
        self.assertTrue(program.alive())
        self.assertTrue(program.mapped())
        self.assertFalse(os.path.exists(os.path.join(self.sounds, "voice 01.lip")))


if __name__ == "__main__":
    unittest.main()
