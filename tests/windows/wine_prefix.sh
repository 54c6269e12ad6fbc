# Sourced: a fresh Wine prefix in $work/prefix whose COM5 names $work/line, with its server
# running; it and the prefix go when the script exits. Wine's server and services must not
# inherit a pipe that someone reads to its end, or the reader waits for them. COM5 is linked
# before the server starts, to a link of our own that each run points at its simulator's
# pseudo-terminal: Wine follows it at every open.
work=$(mktemp -d /tmp/kelvo-wine.XXXXXX)
export WINEPREFIX=$work/prefix WINEDEBUG=-all
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "Making a Wine prefix in $WINEPREFIX"
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -w
ln -s "$work/line" "$WINEPREFIX/dosdevices/com5"
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1

# zarq-sim with the given options on $work/line, writing its memory at the upload's end.
start_sim() {
  rm -f "$work/line" "$work/memory.bin"
  build/default/tools/zarq-sim --link "$work/line" --memory "$work/memory.bin" "$@" &>/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do [ -L "$work/line" ] && return; sleep 0.05; done
  echo "zarq-sim did not start" && exit 1
}
stop_sim() {
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
