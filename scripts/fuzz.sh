#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs each for a bounded
# time from its seed corpus, one target per processor at once; fails on a crash, sanitizer report,
# broken property or input that takes more than 10 s.
#   scripts/fuzz.sh [seconds per target, default 30] [target ...]
# A crashing input is left in build-fuzz/crashes/<target>/; replay it with
#   build-fuzz/fuzz/<target> <file>
# scripts/test.sh fuzzes in its address and undefined-behaviour build, which holds the tests too,
# named by TARVIX_FUZZ_BUILD_DIR; a folder already configured keeps its configuration.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(farm_file profile_file replies card_blocks sysfs_tree)

dir="${TARVIX_FUZZ_BUILD_DIR:-build-fuzz}"
if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTARVIX_WITH_QT=OFF -DBUILD_TESTING=OFF -DTARVIX_FUZZ=ON \
    -DTARVIX_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" --target fuzzers

# Runs one target; its verdict goes to $dir/<target>.status for the summary below.
fuzz_target() {
  local target="$1" status=0
  # New inputs go to a scratch corpus; the checked-in seeds are only read.
  mkdir -p "$dir/corpus/$target" "$dir/crashes/$target"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$dir/crashes/$target/" "$dir/corpus/$target" "fuzz/corpus/$target" \
    2>"$dir/$target.log" || status=$?
  echo "$status" >"$dir/$target.status"
}
for target in "${targets[@]}"; do
  rm -f "$dir/$target.status"
  echo "fuzz: $target for ${seconds}s" >&2
  fuzz_target "$target" &
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
done
wait

failed=0
for target in "${targets[@]}"; do
  if [ "$(cat "$dir/$target.status" 2>/dev/null)" != "0" ]; then
    tail -n 60 "$dir/$target.log" >&2
    echo "fuzz: $target failed; the input is in $dir/crashes/$target/" >&2
    failed=1
    continue
  fi
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$dir/$target.log" |
    sed "s/^/fuzz: $target /" >&2
done
exit "$failed"
