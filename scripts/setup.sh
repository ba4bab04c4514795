#!/usr/bin/env bash
# Installs the Debian 12 packages Tenvo needs to build, run and test, and
# any further packages named on the command line (the benchmark's, fuzzing's
# and the screenshot's own), and makes the ja_JP.UTF-8 locale the tests run
# in. Runs as root or through sudo; running it again changes nothing.
#
#   scripts/setup.sh [package...]
set -euo pipefail

packages=(
    cmake g++ make pkg-config
    qt6-base-dev libgl-dev libxkbcommon-dev qt6-translations-l10n qt6-l10n-tools locales
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring dbus
    libarchive-dev libunarr-dev libmspack-dev liblhasa-dev libseccomp-dev nettle-dev libisal-dev
    gcab zip 7zip jlha-utils
    dpkg-dev desktop-file-utils appstream lintian librsvg2-bin
    "$@"
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Japanese locale, the users' own, which every test also runs in.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "Generating the ja_JP.UTF-8 locale"
    if grep -q '^[#[:space:]]*ja_JP\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        "${sudo[@]}" sed -i 's/^[#[:space:]]*\(ja_JP\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    else
        echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    fi
    "${sudo[@]}" locale-gen
fi
