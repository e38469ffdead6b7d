#!/usr/bin/env bash
# What the white border costs and how quickly it comes: builds the bench and
# runs it under Wine on a private X display, against the simulated switch.
# Prints the figures; it is not a test.
#   scripts/bench-border.sh [rounds (default 20)]
# BUILD_DIR (default build-tests) and the Wine prefix inside it may be reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"
run_bench "$root" "$build" BorderBench "$@"
