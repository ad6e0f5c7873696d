#!/bin/sh
# The simulated farm's I/O against plain file I/O, and its hub bandwidth model, measured.
# Usage: bench/farm_io.sh [build dir] [scratch folder for the card images]
set -eu
build=${1:-build}
cmake --build "$build" --target farm_io_bench
exec "$build/bench/farm_io_bench" ${2:+"$2"}
