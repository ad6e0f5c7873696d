#!/usr/bin/env bash
# Cross-builds the Windows station into build-windows/ (or $TARVIX_WINDOWS_BUILD_DIR):
# tarvix.exe with its runtime linked in, and the test executables that run under wine.
# Extra arguments go to the configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build="${TARVIX_WINDOWS_BUILD_DIR:-build-windows}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
cp "$build/apps/tarvix/tarvix.exe" "$build/tarvix.exe"
