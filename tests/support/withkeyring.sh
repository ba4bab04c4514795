#!/bin/sh
# Runs a test on a session bus of its own with an unlocked keyring daemon
# that keeps its files in a scratch folder, so no test reads or writes the
# user's keyring. Without dbus-run-session or gnome-keyring-daemon the test
# runs with no bus at all and skips what needs a keyring.
#
#   withkeyring.sh test-program [argument...]
if ! command -v dbus-run-session >/dev/null 2>&1 || ! command -v gnome-keyring-daemon >/dev/null 2>&1; then
    echo "withkeyring.sh: dbus-run-session or gnome-keyring-daemon missing; running without a keyring" >&2
    exec "$@"
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tenvo-keyring.XXXXXX") || exit 1
mkdir -p "$scratch/data" "$scratch/runtime" && chmod 700 "$scratch/runtime"
dbus-run-session -- sh -c '
    scratch=$1
    shift
    # The daemon unlocks a new login keyring with this password from stdin.
    printf "tenvo-test" | HOME="$scratch" XDG_DATA_HOME="$scratch/data" XDG_RUNTIME_DIR="$scratch/runtime" \
        gnome-keyring-daemon --unlock --components=secrets --daemonize >/dev/null 2>&1 ||
        echo "withkeyring.sh: gnome-keyring-daemon did not start" >&2
    exec "$@"
' sh "$scratch" "$@"
status=$?
rm -rf "$scratch"
exit $status
