#!/usr/bin/env bash
# Runs the cross-built Windows tests (scripts/build-windows.sh) under wine64 in a private wine
# prefix, then a whole production run of tarvix.exe on the built-in farm, headless.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TARVIX_WINDOWS_BUILD_DIR:-build-windows}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all DISPLAY=
# Once per prefix; afterwards every program starts within a second or so.
[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
"$wine"server -p 60 2>/dev/null || "${wine%64}server" -p 60 2>/dev/null || true
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 900

# The station itself: a production run on the built-in farm, its cards under the prefix.
report="$build/simulate-report.json"
"$wine" "$build/tarvix.exe" --headless --simulate --report "$(winepath_of() { echo "Z:${1//\//\\}"; }; winepath_of "$PWD/$report")"
echo "test-windows: tarvix.exe --headless --simulate passed; report in $report" >&2
