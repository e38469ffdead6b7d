# Sourced by the scripts: a Wine prefix of the project's own (never ~/.wine)
# and, where needed, a private X display.
#   wine_prefix_ready DIR   - use the prefix in DIR (32-bit unless use_64bit_wine), creating it when missing
#   start_private_display [XVFB SCREENS...]
#                           - a private Xvfb (one 1280x1024 screen unless told); sets DISPLAY and XVFB_PID
#   stop_private_display    - ends them all, the prefix's wineserver and the lanes'
#   private_desktop DIR [--fresh] [--two-monitors | --on-this-display] [--boot-later]
#                           - a desktop of its own: a prefix in DIR, a display, a wineserver (below)
#   end_private_desktop     - ends its wineserver and display
#   make_lanes, use_ctest_lane - desktops of their own for the tests (below)
#   use_stand_ins           - Wine chooses the simulated switch's stand-in DLLs from now on
#   runs_32bit_programs     - true where the kernel runs 32-bit code
#   uses_64bit_fallback     - true where the scripts run a 64-bit build instead (see below)
#   use_64bit_wine DIR      - from now on "wine" is Wine's 64-bit loader (shim in DIR)
#   cross_build ARCH ROOT DIR [TARGET...]
#                           - a Release build with cmake/mingw-ARCH.cmake in DIR (all targets when none)
#   build_64bit ROOT DIR [TARGET...]
#                           - the same sources built for x86-64 in DIR, and use_64bit_wine
#   build_for_wine ROOT DIR [TARGET...]
#                           - TARGETS built for the Wine this machine runs; sets WINE_BUILD
#                             to their build folder (DIR, or DIR-x64 in the fallback)
#   say_which_build         - one line naming the build the output comes from
#   wait_for_wine_desktop NAME
#                           - prints the X window of Wine's desktop NAME once it shows (nothing after 20 s)
#   run_bench ROOT DIR PROGRAM [ARGUMENT...]
#                           - builds a benchmark program with the applet and runs it on a private display

# The simulated switch's stand-in setupapi.dll and hid.dll (tests/simswitch),
# which Wine then loads where a program has them beside it. They never ship.
STAND_IN_DLLS="setupapi,hid=n,b"

use_stand_ins() {
  case ";${WINEDLLOVERRIDES:-};" in
    *";$STAND_IN_DLLS;"*) ;;
    *) export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}$STAND_IN_DLLS" ;;
  esac
}

# 32-bit, unless use_64bit_wine chose Wine's 64-bit loader for this run.
if [ -n "${VARNEL_WINE64:-}" ]; then export WINEARCH=win64; else export WINEARCH=win32; fi
export WINEDEBUG=${WINEDEBUG:--all}
XVFB_PIDS=()

# The applet is a 32-bit program: Wine runs it only where the kernel runs
# 32-bit code, which some virtual machines switch off.
runs_32bit_programs() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Where the kernel runs no 32-bit code, the scripts build the same sources for
# x86-64 and run them under Wine's 64-bit loader. VARNEL_FORCE_64BIT=1 takes
# that road on a machine that could run the 32-bit build, so both can be
# checked on one machine.
uses_64bit_fallback() {
  [ "${VARNEL_FORCE_64BIT:-0}" = 1 ] || ! runs_32bit_programs
}

say_which_build() {
  if ! uses_64bit_fallback; then
    echo "Running the 32-bit build, as it ships."
  elif [ "${VARNEL_FORCE_64BIT:-0}" = 1 ]; then
    echo "VARNEL_FORCE_64BIT=1: running a 64-bit build of the same sources under Wine's 64-bit loader, not the 32-bit build that ships."
  else
    echo "This machine does not run 32-bit programs (its kernel has 32-bit emulation switched off):"
    echo "running a 64-bit build of the same sources under Wine's 64-bit loader, not the 32-bit build that ships."
  fi
}

use_64bit_wine() {
  mkdir -p "$1"
  printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$1/wine"
  chmod +x "$1/wine"
  export PATH="$1:$PATH" WINEARCH=win64 VARNEL_WINE64=1
}

