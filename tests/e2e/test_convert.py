"""Converts a real WAV file with the real encoder and back with the real decoder, driving the program by keyboard."""

import unittest
from pathlib import Path

from harness import Program, key, settled, sound_folder, type_text, wait_for


class ConvertByKeyboard(unittest.TestCase):
    def test_convert_refresh_decode_and_quit(self):
        sounds = Path(sound_folder(self, "My Sounds"))
        wav, ogg = sounds / "voice01.wav", sounds / "voice01.ogg"
        program = Program().start(self)
        # Tab order: Drive1, Dir1, File1, toOGG, toLIP, refreshFile.
        program.walk(str(sounds))
        type_text("voice01.wav")
        key("Tab", "space")
        wait_for(lambda: settled(ogg), timeout=30, what="the encoder's voice01.ogg")
        self.assertEqual(ogg.read_bytes()[:4], b"OggS")

        # Refresh, then pick the new file from the list: only a listed name can be selected, and the
        # real decoder then rewrites voice01.wav from it.
        before = wav.read_bytes()
        key("Tab", "Tab", "space", "shift+Tab", "shift+Tab", "shift+Tab")
        type_text("voice01.o")
        program.menu(1, 4)  # Conversions > OGG -> WAV
        wait_for(lambda: settled(wav) and wav.read_bytes() != before, timeout=30,
                 what="the decoder to rewrite voice01.wav from voice01.ogg")
        # File > Exit, answered Yes (the default button).
        program.menu(0, 1)
        program.answer("Return")
        self.assertEqual(program.process.wait(timeout=15), 0)


if __name__ == "__main__":
    unittest.main()
