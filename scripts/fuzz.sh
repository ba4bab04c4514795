#!/usr/bin/env bash
# Builds the libFuzzer targets in build-fuzz/ and runs each for a fixed time.
#
#   scripts/fuzz.sh [seconds per target] [target...]
#
# Exits non-zero when a target crashed, hung or ran out of memory; the
# reproducer is copied to fuzz/findings/<target>/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_commandline fuzz_settings fuzz_extract fuzz_decoders fuzz_lzma)
build="$root/build-fuzz"

"$root/scripts/setup.sh" clang-14 libfuzzer-14-dev

CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTENVO_FUZZ=ON -DBUILD_TESTING=OFF -DTENVO_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tenvo_fuzzers

# Seeds are made fresh by the fixture writers; the corpus that grows from
# them stays in the build folder between runs.
rm -rf "$build/seeds"
"$build/fuzz/makeseeds" "$build/seeds"

# libFuzzer's own temporary files (its fork mode shares them with its jobs)
# stay out of /tmp, which fuzz_extract replaces with a private, empty tmpfs.
export TMPDIR="$build/tmp"
mkdir -p "$TMPDIR"

# The decoder children run under a 1 GiB address-space limit, so that a
# library asking for more memory than that gets none and reports the archive
# damaged; the targets get the same: a larger allocation returns no memory.
export ASAN_OPTIONS="allocator_may_return_null=1:max_allocation_size_mb=1024"

# Per target: longest input, and per-input time and memory limits.
declare -A max_len=([fuzz_commandline]=4096 [fuzz_settings]=8192 [fuzz_extract]=65536 [fuzz_decoders]=65536 [fuzz_lzma]=65536)
status=0
for target in "${targets[@]}"; do
    corpus="$build/corpus/$target"
    work="$build/runs/$target"
    mkdir -p "$corpus" "$work"
    seeds="$build/seeds/${target#fuzz_}"
    [ -d "$seeds" ] || seeds=""
    echo "== $target: ${seconds}s"
    # Earlier findings first: each must pass now, or the run fails.
    for input in "$root/fuzz/findings/$target"/*; do
        [ -f "$input" ] || continue
        case "$input" in *.log) continue ;; esac
        if ! (cd "$work" && timeout 120 "$build/fuzz/$target" -rss_limit_mb=2048 "$input" \
              >"$work/replay.txt" 2>&1); then
            status=1
            echo "   still fails: fuzz/findings/$target/$(basename "$input")"
            grep -hE 'ERROR|SUMMARY' "$work/replay.txt" | head -3 | sed 's/^/     /' || true
        fi
    done
    rm -f "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$work"/leak-*
    # One forked worker that is restarted after a finding, so one run
    # reports every distinct finding instead of stopping at the first.
    set +e
    (cd "$work" && ASAN_OPTIONS="$ASAN_OPTIONS:detect_leaks=1" UBSAN_OPTIONS=print_stacktrace=1 \
        "$build/fuzz/$target" "$corpus" $seeds \
        -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]}" -artifact_prefix="$work/" >"$work/log.txt" 2>&1)
    set -e
    grep -E '^#[0-9]+: cov:' "$work/log.txt" | tail -n 1 || true
    found=($(ls "$work"/crash-* "$work"/timeout-* "$work"/oom-* "$work"/leak-* 2>/dev/null || true))
    if [ ${#found[@]} -gt 0 ]; then
        status=1
        findings="$root/fuzz/findings/$target"
        mkdir -p "$findings"
        for artifact in "${found[@]}"; do
            name="$(basename "$artifact")"
            cp "$artifact" "$findings/"
            # Replayed alone, so the report is whole (the fork mode passes on
            # only its ERROR lines) and a finding that does not reproduce shows.
            (cd "$work" && timeout 120 "$build/fuzz/$target" -rss_limit_mb=2048 "$artifact" 2>&1 \
                | grep -v NEW_FUNC | tail -n 60 >"$findings/$name.log") || true
            echo "   finding: fuzz/findings/$target/$name"
            grep -hE 'ERROR|SUMMARY' "$findings/$name.log" | head -3 | sed 's/^/     /' || true
        done
    fi
done
exit $status
