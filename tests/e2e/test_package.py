"""Installs the built Debian package, converts with the real encoder and decoder from its menu entry, purges it."""

import os
import shlex
import time
import unittest
from pathlib import Path

from harness import TITLE, Program, key, run, search, sound_folder, type_text, wait_for

NAME = "ombrix-converter"
SHARE = "/usr/share/ombrix-converter"
# Stands while this test's own install does: a copy installed without it is the user's.
MARK = Path("/var/tmp/ombrix-converter-e2e-installed")


def apt(*args):
    # Another apt run on the machine holds the lock for a while at most.
    run("apt-get", "-o", "DPkg::Lock::Timeout=120", "-y", "-qq", *args, timeout=300,
        env={**os.environ, "DEBIAN_FRONTEND": "noninteractive"})


def installed():
    return run("dpkg-query", "-W", "-f=${Status}", NAME, check=False).endswith(" installed")


def purge():
    """Purges the package if it is there: apt knows a purged local package no more."""
    if installed():
        apt("purge", NAME)
    MARK.unlink(missing_ok=True)


def settled(path):
    """True once the file has content and its size stays put for a moment (the tool has finished)."""
    size = path.exists() and path.stat().st_size
    time.sleep(0.3)
    return size and path.stat().st_size == size


@unittest.skipUnless(os.environ.get("OMBRIX_PACKAGE"), "installs the package OMBRIX_PACKAGE names (scripts/test.sh)")
class InstalledPackage(unittest.TestCase):
    def start(self, env=None):
        """Starts the program as the menu does, in an unrelated folder with a fresh HOME."""
        with open("/usr/share/applications/org.ombrix.Converter.desktop") as entry:
            line = next(line for line in entry if line.startswith("Exec="))
        command = [arg for arg in shlex.split(line[len("Exec="):]) if not arg.startswith("%")]  # no field codes
        return Program(command, self.tmp).start(self, {"HOME": f"{self.tmp}/home", "XDG_DATA_HOME": "", **(env or {})})

    def test_menu_start_help_conversions_users_files_and_purge(self):
        if installed() and not MARK.exists():
            self.fail(f"{NAME} is installed already, not by this test: it is left alone")
        # A package of the same version left by an earlier run would not be replaced.
        purge()
        MARK.touch()
        apt("install", os.path.abspath(os.environ["OMBRIX_PACKAGE"]))  # scripts/package.sh prints its path
        self.addCleanup(purge)
        sounds = Path(sound_folder(self, "sounds"))
        wav, ogg = sounds / "voice01.wav", sounds / "voice01.ogg"
        self.tmp = str(sounds.parent)
        data = sounds.parent / "home/.local/share" / NAME / "data"
        data.mkdir(parents=True)
        (data / "README.md").symlink_to("/nonexistent/README.md")

        # Two instances at once; the user's own link is kept (the tools' links are made: they convert below).
        first = self.start()
        self.start()
        self.assertEqual(os.readlink(data / "README.md"), "/nonexistent/README.md")
        # A folder that cannot be made: the program still starts, in the packaged folder.
        (sounds.parent / "a-file").touch()
        third = self.start({"XDG_DATA_HOME": str(sounds.parent / "a-file")})
        self.assertEqual(os.readlink(f"/proc/{third.process.pid}/cwd"), SHARE)

        first.activate()
        key("F1")
        wait_for(lambda: search("--name", f"^{TITLE} Help$"), what="the help file in the viewer")
        # From the user's folder to the sound file; Tab order: Drive1, Dir1, File1, toOGG, toLIP, refreshFile.
        first.walk(str(sounds))
        type_text("voice01.wav")
        key("Tab", "space")
        wait_for(lambda: settled(ogg), timeout=30, what="the encoder's voice01.ogg")
        self.assertEqual(ogg.read_bytes()[:4], b"OggS")
        # Refresh, then pick the new file from the list: only a listed name can be selected.
        before = wav.read_bytes()
        key("Tab", "Tab", "space", "shift+Tab", "shift+Tab", "shift+Tab")
        type_text("voice01.o")
        first.menu(1, 4)  # Conversions > OGG -> WAV
        wait_for(lambda: settled(wav) and wav.read_bytes() != before, timeout=30, what="the decoder's voice01.wav")
        first.menu(0, 1)  # File > Exit, answered Yes (the default button)
        first.answer()
        self.assertEqual(first.process.wait(timeout=15), 0)

        (data / "wavtolip.exe").write_text("#!/bin/sh\n")
        purge()
        self.assertFalse(os.path.exists("/usr/libexec/ombrix-converter") or os.path.exists(SHARE))
        # The user's folder stays, with the links made, the user's own link and the user's own tool.
        self.assertEqual(sorted(os.listdir(data)), ["README.md", "oggdec.exe", "oggenc.exe", "wavtolip.exe"])
