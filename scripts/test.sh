#!/usr/bin/env bash
# Sets up, builds with sanitizers and runs every test: the unit and widget tests offscreen and
# the end-to-end tests on a private Xvfb with openbox (the tray tests start their own tray host)
# and a private Wine prefix; the Wayland test brings up its own session (scripts/wayland-session.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_TEST_BUILD_DIR:-$root/build-test}

"$root/scripts/setup.sh" --test
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOMBRIX_SANITIZE=ON -DOMBRIX_TESTS=ON "${launcher[@]}" >/dev/null
cmake --build "$build"

# The Debian package, built and checked (lintian, desktop entry, AppStream data) in its own Release
# tree; tests/e2e/test_package.py installs it.
package=$("$root/scripts/package.sh" --check)
export OMBRIX_PACKAGE=$package

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1
export XDG_RUNTIME_DIR=$(mktemp -d /tmp/ombrix-test-runtime-XXXXXX)
export QT_QPA_PLATFORMTHEME=

# The Windows tool tests run in a private Wine prefix, never the user's own.
export WINEPREFIX=$(mktemp -d /tmp/ombrix-test-wine-XXXXXX)

pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    wineserver -k 2>/dev/null || true
    rm -rf "$XDG_RUNTIME_DIR" "$WINEPREFIX"
}
trap cleanup EXIT

# Made before the display starts, so Wine shows no set-up dialogs; no menu entries, no Mono or Gecko.
started=$SECONDS
env -u DISPLAY WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" wineboot -i \
    >"$build/wineboot.log" 2>&1 || { echo "wineboot failed"; cat "$build/wineboot.log"; exit 1; }
env -u DISPLAY wineserver -w
echo "Wine prefix created in $((SECONDS - started)) s"

# A private X server on a free display number, and a window manager on it.
exec 3< <(Xvfb -displayfd 1 -screen 0 1280x1024x24 -nolisten tcp 2>"$build/xvfb.log")
pids+=($!)
read -r -t 20 display <&3 || { echo "Xvfb did not start"; cat "$build/xvfb.log"; exit 1; }
export DISPLAY=:$display
openbox --sm-disable >"$build/openbox.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
    wmctrl -m >/dev/null 2>&1 && break
    sleep 0.1
done

# Unit tests run offscreen whatever DISPLAY says; the end-to-end ones run one at a time.
cd "$build"
ctest --output-on-failure -j2
