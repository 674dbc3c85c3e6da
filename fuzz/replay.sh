#!/usr/bin/env bash
# Replays every fuzz target over its seed corpus, then fuzzes it briefly.
# Usage: fuzz/replay.sh BUILD_DIR [SECONDS]
set -euo pipefail
build=$1
seconds=${2:-10}
here=$(cd "$(dirname "$0")" && pwd)
for bin in "$build"/fuzz/fuzz-*; do
    [ -x "$bin" ] || continue
    name=$(basename "$bin"); name=${name#fuzz-}
    corpus="$here/corpus/$name"
    work=$(mktemp -d)
    [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
    echo "fuzz $name: ${seconds}s"
    "$bin" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | grep -E 'stat::number_of_executed_units|ERROR|SUMMARY' || true
    status=${PIPESTATUS[0]}
    rm -rf "$work"
    [ "$status" -eq 0 ] || { echo "fuzz $name: failed" >&2; exit 1; }
done
