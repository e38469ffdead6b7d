#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a private X display.
#   scripts/test.sh [ctest arguments...]
# BUILD_DIR (default build-tests) and the prefix inside it may be reused.
#
# On a machine whose kernel does not run 32-bit programs, Wine cannot run the
# applet as it ships. The 32-bit build is still made, and the suite then runs
# against a 64-bit build of the same sources in BUILD_DIR-x64, under Wine's
# 64-bit loader; the tests that read the shipped files read the 32-bit ones.
# The run says so at its start and its end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

cross_build i686 "$root" "$build"

notice=
if ! runs_32bit_programs; then
  echo "This machine does not run 32-bit programs (its kernel has 32-bit emulation switched off):"
  echo "the tests run against a 64-bit build of the same sources, not the 32-bit binaries that ship."
  notice="This machine does not run 32-bit programs (its kernel has 32-bit emulation switched off):
the tests ran against a 64-bit build of the same sources, not the 32-bit binaries that ship."
  export VARNEL_SHIPPED_BIN="Z:${build//\//\\}\\bin"
  build=$build-x64
  build_64bit "$root" "$build"
fi

wine_prefix_ready "$build/wineprefix"
start_private_display
trap stop_private_display EXIT
# One wineserver and one set of Wine's own services for the whole run: every
# test starts quicker, and no service holds a test's output pipe open.
wineserver -k 2>/dev/null || true  # left over from a run that was cut short
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1

cd "$build"
# Wine now and then fails to start a process at all (seen: a test program that
# ended after 30 ms without a line of output, and a CreateProcessW from a test
# that failed once in several hundred). A failed test is therefore run once
# more; both attempts stay in the output. Arguments with a --repeat of their
# own replace this one.
repeat=(--repeat until-pass:2)
for argument in "$@"; do
  case "$argument" in --repeat*) repeat=() ;; esac
done
status=0
ctest --output-on-failure --no-tests=error -j 2 "${repeat[@]}" "$@" || status=$?
if [ -n "$notice" ]; then
  printf '%s\n' "$notice"
fi
exit $status
