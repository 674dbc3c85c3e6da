#!/usr/bin/env bash
# Replays every fuzz target over its seed corpus, then fuzzes it briefly. Fails when a target
# crashes, leaks, runs an input too long, or does not end in time, and when there is no target.
# Usage: fuzz/replay.sh BUILD_DIR [SECONDS]
# FUZZ_GRACE: seconds a target may run beyond SECONDS before it counts as hung (default 60).
set -uo pipefail
build=$1
seconds=${2:-10}
grace=${FUZZ_GRACE:-60}
here=$(cd "$(dirname "$0")" && pwd)
found=0
failed=0
for bin in "$build"/fuzz/fuzz-*; do
    [ -x "$bin" ] || continue
    found=$((found + 1))
    name=$(basename "$bin"); name=${name#fuzz-}
    corpus="$here/corpus/$name"
    work=$(mktemp -d)
    log=$(mktemp)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "fuzz $name: ${seconds}s"
    status=0
    # -timeout: one input running this long is a finding, as a crash is.
    timeout --kill-after=5 "$((seconds + grace))" \
        "$bin" -max_total_time="$seconds" -timeout=25 -print_final_stats=1 "$work" \
        >"$log" 2>&1 || status=$?
    grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' "$log"
    if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
        echo "fuzz $name: did not end within $((seconds + grace))s" >&2
    elif [ "$status" -ne 0 ]; then
        echo "fuzz $name: failed with exit status $status" >&2
        tail -n 40 "$log" >&2
    fi
    [ "$status" -eq 0 ] || failed=$((failed + 1))
    rm -rf "$work" "$log"
done
if [ "$found" -eq 0 ]; then
    echo "fuzz: no targets in $build/fuzz" >&2
    exit 1
fi
[ "$failed" -eq 0 ] || { echo "fuzz: $failed of $found targets failed" >&2; exit 1; }
