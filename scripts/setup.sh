#!/usr/bin/env bash
# Installs the Debian 12 packages Tenvo needs to build, run and test, and
# any further packages named on the command line (the benchmark's, fuzzing's
# and the screenshot's own).
#
#   scripts/setup.sh [package...]
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libgl-dev libxkbcommon-dev
    libarchive-dev libunarr-dev libmspack-dev
    gcab zip 7zip
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
