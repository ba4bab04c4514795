#!/usr/bin/env bash
# Builds the Debian package tenvo_VERSION_ARCH.deb in build/ (or the build
# folder given) and prints its path.
#
#   scripts/package.sh [build folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target tenvo_installed
rm -f "$build"/tenvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/tenvo_*.deb
