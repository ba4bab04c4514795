# Nautilus: "Extract with Tenvo" on the context menu of selected archives,
# which puts them in Tenvo's list (python3-nautilus; Nautilus 43 and later,
# and the older 3.0 interface).
import os
import subprocess

import gi

try:
    gi.require_version("Nautilus", "4.0")
except ValueError:
    gi.require_version("Nautilus", "3.0")
from gi.repository import GObject, Nautilus  # noqa: E402

# The types Tenvo's desktop entry offers to open.
ARCHIVE_TYPES = (
    "application/zip",
    "application/x-zip-compressed",
    "application/x-lha",
    "application/x-lzh-compressed",
    "application/vnd.ms-cab-compressed",
    "application/vnd.rar",
    "application/x-rar",
    "application/x-rar-compressed",
    "application/x-7z-compressed",
    "application/x-tar",
    "application/x-compressed-tar",
    "application/x-bzip2-compressed-tar",
    "application/x-xz-compressed-tar",
    "application/x-zstd-compressed-tar",
    "application/gzip",
    "application/x-bzip2",
    "application/x-xz",
    "application/zstd",
)


def menu_label(environ=os.environ):
    """The item's text in the language the desktop speaks."""
    for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"):
        value = environ.get(name, "")
        if value:
            return "Tenvo で解凍" if value.startswith("ja") else "Extract with Tenvo"
    return "Extract with Tenvo"


def archive_paths(files):
    """The local paths of files when every one is an archive Tenvo reads, else []."""
    paths = []
    for file in files:
        location = file.get_location()
        path = location.get_path() if location is not None else None
        if path is None or not any(file.is_mime_type(kind) for kind in ARCHIVE_TYPES):
            return []
        paths.append(path)
    return paths


def run_tenvo(paths):
    # The paths are absolute, so none is taken for an option. Its own session:
    # closing Nautilus leaves a running extraction alone.
    subprocess.Popen(["tenvo", *paths], start_new_session=True,
                     stdin=subprocess.DEVNULL)


class TenvoMenuProvider(GObject.GObject, Nautilus.MenuProvider):
    def get_file_items(self, *args):
        # Nautilus 43 passes the files alone, the 3.0 interface a window first.
        paths = archive_paths(args[-1])
        if not paths:
            return []
        item = Nautilus.MenuItem(name="TenvoMenuProvider::Extract", label=menu_label(),
                                 icon="tenvo")
        item.connect("activate", lambda *_: run_tenvo(paths))
        return [item]
