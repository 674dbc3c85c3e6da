#!/usr/bin/env bash
# Kills acquisitions on the virtual crate at random moments, N times (default 200), each followed
# by a next run on another set of TA sections, and checks the DAQ files after every next run.
# Usage: scripts/kill-campaign.sh [N] [slow]   (slow: slowed record writes, so that nearly every
# kill falls between the per-FIFO writes of one event; default: full speed). BUILD_DIR picks the
# build folder (default build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
kills=${1:-200}
slow=0
if [ "${2:-}" = slow ]; then
    slow=1
fi
cmake --build "$build" --target acquisition-crate-tests >/dev/null
NIMBRA_KILL_CAMPAIGN=$kills NIMBRA_KILL_CAMPAIGN_SLOW=$slow \
    "$build/tests/acquisition/acquisition-crate-tests" \
    --gtest_filter='KillCampaignTest.*'
