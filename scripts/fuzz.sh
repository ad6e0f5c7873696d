#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang into build-fuzz/ and runs each for a bounded
# time from its seed corpus; fails on the first crash, sanitizer report, broken property or input
# that takes more than 10 s.
#   scripts/fuzz.sh [seconds per target, default 30] [target ...]
# A crashing input is left in build-fuzz/crashes/<target>/; replay it with
#   build-fuzz/fuzz/<target> <file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(farm_file profile_file replies card_blocks sysfs_tree)

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DTARVIX_WITH_QT=OFF -DBUILD_TESTING=OFF -DTARVIX_FUZZ=ON \
  -DTARVIX_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
cmake --build "$dir" -j"$(nproc)" --target fuzzers

for target in "${targets[@]}"; do
  # New inputs go to a scratch corpus; the checked-in seeds are only read.
  work="$dir/corpus/$target"
  crashes="$dir/crashes/$target"
  mkdir -p "$work" "$crashes"
  echo "fuzz: $target for ${seconds}s" >&2
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$dir/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$work" "fuzz/corpus/$target" 2>"$dir/$target.log" || {
    tail -n 60 "$dir/$target.log" >&2
    echo "fuzz: $target failed; the input is in $crashes/" >&2
    exit 1
  }
  grep -E "stat::number_of_executed_units|stat::new_units_added" "$dir/$target.log" |
    sed "s/^/fuzz: $target /" >&2
done
