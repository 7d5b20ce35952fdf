"""Installs the built Debian package and runs the installed program as a user would."""

import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

from harness import Program, key, make_wav, open_folder, settled, type_text, wait_for

PACKAGE = os.environ.get("OMBRIX_PACKAGE", "")
NAME = "ombrix-converter"
ENTRY = "/usr/share/applications/org.ombrix.Converter.desktop"
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


def visible_windows(title):
    """Visible windows of any process with exactly this title."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                         capture_output=True, text=True, timeout=30).stdout
    return [int(w) for w in out.split()]


def entry_command():
    """The desktop entry's Exec line as an argument list, its field codes dropped."""
    with open(ENTRY) as entry:
        line = next(line for line in entry if line.startswith("Exec="))
    return [arg for arg in shlex.split(line[len("Exec="):]) if not arg.startswith("%")]


class InstalledPackage(unittest.TestCase):
    def setUp(self):
        if not os.path.isfile(PACKAGE):
            raise RuntimeError("OMBRIX_PACKAGE does not name the built package (scripts/package.sh prints it)")
        # A package of the same version left by an earlier run would not be replaced.
        purge()
        apt("install", os.path.abspath(PACKAGE))
        self.tmp = tempfile.mkdtemp(prefix="e2epkg", dir="/tmp")
        self.home = os.path.join(self.tmp, "home")
        self.folder = os.path.join(self.home, ".local", "share", NAME)
        os.makedirs(self.home)
        self.programs = []

    def tearDown(self):
        for program in self.programs:
            program.stop()
        purge()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def start(self, command, env=None):
        """Starts command in an unrelated folder with the fresh HOME; waits for its window to map."""
        program = Program(command=command, cwd=self.tmp)
        self.programs.append(program)
        return program.start({"HOME": self.home, "XDG_DATA_HOME": "", **(env or {})})

    def test_terminal_start_opens_help_and_converts(self):
        sounds = os.path.join(self.tmp, "sounds")
        os.makedirs(sounds)
        make_wav(os.path.join(sounds, "voice01.wav"))
        program = self.start([NAME])
        self.assertEqual(os.readlink(os.path.join(self.folder, "data", "oggenc.exe")), SHARE + "/data/oggenc.exe")

        program.activate()
        key("F1")
        wait_for(lambda: visible_windows("Ombrix Converter Help"), what="the help viewer")

        # The folder list starts in the user's folder; walk to the sound file and press WAV -> OGG.
        program.activate()
        key("Tab")
        for folder in ("tmp", os.path.basename(self.tmp), "sounds"):
            open_folder(folder)
        key("Tab")
        type_text("voice01.wav")
        key("Tab", "space")
        ogg = os.path.join(sounds, "voice01.ogg")
        wait_for(lambda: settled(ogg), timeout=30, what="the encoder's voice01.ogg")
        with open(ogg, "rb") as f:
            self.assertEqual(f.read(4), b"OggS")

    def test_desktop_entry_keeps_users_entries_and_purge_keeps_the_folder(self):
        data = os.path.join(self.folder, "data")
        os.makedirs(data)
        dangling = os.path.join(data, "oggdec.exe")
        os.symlink("/nonexistent/oggdec.exe", dangling)

        # Two instances at once, started as the menu would.
        first = self.start(entry_command())
        second = self.start(entry_command())
        self.assertTrue(first.alive() and first.mapped() and second.mapped())
        self.assertEqual(os.readlink(dangling), "/nonexistent/oggdec.exe")
        self.assertEqual(os.readlink(os.path.join(data, "oggenc.exe")), SHARE + "/data/oggenc.exe")

        # A folder that cannot be made: the program still starts, in the packaged folder.
        blocked = os.path.join(self.tmp, "a-file")
        open(blocked, "w").close()
        third = self.start(entry_command(), env={"XDG_DATA_HOME": blocked})
        self.assertEqual(os.readlink(f"/proc/{third.process.pid}/cwd"), SHARE)

        for program in self.programs:
            program.stop()
        self.programs = []
        tool = os.path.join(data, "wavtolip.exe")
        with open(tool, "w") as f:
            f.write("#!/bin/sh\n")
        purge()
        self.assertFalse(os.path.exists("/usr/libexec/ombrix-converter") or os.path.exists(SHARE))
        self.assertTrue(os.path.isfile(tool))
        self.assertEqual(sorted(os.listdir(data)), ["README.md", "oggdec.exe", "oggenc.exe", "wavtolip.exe"])
        self.assertTrue(os.path.islink(os.path.join(self.folder, "Ombrix_Converter_Help.chm")))


if __name__ == "__main__":
    unittest.main()
