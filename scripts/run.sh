#!/usr/bin/env bash
# Sets up, builds and starts the program in its staged runtime folder.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_BUILD_DIR:-$root/build}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF >/dev/null
cmake --build "$build"

if [[ -z "${XDG_RUNTIME_DIR:-}" ]]; then
    export XDG_RUNTIME_DIR=$(mktemp -d /tmp/ombrix-runtime-XXXXXX)
fi
# The tools and the help file are found relative to the working directory.
cd "$build/runtime"
exec ./ombrix-converter
