#!/usr/bin/env bash
# Sets up, builds the Release tree build-pkg with Debian's hardening flags and makes the Debian
# package ombrix-converter_<version>_amd64.deb there with CPack; prints its path last, on
# standard output (everything else goes to standard error). With --check it also runs lintian
# on the package and validates its desktop entry and AppStream data.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OMBRIX_PACKAGE_BUILD_DIR:-$root/build-pkg}
exec 3>&1 1>&2

"$root/scripts/setup.sh" --package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# Debian's flags choose the optimisation level, so Release adds only NDEBUG.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOMBRIX_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags" "${launcher[@]}" >/dev/null
cmake --build "$build"
rm -f "$build"/ombrix-converter_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/ombrix-converter_*.deb)
deb=${debs[0]}

if [[ "${1:-}" == "--check" ]]; then
    lintian --fail-on error,warning --info "$deb"
    contents=$(mktemp -d)
    trap 'rm -rf "$contents"' EXIT
    dpkg-deb -x "$deb" "$contents"
    desktop-file-validate "$contents"/usr/share/applications/*.desktop
    appstreamcli validate --no-net "$contents"/usr/share/metainfo/*.metainfo.xml
fi
echo "$deb" >&3
