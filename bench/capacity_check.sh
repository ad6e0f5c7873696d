#!/bin/sh
# The capacity check alone on a 32 GiB farm card behind a USB 2.0 reader (35 MB/s read, 25 MB/s
# write, farm time at real speed): the bytes it moves and how long it takes, on an honest card and
# on cards forged both ways. Limits: 24 MiB and 2 s. With `callgrind`, also the instructions the
# check itself takes on each card, which repeat from run to run where seconds do not
# (limit 40 M).
# Usage: bench/capacity_check.sh [build dir] [callgrind]
set -eu
build=$(cd "${1:-build}" && pwd)
mode=${2:-}
tarvix="$build/apps/tarvix/tarvix"
cmake --build "$build" --target tarvix >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckCapacity=1\r\n' \
  >"$work/check.ini"

farm() { # $1: extra card fields
  rm -rf "$work/img"
  cat >"$work/farm.json" <<JSON
{"imageDir": "img", "timeScale": 1.0, "hostControllers": [{"rootHubPorts": 2, "attached": [
  {"port": 1, "reader": {"id": "r1", "model": "VQ301C-A-1LUN", "cardMiB": 32768,
   "readMBps": 35, "writeMBps": 25 $1}}]}]}
JSON
}

run() { # $1: what, $2: extra card fields
  farm "$2"
  # The check's summary is a trace line: --trace puts it on standard error too.
  XDG_STATE_HOME="$work/state" "$tarvix" --headless --trace --farm "$work/farm.json" \
    --settings "$work/check.ini" --report "$work/r.json" >/dev/null 2>"$work/trace" || true
  line=$(grep -o 'Capacity check: .*' "$work/trace" | tail -1)
  [ -n "$line" ] || { echo "$1: the check did not run" >&2; cat "$work/trace" >&2; exit 1; }
  echo "$line" | awk -v what="$1" '{
    bytes = $5; ms = $8; real = ($11 != "" ? ", real " $11 " MiB" : "")
    printf "%-34s %6.2f MiB moved (limit 24), %5.2f s (limit 2)%s\n", what, bytes / 1048576,
      ms / 1000, real
    if (bytes > 24 * 1048576 || ms >= 2000) bad = 1
  } END { exit bad }'
  [ "$mode" = callgrind ] || return 0
  farm "$2"
  XDG_STATE_HOME="$work/state" valgrind --tool=callgrind \
    --toggle-collect='tarvix::run::capacityCheckStep*' --callgrind-out-file="$work/cg.out" \
    "$tarvix" --headless --farm "$work/farm.json" --settings "$work/check.ini" \
    --report "$work/r.json" >/dev/null 2>"$work/cg.log" || true
  grep -o 'Collected : [0-9]*' "$work/cg.log" | awk '{
    printf "%-34s %6.1f M instructions (callgrind, limit 40 M)\n", "", $3 / 1e6
    exit ($3 > 40e6)
  }'
}

run "honest 32 GiB" ""
run "32 GiB wrapping at 20011 MiB" ', "realMiB": 20011, "forgery": "wrap"'
run "32 GiB dropping beyond 5003 MiB" ', "realMiB": 5003, "forgery": "drop"'
