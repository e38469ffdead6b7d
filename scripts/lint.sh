#!/usr/bin/env bash
# Reads the applet's and the installer's code mechanically: clang-tidy (the
# clang-analyzer and bugprone checks) and cppcheck, both from Debian. Fails on
# any finding; a finding that is right as it stands is suppressed on its line
# with a one-line reason (clang-tidy: NOLINT(check), cppcheck:
# cppcheck-suppress id).
#   scripts/lint.sh
# BUILD_DIR (default build-lint) holds the compilation database; nothing is built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-lint}

"$root/scripts/setup-debian.sh" clang-tidy cppcheck
started=$(date +%s)

# The compiler's own view of every file: its defines, include folders and flags.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVARNEL_BUILD_TESTS=OFF >/dev/null
# Flags clang does not know (the hook library's section layout) would stop it.
sed -i 's/ -fno-toplevel-reorder//g' "$build/compile_commands.json"

# clang parses as MinGW's compiler does: its target, and MinGW's C++ and
# Windows headers in place of the host's.
gcc_dir=$(dirname "$(i686-w64-mingw32-g++-posix -print-libgcc-file-name)")
tidy_arguments=(-p "$build" --quiet
  --checks='-*,clang-analyzer-*,bugprone-*,-bugprone-easily-swappable-parameters'
  --header-filter="^$root/(TrayApp|installer)/"
  --extra-arg=--target=i686-w64-mingw32
  --extra-arg=-isystem"$gcc_dir/include/c++"
  --extra-arg=-isystem"$gcc_dir/include/c++/i686-w64-mingw32"
  --extra-arg=-isystem/usr/i686-w64-mingw32/include)
# bugprone-easily-swappable-parameters is left out: it names every pair of
# like parameters, and most here are Win32's own signatures (window and
# dialog procedures, timer and completion callbacks, wWinMain).
sources=$(sed -n 's/^ *"file": "\(.*\)",\?$/\1/p' "$build/compile_commands.json" |
          grep -E "^$root/(TrayApp|installer)/" | sort -u)
tidy_log=$build/clang-tidy.log
# One file per run, as many runs as cores.
printf '%s\n' $sources | xargs -P "$(nproc)" -n 1 clang-tidy "${tidy_arguments[@]}" >"$tidy_log" 2>&1 || true
# An error without a place (a flag clang cannot read) is a finding too.
tidy_findings=$(grep -E '^([^ ]+:[0-9]+:[0-9]+: )?(warning|error): ' "$tidy_log" | sort -u || true)

# cppcheck with Windows' types and its knowledge of the Win32 functions. Left
# out, with why:
#   cstyleCast           - Win32 code casts handles, message parameters and
#                          callback data C-style throughout, on purpose
#   useStlAlgorithm      - the applet keeps clear of the C++ library, for its size
#   lstr*Called          - blanket advice against the lstr functions; each use
#                          here is bounded by a length the code checks
cppcheck_log=$build/cppcheck.log
cppcheck --quiet --enable=warning,style,performance,portability --inline-suppr --std=c++17 --language=c++ \
  --platform=win32W --library=windows -D_WIN32 -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -I "$root/TrayApp" \
  --suppress=cstyleCast --suppress=useStlAlgorithm --suppress=lstrcpynWCalled --suppress=lstrcatWCalled \
  --suppress=lstrlenWCalled --suppress=unmatchedSuppression -j "$(nproc)" \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  "$root/TrayApp" "$root/installer" >"$cppcheck_log" 2>&1 || true
cppcheck_findings=$(grep -E '^[^ ]+:[0-9]+:[0-9]+: ' "$cppcheck_log" | sort -u || true)

count() { grep -c . <<<"$1" || true; }
status=0
for tool in clang-tidy cppcheck; do
  findings=$([ $tool = clang-tidy ] && echo "$tidy_findings" || echo "$cppcheck_findings")
  if [ -n "$findings" ]; then
    echo "$tool: $(count "$findings") finding(s):"
    sed "s|^$root/||; s/^/  /" <<<"$findings"
    status=1
  else
    echo "$tool: no findings"
  fi
done
echo "Lint of $(wc -w <<<"$sources") files: $(( $(date +%s) - started )) s, $([ $status = 0 ] && echo passed || echo FAILED) (full output: $tidy_log, $cppcheck_log)"
exit $status
