#!/usr/bin/env bash
# How quickly the applet answers the switch's border request: builds the
# bench and runs it under Wine on a private X display, against the simulated
# switch. Prints the figures; it is not a test.
#   scripts/bench-device.sh [requests (default 100, at least 50)]
# BUILD_DIR (default build-tests) and the Wine prefix inside it may be reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"
run_bench "$root" "$build" SwitchReplyBench "$@"
