#!/usr/bin/env bash
# Builds the applet and runs it under Wine against a simulated switch, printing
# the applet's debug output and every report the switch receives.
# It switches once through the applet (the Switch All command), as the tray
# menu would. With $DISPLAY set the applet then stays on that display until you
# choose Exit from its menu (or press Ctrl+C); without one it runs on a private
# Xvfb and is ended the way a second start with "/x" does.
#   SWITCH=5a04:0400:8 scripts/run.sh   picks the simulated switch (product id,
#   firmware version, output report length; see tests/simswitch/README.md).
#   scripts/run.sh --installer   tries the installer in a new Wine prefix
#   ($BUILD_DIR/installer-prefix): with $DISPLAY its own pages, then the
#   uninstaller's; without, a silent install, the installed copy switching
#   once, and a silent uninstall, listing what each left on the machine.
# Where the machine runs no 32-bit programs (or with VARNEL_FORCE_64BIT=1) it
# builds and runs the same sources for x86-64 under Wine's 64-bit loader, with
# the installer built for x86-64 too, in $BUILD_DIR-x64, and says so at its
# start and end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
installer=0
[ "${1:-}" = --installer ] && installer=1

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

targets=(VarnelKVM Quillhook DebugPrint PostToApplet SimSwitchTool SimSwitchSetupapi SimSwitchHid)
[ "$installer" = 1 ] && targets+=(Installer)
build_for_wine "$root" "$build" "${targets[@]}"
build=$WINE_BUILD
notice=$(say_which_build)
printf '%s\n' "$notice"

if [ "$installer" = 1 ]; then
  rm -rf "$build/installer-prefix"
  wine_prefix_ready "$build/installer-prefix"
  # Shortcuts stay inside the prefix: no menu entries in your desktop's menus.
  export WINEDLLOVERRIDES="winemenubuilder.exe=d"
else
  wine_prefix_ready "$build/wineprefix"
fi
interactive=1
if [ -z "${DISPLAY:-}" ]; then
  interactive=0
  start_private_display
fi
cleanup() {
  [ -n "${listener:-}" ] && kill "$listener" 2>/dev/null || true
  [ -n "${switch:-}" ] && kill "$switch" 2>/dev/null || true
  if [ "$interactive" = 0 ]; then stop_private_display; else wineserver -k >/dev/null 2>&1 || true; fi
  printf '%s\n' "$notice"
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

# What the installer left: the folder, the Start-menu shortcut, the Run entry, the uninstall record.
list_installed() {
  echo "-- $1"
  find "$WINEPREFIX/drive_c/Program Files/VarnelKVM" "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/VarnelKVM.lnk" \
       -printf '%p %s bytes\n' 2>/dev/null | sed "s|$WINEPREFIX/||" || true
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Run' /v VarnelKVM 2>/dev/null | grep VarnelKVM || echo "no Run entry"
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VarnelKVM' 2>/dev/null | grep REG_ || echo "no uninstall record"
}
if [ "$installer" = 1 ]; then
  setup=$(ls "$bin"/VarnelKVM-Setup-*.exe)
  program='C:\Program Files\VarnelKVM\VarnelKVM.exe'
  # The simulated switch's stand-ins beside the installed copy lead it to the switch (they never ship).
  mkdir -p "$WINEPREFIX/drive_c/Program Files/VarnelKVM"
  cp "$bin/setupapi.dll" "$bin/hid.dll" "$WINEPREFIX/drive_c/Program Files/VarnelKVM/"
  use_stand_ins
  list_installed "before"
  if [ "$interactive" = 1 ]; then
    echo "Running $(basename "$setup"): its last page starts the applet"
    wine "$setup"
    list_installed "after the install"
    read -r -p "Press Enter to run the uninstaller (it ends the applet) " _
    wine "C:\Program Files\VarnelKVM\Uninstall.exe"
    wineserver -w 2>/dev/null || sleep 5
  else
    echo "Silent install: $(basename "$setup") /S"
    wine "$setup" /S
    list_installed "after a silent install"
    echo "Starting the installed copy as the Run entry does: \"$program\" /s"
    wine "$program" /s &
    sleep 2
    echo "Switching everything to the other computer (the Switch All command)"
    wine "$bin/PostToApplet.exe" 0x111 32784 0
    sleep 2
    echo "Silent uninstall: Uninstall.exe /S (it ends the running copy first)"
    wine "C:\Program Files\VarnelKVM\Uninstall.exe" /S
    sleep 4
  fi
  rm -f "$WINEPREFIX/drive_c/Program Files/VarnelKVM/"{setupapi,hid}.dll
  rmdir "$WINEPREFIX/drive_c/Program Files/VarnelKVM" 2>/dev/null || true
  list_installed "after the uninstall"
  exit 0
fi

echo "Starting VarnelKVM.exe on display $DISPLAY"
# The stand-in setupapi.dll and hid.dll beside it lead the applet to the simulated switch.
(use_stand_ins && exec wine "$bin/VarnelKVM.exe") &
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
