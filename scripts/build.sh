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
  # Configured once; after that the build itself notices a changed CMakeLists. A fresh folder
  # gets the station as an operator runs it: optimised as the full build is, without the
  # debugger's information, which would take a third of the compile time.
  if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DBUILD_TESTING=OFF "$@" >/dev/null
  elif [ $# -gt 0 ]; then
    cmake -S . -B "$build" "$@" >/dev/null
  fi
  cmake --build "$build" -j"$(nproc)" --target tarvix
  exit 0
fi
bash scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON "$@" >/dev/null
cmake --build "$build" -j"$(nproc)"
