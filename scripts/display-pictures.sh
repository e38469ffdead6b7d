#!/usr/bin/env bash
# Makes the README's pictures of the display features:
#   OUT/monitor-prompt.png  the Primary Monitor prompt at the first start with a
#                           display switch (firmware 4), in an 800x600 Wine desktop
#   OUT/border-frame.png    the white frame as the border loop draws it, on a
#                           640x400 memory surface painted in a desktop colour
#                           (Wine shows nothing a program draws on the screen's
#                           device context, so the loop is run on that surface),
#                           outlined in dark grey so its white edge shows on a page
#   OUT/border-corner.png   its top left corner, 16x16 pixels enlarged 8 times
#
#   scripts/display-pictures.sh [OUT]      (OUT: docs/)
# BUILD_DIR (default build-screenshots) and the Wine prefix inside it may be reused;
# where the machine runs no 32-bit programs, BUILD_DIR-x64 (a 64-bit build).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshots}
out=${1:-$root/docs}
mkdir -p "$out"
out=$(cd "$out" && pwd)

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"
build_for_wine "$root" "$build" VarnelKVM Quillhook FramePicture SimSwitchTool SimSwitchSetupapi SimSwitchHid
build=$WINE_BUILD
say_which_build
wine_prefix_ready "$build/wineprefix"
start_private_display
wineserver -p 2>/dev/null || true
wine wineboot </dev/null >/dev/null 2>&1
bin=$build/bin
winbin=$(wine winepath -w "$bin")
desktop=Monitors
work=$(mktemp -d)
explorer_pid=
cleanup() {
  set +e
  [ -n "$explorer_pid" ] && wine explorer /desktop="$desktop" "$winbin\\VarnelKVM.exe" /x >/dev/null 2>&1
  wine "$bin/SimSwitch.exe" --stop >/dev/null 2>&1
  sleep 1
  [ -n "$explorer_pid" ] && kill "$explorer_pid" 2>/dev/null
  stop_private_display
  say_which_build
  rm -rf "$work"
}
trap cleanup EXIT

# The frame, on a memory surface.
wine "$bin/FramePicture.exe" "$(wine winepath -w "$work/frame.bmp")" 640 400
convert "$work/frame.bmp" -bordercolor '#303030' -border 2 "$out/border-frame.png"
convert "$work/frame.bmp" -crop 16x16+0+0 +repage -filter point -resize 800% "$out/border-corner.png"

# The prompt: nothing stored yet, so the first start with a display switch asks.
wine reg delete 'HKCU\Software\Varnel\Kestrel' /v NumDisplays /f >/dev/null 2>&1 || true
wine reg delete 'HKCU\Software\Varnel\Kestrel' /v DefaultDisplay /f >/dev/null 2>&1 || true
wine "$bin/SimSwitch.exe" --interface 5a04:0400:8 >"$work/switch.log" 2>&1 </dev/null &
sleep 2
(use_stand_ins && exec wine explorer /desktop="$desktop,800x600" "$winbin\\VarnelKVM.exe" >/dev/null 2>&1) &
explorer_pid=$!
window=$(wait_for_wine_desktop "$desktop")
[ -n "$window" ] || { echo "the Wine desktop did not appear" >&2; exit 1; }
shown=0
for _ in $(seq 1 50); do
  if xdotool search --name '^Primary Monitor$' >/dev/null 2>&1; then shown=1; break; fi
  sleep 0.2
done
[ "$shown" = 1 ] || { echo "the prompt did not appear" >&2; exit 1; }
sleep 1
import -window "$window" "$out/monitor-prompt.png"
echo "Wrote $out/monitor-prompt.png, $out/border-frame.png and $out/border-corner.png"
