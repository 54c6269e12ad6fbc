#!/usr/bin/env bash
# Photographs the kelvo window under a virtual X server: screenshot.sh <kelvo program> <png>.
# Runs in an empty folder, so the form shows its defaults.
set -euo pipefail
program=$(realpath "$1")
output=$(realpath -m "$2")
workdir=$(mktemp -d)
trap 'rm -rf "$workdir"' EXIT
cd "$workdir"
xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24" bash -c '
  "$1" & pid=$!
  trap "kill $pid" EXIT
  # The window takes a moment to appear and paint; import fails until it exists.
  for _ in $(seq 50); do
    sleep 0.2
    import -window "Harvenor - Kelvo " "$2" 2>/dev/null && exit 0
  done
  echo "The window did not appear" >&2
  exit 1
' screenshot "$program" "$output"
echo "Wrote $output"
