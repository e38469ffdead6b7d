#!/usr/bin/env bash
# Every benchmark the project has, run once, in one table: the command that
# measured it, the figure, the aim and whether the aim is met. Each row calls
# one command; a row whose benchmark does not exist yet says so.
#   scripts/bench.sh            the table, in Markdown (the README shows one)
#   BENCH_IDLE_SECONDS=60       how long the idle applet is watched
# BUILD_DIR (default build-tests) and the Wine prefix inside it may be reused.
# The raw output of every command is kept in $BUILD_DIR/bench.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-tests}
idle_seconds=${BENCH_IDLE_SECONDS:-60}

"$root/scripts/setup-debian.sh"
source "$root/scripts/wine-env.sh"

targets=(VarnelKVM Quillhook AppletBench MinimalTray SimSwitchTool SimSwitchSetupapi SimSwitchHid SimMixerWinmm)
# The sizes are those of the 32-bit files that ship, whichever build is timed.
shipped=$build/bin
uses_64bit_fallback && cross_build i686 "$root" "$build" VarnelKVM Quillhook >/dev/null
build_for_wine "$root" "$build" "${targets[@]}" >/dev/null
build=$WINE_BUILD
say_which_build
logs=$build/bench
mkdir -p "$logs"

rows=()
# row COMMAND MEASURE FIGURE AIM MET
row() { rows+=("| \`$1\` | $2 | $3 | $4 | $5 |"); }
# Whether "VALUE OP LIMIT" holds (numbers with decimals).
meets() { awk -v v="$1" -v l="$3" "BEGIN { exit !(v $2 l) }" && echo yes || echo no; }
# The output of a benchmark command, run once however many rows read it;
# it runs in the project's folder, or in DIR, with RUNNER (a program) before it.
#   output_of COMMAND [DIR [RUNNER]]
declare -A outputs
output_of() {
  local command=$1 dir=${2:-$root} runner=${3:-} log
  if [ -z "${outputs[$command]+set}" ]; then
    log="$logs/$(echo "$command" | tr -c 'A-Za-z0-9.-' '_').log"
    (cd "$dir" && BUILD_DIR=${BUILD_DIR:-$root/build-tests} bash -c "$runner $command") >"$log" 2>&1 || true
    outputs[$command]=$log
  fi
  tr -d '\r' <"${outputs[$command]}"   # Wine's console ends lines with CR LF
}
# A script of the project that may not exist yet.
exists() { [ -f "$root/${1%% *}" ]; }
# "p50 A ms   p99 B ms   max C ms" from the last such line; p99 alone for the aim.
# The benchmarks write the three either with spaces or with commas between them;
# nothing at all when the benchmark failed.
latency() { { grep -E 'p50 [0-9.]+ ms,? +p99 [0-9.]+ ms,? +max [0-9.]+ ms' || true; } | tail -1 |
            sed -E 's/.*p50 ([0-9.]+) ms,? +p99 ([0-9.]+) ms,? +max ([0-9.]+) ms.*/p50 \1 ms, p99 \2 ms, max \3 ms/'; }
p99() { sed -E 's/.*p99 ([0-9.]+) ms.*/\1/'; }

echo "Wine $(wine --version 2>/dev/null | sed 's/^wine-//'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"

# Benchmarks with scripts of their own come first: each sets up and ends its
# own display and wineserver.
command="scripts/bench-hotkeys.sh"
hotkeys=$(output_of "$command")
ratio=$(sed -n 's/.*ratio KbHook \/ bare: \([0-9.]*\).*/\1/p' <<<"$hotkeys")
if [ -n "$ratio" ]; then
  row "$command" "keyboard hook's cost per key, against a bare hook" "$ratio ×" "≤ 1.050 ×" "$(meets "$ratio" '<=' 1.050)"
else
  row "$command" "keyboard hook's cost per key, against a bare hook" "failed (see $logs)" "≤ 1.050 ×" no
fi
keys=$(grep -A2 'no debug-output listener' <<<"$hotkeys" | head -3 | latency)
if [ -n "$keys" ]; then
  row "$command" "key to switch report (Control-Control)" "$keys" "p99 < 20 ms" "$(meets "$(p99 <<<"$keys")" '<' 20)"
