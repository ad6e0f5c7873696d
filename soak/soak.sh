#!/bin/sh
# The seeded soak: random farms, settings, faults and pull and plug times, every pass read back
# independently; descriptors, threads, child processes and the heap checked after every run, and
# with an address-sanitizer build dir, LeakSanitizer after every batch. Prints one line per run
# and a summary; exits 0 only when nothing was found. A seed reproduces its run exactly:
#   soak/soak.sh [build-dir] --seed 1 --runs 2000       soak/soak.sh build --seed 417 --runs 1
#   soak/soak.sh build-asan --seed 1 --minutes 30 --jobs 2 --batch 50
# build-asan: cmake -S . -B build-asan -DTARVIX_SANITIZE=address,undefined -DTARVIX_WITH_QT=OFF
set -eu
build=build
case "${1:-}" in -*|'') ;; *) build=$1; shift ;; esac
cmake --build "$build" --target soak_runs >/dev/null
exec nice "$build/tests/e2e/soak_runs" "$@"
