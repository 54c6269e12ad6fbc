#!/usr/bin/env bash
# The Windows build under Wine: the portable unit tests, then kelvo-cli.exe against the Linux
# zarq-sim on the prefix's COM5, each case beside the Linux kelvo-cli's run of it; the settings
# save among planted links, the port on models of Windows drivers, hardening, and the window.
set -euo pipefail
cd "$(dirname "$0")/../.."
linux=build/default
windows=build/windows

source tests/windows/wine_prefix.sh

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

failures=0
fail() { echo "FAILED: $*" && failures=$((failures + 1)); }
# kelvo-cli.exe, run in $work with no input.
cli_exe() { (cd "$work" && exec wine "$OLDPWD/$windows/tools/cli/kelvo-cli.exe" "$@") </dev/null; }

# The log without its clock times, its line ends and the port's name.
normalise() {
  tr -d '\r' <"$1" | grep -v -E '^(Time|Elapsed): ' |
    sed -e "s#$work/line#PORT#g" -e 's#\(\\\\\.\\\)\?COM5#PORT#g'
}

# run_case NAME SIM_FAULTS... -- KELVO_CLI_ARGS...: both programs, each on a fresh simulator; the
# Windows one on $win_port if set, else COM5.
run_case() {
  local name=$1 faults=() system
  shift
  while [ "$1" != "--" ]; do faults+=("$1"); shift; done
  shift
  for system in linux windows; do
    start_sim "${faults[@]}"
    if [ $system = linux ]; then
      (cd "$work" && "$OLDPWD/$linux/tools/cli/kelvo-cli" --port "$work/line" "$@") </dev/null
    else
      cli_exe --port "${win_port:-COM5}" "$@"
    fi >"$work/$name.$system.log" 2>&1 && echo 0 >"$work/$name.$system.status" ||
      echo $? >"$work/$name.$system.status"
    stop_sim
    [ -f "$work/memory.bin" ] && cp "$work/memory.bin" "$work/$name.$system.memory"
    [ -f "$work/trace" ] && mv "$work/trace" "$work/$name.$system.trace"
  done
  diff <(normalise "$work/$name.linux.log") <(normalise "$work/$name.windows.log") ||
    fail "$name: the Windows log differs from the Linux log"
  local statuses
  statuses="$(cat "$work/$name.windows.status") $(cat "$work/$name.linux.status")"
  [ "$statuses" = "0 0" ] || fail "$name: exit status $statuses on Windows and Linux, not 0 0"
}

# An image of 10 blocks: 4 of data, 3 blank, 2 of data and a short last one of 50 bytes.
{
  head -c $((4 * 128)) /dev/urandom
  head -c $((3 * 128)) /dev/zero | tr '\0' '\377'
  head -c $((2 * 128 + 50)) /dev/urandom
} >"$work/image.bin"

echo "Upload with a gap and a short last block, then with a refused block retried"
run_case upload -- --delay 200 image.bin
# Address 0x2000 loads at 0x20000 in the device's memory.
cmp -s "$work/image.bin" <(tail -c +$((0x20000 + 1)) "$work/upload.windows.memory" |
  head -c "$(stat -c %s "$work/image.bin")") || fail "upload: the device's memory is not the image"
run_case refused --refuse-block 2 -- --delay 200 image.bin

echo "A script to the port named by its device path: the same bytes go out, in the same bursts"
printf 'SEND 0x41 0x20 0x00\r\n\r\nSEND 0x45 0x20 0x00\r\n' >"$work/play.scr"
win_port='\\.\COM5' run_case script -- --trace trace play.scr
sent() { tr -d '\r' <"$1" | grep -- '->' | sed 's/^ *[0-9]* ms //'; }
diff <(sent "$work/script.linux.trace") <(sent "$work/script.windows.trace") ||
  fail "script: the Windows program sent other bytes"

echo "The upload through ser2net, as rfc2217://: Winsock, and 0xFF escaped both ways"
source tests/support/ser2net.sh
start_sim
port=$(free_loopback_port)
ser2net_connection rfc2217 "$port" "$(readlink "$work/line")" >"$work/ser2net"
start_ser2net "$work/ser2net" "$port"
cli_exe --port "rfc2217://127.0.0.1:$port" --delay 200 image.bin >"$work/network.log" 2>&1 ||
  fail "network: exit status $?"
kill "$ser2net_pid" && wait "$ser2net_pid" || true
stop_sim
cmp -s "$work/image.bin" <(tail -c +$((0x20000 + 1)) "$work/memory.bin" | head -c "$(stat -c %s "$work/image.bin")") ||
  fail "network: the device's memory is not the image"

