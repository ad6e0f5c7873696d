#!/usr/bin/env bash
# Sets up, builds and starts the station.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec "${TARVIX_BUILD_DIR:-build}/apps/tarvix/tarvix" "$@"
