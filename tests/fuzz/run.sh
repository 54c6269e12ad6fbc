#!/usr/bin/env bash
# Runs every fuzz target (tests/fuzz/*_fuzz.cpp) built in BUILD with the libFuzzer options given,
# each on a working corpus in BUILD/corpus/NAME seeded from tests/fuzz/corpus/NAME, so that what
# a run adds never touches the repository. A finding goes to BUILD/findings/NAME/ and makes the
# run fail once every target has had its turn.
#   tests/fuzz/run.sh build/fuzz -max_total_time=60
set -uo pipefail
build=$1
shift
here=$(cd "$(dirname "$0")" && pwd)
status=0
for source in "$here"/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  work=$build/corpus/$name
  findings=$build/findings/$name/
  log=$build/logs/$name.log
  mkdir -p "$work" "$findings" "$(dirname "$log")"
  seeds=()
  [ -d "$here/corpus/$name" ] && seeds=("$here/corpus/$name")
  started=$SECONDS
  if "$build/tests/fuzz/$name" "$@" -timeout=60 -artifact_prefix="$findings" "$work" "${seeds[@]}" \
      >"$log" 2>&1; then
    echo "$name: $(grep -o 'Done [0-9]* runs' "$log" | tail -1) in $((SECONDS - started)) s," \
      "$(ls "$work" | wc -l) new inputs in $work"
  else
    tail -n 40 "$log"
    echo "$name: FINDING, input in $findings, whole output in $log"
    status=1
  fi
done
exit $status
