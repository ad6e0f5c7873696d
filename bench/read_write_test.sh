#!/bin/sh
# The read/write test step alone on a 1 GiB farm card (ROUNDS rounds, 5000 unless given) against
# dd writing and then reading the same bytes in 64 KiB blocks on the same card image: wall and
# CPU seconds (user + system) of each, three times, and the median ratios. With `callgrind`, also
# the instructions the step takes for each byte it moves in 500 rounds, which repeat from run to
# run where seconds do not.
# Usage: bench/read_write_test.sh [build dir] [rounds] [callgrind]
set -eu
build=$(cd "${1:-build}" && pwd)
rounds=${2:-5000}
mode=${3:-}
cmake --build "$build" --target read_write_test_bench >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
bench="$build/bench/read_write_test_bench"
image="$work/img/r1.img"
card=1073741824
hz=$(getconf CLK_TCK)

"$bench" 1024 10 "$work" >/dev/null # lays the card image down once
# Every block of the image written once, so that neither side reads holes the other does not.
dd if=/dev/zero of="$image" bs=1M count=1024 conv=notrunc status=none
# dd moving $2 bytes, written from zeros or read from the image ($1), in passes inside the image.
dd_bytes() {
  left=$2
  while [ "$left" -gt 0 ]; do
    n=$((left < card ? left : card))
    if [ "$1" = write ]; then
      dd if=/dev/zero of="$image" bs=64K count=$((n / 65536)) conv=notrunc status=none
      dd if=/dev/zero of="$image" bs=512 count=$((n % 65536 / 512)) conv=notrunc status=none
    else
      dd if="$image" of=/dev/null bs=64K count=$((n / 65536)) status=none
      dd if="$image" of=/dev/null bs=512 count=$((n % 65536 / 512)) status=none
    fi
    left=$((left - n))
  done
}
children_cpu() { awk '{ print $16 + $17 }' /proc/$$/stat; } # ticks of the waited-for children

: >"$work/runs"
for _ in 1 2 3; do
  set -- $("$bench" 1024 "$rounds" "$work")
  read=$2 written=$4 step_wall=$6 step_cpu=$8
  start=$(date +%s.%N) cpu0=$(children_cpu)
  dd_bytes write "$written"
  dd_bytes read "$read"
  end=$(date +%s.%N) cpu1=$(children_cpu)
  awk -v r="$read" -v w="$written" -v sw="$step_wall" -v sc="$step_cpu" -v a="$start" \
    -v b="$end" -v c0="$cpu0" -v c1="$cpu1" -v hz="$hz" 'BEGIN {
    dw = b - a; dc = (c1 - c0) / hz
    printf "%.4f %.4f %.0f MiB read, %.0f MiB written: step %.2f s wall, %.2f s CPU;", \
      (dw > 0 ? sw / dw : 0), (dc > 0 ? sc / dc : 0), r / 1048576, w / 1048576, sw, sc
    printf " dd %.2f s wall, %.2f s CPU\n", dw, dc
  }' >>"$work/runs"
done
echo "read/write test, $rounds rounds, three runs:"
cut -d' ' -f3- "$work/runs" | sed 's/^/  /'
wall=$(cut -d' ' -f1 "$work/runs" | sort -n | sed -n 2p)
cpu=$(cut -d' ' -f2 "$work/runs" | sort -n | sed -n 2p)
printf '  median ratio step/dd: wall %.2f, CPU %.2f\n' "$wall" "$cpu"

if [ "$mode" = callgrind ]; then
  valgrind --tool=callgrind --toggle-collect='tarvix::run::readWriteTestStep*' \
    --callgrind-out-file="$work/cg.out" "$bench" 1024 500 "$work" >"$work/cg.txt" 2>"$work/cg.log"
  set -- $(cat "$work/cg.txt")
  grep -o 'Collected : [0-9]*' "$work/cg.log" | awk -v r="$2" -v w="$4" '{
    printf "  500 rounds: %.1f M instructions in the step (callgrind), %.2f a byte moved\n",
      $3 / 1e6, $3 / (r + w)
  }'
fi
