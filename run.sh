#!/usr/bin/env bash
# Sets up, builds, starts the virtual crate on a temporary folder, runs the main job on it and
# stops the crate again. Extra arguments are passed to the main job.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

crate=$(mktemp -d "${TMPDIR:-/tmp}/nimbra-crate-XXXXXX")
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null || true
    rm -rf "$crate"
}
trap cleanup EXIT

# Start the crate and wait for its "ready" line.
coproc SIM { exec build/sim/vmecrate-sim --dir "$crate" --memory 0x00100000:0x10000; }
sim_pid=$SIM_PID
read -r line <&"${SIM[0]}"
[ "$line" = "ready" ] || { echo "run.sh: vmecrate-sim did not start" >&2; exit 1; }
export KOVRAVME_SIM_DIR="$crate"

echo "== virtual crate in $crate"
build/vmelib/kovravme-demo "$@"
