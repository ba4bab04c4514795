#!/usr/bin/env bash
# Sets up, builds and starts Tenvo.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/build.sh"
exec "$root/build/bin/tenvo" "$@"
