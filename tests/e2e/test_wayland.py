"""The program on Wayland: a headless sway with waybar as its bar, a real StatusNotifierItem watcher and host."""

import json
import os
import re
import signal
import subprocess
import time
import unittest
from pathlib import Path

from harness import ARTIFACTS, TITLE, Program, run, sound_folder, wait_for

USER = "ombrix-e2e"  # made by the session script: sway refuses root
AS_USER = ["setpriv", f"--reuid={USER}", f"--regid={USER}", "--init-groups", "--"]
SESSION = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "wayland-session.sh")
WATCHER = "org.kde.StatusNotifierWatcher"


def views(node):
    return [node] * ("pid" in node) + [v for child in node["nodes"] + node["floating_nodes"] for v in views(child)]


class WaylandProgram(Program):
    """The program as a client of the session's sway, run as the session's user and typed at with wtype."""

    def __init__(self, env):
        super().__init__()
        self.env, self.command = env, [*AS_USER, "./ombrix-converter"]

    def run(self, *args):  # as the program's user, in its session
        return run(*AS_USER, *args, env={**os.environ, **self.env})

    def windows(self, title=TITLE):
        tree = json.loads(self.run("swaymsg", "-r", "-t", "get_tree"))
        return [v for v in views(tree) if (v["pid"], v["name"], v["visible"]) == (self.process.pid, title, True)]

    def activate(self):
        self.run("swaymsg", f"[pid={self.process.pid}] focus")

    def key(self, *keys):
        self.run("wtype", *(arg for name in keys for arg in ("-k", name)))

    def type_text(self, text):
        self.run("wtype", text)

    def items(self):
        return re.findall(r'string "(.+)"', self.run("dbus-send", "--session", "--print-reply", "--dest=" + WATCHER,
            "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get", "string:" + WATCHER,
            "string:RegisteredStatusNotifierItems"))

    def host_request(self, method, *args):
        """What the tray host sends on a click or a scroll: a method call on the item's own service and path."""
        service, path = self.items()[0].split("/", 1)
        self.run("dbus-send", "--session", "--print-reply", f"--dest={service}", f"/{path}",
                 f"org.kde.StatusNotifierItem.{method}", *args)

    def minimize(self):
        self.activate()
        self.run("wtype", "-M", "ctrl", "m", "-m", "ctrl")
        wait_for(lambda: not self.windows() and self.items(), what="the window to hide and its item to register")


class WaylandSession(unittest.TestCase):
    def test_conversion_and_minimize_to_the_status_notifier_tray(self):
        session = subprocess.Popen([SESSION, os.path.join(ARTIFACTS, "wayland")], stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        self.addCleanup(session.communicate, timeout=30)  # closes its input: the script ends its session
        env = dict(pair.split("=", 1) for pair in session.stdout.readline().split())
        self.assertIn("WAYBAR_PID", env, "the Wayland session did not come up")

        program, sounds = WaylandProgram(env), sound_folder(self)
        tool = Path(program.workdir, "data", "wavtolip.exe")
        tool.write_text('#!/bin/sh\nprintf %s "$1" > "$0.arg"\n')
        tool.chmod(0o755)
        run("chown", "-R", USER, program.tmp.name, sounds)
        program.start(self, {**env, "QT_QPA_PLATFORM": "wayland"}).walk(sounds)
        program.type_text("voice01")
        program.key("Tab", "Tab", "space")  # toLIP: the encoder, then the LIP tool
        argument = Path(f"{tool}.arg")
        self.assertEqual(wait_for(lambda: argument.exists() and argument.read_text(), what="the LIP tool to start"),
                         os.path.join(sounds, "voice01.wav"))

        program.minimize()
        # A middle click or the wheel on the item brings nothing back. The program has handled a request
        # by the time it answers it, so a short wait shows a window that would map.
        for request in (["SecondaryActivate", "int32:9", "int32:9"], ["Scroll", "int32:1", "string:vertical"]):
            program.host_request(*request)
            time.sleep(0.5)
            self.assertEqual((program.windows(), len(program.items())), ([], 1), request[0])
        for request in ("Activate", "ContextMenu"):  # a left click; a right one, on an item without a menu
            program.host_request(request, "int32:9", "int32:9")
            wait_for(lambda: len(program.windows()) == 1 and not program.items(),
                     what=f"{request} to restore the window and remove the item")
            program.minimize()

        os.kill(int(env["WAYBAR_PID"]), signal.SIGKILL)  # the watcher, and the host with it
        # The grace time for a tray that restarts, then Main and its warning box.
        wait_for(lambda: len(program.windows()) == 2, timeout=10, what="the window back with the warning")
        program.key("Return")  # answered; with no tray at all, Minimize keeps the window and warns again
        wait_for(lambda: len(program.windows()) == 1, what="the warning to close")
        program.run("wtype", "-M", "ctrl", "m", "-m", "ctrl")
        wait_for(lambda: len(program.windows()) == 2, what="the warning of a Minimize without a tray")
