#!/usr/bin/env bash
# Times Tenvo against other extractors: installs them, builds the driver in
# build-bench/, generates the data on tmpfs and writes bench/out/results.md.
#
#   scripts/bench.sh [--size-mb N] [--small N] [--list-files N] [--runs N]
#                    [--formats a,b] [--parallel-archives N] [--parallel-mb N]
#                    [--wait-quiet SECONDS]
#
# Take the numbers on a quiet machine: the report says when the load average
# was above 1.5 while it ran.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-bench"

# The contenders, the LZH packer (jlha) and the harness's interpreter.
"$root/scripts/setup.sh" python3 time zip unzip 7zip libarchive-tools unar lhasa jlha-utils cabextract \
    libjlha-java default-jdk-headless tar gzip bzip2 xz-utils zstd

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTENVO_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target tenvo_bench tenvo_bench_makerar tenvo_installed \
    unlha32 cab32 unzip32 sevenzip32 unrar32 tar32

work=/dev/shm/tenvo-bench
[ -w /dev/shm ] || work="${TMPDIR:-/tmp}/tenvo-bench"
exec /usr/bin/python3 "$root/bench/bench.py" --build "$build" --out "$root/bench/out" \
    --work "$work" "$@"
