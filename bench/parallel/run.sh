#!/usr/bin/env bash
# A production line's cost: one kelvo-cli loading an image into DEVICES paced simulated devices
# (zarq-sim, 9600 baud) at once, against one device alone in the same run. Prints each run's
# time per block, as the traces show it from the first packet to the last, and kelvo-cli's
# share of one core. The simulators run as processes of their own, so they are not counted.
# With SCHEME (rfc2217 or tcp) every device sits behind a port of one ser2net, and kelvo-cli
# reaches them as SCHEME://127.0.0.1:PORT; the run then fails above 1.05 times one device's
# time per block or 5 % of a core.
#   bench/parallel/run.sh BUILD_DIR [DEVICES] [BLOCKS] [SCHEME]
set -euo pipefail
build=$1 devices=${2:-16} blocks=${3:-40} scheme=${4:-}
# A pseudo-terminal's write ends at once; a network port's lasts the line time, as a UART's.
delay=200
[ -n "$scheme" ] && delay=100
cli=$build/tools/cli/kelvo-cli sim=$build/tools/zarq-sim
source "$(dirname "$0")/../../tests/support/ser2net.sh"
work=$(mktemp -d)
pids=()
cleanup() {
  if [ ${#pids[@]} -gt 0 ]; then kill "${pids[@]}" 2>/dev/null || true; wait "${pids[@]}" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Data in every block, so that none is skipped.
head -c $((blocks * 128)) < <(yes 'Production image, a block at a time. ') > "$work/image.bin"

# Starts n paced devices linked as $work/<run>-1 ... and sets ports to their --port list.
start_devices() {
  local run=$1 n=$2 links=()
  for i in $(seq 1 "$n"); do
    "$sim" --paced --link "$work/$run-$i" > /dev/null &
    pids+=($!)
    links+=("$work/$run-$i")
  done
  for link in "${links[@]}"; do
    until [ -e "$link" ]; do sleep 0.05; done
  done
  ports=$(IFS=,; echo "${links[*]}")
  if [ -n "$scheme" ]; then serve_devices "$run" "${links[@]}"; fi
}

# Puts one ser2net in front of the devices, one free loopback port each, and sets ports to them.
serve_devices() {
  local config=$work/$1.ser2net taken=() port
  shift
  : >"$config"
  for link in "$@"; do
    port=$(free_loopback_port "${taken[@]}")
    taken+=("$port")
    ser2net_connection "$scheme" "$port" "$(readlink "$link")" >>"$config"
  done
  start_ser2net "$config" "$port"
  pids+=("$ser2net_pid")
  ports=$(printf "$scheme://127.0.0.1:%s," "${taken[@]}")
  ports=${ports%,}
}

# Milliseconds a block took on one trace: from the first data packet sent to the last.
per_block() {
  awk '$3 == "->" && NF == 135 { if (!first) first = $1; last = $1; n++ }
       END { if (n > 1) printf "%.1f\n", (last - first) / (n - 1) }' "$1"
}

# Runs kelvo-cli on the ports; prints "real user sys" seconds.
load() {
  local ports=$1 trace=$2 times
  TIMEFORMAT='%3R %3U %3S'
  { times=$( { time "$cli" --port "$ports" --delay "$delay" --trace "$trace" "$work/image.bin" \
                 > "$trace.log" 2>&1; } 2>&1 ); } || { cat "$trace.log"; exit 1; }
  echo "$times"
}

echo "Loading $blocks blocks into 1 device, then into $devices at once, at 9600 baud"
start_devices single 1
read -r real user sys < <(load "$ports" "$work/single.txt")
single=$(per_block "$work/single.txt")
echo "1 device:   $single ms a block; kelvo-cli used $user s user + $sys s system in $real s"

start_devices many "$devices"
read -r real user sys < <(load "$ports" "$work/many.txt")
grep -q "^Port" "$work/many.txt.log" || { cat "$work/many.txt.log"; exit 1; }
if grep -Eq "  (failed|halted)  " "$work/many.txt.log"; then cat "$work/many.txt.log"; exit 1; fi
for trace in "$work"/many-*.txt; do per_block "$trace"; done |
  awk -v n="$devices" -v one="$single" '{ sum += $1; if ($1 > worst) worst = $1 }
    END { printf "%d devices: %.1f ms a block on average, %.1f at worst: %.3f x and %.3f x one device'"'"'s\n",
                 n, sum / n, worst, sum / n / one, worst / one }'
awk -v real="$real" -v user="$user" -v sys="$sys" 'BEGIN {
  printf "kelvo-cli used %s s user + %s s system in %s s: %.2f %% of one core\n", user, sys, real,
         100 * (user + sys) / real }'
if [ -n "$scheme" ]; then
  for trace in "$work"/many-*.txt; do per_block "$trace"; done |
    awk -v one="$single" -v user="$user" -v sys="$sys" -v real="$real" '
      { if ($1 > worst) worst = $1 }
      END { if (worst > 1.05 * one || user + sys > 0.05 * real) { print "Above the target"; exit 1 } }'
fi
