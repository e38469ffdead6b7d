#!/usr/bin/env bash
# The version tests run once per Windows version, each a test of its own, in
# one Wine prefix made afresh for them and set to each version in turn with
# "winecfg -v", on the display that scripts/test.sh set up.
#   across-versions.sh --make PREFIX            makes the prefix afresh
#   across-versions.sh PREFIX PROGRAM VERSION   runs PROGRAM on VERSION
#   across-versions.sh --remove PREFIX          removes the prefix, unless a version failed in it
# A version that Wine will not set the prefix to is still run: the program
# then skips its tests with the reason (a 64-bit prefix takes only the
# versions that had 64-bit editions) or fails them.
set -uo pipefail
source "$(dirname "$0")/../../scripts/wine-env.sh"

case "$1" in
  --make)
    rm -rf "$2"-failed-*
    private_desktop "$2" --fresh --on-this-display
    end_private_desktop
    exit 0 ;;
  --remove)
    export WINEPREFIX=$2
    wineserver -k >/dev/null 2>&1 || true
    compgen -G "$2-failed-*" >/dev/null || rm -rf "$2" "$2-stderr.txt"
    exit 0 ;;
esac

export WINEPREFIX=$1
program=$2
version=$3
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# The stand-ins beside the tests lead the applet to the simulated switch.
export WINEDLLOVERRIDES="winemenubuilder.exe=d"
use_stand_ins
if ! wine winecfg -v "$version" >/dev/null 2>&1; then
  echo "winecfg -v $version: refused by this $WINEARCH prefix"
  export VARNEL_VERSION_REFUSED=1
fi
# Standard error (Wine's and the sound system's chatter, and the trace the
# pipe test reads) goes to a file of its own, shown when the version fails.
errors=$WINEPREFIX-stderr.txt
VARNEL_WINDOWS_VERSION=$version VARNEL_STDERR_FILE=$errors wine "$program" 2>"$errors"
status=$?
rm -f "$WINEPREFIX-failed-$version"
if [ $status -ne 0 ]; then
  touch "$WINEPREFIX-failed-$version"
  echo "---- its standard error"
  grep -v '^ALSA lib' "$errors"
fi
exit $status