else
  row "$command" "key to switch report (Control-Control)" "failed (see $logs)" "p99 < 20 ms" no
fi

# The switch's border request (input report) to the applet's border report.
command="scripts/bench-device.sh"
if exists "$command"; then
  border=$(output_of "$command" | latency)
  row "$command" "input report to border report" "${border:-failed (see $logs)}" "p99 < 20 ms" \
      "$([ -n "$border" ] && meets "$(p99 <<<"$border")" '<' 20 || echo no)"
else
  row "$command" "input report to border report" "not built yet" "p99 < 20 ms" "—"
fi

# The border: how soon it comes after the switch asks, and the processor time
# it costs while it is drawn.
command="scripts/bench-border.sh"
if exists "$command"; then
  border=$(output_of "$command")
  soon=$(sed -nE 's/.*"Drawing border": median ([0-9.]+) ms, min [0-9.]+ ms, max ([0-9.]+) ms.*/median \1 ms, max \2 ms/p' <<<"$border")
  row "$command" "border request (WM_TURN_BORDER_ON) to the border loop drawing" "${soon:-failed (see $logs)}" \
      "< 100 ms" "$([ -n "$soon" ] && meets "$(sed -E 's/.*max ([0-9.]+) ms/\1/' <<<"$soon")" '<' 100 || echo no)"
  cpu=$(sed -nE 's/.*: ([0-9.]+) % of one core with the border showing.*/\1/p' <<<"$border")
  row "$command" "CPU while the border shows" "$([ -n "$cpu" ] && echo "$cpu % of one core" || echo "failed (see $logs)")" \
      "< 3 % of one core" "$([ -n "$cpu" ] && meets "$cpu" '<' 3 || echo no)"
else
  row "$command" "CPU while the border shows" "not built yet" "< 3 % of one core" "—"
fi

# The rest run here, on one private display and wineserver.
wine_prefix_ready "$build/wineprefix"
start_private_display
cleanup() {
  [ -n "${switch:-}" ] && kill "$switch" 2>/dev/null || true
  stop_private_display
}
trap cleanup EXIT
wineserver -p 2>/dev/null || true
wine wineboot </dev/null >/dev/null 2>&1
bin=$build/bin
with_stand_ins="$root/tests/simswitch/wine-run-with-stand-ins"

command="AppletBench.exe command 100"
output_of "$command" "$bin" "$with_stand_ins" >/dev/null
commands=$(output_of "$command")
switches=$(latency <<<"$commands")
row "$command" "Switch All command to switch report" "${switches:-failed (see $logs)}" "p99 < 20 ms" \
    "$([ -n "$switches" ] && meets "$(p99 <<<"$switches")" '<' 20 || echo no)"

command="AppletBench.exe verb 20"
verbs=$(output_of "$command" "$bin" "$with_stand_ins")
verb_ms=$(sed -n 's/.*VarnelKVM.exe switch.*: median \([0-9.]*\) ms.*/\1/p' <<<"$verbs")
slash_x_ms=$(sed -n 's/.*VarnelKVM.exe \/x.*: *median \([0-9.]*\) ms.*/\1/p' <<<"$verbs")
if [ -n "$verb_ms" ]; then
  row "$command" "a start with a verb (\`switch\`) to its exit code, beside a \`/x\` start" \
      "median $verb_ms ms (\`/x\`: $slash_x_ms ms)" "answered within 2 s" "$(meets "$verb_ms" '<' 2000)"
else
  row "$command" "a start with a verb (\`switch\`) to its exit code" "failed (see $logs)" "answered within 2 s" no
fi

# Twice: with Wine's own sound driver, whose probe at the first mixer call is
# Wine's cost, and with a stand-in mixer, which shows the applet's own.
for mixer in "" " stand-in-mixer"; do
  command="AppletBench.exe startup 20$mixer"
  measure="start-up to ready (icon and hook), against a minimal tray program, $([ -n "$mixer" ] && echo "stand-in mixer" || echo "Wine's sound driver")"
  startup=$(output_of "$command" "$bin" "$with_stand_ins")
  start_ratio=$(sed -n 's/^  ratio \([0-9.]*\)$/\1/p' <<<"$startup")
  applet_ms=$(sed -n 's/.*VarnelKVM.exe.*: *median \([0-9.]*\) ms.*/\1/p' <<<"$startup")
  minimal_ms=$(sed -n 's/.*MinimalTray.exe.*: *median \([0-9.]*\) ms.*/\1/p' <<<"$startup")
  probe_ms=$(sed -n "s/.*Wine's first mixer call.*: \([0-9.]*\) ms.*/\1/p" <<<"$startup")
  if [ -n "$start_ratio" ]; then
    row "$command" "$measure" "$start_ratio × (medians $applet_ms ms and $minimal_ms ms; Wine's first mixer call alone ${probe_ms:-?} ms)" "≤ 1.30 ×" \
        "$(meets "$start_ratio" '<=' 1.30)"
  else
    row "$command" "$measure" "failed (see $logs)" "≤ 1.30 ×" no
  fi
