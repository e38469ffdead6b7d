#!/usr/bin/env bash
# Takes the two pictures of the applet as a user sees it: a Wine desktop with
# a taskbar, the applet's icon in its notification area, and a simulated
# switch (firmware 4) attached, so the icon shows "attached" and the menu is
# complete.
#   OUT/tray-icon.png   the desktop with the icon in the tray
#   OUT/tray-menu.png   the same after a right click on the icon: its menu
# With --dialogs, also the dialogs as the menu opens them, in English and in
# Japanese (LANG is en or ja):
#   OUT/options-LANG.png        Options for a switch with firmware 4
#   OUT/options-older-LANG.png  Options for a switch with firmware 3
#   OUT/about-LANG.png          About, with the firmware-4 switch
#
#   scripts/screenshots.sh [--check] [--reuse] [--dialogs] [OUT]      (OUT: docs/)
#
# --check  also verifies that the taskbar holds the applet's attached icon
#          exactly as the tray draws it, and not the not-attached one, and
#          that the right click opened something there; exits 1 otherwise.
# --dialogs takes the dialog pictures too; with --check, each must show a
#          dialog of the size its layout has.
# --reuse  runs in the Wine prefix and on the display already set up (for
#          the tests, a desktop of its own); the binaries are taken from
#          BUILD_DIR/bin as built.
# Without --reuse it builds into BUILD_DIR (default build-screenshots) and
# uses that build's prefix and a private X display; where the machine runs
# no 32-bit programs (or with VARNEL_FORCE_64BIT=1) the pictures are of a
# 64-bit build of the same sources, in BUILD_DIR-x64, and it says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-screenshots}

check=0
reuse=0
dialogs=0
out=$root/docs
for argument in "$@"; do
  case "$argument" in
    --check) check=1 ;;
    --reuse) reuse=1 ;;
    --dialogs) dialogs=1 ;;
    -*) echo "unknown option $argument" >&2; exit 2 ;;
    *) out=$argument ;;
  esac
done
mkdir -p "$out"
out=$(cd "$out" && pwd)

source "$root/scripts/wine-env.sh"
if [ "$reuse" = 0 ]; then
  "$root/scripts/setup-debian.sh"
  build_for_wine "$root" "$build" VarnelKVM Quillhook IconSnapshot SimSwitchTool SimSwitchSetupapi SimSwitchHid \
    PostToApplet
  build=$WINE_BUILD
  say_which_build
  wine_prefix_ready "$build/wineprefix"
  start_private_display
  # One wineserver for the whole run (it may be up already for this prefix).
  wineserver -p || true
  wine wineboot </dev/null >/dev/null 2>&1
else
  : "${WINEPREFIX:?--reuse needs the WINEPREFIX of the test run}"
  : "${DISPLAY:?--reuse needs the DISPLAY of the test run}"
fi
bin=$build/bin
winbin=$(wine winepath -w "$bin")

desktop=Kestrel
size=800x600
switch_started=0
explorer_pid=
work=$(mktemp -d)

cleanup() {
  set +e
  # The applet ends the way a second start with "/x" ends it, started in the
  # same desktop, where it can find the first; the switch by its own command.
  [ -n "$explorer_pid" ] && wine explorer /desktop="$desktop" "$winbin\\VarnelKVM.exe" /x >/dev/null 2>&1
  [ "$switch_started" = 1 ] && wine "$bin/SimSwitch.exe" --stop >/dev/null 2>&1
  sleep 1
  [ -n "$explorer_pid" ] && kill "$explorer_pid" 2>/dev/null
  [ "$reuse" = 0 ] && stop_private_display && say_which_build
  rm -rf "$work"
}
trap cleanup EXIT

# Wine's explorer draws a taskbar, with its notification area, in a virtual
# desktop whose "EnableShell" value is set.
wine reg add "HKCU\\Software\\Wine\\Explorer\\Desktops\\$desktop" /v EnableShell /t REG_DWORD /d 1 /f \
  >/dev/null 2>&1

# The simulated switch serves its default table; the applet finds it through
# the stand-in setupapi.dll and hid.dll beside it.
wine "$bin/SimSwitch.exe" --interface 5a01:0400:8 >"$work/switch.log" 2>&1 </dev/null &
switch_started=1
sleep 2

