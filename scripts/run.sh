#!/usr/bin/env bash
# Builds the applet and runs it under Wine, printing its debug output.
# With $DISPLAY set it runs on that display until you choose Exit from its
# menu (or press Ctrl+C); without one it runs on a private Xvfb, shows that it
# started, and ends it the way a second start with "/x" does.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)" --target VarnelKVM Quillhook DebugPrint PostToApplet

wine_prefix_ready "$build/wineprefix"
interactive=1
if [ -z "${DISPLAY:-}" ]; then
  interactive=0
  start_private_display
fi
cleanup() {
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null || true
  if [ "$interactive" = 0 ]; then stop_private_display; else wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1

bin="$build/bin"
wine "$bin/DebugPrint.exe" &
listener=$!
sleep 1

echo "Starting VarnelKVM.exe on display $DISPLAY"
wine "$bin/VarnelKVM.exe" &
applet=$!

if [ "$interactive" = 1 ]; then
  echo "The applet is running; choose Exit from its menu, or press Ctrl+C, to end it."
  trap 'wine "$bin/VarnelKVM.exe" /x; wait "$applet"' INT
else
  sleep 3
  echo "Ending it with a second start: VarnelKVM.exe /x"
  wine "$bin/VarnelKVM.exe" /x
fi
set +e
wait "$applet"
code=$?
set -e
sleep 0.5
echo "VarnelKVM.exe ended with exit code $code"
