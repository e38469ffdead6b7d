#!/usr/bin/env bash
# Runs a Windows program of the build in a Wine prefix made afresh for it, with
# a wineserver of its own, on the display that scripts/test.sh set up: what a
# newly installed Windows looks like to an installer. The prefix (some
# hundred megabytes) is removed again when the program succeeds, and left to
# look at when it fails.
#   in-fresh-prefix.sh PREFIX PROGRAM [ARGUMENTS...]
# The simulated switch's stand-ins are chosen for the programs in bin/ and for
# an installed copy that has them beside it.
set -euo pipefail
prefix=$1
shift
source "$(dirname "$0")/../../scripts/wine-env.sh"

# Shortcuts stay inside the prefix: no menu builder.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
use_stand_ins
trap end_private_desktop EXIT
private_desktop "$prefix" --fresh --on-this-display
status=0
wine "$@" || status=$?
end_private_desktop
[ $status -eq 0 ] && rm -rf "$prefix"
exit $status
