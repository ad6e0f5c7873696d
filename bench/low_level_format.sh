#!/bin/sh
# The low-level format of a whole 1 GiB farm card (write and read back every 64 KiB) against dd
# writing and then reading the same bytes in 64 KiB blocks: CPU seconds (user + system) of each,
# three times in turn, and the median ratio. With `callgrind`, also the instructions the step
# itself takes on a 64 MiB card, which repeat from run to run where seconds do not.
# Usage: bench/low_level_format.sh [build dir] [callgrind]
set -eu
build=$(cd "${1:-build}" && pwd)
mode=${2:-}
tarvix="$build/apps/tarvix/tarvix"
cmake --build "$build" --target tarvix >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

farm() { # $1: card MiB
  cat >"$work/farm.json" <<JSON
{"imageDir": "img", "timeScale": 0.001, "hostControllers": [{"rootHubPorts": 2, "attached": [
  {"port": 1, "reader": {"id": "r1", "model": "VQ301C-A-1LUN", "cardMiB": $1}}]}]}
JSON
  rm -rf "$work/img"
}
printf '[Hub Port map]\r\nbCheckNOHub=1\r\n[Test Item]\r\nnICType=3\r\nbCheckLowFormat=1\r\nnLLFSelect=3\r\n' \
  >"$work/llf.ini"
cpu() { # CPU seconds (user + system) of the command
  /usr/bin/time -f '%U %S' -o "$work/time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.2f", $1 + $2 }' "$work/time"
}
set -- "$tarvix" --headless --farm "$work/farm.json" --settings "$work/llf.ini" \
  --report "$work/r.json"

farm 1024
"$@" >/dev/null 2>&1 || true # lays the card image down once, so every run finds it in place
grep -q '"picture": "pass"' "$work/r.json" || { echo "the station's run did not pass" >&2; exit 1; }
: >"$work/ratios"
for _ in 1 2 3; do
  station_cpu=$(cpu "$@")
  dd_cpu=$(cpu sh -c "dd if=/dev/zero of='$work/img/r1.img' bs=64K count=16384 conv=notrunc &&
                      dd if='$work/img/r1.img' of=/dev/null bs=64K count=16384")
  ratio=$(awk -v a="$station_cpu" -v b="$dd_cpu" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  echo "low-level format of 1 GiB: station ${station_cpu} s CPU, dd ${dd_cpu} s CPU, ratio $ratio"
  echo "$ratio" >>"$work/ratios"
done
echo "median ratio station/dd: $(sort -n "$work/ratios" | sed -n 2p)"

if [ "$mode" = callgrind ]; then
  farm 64
  valgrind --tool=callgrind --toggle-collect='tarvix::run::lowLevelFormatStep*' \
    --callgrind-out-file="$work/cg.out" "$@" >/dev/null 2>"$work/cg.log" || true
  grep -o 'Collected : [0-9]*' "$work/cg.log" | awk '{
    printf "low-level format of 64 MiB: %.1f M instructions in the step (callgrind), %.2f a byte moved\n",
      $3 / 1e6, $3 / (2 * 64 * 1048576)
  }'
fi
