"""Runs a real Windows tool through real Wine from the window."""

import filecmp
import os
import shutil
import unittest

from harness import Program, sound_folder, type_text, wait_for


class WindowsTool(unittest.TestCase):
    def test_windows_tool_gets_the_file(self):
        self.assertTrue(os.environ.get("WINEPREFIX"), "scripts/test.sh makes the tests' own Wine prefix")
        sounds = sound_folder(self, "My Sounds é", names=("voice 01.wav",))
        voice = os.path.join(sounds, "voice 01")
        program = Program()
        # The mingw-built tool, copied as from a zip: without a run bit.
        shutil.copyfile(os.path.join(os.environ["OMBRIX_PE_TOOLS"], "copytolip64.exe"),
                        os.path.join(program.workdir, "data", "wavtolip.exe"))
        # The folder list's keyboard search finds "My Sounds é" by its first letters.
        program.start(self).walk(os.path.join(os.path.dirname(sounds), "My Sounds"))
        type_text("voice")
        program.menu(1, 1)  # Conversions > WAV -> LIP
        wait_for(lambda: os.path.exists(voice + ".lip") and filecmp.cmp(voice + ".lip", voice + ".wav", shallow=False),
                 timeout=90, what="the Windows tool to copy voice 01.wav to voice 01.lip")
        self.assertEqual((program.process.poll(), program.dialogs()), (None, []))
