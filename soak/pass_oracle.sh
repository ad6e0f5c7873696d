#!/bin/sh
# The full pass-oracle sweep: every controller model row with every step it offers, and a one-shot
# fail, corrupt and pull at every call position of every command a production run sends to the
# reader. Each run's card is read back independently (fsck.fat, mtools, the image bytes), and what
# the station told of it (box line, report, production log) is judged against how it ended. Prints
# one line per finding, then: runs, passes verified, false passes, hangs, other-reader writes,
# untrue outcomes.
# Exits 0 only when nothing was found.
#   soak/pass_oracle.sh [build-dir]        TARVIX_ORACLE_JOBS=n: stations at once (default 2)
set -eu
build=${1:-build}
cmake --build "$build" --target pass_oracle_tests >/dev/null
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
TARVIX_ORACLE=full nice "$build/tests/e2e/pass_oracle_tests" \
  --gtest_filter='PassOracle.*' >"$log" 2>&1 || status=$?
if ! grep -q '^pass oracle:' "$log"; then
  cat "$log"
  exit 1
fi
grep -E '^(no pass without a fault|false pass|hang|other-reader write|untrue outcome):' "$log" || true
grep '^pass oracle:' "$log"
exit "$status"