cross_build() {
  local arch=$1 root=$2 build=$3
  shift 3
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j "$(nproc)" ${1:+--target "$@"}
}

build_64bit() {
  "$1/scripts/setup-debian.sh" wine64 g++-mingw-w64-x86-64-posix
  cross_build x86_64 "$@"
  use_64bit_wine "$2/wine-loader"
}

build_for_wine() {
  local root=$1 dir=$2
  shift 2
  if uses_64bit_fallback; then
    WINE_BUILD=$dir-x64
    build_64bit "$root" "$WINE_BUILD" "$@"
  else
    WINE_BUILD=$dir
    cross_build i686 "$root" "$WINE_BUILD" "$@"
  fi
}

wine_prefix_ready() {
  export WINEPREFIX="$1"
  # Say so plainly rather than fail somewhere inside wineboot.
  if ! wine --version >/dev/null 2>&1; then
    echo "Wine cannot start ($(command -v wine)): is the package for this build's architecture installed?" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko: their install prompts would wait for a user.
    WINEDLLOVERRIDES="mscoree,mshtml=" wine wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}

start_private_display() {
  local number=90 attempt pid screens=("$@")
  [ ${#screens[@]} -gt 0 ] || screens=(-screen 0 1280x1024x24)
  for attempt in $(seq 1 20); do
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
      number=$((number + 1))
    done
    Xvfb ":${number}" "${screens[@]}" -nolisten tcp >/dev/null 2>&1 &
    pid=$!
    for _ in $(seq 1 100); do
      # Another script may have taken the same number a moment earlier: then ours ends.
      kill -0 "$pid" 2>/dev/null || break
      # Ours only when the lock names our Xvfb, not one that took the number first.
      if [ -e "/tmp/.X11-unix/X${number}" ] && [ "$(tr -d ' \n' <"/tmp/.X${number}-lock" 2>/dev/null)" = "$pid" ]; then
        export DISPLAY=":${number}"
        XVFB_PID=$pid
        XVFB_PIDS+=("$pid")
        return 0
      fi
      sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    number=$((number + 1))
  done
  echo "Xvfb did not start" >&2
  return 1
}

# Ends every display start_private_display started, and the wineserver of
# the prefix in use and of every lane.
stop_private_display() {
  local lane pid
  wineserver -k >/dev/null 2>&1 || true
  for lane in "${VARNEL_LANES_DIR:-}"/lane*/; do
    [ -d "$lane" ] && WINEPREFIX=${lane%/} wineserver -k >/dev/null 2>&1 || true
  done
  for pid in ${XVFB_PIDS[@]+"${XVFB_PIDS[@]}"}; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  XVFB_PIDS=()
  XVFB_PID=
}

# A desktop of its own, where nothing that happens reaches other desktops'
# displays, registry or debug output, nor theirs it: the Wine prefix in DIR
# (a copy of WINEPREFIX, not in use; with --fresh, one made afresh as a newly
# installed Windows), an Xvfb of its own (--two-monitors: two screens,
# 1024x768 and 800x600, joined by Xinerama with RANDR switched off, so that
# Wine asks Xinerama and finds two monitors; --on-this-display: none, the
# display in use), and the prefix's own wineserver, started and booted
# (--boot-later: the boot's process id is added to DESKTOP_BOOTS, for the
# caller to wait for). Sets WINEPREFIX and DISPLAY; end_private_desktop (or,
# for all of them, stop_private_display) ends its wineserver and display.
DESKTOP_BOOTS=()
private_desktop() {
  local dir=$1 fresh=0 screens=(-screen 0 1280x1024x24) own_display=1 later=0 option
  shift
  for option in "$@"; do
    case "$option" in
      --fresh) fresh=1 ;;
      --two-monitors) screens=(+xinerama -extension RANDR -screen 0 1024x768x24 -screen 1 800x600x24) ;;
      --on-this-display) own_display=0 ;;
      --boot-later) later=1 ;;
    esac
  done
  rm -rf "$dir"
  if [ "$fresh" = 1 ]; then
    wine_prefix_ready "$dir" >/dev/null
  else
    cp -a "$WINEPREFIX" "$dir"
    export WINEPREFIX=$dir
  fi
  PRIVATE_DESKTOP_XVFB=
  if [ "$own_display" = 1 ]; then
    start_private_display "${screens[@]}"
    PRIVATE_DESKTOP_XVFB=$XVFB_PID
  fi
  wineserver -p
  wine wineboot </dev/null >/dev/null 2>&1 &
  if [ "$later" = 1 ]; then DESKTOP_BOOTS+=($!); else wait $!; fi
}

