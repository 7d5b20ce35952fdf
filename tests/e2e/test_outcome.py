"""A tool's outcome: its output listed when it ends, its failure told by a real notification server (dunst)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import Program, key, sound_folder, type_text, wait_for

# A private session bus that starts no service of its own: only the servers the test runs answer.
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth><policy context="default">
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>"""
# dunst runs this for every notification it receives, writing what arrived into one file each.
RECORDER = """#!/bin/sh
printf '%s\\037%s\\037%s' "$DUNST_APP_NAME" "$DUNST_SUMMARY" "$DUNST_BODY" > "$0.d/$DUNST_ID"
"""
FAILING_TOOL = "#!/bin/sh\necho 'reading the header' >&2\necho 'unsupported sample rate' >&2\nexit 3\n"


class ToolOutcome(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="ombrix-outcome-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        with open(f"{self.dir}/bus.conf", "w") as config:
            config.write(BUS_CONFIG)
        bus = subprocess.Popen(["dbus-daemon", f"--config-file={self.dir}/bus.conf", "--nofork", "--print-address=1"],
                               stdout=subprocess.PIPE, text=True)
        self.addCleanup(bus.wait)
        self.addCleanup(bus.kill)
        self.bus = bus.stdout.readline().strip()
        self.recorder = f"{self.dir}/record.sh"
        os.mkdir(self.recorder + ".d")
        with open(self.recorder, "w") as script:
            script.write(RECORDER)
        os.chmod(self.recorder, 0o755)
        with open(f"{self.dir}/dunstrc", "w") as config:
            config.write(f'[record]\n    summary = "*"\n    script = {self.recorder}\n')
        self.dunst = subprocess.Popen(["dunst", "-config", f"{self.dir}/dunstrc"], stderr=subprocess.DEVNULL,
                                      env={**os.environ, "DBUS_SESSION_BUS_ADDRESS": self.bus})
        self.addCleanup(self.dunst.wait)
        self.addCleanup(self.dunst.kill)
        wait_for(lambda: "org.freedesktop.Notifications" in subprocess.run(
            ["dbus-send", f"--bus={self.bus}", "--print-reply", "--dest=org.freedesktop.DBus", "/",
             "org.freedesktop.DBus.ListNames"], capture_output=True, text=True).stdout, what="dunst on the bus")

    def notices(self):
        folder = self.recorder + ".d"
        return [open(os.path.join(folder, name)).read().split("\x1f") for name in sorted(os.listdir(folder))]

    def test_output_listed_without_refresh_and_a_failure_told_once_then_on_stderr(self):
        sounds = sound_folder(self, "sounds")
        program = Program()
        with open(os.path.join(program.workdir, "data", "wavtolip.exe"), "w") as tool:
            tool.write(FAILING_TOOL)
        os.chmod(os.path.join(program.workdir, "data", "wavtolip.exe"), 0o755)
        errors = open(f"{self.dir}/stderr", "w")
        self.addCleanup(errors.close)
        program.start(self, {"DBUS_SESSION_BUS_ADDRESS": self.bus}, stderr=errors)
        program.walk(sounds)
        type_text("voice01.w")
        key("Tab", "space")  # WAV -> OGG, the real encoder
        ogg = os.path.join(sounds, "voice01.ogg")
        wait_for(lambda: os.path.exists(ogg) and open(ogg, "rb").read(4) == b"OggS", what="the encoder's output")
        # Listed once the encoder ended, with no Refresh: only a listed name can be selected for the next command.
        time.sleep(0.5)
        key("shift+Tab")
        type_text("voice01.o")
        program.menu(1, 3)  # Conversions > OGG -> LIP, the failing tool
        wait_for(self.notices, what="the failure's notification")
        time.sleep(1.0)
        file = "C:" + ogg.replace("/", "\\")
        self.assertEqual(self.notices(), [[
            "Ombrix Converter", "wavtolip.exe failed",
            f"data\\wavtolip.exe on {file} ended with exit status 3.\nreading the header\nunsupported sample rate"]])
        self.assertEqual(program.dialogs(), [])

        # With no notification server the same text goes to standard error, and the window is left alone.
        self.dunst.kill()
        self.dunst.wait()
        program.menu(1, 3)
        told = f"Ombrix Converter: wavtolip.exe failed\ndata\\wavtolip.exe on {file} ended with exit status 3."
        wait_for(lambda: told in open(errors.name).read(), what="the failure on standard error")
        self.assertEqual((program.dialogs(), program.mapped(), len(self.notices())), ([], True, 1))
