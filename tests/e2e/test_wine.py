"""Runs a real Windows tool through real Wine from the window, and reports a missing Wine."""

import filecmp
import os
import shutil
import unittest

from harness import Program, sound_folder, type_text, wait_for


class WindowsTool(unittest.TestCase):
    def wav_to_lip(self, env=None):
        """Chooses Conversions > WAV -> LIP on "voice 01.wav"; returns the program and the file's path less .wav."""
        self.assertTrue(os.environ.get("WINEPREFIX"), "scripts/test.sh makes the tests' own Wine prefix")
        sounds = sound_folder(self, "My Sounds é", names=("voice 01.wav",))
        program = Program()
        # The mingw-built tool as a user copies it from a zip: no run bit.
        tool = os.path.join(program.workdir, "data", "wavtolip.exe")
        shutil.copyfile(os.path.join(os.environ["OMBRIX_PE_TOOLS"], "copytolip64.exe"), tool)
        os.chmod(tool, 0o644)
        # The folder list's keyboard search finds "My Sounds é" by its first letters.
        program.start(self, env).walk(os.path.join(os.path.dirname(sounds), "My Sounds"))
        type_text("voice")
        program.menu(1, 1)
        return program, os.path.join(sounds, "voice 01")

    def test_windows_tool_gets_the_file(self):
        program, voice = self.wav_to_lip()
        wait_for(lambda: os.path.exists(voice + ".lip") and filecmp.cmp(voice + ".lip", voice + ".wav", shallow=False),
                 timeout=90, what="the Windows tool to copy voice 01.wav to voice 01.lip")
        self.assertEqual(program.dialogs(), [])
        self.assertTrue(program.alive())

    def test_without_wine_the_error_box_appears_and_the_window_stays(self):
        program, voice = self.wav_to_lip({"PATH": "/nonexistent"})
        program.answer()
        self.assertTrue(program.alive() and program.mapped())
        self.assertFalse(os.path.exists(voice + ".lip"))


if __name__ == "__main__":
    unittest.main()