echo "The list of ports, and a port that does not exist"
cli_exe --list-ports | tr -d '\r' >"$work/ports.txt"
grep -q -E '^COM[0-9]+ +\\\\\.\\COM[0-9]+' "$work/ports.txt" || fail "list-ports: $(cat "$work/ports.txt")"
cli_exe --port COM7 image.bin >"$work/noport.log" 2>&1 && status=0 || status=$?
[ $status = 1 ] || fail "noport: exit status $status, not 1"
grep -q "Opening Port COM7 . . . Failed" "$work/noport.log" || fail "noport: no Failed line"

echo "Ctrl-C during the handshake"
start_sim --silent
(cd "$work" && exec wine "$OLDPWD/$windows/tools/cli/kelvo-cli.exe" --port COM5 image.bin) \
  >"$work/ctrlc.log" 2>&1 </dev/null &
cli=$!
for _ in $(seq 200); do grep -q "Waiting for Initial NAK" "$work/ctrlc.log" && break; sleep 0.05; done
grep -q "Waiting for Initial NAK" "$work/ctrlc.log" || fail "ctrlc: the handshake never began"
kill -INT $cli
wait $cli && status=0 || status=$?
stop_sim
[ $status = 130 ] || fail "ctrlc: exit status $status, not 130"
grep -q "Starting Programming" "$work/ctrlc.log" && fail "ctrlc: programming started"

echo "KELVO.DAT from Linux saved on Windows: through one's own link, not another's, a dangling one"
"$linux/tests/settings_round_trip" "$work/none" "$work/KELVO.DAT" COM5 $'Z:\\firmware\xe9.bin' \
  0x2000 "ZARQ 40 - 580" 200
mkdir "$work/own" "$work/theirs"
: >"$work/own/KELVO.DAT"
ln -s own/KELVO.DAT "$work/mine.dat"
# Wine shows only a link to a folder as a link, owned by the folder's owner.
theirs=$work/theirs
chown nobody "$theirs" 2>/dev/null || theirs=/tmp # not root: a folder that is not this user's
ln -s "$theirs" "$work/theirs.dat"
# A name too long to take the temporary's suffix is rewritten in place, as in a folder that this
# user may only read (root, who may run this, may write any).
long=$(head -c 245 /dev/zero | tr '\0' K)
ln -s victim "$work/$long.link"
mkfifo "$work/$long.fifo"
while read -r name want; do
  got=$( (cd "$work" && exec timeout 20 wine "$OLDPWD/$windows/tests/settings_round_trip.exe" \
    KELVO.DAT "$name") </dev/null 2>&1 | tr -d '\r') || true
  # shellcheck disable=SC2053 # want is a pattern
  [[ $got == settings_round_trip:\ $want || -z $got$want ]] || fail "settings: $name: $got"
done <<EOF
mine.dat
theirs.dat it is a link owned by another user
$long.link *
$long.fifo it is not a regular file
EOF
cmp -s "$work/KELVO.DAT" "$work/own/KELVO.DAT" && [ -L "$work/mine.dat" ] ||
  fail "settings: not saved through the user's own link"
[ -e "$work/victim" ] && fail "settings: a file made through a dangling link"

echo "The port's promises on each kind of Windows serial driver"
start_sim --paced
wine "$windows/tests/windows_port_tests.exe" </dev/null || fail "windows_port_tests"
stop_sim

echo "The programs shipped: addresses randomised, data not executable, a canary on the stack"
for program in src/window/win32/kelvo tools/cli/kelvo-cli; do
  characteristics=$(x86_64-w64-mingw32-objdump -p "$windows/$program.exe" |
    sed -n '/^DllCharacteristics/,/^SizeOf/p')
  for flag in DYNAMIC_BASE NX_COMPAT HIGH_ENTROPY_VA; do
    grep -qw $flag <<<"$characteristics" || fail "$program.exe: no $flag"
  done
  # The stripped program names no symbol; its link map names the objects of ours that brought in
  # the stack protector.
  grep -q '\.obj)\? (__stack_chk_\(fail\|guard\))$' "$windows/$program.exe.map" ||
    fail "$program.exe: no stack protector"
done

source tests/windows/window_cases.sh

if [ $failures -gt 0 ]; then
  echo "$failures Windows end-to-end check(s) failed; the logs are in $work"
  trap - EXIT
  wineserver -k 2>/dev/null || true
  exit 1
fi
echo "All Windows end-to-end checks passed"
