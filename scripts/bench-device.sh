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

# The bench, the applet and its hook, and the simulated switch's stand-in DLLs.
targets=(SwitchReplyBench VarnelKVM Quillhook SimSwitchSetupapi SimSwitchHid)
cross_build i686 "$root" "$build" "${targets[@]}"
if ! runs_32bit_programs; then
  echo "This machine does not run 32-bit programs: the figures are those of a 64-bit build of the same sources."
  build=$build-x64
  build_64bit "$root" "$build" "${targets[@]}"
fi

wine_prefix_ready "$build/wineprefix"
start_private_display
trap stop_private_display EXIT
wineserver -p 2>/dev/null || true  # one may be up already for this prefix
wine wineboot </dev/null >/dev/null 2>&1

echo "Wine $(wine --version | sed 's/^wine-//'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$build/bin"
# The applet inherits the stand-in DLL overrides from this environment.
"$root/tests/simswitch/wine-run-with-stand-ins" SwitchReplyBench.exe "$@" 2> >(grep -v '^ALSA lib' >&2)
