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
  for _ in $(seq 50); do
    xwininfo -name "Harvenor - Kelvo " >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1
  import -window "Harvenor - Kelvo " "$2"
  kill "$pid"
' screenshot "$program" "$output"
echo "Wrote $output"
