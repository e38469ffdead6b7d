#!/usr/bin/env bash
# Builds everything and runs every test under Wine on a private X display.
#   scripts/test.sh [ctest arguments...]
# BUILD_DIR (default build-tests) and the prefix inside it may be reused.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j "$(nproc)"

wine_prefix_ready "$build/wineprefix"
start_private_display
trap stop_private_display EXIT
# One wineserver and one set of Wine's own services for the whole run: every
# test starts quicker, and no service holds a test's output pipe open.
wineserver -p
wine wineboot </dev/null >/dev/null 2>&1

cd "$build"
ctest --output-on-failure --no-tests=error -j 2 "$@"
