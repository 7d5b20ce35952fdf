#!/usr/bin/env bash
# Installs what building (and, with --test, testing; with --package, packaging) needs on Debian 12. Safe to run again.
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libchm-dev libx11-dev
          libxcb1-dev libxcb-xkb-dev fonts-dejavu-core fp-utils vorbis-tools)
if [[ "${1:-}" == "--test" ]]; then
    packages+=(python3 xvfb xauth openbox trayer xdotool wmctrl x11-utils imagemagick dbus dbus-x11 dunst sox xclip
               wine wine64 gcc-mingw-w64-x86-64-win32 gcc-mingw-w64-i686-win32
               sway waybar qt6-wayland wtype)
fi
# Building and checking the Debian package (scripts/package.sh).
if [[ " $* " == *" --package "* ]]; then
    packages+=(dpkg-dev file lintian desktop-file-utils appstream)
fi

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
