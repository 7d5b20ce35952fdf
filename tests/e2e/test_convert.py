"""Converts a real WAV file with the real encoder, driving the program by keyboard."""

import hashlib
import os
import shutil
import tempfile
import unittest

from harness import Program, key, make_wav, open_folder, settled, type_text, wait_for, window_info


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class ConvertByKeyboard(unittest.TestCase):
    def setUp(self):
        self.sounds_root = tempfile.mkdtemp(prefix="e2esnd", dir="/tmp")
        self.sounds = os.path.join(self.sounds_root, "My Sounds")
        os.makedirs(self.sounds)
        self.wav = os.path.join(self.sounds, "voice01.wav")
        make_wav(self.wav)
        self.program = Program().start()

    def tearDown(self):
        self.program.stop()
        shutil.rmtree(self.sounds_root, ignore_errors=True)

    def test_convert_refresh_decode_and_quit(self):
        program = self.program
        program.activate()

        # Tab order: Drive1, Dir1, File1, toOGG, toLIP, refreshFile.
        key("Tab")
        open_folder("tmp")
        open_folder(os.path.basename(self.sounds_root))
        open_folder("My Sounds")
        # Tabbing into the file list selects nothing: WAV -> OGG warns that no file is selected.
        key("Tab", "Tab", "space")
        dialog = program.wait_dialog()
        key("Return")
        wait_for(lambda: dialog not in program.dialogs(), what="the warning to close")
        # Home selects the entry under the caret, as in a list box.
        key("shift+Tab", "Home", "Tab", "space")

        ogg = os.path.join(self.sounds, "voice01.ogg")
        wait_for(lambda: settled(ogg), timeout=30, what="the encoder's voice01.ogg")
        with open(ogg, "rb") as f:
            self.assertEqual(f.read(4), b"OggS")

        # Refresh, then pick the new file from the list: only a listed name can be selected, and the
        # real decoder then rewrites voice01.wav from it.
        before = digest(self.wav)
        key("Tab", "Tab", "space")
        key("shift+Tab", "shift+Tab", "shift+Tab")
        type_text("voice01.o")
        program.menu(1, 4)  # Conversions > OGG -> WAV
        wait_for(lambda: settled(self.wav) and digest(self.wav) != before, timeout=30,
                 what="the decoder to rewrite voice01.wav from voice01.ogg")

        # A tool that is not in the data folder: the error is shown and the program goes on.
        program.menu(1, 1)  # Conversions > WAV -> LIP
        dialog = program.wait_dialog()
        key("Return")
        wait_for(lambda: dialog not in program.dialogs(), what="the error box to close")
        self.assertTrue(program.alive())
        self.assertTrue(program.mapped())

        # File > Exit, answered Yes (the default button).
        program.menu(0, 1)
        program.wait_dialog()
        key("Return")
        self.assertEqual(program.wait_exit(), 0)

    def test_exit_answered_no_keeps_the_window(self):
        program = self.program
        program.menu(0, 1)
        dialog = program.wait_dialog()
        key("Escape")
        wait_for(lambda: dialog not in program.dialogs(), what="the question to close")
        self.assertTrue(program.alive())
        self.assertTrue(window_info(program.wid)["mapped"])


if __name__ == "__main__":
    unittest.main()
