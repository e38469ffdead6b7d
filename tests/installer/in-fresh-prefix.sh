#!/usr/bin/env bash
# Runs a Windows program of the build in a Wine prefix made afresh for it, with
# a wineserver of its own, on the display that scripts/test.sh set up: what a
# newly installed Windows looks like to an installer. The prefix (some
# hundred megabytes) is removed again when the program succeeds, and left to
# look at when it fails.
#   in-fresh-prefix.sh PREFIX PROGRAM [ARGUMENTS...]
# The simulated switch's stand-ins are chosen for the programs in bin/ and for
# an installed copy that has them beside it; Wine's menu builder is off, so
# shortcuts stay inside the prefix.
set -euo pipefail
prefix=$1
shift
source "$(dirname "$0")/../../scripts/wine-env.sh"

rm -rf "$prefix"
wine_prefix_ready "$prefix" >/dev/null
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
export WINEDLLOVERRIDES="winemenubuilder.exe=d;setupapi,hid=n,b"
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1
status=0
wine "$@" || status=$?
wineserver -k >/dev/null 2>&1 || true
[ $status -eq 0 ] && rm -rf "$prefix"
exit $status
