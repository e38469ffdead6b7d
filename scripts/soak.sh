#!/usr/bin/env bash
# The applet as it ships, run for a long while under Wine against the
# simulated switch and driven at a steady mixed rate by everything that
# reaches it in real life: a firmware-4 and a firmware-3 switch plugged and
# unplugged in turn, the switch's border requests (on, off, quick bursts, and
# ones left to the 59-second timer), display changes, the speakers' mute
# flipping, typed hotkeys, the tray menu's commands, Options and About opened
# and closed, control-pipe clients, refused second starts and an Explorer
# restart. Every 10 s it samples the applet's private memory, threads, kernel
# handles, GDI objects and windows; it counts every report the switch should
# have received against what it did. It writes the samples as CSV and a plot
# of each series, and ends with one verdict line, PASS or FAIL (exit code 0 or 1).
#   scripts/soak.sh [--reuse] [MINUTES (default 10; 2 at least, or too few
#                    samples follow the warm-up to judge growth)] [OUT]
# OUT (default BUILD_DIR/soak) receives soak-samples.csv, soak-<series>.png
# and soak.log.
# --reuse  runs in the Wine prefix and on the display already set up (the
#          test run's desktop of its own), with the binaries in BUILD_DIR/bin.
# Without it, it builds into BUILD_DIR (default build-tests) and runs in a
# Wine prefix of its own there, made afresh (soak-prefix: a test run in the
# same build, which ends the test prefix's wineserver, leaves it alone) on a
# private X display; where the machine runs no 32-bit programs (or with
# VARNEL_FORCE_64BIT=1) it soaks a 64-bit build of the same sources, in
# BUILD_DIR-x64, and says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

reuse=0
minutes=10
out=
for argument in "$@"; do
  case "$argument" in
    --reuse) reuse=1 ;;
    -*) echo "unknown option $argument" >&2; exit 2 ;;
    *) if [[ "$argument" =~ ^[0-9]+([.][0-9]+)?$ ]]; then minutes=$argument; else out=$argument; fi ;;
  esac
done

source "$root/scripts/wine-env.sh"
if [ "$reuse" = 0 ]; then
  "$root/scripts/setup-debian.sh"
  build_for_wine "$root" "$build" SoakDriver VarnelKVM Quillhook MenuSpy SimSwitchSetupapi SimSwitchHid SimMixerWinmm
  build=$WINE_BUILD
  say_which_build
  private_desktop "$build/soak-prefix" --fresh
  trap end_private_desktop EXIT
else
  : "${WINEPREFIX:?--reuse needs the WINEPREFIX of the test run}"
  : "${DISPLAY:?--reuse needs the DISPLAY of the test run}"
fi
out=${out:-$build/soak}
mkdir -p "$out"
out=$(cd "$out" && pwd)
csv=$out/soak-samples.csv
log=$out/soak.log

echo "Wine $(wine --version | sed 's/^wine-//'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)" | tee "$log"
status=0
(cd "$build/bin" && "$root/tests/simswitch/wine-run-with-stand-ins" SoakDriver.exe "$minutes" \
   "$(wine winepath -w "$csv" 2>/dev/null)") 2> >(grep -v '^ALSA lib' >&2) | tr -d '\r' | tee -a "$log" || status=$?

# One plot of each series against time, from the samples.
plots=()
if ! command -v gnuplot >/dev/null; then
  echo "No plots: gnuplot is not installed (scripts/setup-debian.sh installs it)" | tee -a "$log"
elif [ -s "$csv" ] && [ "$(wc -l <"$csv")" -gt 1 ]; then
  column=2
  for series in memory threads handles gdi-objects gdi-objects-own windows; do
    label=$(head -1 "$csv" | cut -d, -f$column)
    gnuplot -e "set terminal pngcairo noenhanced size 900,360; set output '$out/soak-$series.png';
                set datafile separator ','; set key off; set grid;
                set title 'VarnelKVM.exe under the soak: $label'; set xlabel 'minutes'; set ylabel '$label';
                plot '$csv' every ::1 using (\$1/60):$column with linespoints pt 7 ps 0.5" &&
      plots+=("$out/soak-$series.png")
    column=$((column + 1))
  done
fi
echo "Samples: $csv; plots: ${plots[*]:-none}" | tee -a "$log"
# The verdict line last.
grep '^Soak .* -- \(PASS\|FAIL\)$' "$log" | tail -1 || echo "Soak: no verdict -- FAIL"
exit $status