done

# Idle: the applet with a firmware-4 switch attached, its processor time as
# the kernel counts it for the Wine process, over a minute.
command="idle VarnelKVM.exe, switch 5a04:0400:8, ${idle_seconds} s"
(cd "$bin" && exec wine SimSwitch.exe --interface 5a04:0400:8 </dev/null >"$logs/idle-switch.log" 2>&1) &
switch=$!
sleep 2
(cd "$bin" && use_stand_ins && exec wine VarnelKVM.exe >/dev/null 2>&1) &
applet=$!
sleep 5
# Wine runs the program in the process it was started as; the wineserver is
# the one started for this prefix.
server=$applet
for candidate in $(pgrep -f 'wine/wineserver'); do
  tr '\0' '\n' <"/proc/$candidate/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && server=$candidate
done
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
# The private memory of the applet's process as the kernel counts it (its
# private working set: resident pages no other process shares), in KiB.
private_kib() { awk '/^Private_(Clean|Dirty):/ { kib += $2 } END { print kib + 0 }' "/proc/$1/smaps_rollup" 2>/dev/null; }
if grep -q 'VarnelKVM.exe' "/proc/$applet/cmdline" 2>/dev/null; then
  memory_started=$(private_kib "$applet")
  before=$(cpu_ticks "$applet"); server_before=$(cpu_ticks "$server")
  sleep "$idle_seconds"
  after=$(cpu_ticks "$applet"); server_after=$(cpu_ticks "$server")
  hz=$(getconf CLK_TCK)
  idle=$(awk -v t=$((after - before)) -v hz="$hz" -v s="$idle_seconds" 'BEGIN { printf "%.3f", 100 * t / hz / s }')
  server_cpu=$(awk -v t=$((server_after - server_before)) -v hz="$hz" -v s="$idle_seconds" 'BEGIN { printf "%.3f", 100 * t / hz / s }')
  row "$command" "idle CPU over a minute, firmware-4 switch attached" \
      "$idle % of one core (wineserver $server_cpu %)" "< 0.1 % of one core" "$(meets "$idle" '<' 0.1)"
  command="AppletBench.exe send 1000"
  sent=$(output_of "$command" "$bin" wine)
  sleep 2
  memory_after=$(private_kib "$applet")
  growth=$((memory_after - memory_started))
  row "$command" "private working set (Private_* of /proc/PID/smaps_rollup) after start-up, then after 1,000 Switch All commands ($(tail -1 <<<"$sent"))" \
      "$memory_started KiB, then $memory_after KiB ($( ((growth >= 0)) && echo +)$growth KiB)" \
      "no growth with the commands (≤ 64 KiB)" "$(meets "$growth" '<=' 64)"
else
  row "$command" "idle CPU over a minute, firmware-4 switch attached" "failed: the applet did not start" "< 0.1 % of one core" no
fi
(cd "$bin" && wine VarnelKVM.exe /x) || true
wait "$applet" 2>/dev/null || true

for file in "VarnelKVM.exe:<=:320" "Quillhook.dll:<:8"; do
  IFS=: read -r name op limit <<<"$file"
  bytes=$(stat -c %s "$shipped/$name")
  kib=$(awk -v b="$bytes" 'BEGIN { printf "%.1f", b / 1024 }')
  row "stat -c %s $name" "size of $name as it ships" "$kib KiB ($bytes bytes)" "${op/<=/≤} $limit KiB" \
      "$(meets "$kib" "$op" "$limit")"
done

echo
echo "| command | measure | figure | aim | met |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
say_which_build
