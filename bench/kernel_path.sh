#!/usr/bin/env bash
# The kernel path against the in-process farm, for the same work: seven readers on one hub, each
# with a 16 MiB card, a production run with the read/write test and a format. Once the station
# runs under a real kernel in QEMU (TCG) on readers served by tarvix-farm over usbredir, once on
# the same farm file in-process. Prints each run's read/write test throughput (bytes the test
# moved over the slowest reader's time) and the kernel path's share of the farm's.
# Usage: bench/kernel_path.sh [build dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${1:-build}" && pwd)
cmake --build "$build" --target tarvix tarvix-farm kernel_stage_judge >/dev/null
TARVIX_BUILD_DIR=$build TARVIX_KERNEL_BOOTS=bench bash scripts/test-kernel.sh >/dev/null
run="$build/kernel-stage/run/bench"

# The same farm and settings in-process, on fresh cards.
farm="$run/in-process"
rm -rf "$farm"
mkdir -p "$farm"
sed 's/"imageDir": "images"/"imageDir": "in-process-images"/' "$run/farm.json" >"$farm/farm.json"
cp "$run/bench/TarvixValue.ini.laid" "$farm/TarvixValue.ini"
"$build/apps/tarvix/tarvix" --headless --farm "$farm/farm.json" --settings "$farm/TarvixValue.ini" \
  --report "$farm/report.json" 2>/dev/null

python3 - "$run/bench/report.json" "$farm/report.json" <<'EOF'
import json, sys

CARD_BYTES = 16 << 20
def throughput(report):
    steps = [s["ms"] for p in json.load(open(report))["ports"] if "production" in p
             for s in p["production"]["steps"] if s["step"] == "read/write test"]
    if len(steps) != 7:
        sys.exit(f"{report}: {len(steps)} readers ran the read/write test, not 7")
    return 7 * CARD_BYTES / 1e6 / (max(steps) / 1000)
kernel, farm = throughput(sys.argv[1]), throughput(sys.argv[2])
print(f"read/write test, 7 readers x 16 MiB: kernel path (QEMU TCG, usbredir) {kernel:.1f} MB/s, "
      f"in-process farm {farm:.1f} MB/s, ratio {kernel / farm:.3f}")
EOF
