"""Installs the built Debian package and runs the installed program as a user would."""

import os
import shlex
import subprocess
import unittest

from harness import TITLE, Program, key, search, settled, sound_folder, start, type_text, wait_for

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
    def test_menu_start_help_conversion_users_files_and_purge(self):
        if not os.path.isfile(PACKAGE):
            raise RuntimeError("OMBRIX_PACKAGE does not name the built package (scripts/package.sh prints it)")
        # A package of the same version left by an earlier run would not be replaced.
        purge()
        apt("install", os.path.abspath(PACKAGE))
        self.addCleanup(purge)
        sounds = sound_folder(self, "sounds")
        tmp, home = os.path.dirname(sounds), os.path.join(os.path.dirname(sounds), "home")
        data = os.path.join(home, ".local", "share", NAME, "data")
        os.makedirs(data)
        os.symlink("/nonexistent/oggdec.exe", os.path.join(data, "oggdec.exe"))
        # As the menu starts it: the desktop entry's Exec line, its field codes dropped, in an unrelated folder.
        with open("/usr/share/applications/org.ombrix.Converter.desktop") as entry:
            exec_line = next(line for line in entry if line.startswith("Exec="))[len("Exec="):]
        command = [arg for arg in shlex.split(exec_line) if not arg.startswith("%")]
        run = lambda env={}: start(self, Program(command, tmp), {"HOME": home, "XDG_DATA_HOME": "", **env})  # noqa

        # Two instances at once; the user's own link is kept, the missing one made.
        first, second = run(), run()
        self.assertTrue(first.alive() and first.mapped() and second.mapped())
        self.assertEqual(os.readlink(os.path.join(data, "oggdec.exe")), "/nonexistent/oggdec.exe")
        self.assertEqual(os.readlink(os.path.join(data, "oggenc.exe")), SHARE + "/data/oggenc.exe")
        # A folder that cannot be made: the program still starts, in the packaged folder.
        blocked = os.path.join(tmp, "a-file")
        open(blocked, "w").close()
        third = run({"XDG_DATA_HOME": blocked})
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
        self.assertEqual(sorted(os.listdir(data)), ["README.md", "oggdec.exe", "oggenc.exe", "wavtolip.exe"])
        self.assertTrue(os.path.isfile(os.path.join(data, "wavtolip.exe")))
        self.assertTrue(os.path.islink(os.path.join(data, "..", "Ombrix_Converter_Help.chm")))


if __name__ == "__main__":
    unittest.main()
