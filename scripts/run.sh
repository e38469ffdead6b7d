#!/usr/bin/env bash
# Builds the applet and runs it under Wine against a simulated switch, printing
# the applet's debug output and every report the switch receives.
# It switches once through the applet (the Switch All command), as the tray
# menu would. With $DISPLAY set the applet then stays on that display until you
# choose Exit from its menu (or press Ctrl+C); without one it runs on a private
# Xvfb and is ended the way a second start with "/x" does.
#   SWITCH=5a04:0400:8 scripts/run.sh   picks the simulated switch (product id,
#   firmware version, output report length; see tests/simswitch/README.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

cross_build i686 "$root" "$build" VarnelKVM Quillhook DebugPrint PostToApplet SimSwitchTool SimSwitchSetupapi SimSwitchHid

wine_prefix_ready "$build/wineprefix"
interactive=1
if [ -z "${DISPLAY:-}" ]; then
  interactive=0
  start_private_display
fi
cleanup() {
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null || true
  [ -n "${switch:-}" ] && kill "$switch" 2>/dev/null || true
  if [ "$interactive" = 0 ]; then stop_private_display; else wineserver -k >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
wineserver -p 2>/dev/null || true  # one may be up already for this prefix
wine wineboot </dev/null >/dev/null 2>&1

bin="$build/bin"
wine "$bin/DebugPrint.exe" &
listener=$!
sleep 1

echo "Plugging in a simulated switch: ${SWITCH:-5a04:0400:8}"
wine "$bin/SimSwitch.exe" --interface "${SWITCH:-5a04:0400:8}" </dev/null | sed -u 's/^/switch /' &
switch=$!
sleep 1

echo "Starting VarnelKVM.exe on display $DISPLAY"
# The stand-in setupapi.dll and hid.dll beside it lead the applet to the simulated switch.
WINEDLLOVERRIDES="setupapi,hid=n,b" wine "$bin/VarnelKVM.exe" &
applet=$!
sleep 1
echo "Switching everything to the other computer (the Switch All command)"
wine "$bin/PostToApplet.exe" 0x111 32784 0

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
