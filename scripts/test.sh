#!/usr/bin/env bash
# Sets up, builds and runs every test, checks the installed program and its
# package (scripts/installcheck.sh), then runs each fuzz target for a few
# seconds (TENVO_FUZZ_SECONDS, 10 by default; 0 leaves them out).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
ctest --test-dir "$root/build" --output-on-failure -j2
"$root/scripts/installcheck.sh"
seconds="${TENVO_FUZZ_SECONDS:-10}"
if [ "$seconds" -gt 0 ]; then
    "$root/scripts/fuzz.sh" "$seconds"
fi