end_private_desktop() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${PRIVATE_DESKTOP_XVFB:-}" ]; then
    kill "$PRIVATE_DESKTOP_XVFB" 2>/dev/null || true
    wait "$PRIVATE_DESKTOP_XVFB" 2>/dev/null || true
  fi
}

# Lanes: the tests that start the applet, or share the desktop, its debug
# output or the registry, each need a desktop to themselves. scripts/test.sh
# gives each lane its own copy of the test prefix, wineserver and display, and
# CTest hands a lane to each such test (the "lanes" resource); so as many of
# them run at once as there are lanes.
#   make_lanes COUNT DIR   copies WINEPREFIX (not in use) into DIR/laneN and
#                          starts a display and a wineserver for each
#   use_ctest_lane         in a test CTest gave a lane: that lane's prefix and display
make_lanes() {
  local count=$1 dir=$2 base=$WINEPREFIX base_display=$DISPLAY lane displays=()
  for lane in "$dir"/lane*/; do
    # Left over from a run that was cut short.
    [ -d "$lane" ] && WINEPREFIX=${lane%/} wineserver -k >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
  mkdir -p "$dir"
  DESKTOP_BOOTS=()
  for lane in $(seq 0 $((count - 1))); do
    export WINEPREFIX=$base
    private_desktop "$dir/lane$lane" --boot-later
    displays+=("$DISPLAY")
  done
  wait "${DESKTOP_BOOTS[@]}"
  export VARNEL_LANES_DIR=$dir VARNEL_LANE_DISPLAYS="${displays[*]}" DISPLAY=$base_display WINEPREFIX=$base
  printf '{"version": {"major": 1, "minor": 0}, "local": [{"lanes": [%s]}]}\n' \
    "$(seq -s, -f '{"id": "%g", "slots": 1}' 0 $((count - 1)))" >"$dir/lanes.json"
}

use_ctest_lane() {
  local lane displays
  lane=$(sed -n 's/^id:\([0-9]*\),.*/\1/p' <<<"${CTEST_RESOURCE_GROUP_0_LANES:-}")
  [ -n "$lane" ] && [ -n "${VARNEL_LANES_DIR:-}" ] || return 0
  read -r -a displays <<<"$VARNEL_LANE_DISPLAYS"
  export WINEPREFIX=$VARNEL_LANES_DIR/lane$lane DISPLAY=${displays[$lane]}
  # Shown with a failing test's output: which lane it ran in.
  echo "lane $lane (display $DISPLAY)" >&2
}

wait_for_wine_desktop() {
  local window=
  for _ in $(seq 1 100); do
    window=$(xdotool search --name "^$1 - Wine desktop\$" 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && break
    sleep 0.2
  done
  echo "$window"
}

# A benchmark program runs beside the applet, its hook and the simulated
# switch's stand-in DLLs, on a private display; the applet inherits the
# stand-in DLL overrides from it and so finds the simulated switch. It prints
# its own figures.
run_bench() {
  local root=$1 build=$2 program=$3
  shift 3
  build_for_wine "$root" "$build" "$program" VarnelKVM Quillhook SimSwitchSetupapi SimSwitchHid
  say_which_build
  wine_prefix_ready "$WINE_BUILD/wineprefix"
  start_private_display
  trap stop_private_display EXIT
  wineserver -p 2>/dev/null || true  # one may be up already for this prefix
  wine wineboot </dev/null >/dev/null 2>&1
  echo "Wine $(wine --version | sed 's/^wine-//'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
  (cd "$WINE_BUILD/bin" && "$root/tests/simswitch/wine-run-with-stand-ins" "$program.exe" "$@") \
    2> >(grep -v '^ALSA lib' >&2)
}
