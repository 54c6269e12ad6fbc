#!/usr/bin/env bash
# Photographs the Kelvo window under a virtual X server: screenshot.sh <png> <command...>, the
# command being the kelvo program (or wine and kelvo.exe). Runs in an empty folder, so the
# form shows its defaults.
set -euo pipefail
output=$(realpath -m "$1")
shift
command=("$@")
for i in "${!command[@]}"; do [ -e "${command[$i]}" ] && command[$i]=$(realpath "${command[$i]}"); done
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" bash -c '
  output=$1
  shift
  "$@" </dev/null >/dev/null 2>&1 & pid=$!
  trap "kill $pid" EXIT
  # The window takes a moment to appear (Wine longer, the first time) and to paint. import
  # given a name that no window has yet waits for a click, so xdotool waits for it first.
  timeout 60 xdotool search --sync --name "Harvenor - Kelvo " >/dev/null || {
    echo "The window did not appear" >&2
    exit 1
  }
  sleep 1
  import -window "Harvenor - Kelvo " "$output"
' screenshot "$output" "${command[@]}"
echo "Wrote $output"
