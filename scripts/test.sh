#!/usr/bin/env bash
# Sets up a fresh machine, builds, checks the code's format and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
bash scripts/format.sh --check
build="${TARVIX_BUILD_DIR:-build}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600
