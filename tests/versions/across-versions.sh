#!/usr/bin/env bash
# Runs the version tests once per Windows version, in one Wine prefix made
# afresh for them and set to each version in turn with "winecfg -v", on the
# display that scripts/test.sh set up; prints a table of the results. The
# prefix is removed again when every version passed.
#   across-versions.sh PREFIX PROGRAM VERSION...
set -uo pipefail
prefix=$1
program=$2
shift 2
source "$(dirname "$0")/../../scripts/wine-env.sh"

rm -rf "$prefix"
wine_prefix_ready "$prefix" >/dev/null || exit 1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# The stand-ins beside the tests lead the applet to the simulated switch.
export WINEDLLOVERRIDES="winemenubuilder.exe=d;setupapi,hid=n,b"
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1

failed=0
table=()
for version in "$@"; do
  # Wine's 64-bit prefix (the stand-in where 32-bit programs cannot run) refuses win98.
  if [ "$version" = win98 ] && [ "$WINEARCH" = win64 ]; then
    table+=("$(printf '%-7s %-6s %s' "$version" "SKIP" "(a 64-bit Wine prefix cannot be set to it)")")
    continue
  fi
  echo "==== $version"
  wine winecfg -v "$version"
  # Standard error (Wine's and the sound system's chatter, and the trace the
  # pipe test reads) goes to a file of its own, shown when the version fails.
  errors=$prefix-stderr.txt
  log=$(VARNEL_WINDOWS_VERSION=$version VARNEL_STDERR_FILE=$errors wine "$program" 2>"$errors")
  status=$?
  printf '%s\n' "$log"
  # One line per test: its name and whether it passed on this version.
  while read -r result name; do
    table+=("$(printf '%-7s %-6s %s' "$version" "$result" "$name")")
  done < <(printf '%s\n' "$log" | sed -n 's/^\[ *\(OK\|FAILED\) *\] \([^ ]*\) (.*/\1 \2/p')
  if [ $status -ne 0 ] || ! printf '%s\n' "$log" | grep -q '^\[  PASSED  \]'; then
    failed=1
    table+=("$(printf '%-7s %-6s %s' "$version" "FAILED" "(the run as a whole, exit code $status)")")
    echo "---- its standard error"
    grep -v '^ALSA lib' "$errors"
  fi
done
echo "==== Windows versions"
printf '%s\n' "${table[@]}"
wineserver -k >/dev/null 2>&1 || true
[ $failed -eq 0 ] && rm -rf "$prefix" "$prefix-stderr.txt"
exit $failed
