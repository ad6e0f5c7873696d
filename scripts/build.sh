#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything, tests included, into build/
# (or $TARVIX_BUILD_DIR). With --station, only what the station needs and only its executable;
# a build folder that the full build set up keeps its tests.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TARVIX_BUILD_DIR:-build}"
if [ "${1:-}" = "--station" ]; then
  shift
  bash scripts/setup.sh --station
  testing=$(sed -n 's/^BUILD_TESTING:BOOL=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
  # Configured once; after that the build itself notices a changed CMakeLists.
  if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DBUILD_TESTING="${testing:-OFF}" "$@" >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" --target tarvix
  exit 0
fi
bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
