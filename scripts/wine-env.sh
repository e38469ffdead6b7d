# Sourced by the scripts: a Wine prefix of the project's own (never ~/.wine)
# and, where needed, a private X display.
#   wine_prefix_ready DIR   - use the 32-bit prefix in DIR, creating it when missing
#   start_private_display   - a private Xvfb; sets DISPLAY and XVFB_PID
#   stop_private_display    - ends it and the prefix's wineserver

export WINEARCH=win32
export WINEDEBUG=${WINEDEBUG:--all}

wine_prefix_ready() {
  export WINEPREFIX="$1"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    # No Mono or Gecko: their install prompts would wait for a user.
    WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    wineserver -w
  fi
}

start_private_display() {
  local number=90 attempt
  for attempt in $(seq 1 20); do
    while [ -e "/tmp/.X${number}-lock" ] || [ -e "/tmp/.X11-unix/X${number}" ]; do
      number=$((number + 1))
    done
    Xvfb ":${number}" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 1 100); do
      # Another script may have taken the same number a moment earlier: then ours ends.
      kill -0 "$XVFB_PID" 2>/dev/null || break
      if [ -e "/tmp/.X11-unix/X${number}" ]; then
        export DISPLAY=":${number}"
        return 0
      fi
      sleep 0.1
    done
    kill "$XVFB_PID" 2>/dev/null || true
    number=$((number + 1))
  done
  echo "Xvfb did not start" >&2
  return 1
}

stop_private_display() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${XVFB_PID:-}" ]; then
    kill "$XVFB_PID" 2>/dev/null || true
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=
  fi
}
