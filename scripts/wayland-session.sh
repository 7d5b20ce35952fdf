#!/usr/bin/env bash
# A Wayland session for the end-to-end tests, as an unprivileged user (sway refuses root): a private
# session bus, a headless sway, and waybar as its bar, whose tray is a real StatusNotifierItem
# watcher and host. Prints the session's environment on one line (NAME=value ...), then keeps the
# session until its standard input closes and ends it all: a test that dies takes it along.
# Usage: wayland-session.sh LOG_FOLDER (run as root).
set -euo pipefail
user=ombrix-e2e
logs=$1
mkdir -p "$logs"
id -u "$user" >/dev/null 2>&1 || useradd --system --create-home "$user"

dir=$(mktemp -d /tmp/ombrix-wayland-XXXXXX)  # mode 0700, as a runtime folder must be
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait || true
    rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
chown "$user:" "$dir"
export XDG_RUNTIME_DIR=$dir HOME=$(getent passwd "$user" | cut -d: -f6) NO_AT_BRIDGE=1 \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
as_user=(setpriv --reuid="$user" --regid="$user" --init-groups --)
cd "$dir"
unset DISPLAY

# Polls a command for up to 20 s, or until a process of the session has ended; on failure shows the
# log of what did not come up.
wait_for() {
    local log=$1 i pid
    for ((i = 0; i < 400; i++)); do
        "${@:2}" >/dev/null 2>&1 && return 0
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null || break 2; done
        sleep 0.05
    done
    echo "wayland-session: no answer from '${*:2}'; $log says:" >&2
    tail -n 30 "$logs/$log" >&2
    exit 1
}

"${as_user[@]}" dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
    >"$logs/dbus.log" 2>&1 &
pids+=($!)
wait_for dbus.log "${as_user[@]}" dbus-send --session --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetId

# No GPU and no input devices in a test machine; no X server either.
printf 'xwayland disable\noutput HEADLESS-1 resolution 1280x800\n' >sway.conf
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    "${as_user[@]}" sway -c sway.conf >"$logs/sway.log" 2>&1 &
pids+=($!)
export SWAYSOCK=$dir/sway-ipc.$(id -u "$user").$!.sock
wait_for sway.log "${as_user[@]}" swaymsg -t get_outputs
export WAYLAND_DISPLAY=$(cd "$dir" && ls -d wayland-[0-9]* | grep -vx '.*\.lock')

# A headless seat has no keyboard: a client binds one only once the seat has it, so keys typed by a
# virtual keyboard that comes and goes with each wtype would be lost. This one stays (an hour at most).
"${as_user[@]}" wtype -s 3600000 >"$logs/keyboard.log" 2>&1 &
pids+=($!)
has_keyboard() { "${as_user[@]}" swaymsg -r -t get_inputs | grep -q '"type": "keyboard"'; }
wait_for keyboard.log has_keyboard

printf '{"layer": "top", "position": "top", "height": 30, "modules-right": ["tray"]}\n' >waybar.json
"${as_user[@]}" waybar -c waybar.json >"$logs/waybar.log" 2>&1 &
pids+=($!)
waybar=$!
host_registered() {
    "${as_user[@]}" dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher \
        org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher string:IsStatusNotifierHostRegistered |
        grep -q "boolean true"
}
wait_for waybar.log host_registered

echo "XDG_RUNTIME_DIR=$dir HOME=$HOME DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS SWAYSOCK=$SWAYSOCK" \
    "WAYLAND_DISPLAY=$WAYLAND_DISPLAY WAYBAR_PID=$waybar"
# From here on, bash's reports of what the test kills (waybar) are no news.
exec 2>/dev/null
read -r _ || true
