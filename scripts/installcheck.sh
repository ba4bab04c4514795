#!/usr/bin/env bash
# Installs Tenvo from build/ (or the build folder given) into a temporary
# prefix and checks it as a user's desktop would meet it: the installed
# program, with no display, extracts an archive of every type exactly; the
# desktop entry and the AppStream metadata validate; the icon's PNGs match
# its SVG; the Debian package builds and lintian finds no error in it.
#
#   scripts/installcheck.sh [build folder]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

fail() {
    echo "installcheck: $*" >&2
    exit 1
}

cmake --build "$build" -j2 --target tenvo_installed tenvo_makefixtures >/dev/null
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/tenvo lib/tenvo/unlha32.so lib/tenvo/cab32.so lib/tenvo/unzip32.so \
            lib/tenvo/7-zip32.so lib/tenvo/unrar32.so lib/tenvo/tar32.so lib/tenvo/tenvo-window.so \
            share/applications/tenvo.desktop share/metainfo/org.tenvo.tenvo.metainfo.xml \
            share/icons/hicolor/scalable/apps/tenvo.svg share/man/man1/tenvo.1.gz; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
done

# The installed program, away from the build tree and with no display.
"$build/bin/tenvo_makefixtures" "$work/fixtures"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$prefix/bin/tenvo" --extract-to "$work/out" --name-folders "$work/fixtures/in" >"$work/lines" \
    || fail "the installed tenvo --extract-to failed: $(cat "$work/lines")"
diff -r "$work/fixtures/expected" "$work/out" || fail "the extracted files differ from the archives' contents"
[ "$(wc -l <"$work/lines")" -eq "$(ls "$work/fixtures/in" | wc -l)" ] || fail "not one line per archive"

for size in 16 32 48 64 128; do
    rsvg-convert -w "$size" -h "$size" "$root/data/tenvo.svg" -o "$work/icon.png"
    cmp -s "$work/icon.png" "$prefix/share/icons/hicolor/${size}x${size}/apps/tenvo.png" \
        || fail "tenvo-$size.png does not match data/tenvo.svg (run scripts/icons.sh)"
done

desktop-file-validate "$prefix/share/applications/tenvo.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tenvo.tenvo.metainfo.xml" >/dev/null

rm -f "$build"/tenvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package="$(ls "$build"/tenvo_*.deb)"
lintian --fail-on error "$package" 2> >(grep -v 'root privileges' >&2)
echo "installcheck: $(basename "$package") built; installed program, desktop entry and metadata checked"
