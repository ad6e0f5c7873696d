#!/usr/bin/env bash
# Sets up a fresh machine, builds, checks the code's format and runs every test; then runs the
# suites again (all but the Qt window) in address/undefined and thread sanitizer builds. In between,
# scripts/fuzz.sh fuzzes the readers of outside input for a bounded time, and the Windows build
# (scripts/build-windows.sh) runs its suites and a production run under wine.
# After the suites, scripts/test-kernel.sh runs the station under a real Linux kernel in QEMU.
# TARVIX_KERNEL=0 skips that, TARVIX_FUZZ=0 the fuzzing, TARVIX_WINDOWS=0 the Windows build,
# TARVIX_SANITIZERS=0 the sanitizer builds.
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
if [ "${TARVIX_FUZZ:-1}" != "0" ]; then
  bash scripts/fuzz.sh
  stage_done "fuzzing"
fi
if [ "${TARVIX_WINDOWS:-1}" != "0" ]; then
  echo "test: Windows cross build and its suites under wine in build-windows" >&2
  bash scripts/build-windows.sh
  bash scripts/test-windows.sh
  stage_done "Windows build and suites"
fi

[ "${TARVIX_SANITIZERS:-1}" = "0" ] && exit 0
for sanitizer in address,undefined thread; do
  dir="build-sanitize-${sanitizer%%,*}"
  echo "test: sanitizer build ($sanitizer) in $dir" >&2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVIX_WITH_QT=OFF \
    -DTARVIX_SANITIZE="$sanitizer" >/dev/null
  cmake --build "$dir" -j"$(nproc)"
  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 TSAN_OPTIONS=halt_on_error=1 \
    ctest --test-dir "$dir" --output-on-failure -j"$(nproc)" --timeout 900
  stage_done "sanitizer build ($sanitizer)"
done
