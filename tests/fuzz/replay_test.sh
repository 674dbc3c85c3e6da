#!/usr/bin/env bash
# Runs fuzz/replay.sh over a build folder holding one stand-in target at a time.
set -u
replay=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir -p "$dir/fuzz"
errors=0

# expect STATUS BODY: a target whose script is BODY makes replay.sh exit with STATUS (0 or not).
expect() {
    local want=$1 body=$2
    rm -f "$dir"/fuzz/*
    printf '#!/usr/bin/env bash\n%s\n' "$body" >"$dir/fuzz/fuzz-standin"
    chmod +x "$dir/fuzz/fuzz-standin"
    FUZZ_GRACE=2 "$replay" "$dir" 1 >"$dir/out" 2>&1
    local got=$?
    if { [ "$want" -eq 0 ] && [ "$got" -ne 0 ]; } || { [ "$want" -ne 0 ] && [ "$got" -eq 0 ]; }; then
        echo "FAIL: target '$body': replay exit $got, expected $([ "$want" -eq 0 ] && echo 0 || echo failure)"
        cat "$dir/out"
        errors=$((errors + 1))
    fi
}

expect 0 'echo "stat::number_of_executed_units: 100"; exit 0'
expect 1 'echo "==1==ERROR: AddressSanitizer: heap-buffer-overflow"; kill -ABRT $$'
expect 1 'echo "==1==ERROR: LeakSanitizer: detected memory leaks"; echo "SUMMARY: 24 byte(s) leaked"; exit 1'
expect 1 'sleep 30'
expect 1 'echo "==1== ERROR: libFuzzer: timeout after 25 seconds"; exit 70'
# No target at all is a broken fuzz build, not a pass.
rm -f "$dir"/fuzz/*
if "$replay" "$dir" 1 >"$dir/out" 2>&1; then
    echo "FAIL: a build without targets passed"
    errors=$((errors + 1))
fi
exit "$errors"
