#!/bin/sh
# How often the window thread wakes for one busy port (a low-level format in real time) and for
# a resting station, counted by the headless host. Limits: 12 a second busy, none resting.
# Usage: bench/window_wakes.sh [build dir]
set -eu
build=$(cd "${1:-build}" && pwd)
cmake --build "$build" --target window_wakes_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
set -- $("$build/bench/window_wakes_bench" "$work")
awk -v busy="$2" -v seconds="$4" -v busiest="$8" -v rest="${10}" 'BEGIN {
  printf "window wakes: one busy port %.1f a second over %.1f s, busiest second %d (limit 12);", \
    busy, seconds, busiest
  printf " resting %.1f a second (limit 0)\n", rest
  exit (busiest > 12 || rest > 0)
}'
