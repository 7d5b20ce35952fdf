"""Installs the built Debian package and runs the installed program as a user would."""

import os
import shlex
import subprocess
import unittest

from harness import TITLE, Program, key, search, settled, sound_folder, type_text, wait_for

PACKAGE = os.environ.get("OMBRIX_PACKAGE", "")
NAME = "ombrix-converter"
SHARE = "/usr/share/ombrix-converter"


def apt(*args):
    # Another apt run on the machine holds the lock for a while at most.
    result = subprocess.run(["apt-get", "-o", "DPkg::Lock::Timeout=120", "-y", "-qq", *args], capture_output=True,
                            text=True, timeout=300, env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})
    if result.returncode != 0:
        raise RuntimeError(f"apt-get {' '.join(args)} failed: {result.stdout}{result.stderr}")


def purge():
    """Purges the package if it is there: apt knows a purged local package no more."""
    status = subprocess.run(["dpkg-query", "-W", "-f=${Status}", NAME], capture_output=True, text=True).stdout
    if status.endswith(" installed"):
        apt("purge", NAME)


class InstalledPackage(unittest.TestCase):
    def start(self, env=None):
        """Starts the program as the menu does, in an unrelated folder with a fresh HOME."""
        with open("/usr/share/applications/org.ombrix.Converter.desktop") as entry:
            line = next(line for line in entry if line.startswith("Exec="))
        command = [arg for arg in shlex.split(line[len("Exec="):]) if not arg.startswith("%")]  # no field codes
        return Program(command, self.tmp).start(self, {"HOME": self.tmp + "/home", "XDG_DATA_HOME": "", **(env or {})})

    def test_menu_start_help_conversion_users_files_and_purge(self):
        if not os.path.isfile(PACKAGE):
            raise RuntimeError("OMBRIX_PACKAGE does not name the built package (scripts/package.sh prints it)")
        # A package of the same version left by an earlier run would not be replaced.
        purge()
        apt("install", os.path.abspath(PACKAGE))
        self.addCleanup(purge)
        sounds = sound_folder(self, "sounds")
        self.tmp = os.path.dirname(sounds)
        data = os.path.join(self.tmp, "home/.local/share", NAME, "data")
        os.makedirs(data)
        os.symlink("/nonexistent/oggdec.exe", os.path.join(data, "oggdec.exe"))

        # Two instances at once; the user's own link is kept, the missing one made.
        first, second = self.start(), self.start()
        self.assertTrue(first.alive() and first.mapped() and second.mapped())
        self.assertEqual(os.readlink(os.path.join(data, "oggdec.exe")), "/nonexistent/oggdec.exe")
        self.assertEqual(os.readlink(os.path.join(data, "oggenc.exe")), SHARE + "/data/oggenc.exe")
        # A folder that cannot be made: the program still starts, in the packaged folder.
        open(os.path.join(self.tmp, "a-file"), "w").close()
        third = self.start({"XDG_DATA_HOME": os.path.join(self.tmp, "a-file")})
        self.assertEqual(os.readlink(f"/proc/{third.process.pid}/cwd"), SHARE)

        first.activate()
        key("F1")
        wait_for(lambda: search("--name", f"^{TITLE} Help$"), what="the help viewer")
        # The folder list starts in the user's folder; walk to the sound file and press WAV -> OGG.
        first.walk(sounds)
        type_text("voice01.wav")
        key("Tab", "space")
        ogg = os.path.join(sounds, "voice01.ogg")
        wait_for(lambda: settled(ogg), timeout=30, what="the encoder's voice01.ogg")
        with open(ogg, "rb") as f:
            self.assertEqual(f.read(4), b"OggS")

        for program in (first, second, third):
            program.stop()
        with open(os.path.join(data, "wavtolip.exe"), "w") as tool:
            tool.write("#!/bin/sh\n")
        purge()
        self.assertFalse(os.path.exists("/usr/libexec/ombrix-converter") or os.path.exists(SHARE))
        # The user's folder stays, with the links made, the user's own link and the user's own tool.
        self.assertEqual(sorted(os.listdir(data)), ["README.md", "oggdec.exe", "oggenc.exe", "wavtolip.exe"])
        self.assertTrue(os.path.isfile(os.path.join(data, "wavtolip.exe")))
        self.assertTrue(os.path.islink(os.path.join(data, "..", "Ombrix_Converter_Help.chm")))


if __name__ == "__main__":
    unittest.main()
