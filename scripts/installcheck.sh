#!/usr/bin/env bash
# Installs Tenvo from build/ (or the build folder given) into a temporary
# prefix and checks it as a user's desktop would meet it: the installed
# program, with no display, extracts an archive of every type exactly; the
# desktop entry, the file managers' actions and the AppStream metadata
# validate; the manual and its pictures are there; --help speaks English
# outside a Japanese locale and Japanese in one; the icon's PNGs match its
# SVG; the Debian package builds and lintian --pedantic finds no error and no
# missing hardening in it.
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
            lib/tenvo/7-zip32.so lib/tenvo/unrar32.so lib/tenvo/tar32.so lib/tenvo/tenvo-window.so lib/tenvo/tenvo-keyring.so lib/tenvo/tenvo-decoders.so \
            share/applications/tenvo.desktop share/metainfo/org.tenvo.tenvo.metainfo.xml \
            share/icons/hicolor/scalable/apps/tenvo.svg share/man/man1/tenvo.1.gz \
            share/kio/servicemenus/tenvo.desktop share/nemo/actions/tenvo.nemo_action \
            share/nautilus-python/extensions/tenvo.py share/doc/tenvo/copyright \
            share/doc/tenvo/manual/ja/index.html share/doc/tenvo/manual/en/index.html \
            share/tenvo/translations/tenvo_en.qm; do
    [ -f "$prefix/$file" ] || fail "not installed: $file"
done

# The installed program, away from the build tree and with no display.
"$build/bin/tenvo_makefixtures" "$work/fixtures"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$prefix/bin/tenvo" --extract-to "$work/out" --name-folders "$work/fixtures/in" >"$work/lines" \
    || fail "the installed tenvo --extract-to failed: $(cat "$work/lines")"
diff -r "$work/fixtures/expected" "$work/out" || fail "the extracted files differ from the archives' contents"
[ "$(wc -l <"$work/lines")" -eq "$(ls "$work/fixtures/in" | wc -l)" ] || fail "not one line per archive"

# Its language: English wherever the locale is not Japanese, Japanese where
# it is.
english=C.UTF-8
locale -a 2>/dev/null | grep -qix 'en_US\.utf-\?8' && english=en_US.UTF-8
LANG=$english LC_ALL=$english "$prefix/bin/tenvo" --help >"$work/help-en"
grep -q 'Batch extraction utility' "$work/help-en" || fail "--help is not in English under $english"
! LC_ALL=C.UTF-8 grep -qP '[\x{3000}-\x{9fff}\x{ff00}-\x{ffef}]' "$work/help-en" || fail "--help under $english shows Japanese"
LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8 "$prefix/bin/tenvo" --help >"$work/help-ja"
grep -q '書庫ファイル一括解凍ユーティリティ' "$work/help-ja" || fail "--help is not in Japanese under ja_JP.UTF-8"

for size in 16 32 48 64 128; do
    rsvg-convert -w "$size" -h "$size" "$root/data/tenvo.svg" -o "$work/icon.png"
    cmp -s "$work/icon.png" "$prefix/share/icons/hicolor/${size}x${size}/apps/tenvo.png" \
        || fail "tenvo-$size.png does not match data/tenvo.svg (run scripts/icons.sh)"
done

desktop-file-validate "$prefix/share/applications/tenvo.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tenvo.tenvo.metainfo.xml" >/dev/null
grep -q '<project_license>MIT</project_license>' "$prefix/share/metainfo/org.tenvo.tenvo.metainfo.xml" \
    || fail "the metadata names no project licence"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$prefix/share/doc/tenvo/copyright" || fail "the copyright file is not machine-readable"

# Dolphin's service menu: executable, or Plasma ignores it in ~/.local. The
# validator knows KDE's Service type but not the keys KIO reads in it.
servicemenu="$prefix/share/kio/servicemenus/tenvo.desktop"
[ -x "$servicemenu" ] || fail "the service menu is not executable"
errors="$(desktop-file-validate "$servicemenu" 2>&1 \
    | grep -v -E 'key "(MimeType|Actions)" is present in group "Desktop Entry", but the type is "Service"' || true)"
