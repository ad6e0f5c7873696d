#!/usr/bin/env bash
# Sets up a fresh machine, builds, checks the code's format and runs every test; then
# scripts/test-kernel.sh runs the station under a real Linux kernel in QEMU. Then, in one clang
# build with address and undefined-behaviour sanitizers and libFuzzer's instrumentation, the
# suites run again (all but the Qt window) and scripts/fuzz.sh fuzzes the readers of outside input
# for a bounded time. The Windows build (scripts/build-windows.sh) runs its suites and a production
# run under wine. Last, a thread sanitizer build runs the suites whose tests start threads (the
# port workers of whole runs, the farm's events, the device server, the line's sender, the station
# as a process, and the tests' own threads: every test executable tarvix_test marks THREADS, and
# the line), since data races can only happen where two threads run; the rest run single-threaded
# and are left to the first two builds.
# TARVIX_KERNEL=0 skips the kernel stage, TARVIX_FUZZ=0 the fuzzing, TARVIX_WINDOWS=0 the Windows
# build, TARVIX_SANITIZERS=0 the sanitizer builds (the fuzzing then builds its own, scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each stage's end with the time so far, so that the run's budget can be kept stage by stage.
stage_done() { echo "test: $1 done at $((SECONDS / 60)) min $((SECONDS % 60)) s" >&2; }
bash scripts/build.sh
stage_done "set-up and build"
bash scripts/format.sh --check
build="${TARVIX_BUILD_DIR:-build}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
stage_done "suites"
bash scripts/test-kernel.sh
stage_done "kernel stage"
sanitizers="${TARVIX_SANITIZERS:-1}"
sanitized_suites() { # <build folder> <sanitizers> <target> [ctest arguments]
  local dir="$1" sanitizer="$2" target="$3"
  shift 3
  echo "test: sanitizer build ($sanitizer) in $dir" >&2
  cmake --build "$dir" -j"$(nproc)" --target "$target"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 900 "$@"
  stage_done "sanitizer build ($sanitizer)"
}
if [ "$sanitizers" != "0" ]; then
  # scripts/fuzz.sh's configuration, with the tests.
  cmake -S . -B build-clang-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DTARVIX_WITH_QT=OFF -DTARVIX_FUZZ=ON \
    -DTARVIX_SANITIZE=fuzzer-no-link,address,undefined >/dev/null
  sanitized_suites build-clang-asan address,undefined suites
fi
if [ "${TARVIX_FUZZ:-1}" != "0" ]; then
  if [ "$sanitizers" != "0" ]; then
    TARVIX_FUZZ_BUILD_DIR=build-clang-asan bash scripts/fuzz.sh
  else
    bash scripts/fuzz.sh
  fi
  stage_done "fuzzing"
fi
if [ "${TARVIX_WINDOWS:-1}" != "0" ]; then
  echo "test: Windows cross build and its suites under wine in build-windows" >&2
  bash scripts/build-windows.sh
  bash scripts/test-windows.sh
  stage_done "Windows build and suites"
fi
if [ "$sanitizers" != "0" ]; then
  cmake -S . -B build-clang-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DTARVIX_WITH_QT=OFF -DTARVIX_SANITIZE=thread >/dev/null
  sanitized_suites build-clang-tsan thread threaded_suites -L threads
fi
