#!/usr/bin/env bash
# Sets up and builds the station alone (its own packages and its executable; scripts/test.sh
# installs and builds everything), then starts it on the built-in simulated reader farm with the
# demo settings (Hub Map, VQ301C-A-1LUN, low-level format 10MB, format, read/write test, card
# information). Without a display it runs one production run headless (Auto Start once), prints
# the port boxes as JSON and exits 0 when every reader passed.
# Arguments replace the defaults, e.g. scripts/run-station.sh --farm my-farm.json
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh --station >&2 # standard output carries the report
station="${TARVIX_BUILD_DIR:-build}/apps/tarvix/tarvix"
if [ $# -eq 0 ]; then
  # The station saves its serial numbers back into its settings file, so the demo runs on a copy
  # kept beside the farm's cards, and the shipped file stays as it is.
  demo="${XDG_CACHE_HOME:-$HOME/.cache}/tarvix/simulated-station.ini"
  mkdir -p "$(dirname "$demo")"
  [ -f "$demo" ] || cp share/simulated-station.ini "$demo"
  set -- --simulate --settings "$demo"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  echo "run-station: no display; one production run headless (xvfb-run $0 opens the window)" >&2
  exec "$station" --headless --report - "$@"
fi
exec "$station" "$@"