(use_stand_ins && exec wine explorer /desktop="$desktop,$size" "$winbin\\VarnelKVM.exe" >/dev/null 2>&1) &
explorer_pid=$!

window=$(wait_for_wine_desktop "$desktop")
if [ -z "$window" ]; then
  echo "the Wine desktop did not appear" >&2
  exit 1
fi

# The icon as the tray draws it, on the taskbar's own background.
width=${size%x*}
height=${size#*x}
strip=40
find_icon() {   # icon id, image -> "x y" of the exact match in the taskbar strip, or nothing
  local background
  background=$(convert "$2" -crop "1x1+$((width - 60))+$((height - 8))" -depth 8 txt:- |
               sed -n 's/.*#\([0-9A-Fa-f]\{6\}\).*/\1/p' | head -n 1)
  wine "$bin/IconSnapshot.exe" "$1" "$(wine winepath -w "$work/icon$1.bmp")" "$background" >/dev/null 2>&1 || return 0
  convert "$2" -crop "${width}x${strip}+0+$((height - strip))" +repage "$work/strip.png"
  # compare answers "<differing pixels> @ x,y" for the best place, and fails
  # when the images are too dissimilar to say.
  local best
  best=$(compare -metric AE -subimage-search "$work/strip.png" "$work/icon$1.bmp" null: 2>&1 || true)
  sed -n 's/^0 @ \([0-9]*\),\([0-9]*\).*/\1 \2/p' <<<"$best" | head -n 1
}

# The applet adds its icon at the end of its start-up: wait until the tray shows it.
position=
for _ in $(seq 1 50); do
  sleep 0.3
  import -window "$window" "$out/tray-icon.png"
  position=$(find_icon 130 "$out/tray-icon.png")
  [ -n "$position" ] && break
done

# A right click on the icon opens its menu.
if [ -n "$position" ]; then
  read -r icon_x icon_y <<<"$position"
  icon_x=$((icon_x + 8))
  icon_y=$((height - strip + icon_y + 8))
else
  icon_x=$((width - 12))
  icon_y=$((height - 10))
fi
xdotool mousemove --window "$window" "$icon_x" "$icon_y"
sleep 0.3
xdotool click 3
sleep 1.5
import -window "$window" "$out/tray-menu.png"
echo "Wrote $out/tray-icon.png and $out/tray-menu.png"

# The dialogs, each in a Wine desktop large enough for the tallest, whose
# plain background is trimmed away: a fresh applet per picture, with the
# switch its layout needs, in the language of the picture. A user opens them
# from the tray menu, which makes the applet the foreground program; here the
# menu is opened and closed again with a click beside it, and the command is
# then posted to the applet (keys and menu items cannot be told apart reliably
# from outside without a window manager). A second start with "/x" ends the
# applet and its dialog.
dialog_failed=0
dialog_width=1024
dialog_height=768
dialog_shot() {   # name, LC_ALL, switch interface, menu command, minimum "WxH"
  local name=$1 locale=$2 interface=$3 command=$4 minimum=$5 dialog_desktop=KestrelDialogs box
  wine "$bin/SimSwitch.exe" --interface "$interface" >"$work/switch-$name.log" 2>&1 </dev/null &
  sleep 1.5
  (use_stand_ins && LC_ALL=$locale exec wine explorer /desktop="$dialog_desktop,${dialog_width}x${dialog_height}" \
    "$winbin\\VarnelKVM.exe" >/dev/null 2>&1) &
  local desktop_pid=$!
  local dialog_window
  dialog_window=$(wait_for_wine_desktop "$dialog_desktop")
  sleep 2
  # The one icon in the tray sits at the bottom right.
  xdotool mousemove --window "$dialog_window" $((dialog_width - 12)) $((dialog_height - 10)) click 3
  sleep 1
  xdotool mousemove --window "$dialog_window" $((dialog_width / 2)) $((dialog_height / 2)) click 1
  sleep 1
  wine explorer /desktop="$dialog_desktop" "$winbin\\PostToApplet.exe" 0x111 "$command" >/dev/null 2>&1
  sleep 2
  # The dialog is whatever is not the desktop's plain background above the
  # taskbar (the colour taken from the top right corner; the dialog opens at
  # the left and may touch the edge, so a border of that colour lets the trim
  # find its edges there too).
  import -window "$dialog_window" "$work/$name.png"
  local background
  background=$(convert "$work/$name.png" -format "%[pixel:p{$((dialog_width - 1)),0}]" info: 2>/dev/null || true)
  box=$(convert "$work/$name.png" -crop "${dialog_width}x$((dialog_height - 48))+0+0" +repage \
        -bordercolor "$background" -border 1 -trim -format '%w %h %X %Y' info: 2>/dev/null || true)
  local box_width box_height box_x box_y
  read -r box_width box_height box_x box_y <<<"$box"
  box_x=$((${box_x:-1} - 1))
  box_y=$((${box_y:-1} - 1))
  if [ -n "$box" ] && [ "${box_width:-0}" -lt $((dialog_width - 24)) ]; then
    box="${box_width}x${box_height}+${box_x}+${box_y}"
    convert "$work/$name.png" -crop "$box" +repage "$out/$name.png"
    echo "Wrote $out/$name.png ($box)"
  else
    echo "FAIL: no dialog came up for $name" >&2
    dialog_failed=1
  fi
  if [ "$check" = 1 ] && [ -f "$out/$name.png" ]; then
    local size
    size=$(identify -format '%w %h' "$out/$name.png")
    read -r width_seen height_seen <<<"$size"
    if [ "$width_seen" -lt "${minimum%x*}" ] || [ "$height_seen" -lt "${minimum#*x}" ]; then
      echo "FAIL: $name is ${width_seen}x${height_seen}, smaller than its layout (${minimum})" >&2
      dialog_failed=1
    fi
  fi
  wine explorer /desktop="$dialog_desktop" "$winbin\\VarnelKVM.exe" /x >/dev/null 2>&1
  wine "$bin/SimSwitch.exe" --stop >/dev/null 2>&1
  sleep 2
  kill "$desktop_pid" 2>/dev/null || true
  wait "$desktop_pid" 2>/dev/null || true
}

if [ "$dialogs" = 1 ]; then
  # The tray's applet and switch make way for the dialogs' own.
  wine explorer /desktop="$desktop" "$winbin\\VarnelKVM.exe" /x >/dev/null 2>&1
  wine "$bin/SimSwitch.exe" --stop >/dev/null 2>&1
  switch_started=0
  sleep 2
  # The minimum sizes in pixels are the layouts' dialog units at 8-point MS Shell Dlg.
  for language in en ja; do
    if [ "$language" = en ]; then locale=en_US.UTF-8; else locale=ja_JP.UTF-8; fi
    dialog_shot "options-$language" "$locale" 5a01:0400:8 32776 400x500
    dialog_shot "options-older-$language" "$locale" 5a02:0301:8 32776 400x320
    dialog_shot "about-$language" "$locale" 5a01:0400:8 104 300x90
  done
fi

if [ "$check" = 1 ]; then
  failed=$dialog_failed
  if [ -z "$position" ]; then
    echo "FAIL: the taskbar does not show the attached icon (130) as the tray draws it" >&2
    failed=1
  fi
  if [ -n "$(find_icon 134 "$out/tray-icon.png")" ]; then
    echo "FAIL: the taskbar shows the not-attached icon (134) with a switch attached" >&2
    failed=1
  fi
  # The menu opens above and to the left of the icon.
  region="200x150+$((width - 200))+$((height - strip - 150))"
  convert "$out/tray-icon.png" -crop "$region" +repage "$work/before.png"
  convert "$out/tray-menu.png" -crop "$region" +repage "$work/after.png"
  changed=$(compare -metric AE "$work/before.png" "$work/after.png" null: 2>&1 || true)
  if [ "${changed%% *}" -lt 1000 ] 2>/dev/null; then
    echo "FAIL: the right click opened no menu by the icon ($changed pixels changed)" >&2
    failed=1
  fi
  [ "$failed" = 0 ] && echo "The tray shows the applet's attached icon at $position of the taskbar strip; its menu opened."
  exit "$failed"
fi
