#!/usr/bin/env bash
# Draws docs/screenshot.png, the README's picture of the main window with a
# filled list, and beside it the open-file dialog, the folder picker, a
# message box and the results window (docs/screenshot-*.png), in the ja_JP.UTF-8 locale with a
# Japanese font installed, as a Japanese desktop shows them; and the main
# window in English (docs/screenshot-en.png), as every other locale shows it.
# Builds in build/ (or in $TENVO_BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" fonts-noto-cjk

build="${TENVO_BUILD_DIR:-$root/build}"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j2 --target tenvo_screenshot tenvo_translations unlha32 cab32 unzip32 sevenzip32 unrar32 tar32
mkdir -p "$root/docs"
# The window is drawn without a display; the picture is the window's own
# content (menu bar, toolbar, list, status bar).
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 QT_QPA_PLATFORM=offscreen "$build/bin/tenvo_screenshot" "$build/bin" "$root/docs/screenshot.png"
# The main window in English; its dialogs are pictured in Japanese only.
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
LANG=C.UTF-8 LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen "$build/bin/tenvo_screenshot" "$build/bin" "$work/screenshot.png"
cp "$work/screenshot.png" "$root/docs/screenshot-en.png"
