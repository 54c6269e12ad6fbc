#!/usr/bin/env bash
# The Windows programs under Wine, against zarq-sim on a pseudo-terminal that COM5 names:
# - kelvo-cli.exe's time per block on a line paced at 9600 baud with a response delay of
#   200 ms, beside the Linux kelvo-cli's on the same line in the same run (a packet and its
#   reply take 276.0 ms of line time);
# - kelvo.exe's window on a virtual X server: its timer while an upload floods the fields, and
#   the time to show 10000 and 100000 log lines.
set -euo pipefail
cd "$(dirname "$0")/../.."
source tests/windows/wine_prefix.sh
blocks=48
head -c $((blocks * 128)) /dev/urandom >"$work/image.bin"

# From the trace: the milliseconds between the first and the last data packet (132 bytes
# sent), over the packets between them.
time_upload() {
  start_sim --paced
  (cd "$work" && "$@" --delay 200 --trace trace image.bin) >"$work/log" 2>&1 </dev/null
  stop_sim
  grep -q "Programming Complete" "$work/log" || { cat "$work/log"; exit 1; }
  tr -d '\r' <"$work/trace" | awk '$3 == "->" && NF == 3 + 132 { if (!first) first = $1; last = $1; n++ }
    END { printf "%.1f %d\n", (last - first) / (n - 1), n }'
}

report() {
  read -r ms packets
  awk -v ms="$ms" -v n="$packets" -v name="$1" \
    'BEGIN { printf "%-26s %d packets, %6.1f ms a block, %.4f x line time\n", name, n, ms, ms / 276.0 }'
}

time_upload "$PWD/build/default/tools/cli/kelvo-cli" --port "$work/line" | report "Linux kelvo-cli"
time_upload wine "$PWD/build/windows/tools/cli/kelvo-cli.exe" --port COM5 | report "kelvo-cli.exe under Wine"

display=:$((50 + $$ % 40))
Xvfb "$display" -screen 0 1024x768x24 </dev/null >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
sleep 1
head -c 917504 /dev/urandom >"$work/large.bin"  # the largest image, 7168 blocks
start_sim
timeout 300 wine build/windows/bench/wine/window_bench.exe 'Z:'"$(echo "$work/large.bin" | tr / '\\')" </dev/null | tr -d '\r'
stop_sim
wineserver -k 2>/dev/null || true  # before its X server goes
kill "$xvfb_pid"
