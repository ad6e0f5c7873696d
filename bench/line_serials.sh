#!/usr/bin/env bash
# Serial numbers taken per second by four stations of one line, each with 21 workers, from one
# series in a private PostgreSQL cluster (pg_virtualenv), against the line's need of one number per
# reader per minute: the headroom as a ratio.
# Usage: bench/line_serials.sh [build dir] [seconds]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-10}
cmake --build "$build" --target tarvix line_bench >/dev/null
pg_virtualenv -t sh -c "
  '$build/apps/tarvix/tarvix' --line-init --line dbname=postgres >/dev/null &&
  '$build/bench/line_bench' dbname=postgres 4 $seconds" 2>&1 |
  grep -v -e '^Creating new PostgreSQL cluster' -e '^Dropping cluster'
