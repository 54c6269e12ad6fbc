#!/usr/bin/env bash
# Runs every fuzz target (tests/fuzz/*_fuzz.cpp) built in BUILD with the libFuzzer options given,
# each on a working corpus in BUILD/corpus/NAME seeded from tests/fuzz/corpus/NAME, so that what
# a run adds never touches the repository. Targets run one per processor at a time. A finding
# goes to BUILD/findings/NAME/ and makes the run fail once every target has had its turn.
#   tests/fuzz/run.sh build/fuzz -max_total_time=60
set -uo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
export build here
shift

fuzz() {
  local name=$1 work=$build/corpus/$1 findings=$build/findings/$1/ log=$build/logs/$1.log
  shift
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  local seeds=() started=$SECONDS
  [ -d "$here/corpus/$name" ] && seeds=("$here/corpus/$name")
  if "$build/tests/fuzz/$name" "$@" -timeout=60 -artifact_prefix="$findings" "$work" "${seeds[@]}" \
      >"$log" 2>&1; then
    echo "$name: $(grep -o 'Done [0-9]* runs' "$log" | tail -1) in $((SECONDS - started)) s," \
      "$(ls "$work" | wc -l) new inputs in $work"
  else
    tail -n 40 "$log"
    echo "$name: FINDING, input in $findings, whole output in $log"
    return 1
  fi
}
export -f fuzz

for source in "$here"/*_fuzz.cpp; do basename "$source" .cpp; done |
  xargs -P "$(nproc)" -I{} bash -c 'fuzz "$@"' fuzz {} "$@"
