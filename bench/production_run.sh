#!/bin/sh
# Twenty-one readers (three seven-port hubs of 40 MB/s on their own host controllers, readers that
# write at 15 MB/s and read at 20 MB/s) low-level format all of their 64 MiB cards in real time.
# Each hub then carries 7 x 64 MiB written and read back, so no reader can finish before
# 7 x 2 x 64 MiB / 40 MB/s: the bus bound. Prints the slowest reader's step time against it.
# Usage: bench/production_run.sh [build dir]
set -eu
build=$(cd "${1:-build}" && pwd)
tarvix="$build/apps/tarvix/tarvix"
cmake --build "$build" --target tarvix >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

card_mib=64
{
  printf '{"imageDir": "img", "timeScale": 1.0, "hostControllers": ['
  n=0
  for hub in 1 2 3; do
    [ "$hub" = 1 ] || printf ','
    printf '{"rootHubPorts": 2, "attached": [{"port": 1, "hub": {"ports": 7, "MBps": 40, "attached": ['
    for port in 1 2 3 4 5 6 7; do
      n=$((n + 1))
      [ "$port" = 1 ] || printf ','
      printf '{"port": %d, "reader": {"id": "r%d", "model": "VQ301C-A-1LUN", "cardMiB": %d,' \
        "$port" "$n" "$card_mib"
      printf ' "readMBps": 20, "writeMBps": 15}}'
    done
    printf ']}}]}'
  done
  printf ']}\n'
} >"$work/farm.json"
printf '[Hub Port map]\r\nbCheckHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckLowFormat=1\r\nnLLFSelect=3\r\n' \
  >"$work/llf.ini"

"$tarvix" --headless --farm "$work/farm.json" --settings "$work/llf.ini" --report "$work/r.json" \
  >/dev/null 2>&1 || { echo "the station's run did not pass on every reader" >&2; exit 1; }
passes=$(grep -c '"picture": "pass"' "$work/r.json")
slowest=$(grep -A1 '"step": "low-level format"' "$work/r.json" | grep -o '"ms": [0-9]*' |
  awk '{ if ($2 > m) m = $2 } END { print m }')
awk -v ms="$slowest" -v mib="$card_mib" -v passes="$passes" 'BEGIN {
  bound = 7 * 2 * mib * 1048576 / 40e6
  printf "21 readers, %d passed: slowest low-level format %.2f s, bus bound %.2f s, ratio %.3f\n",
    passes, ms / 1000, bound, ms / 1000 / bound
}'
