#!/usr/bin/env bash
# Sets up, builds, starts the virtual crate on a temporary folder, runs the main job on it and
# stops the crate again. With a display ($DISPLAY or $WAYLAND_DISPLAY, or --gui) the main job is
# the operator's window, `tarvo`, on the virtual crate. Without one, or with --headless, it is an
# acquisition of 1,000 events with all eight FIFOs into ./out/run-<date>/, a summary of the files
# written, and histograms from them; other arguments are passed to `tarvo-cli acquire`.
set -euo pipefail
cd "$(dirname "$0")"

mode=auto
args=()
for a in "$@"; do
    case "$a" in
        --gui) mode=gui ;;
        --headless) mode=headless ;;
        *) args+=("$a") ;;
    esac
done
if [ "$mode" = auto ]; then
    if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then mode=gui; else mode=headless; fi
fi

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
coproc SIM { exec build/sim/vmecrate-sim --dir "$crate" --memory 0x00100000:0x10000 --board --i2c; }
sim_pid=$SIM_PID
read -r line <&"${SIM[0]}"
[ "$line" = "ready" ] || { echo "run.sh: vmecrate-sim did not start" >&2; exit 1; }
export KOVRAVME_SIM_DIR="$crate"

echo "== virtual crate in $crate"
if [ "$mode" = gui ]; then
    export TARVO_I2C_ADAPTER="${TARVO_I2C_ADAPTER:-sim}"
    echo "== the window: build/app/shell/tarvo (settings in \${XDG_CONFIG_HOME:-~/.config}/Ulmora/Tarvo.conf)"
    build/app/shell/tarvo ${args[@]+"${args[@]}"}
    exit $?
fi
build/vmelib/kovravme-demo

out="out/run-$(date -u +%Y%m%d-%H%M%S)"
mkdir -p "$out"
echo "== acquisition: 1000 events, Normal Read-out, TA 1..8 into $out/daqclr.bin"
build/app/cli/tarvo-cli acquire --rev1 --type 0 --cycles 1000 --ta 1,2,3,4,5,6,7,8 \
    --file-clr "$out/daqclr.bin" ${args[@]+"${args[@]}"}

echo "== files written"
for f in "$out"/daqclr_*.bin; do
    size=$(stat -c %s "$f")
    printf '%-40s %10d bytes %6d records\n' "$f" "$size" $((size / 1024))
done

echo "== histograms"
build/app/cli/tarvo-cli histogram --rev1 --file-clr "$out/daqclr.bin"
spectra=$(find "$out" -name 'daqclr_*_*.spe' | wc -l)
lists=$(find "$out" -name 'daqclr_*_*.txt' | wc -l)
echo "== results in $out: 8 DAQ files, $lists value lists, $spectra spectrum files"
