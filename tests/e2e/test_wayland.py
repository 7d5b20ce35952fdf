"""The program on Wayland: a headless sway with waybar as its bar, a real StatusNotifierItem watcher and host."""

import json
import os
import re
import signal
import subprocess
import time
import unittest

from harness import ARTIFACTS, TITLE, Program, run, sound_folder, wait_for

USER = "ombrix-e2e"  # made by the session script: sway refuses root
AS_USER = ["setpriv", f"--reuid={USER}", f"--regid={USER}", "--init-groups", "--"]
SESSION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wayland-session.sh")


def views(node):
    """Every client window in a sway tree."""
    return [node] * ("pid" in node) + [v for child in node["nodes"] + node["floating_nodes"] for v in views(child)]


class WaylandProgram(Program):
    """The program as a client of the session's sway, run as the session's user and typed at with wtype."""

    def __init__(self, env):
        super().__init__()
        self.env, self.command = env, [*AS_USER, "./ombrix-converter"]

    def as_user(self, *args):
        return run(*AS_USER, *args, env={**os.environ, **self.env})

    def windows(self, title=TITLE):
        tree = json.loads(self.as_user("swaymsg", "-r", "-t", "get_tree"))
        return [v["id"] for v in views(tree) if (v["pid"], v["name"], v["visible"]) == (self.process.pid, title, True)]

    def mapped(self):
        return bool(self.windows())

    def activate(self):
        self.as_user("swaymsg", f"[pid={self.process.pid}] focus")

    def key(self, *keys):
        for combination in keys:  # as xdotool names them: "Tab", "ctrl+m"
            *modifiers, name = combination.split("+")
            self.as_user("wtype", *(a for m in modifiers for a in ("-M", m)), "-k", name,
                         *(a for m in modifiers for a in ("-m", m)))

    def type_text(self, text):
        self.as_user("wtype", text)

    def items(self):
        return re.findall(r'string "(.+)"', self.as_user(
            "dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
            "org.freedesktop.DBus.Properties.Get", "string:org.kde.StatusNotifierWatcher",
            "string:RegisteredStatusNotifierItems"))

    def host_request(self, method, *args):
        """What the tray host sends on a click or a scroll: a method call on the item's own service and path."""
        service, path = self.items()[0].split("/", 1)
        self.as_user("dbus-send", "--session", "--print-reply", f"--dest={service}", f"/{path}",
                     f"org.kde.StatusNotifierItem.{method}", *args)

    def minimize(self):
        self.activate()
        self.key("ctrl+m")
        wait_for(lambda: not self.mapped() and self.items(), what="the window to hide and its item to register")

    def restored(self):
        return len(self.windows()) == 1 and not self.items()


class WaylandSession(unittest.TestCase):
    def test_conversion_and_minimize_to_the_status_notifier_tray(self):
        session = subprocess.Popen([SESSION, os.path.join(ARTIFACTS, "wayland")], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(session.communicate, timeout=30)  # closes its input: the script ends its session
        env = dict(pair.split("=", 1) for pair in session.stdout.readline().split())
        self.assertIn("WAYBAR_PID", env, "the Wayland session did not come up")

        program, sounds = WaylandProgram(env), sound_folder(self)
        tool = os.path.join(program.workdir, "data", "wavtolip.exe")
        with open(tool, "w") as stub:
            stub.write('#!/bin/sh\nprintf %s "$1" > "$0.arg"\n')
        os.chmod(tool, 0o755)
        run("chown", "-R", USER, program.tmp.name, sounds)
        program.start(self, {**env, "QT_QPA_PLATFORM": "wayland"}).walk(sounds)
        program.type_text("voice01")
        program.key("Tab", "Tab", "space")  # toLIP: the encoder, then the LIP tool
        wait_for(lambda: os.path.exists(tool + ".arg"), what="the LIP tool to start")
        with open(tool + ".arg") as argument:
            self.assertEqual(argument.read(), os.path.join(sounds, "voice01.wav"))

        program.minimize()
        # A middle click and a scroll wheel on the item bring nothing back.
        program.host_request("SecondaryActivate", "int32:10", "int32:10")
        program.host_request("Scroll", "int32:120", "string:vertical")
        time.sleep(1)
        self.assertEqual((program.mapped(), len(program.items())), (False, 1))
        program.host_request("Activate", "int32:10", "int32:10")
        wait_for(program.restored, what="Activate to restore the window and remove the item")
        program.minimize()
        program.host_request("ContextMenu", "int32:10", "int32:10")
        wait_for(program.restored, what="ContextMenu to restore the window and remove the item")

        program.minimize()
        os.kill(int(env["WAYBAR_PID"]), signal.SIGKILL)  # the watcher and the host with it
        # The grace time for a tray that restarts, then Main and its warning box.
        wait_for(lambda: len(program.windows()) == 2, timeout=10, what="the window back with the warning")
