#!/usr/bin/env bash
# Shows whether a release is reproducible: one commit cloned into two folders
# of different names and depths, released unsigned in each (scripts/release.sh),
# the second a few seconds later with another time zone and umask;
# then every file that ships, and the installers' helpers, compared byte for
# byte. Two whole release builds: not one of the tests.
#   scripts/check-reproducible.sh [COMMIT]     (default HEAD)
# Exits 0 when every file is identical.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse "${1:-HEAD}")
work=$(mktemp -d /tmp/varnel-reproducible.XXXXXX)
trap 'rm -rf "$work"' EXIT
first=$work/a
second=$work/elsewhere/a-second-clone-with-a-longer-name

for clone in "$first" "$second"; do
  git clone -q "$root" "$clone"
  git -C "$clone" checkout -q --detach "$commit"
done
echo "Releasing commit $commit in $first"
(cd "$first" && bash scripts/release.sh "$work/out-first" >"$work/first.log")
sleep 3
echo "Releasing it again in $second (TZ=Pacific/Auckland, umask 077)"
(cd "$second" && umask 077 && TZ=Pacific/Auckland bash scripts/release.sh "$work/out-second" >"$work/second.log")

different=0
compare() {  # LABEL FIRST SECOND
  local bytes
  if cmp -s "$2" "$3"; then
    printf '  identical  %-30s %s\n' "$1" "$(sha256sum "$2" | cut -d' ' -f1)"
  else
    bytes=$(cmp -l "$2" "$3" 2>/dev/null | wc -l)
    printf '  DIFFERENT  %-30s %s bytes differ (sizes %s and %s), first at offset %s\n' "$1" "$bytes" \
      "$(stat -c %s "$2")" "$(stat -c %s "$3")" "$(cmp "$2" "$3" | sed 's/.*byte \([0-9]*\).*/\1/')"
    different=$((different + 1))
  fi
}
echo "Compared:"
for file in $(cd "$work/out-first" && ls); do
  compare "$file" "$work/out-first/$file" "$work/out-second/$file"
done
for helper in DesktopUser.exe EndRunningCopies.dll; do
  compare "$helper (packed)" "$first/build-release/payload/$helper" "$second/build-release/payload/$helper"
done
if [ $different -eq 0 ]; then
  echo "Reproducible: both builds of $commit are identical, byte for byte."
else
  echo "Not reproducible: $different files differ."
  exit 1
fi