[ -z "$errors" ] || fail "the service menu does not validate: $errors"
# Every file manager offers the types the desktop entry opens and runs tenvo
# on the selection; the Nautilus extension is run on stand-in GObject modules.
python3 - "$prefix" <<'PYTHON' || fail "a file manager's action is wrong"
import configparser, importlib.machinery, subprocess, sys, types
prefix = sys.argv[1]
def read(path, group):
    parser = configparser.RawConfigParser(strict=True, delimiters=("=",))
    parser.optionxform = str
    parser.read(prefix + path, encoding="utf-8")
    return parser[group]
def kinds(text):
    return {kind for kind in text.split(";") if kind}
opened = kinds(read("/share/applications/tenvo.desktop", "Desktop Entry")["MimeType"])
service = read("/share/kio/servicemenus/tenvo.desktop", "Desktop Entry")
action = read("/share/kio/servicemenus/tenvo.desktop", "Desktop Action extractWithTenvo")
nemo = read("/share/nemo/actions/tenvo.nemo_action", "Nemo Action")
assert kinds(service["MimeType"]) == opened and kinds(nemo["Mimetypes"]) == opened
for entry in (action, nemo):
    assert entry["Exec"] == "tenvo %F", entry["Exec"]
    assert (entry["Name"], entry["Name[ja]"]) == ("Extract with Tenvo", "Tenvo で解凍")

class Item:
    def __init__(self, **properties):
        self.properties, self.handlers = properties, []
    def connect(self, signal, handler):
        self.handlers.append(handler)
nautilus = types.SimpleNamespace(MenuProvider=type("MenuProvider", (), {}), MenuItem=Item)
gobject = types.SimpleNamespace(GObject=type("GObject", (), {}))
gi = types.ModuleType("gi")
gi.require_version = lambda name, version: None
gi.repository = types.SimpleNamespace(GObject=gobject, Nautilus=nautilus)
sys.modules.update({"gi": gi, "gi.repository": gi.repository})
loader = importlib.machinery.SourceFileLoader(
    "tenvo_extension", prefix + "/share/nautilus-python/extensions/tenvo.py")
extension = types.ModuleType("tenvo_extension")
loader.exec_module(extension)
assert set(extension.ARCHIVE_TYPES) == opened
class File:
    def __init__(self, path, kind):
        self.path, self.kind = path, kind
    def get_location(self):
        return types.SimpleNamespace(get_path=lambda: self.path)
    def is_mime_type(self, kind):
        return kind == self.kind
runs = []
subprocess.Popen = lambda command, **options: runs.append(command)
provider = extension.TenvoMenuProvider()
selection = [File("/a b/x.zip", "application/zip"), File("/c/y.lzh", "application/x-lha")]
for arguments in ((selection,), (None, selection)):
    items = provider.get_file_items(*arguments)
    assert len(items) == 1
    items[0].handlers[0](items[0])
assert runs == [["tenvo", "/a b/x.zip", "/c/y.lzh"]] * 2, runs
assert provider.get_file_items(selection + [File("/c/notes.txt", "text/plain")]) == []
assert extension.menu_label({"LANG": "ja_JP.UTF-8"}) == "Tenvo で解凍"
assert extension.menu_label({"LANG": "en_GB.UTF-8"}) == "Extract with Tenvo"
PYTHON

# The manual's pages, and every picture and page they link to, are installed.
for page in "$prefix"/share/doc/tenvo/manual/*/index.html; do
    for target in $(grep -o -E '(src|href)="[^"#:]+"' "$page" | sed -E 's/^[a-z]+="(.*)"$/\1/'); do
        [ -f "$(dirname "$page")/$target" ] || fail "${page#"$prefix"/} links to $target, which is not installed"
    done
done

rm -f "$build"/tenvo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
package="$(ls "$build"/tenvo_*.deb)"
lintian --pedantic --fail-on error "$package" 2> >(grep -v 'root privileges' >&2) | tee "$work/lintian" \
    || fail "lintian found an error in the package"
! grep -q 'hardening-' "$work/lintian" || fail "the package's binaries lack some of Debian's hardening"
echo "installcheck: $(basename "$package") built; installed program, desktop entry and metadata checked"
