#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a private X display.
#   scripts/test.sh [ctest arguments...]
# BUILD_DIR (default build-tests) and the prefix inside it may be reused.
#
# On a machine whose kernel does not run 32-bit programs (or with
# VARNEL_FORCE_64BIT=1), Wine cannot run the applet as it ships: the suite
# then runs against a 64-bit build of the same sources in BUILD_DIR-x64, under
# Wine's 64-bit loader, and only the files that ship are built 32-bit in
# BUILD_DIR, for the tests that read them. The run says so at its start and
# its end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

started=$(date +%s)
notice=$(say_which_build)
printf '%s\n' "$notice"
if uses_64bit_fallback; then
  cross_build i686 "$root" "$build" VarnelKVM Quillhook Installer Msi
  export VARNEL_SHIPPED_BIN="Z:${build//\//\\}\\bin"
fi
build_for_wine "$root" "$build"
if uses_64bit_fallback; then
  cached() { sed -n "s/^$2:INTERNAL=//p" "$1/CMakeCache.txt"; }
  notice+="
The installer tests ran $(cached "$WINE_BUILD" VARNEL_SETUP_NAME) and $(cached "$WINE_BUILD" VARNEL_MSI_NAME), 64-bit
stand-ins of the installers that ship; those, $(cached "$build" VARNEL_SETUP_NAME) and $(cached "$build" VARNEL_MSI_NAME),
were built but not run."
fi
build=$WINE_BUILD

wine_prefix_ready "$build/wineprefix"
wineserver -k 2>/dev/null || true  # left over from a run that was cut short
start_private_display
trap stop_private_display EXIT
# The tests that need a desktop to themselves run in lanes, each with a copy
# of the prefix, a display and a wineserver of its own; the others run on
# the first display, in the prefix itself. One wineserver and one set of
# Wine's own services per prefix for the whole run: every test starts
# quicker, and no service holds a test's output pipe open.
lanes=${VARNEL_TEST_LANES:-3}
make_lanes "$lanes" "$build/lanes"
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
log=$build/Testing/test-run.log
mkdir -p "$(dirname "$log")"
# One test in each lane, and two beside them on desktops or in prefixes of their own.
ctest --output-on-failure --no-tests=error -j $((lanes + 2)) --resource-spec-file "$build/lanes/lanes.json" \
  "${repeat[@]}" "$@" 2>&1 | tee "$log" || status=$?
# A test that failed and then passed on its second attempt counts as passed
# in CTest's summary; it is named here, so that a test that only passes now
# and then is seen.
retried=$(awk '/ Test +#[0-9]+: / {
                 name = $0; sub(/.* Test +#[0-9]+: /, "", name); sub(/ .*/, "", name)
                 if ($0 ~ /\*\*\*(Failed|Timeout|Exception)/) failed[name] = 1
                 else if ($0 ~ / Passed /) passed[name] = 1
               }
               END { for (name in failed) if (name in passed) print name }' "$log" | sort)
echo "Tests that needed a second attempt: $(grep -c . <<<"$retried" || true)${retried:+ ($(echo $retried))}"
echo "Whole run, building included: $(( $(date +%s) - started )) s"
printf '%s\n' "$notice"
exit $status
