#!/usr/bin/env bash
# Runs the cross-built Windows tests (scripts/build-windows.sh first) under wine64 in a private
# wine prefix inside the build folder, then one production run of tarvix.exe on the built-in farm
# with the demo settings; when the Linux station is built too, it makes the same run and the two
# reports must be identical.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${TARVIX_WINDOWS_BUILD_DIR:-build-windows}"
linux_station="${TARVIX_BUILD_DIR:-build}/apps/tarvix/tarvix"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX="$PWD/$build/wine-prefix" WINEDEBUG=-all DISPLAY=
# A wine server and services of our own that outlive each program, started with no pipe of ours
# open: started by a test, they would hold CTest's output pipe open and the run would never end.
"$wineserver" -p </dev/null >/dev/null 2>&1 || true # ends in 2 once it runs in the background
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
if [ -f "$WINEPREFIX/.tarvix-booted" ]; then
  "$wine" wineboot </dev/null >/dev/null 2>&1
else
  "$wine" wineboot -i </dev/null >/dev/null 2>&1
  # No debugger: a crashing program ends at once and its test fails.
  "$wine" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger \
    /d '' /f </dev/null >/dev/null 2>&1
  touch "$WINEPREFIX/.tarvix-booted"
fi
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" --timeout 600

# One production run each, on fresh copies of the demo settings (the station saves its serial
# numbers back into them) and fresh farm cards.
runs="$PWD/$build/simulated-runs"
rm -rf "$runs"
mkdir -p "$runs/windows" "$runs/linux"
cp share/simulated-station.ini "$runs/windows/station.ini"
cp share/simulated-station.ini "$runs/linux/station.ini"
windows_path() { echo "Z:${1//\//\\}"; }
rm -rf "$WINEPREFIX"/drive_c/users/*/AppData/Local/Tarvix/cache
"$wine" "$build/tarvix.exe" --headless --simulate \
  --settings "$(windows_path "$runs/windows/station.ini")" \
  --report "$(windows_path "$runs/windows/report.json")" </dev/null
echo "test-windows: tarvix.exe --headless --simulate: every reader passed" >&2
# The Windows backend's own calls (device lists, drive letters, the device watcher) on wine's
# machine, which has no readers: the scan finds none and the station ends.
printf '[Hub Port map]\r\nbCheckHub=1\r\n' >"$runs/windows/scan.ini"
"$wine" "$build/tarvix.exe" --headless --scan-only --settings "$(windows_path "$runs/windows/scan.ini")" \
  --report "$(windows_path "$runs/windows/scan.json")" </dev/null
echo "test-windows: tarvix.exe --headless --scan-only on the Windows backend ended" >&2
if [ -x "$linux_station" ]; then
  XDG_CACHE_HOME="$runs/linux/cache" XDG_STATE_HOME="$runs/linux/state" "$linux_station" \
    --headless --simulate --settings "$runs/linux/station.ini" --report "$runs/linux/report.json" \
    </dev/null
  # Times and durations are the clock's, and which worker draws which serial number is the
  # threads' race: those are compared as sets, everything else line by line.
  for system in linux windows; do
    sed -E 's/("(ms|time|serial)": ).*/\1.../' "$runs/$system/report.json" >"$runs/$system/same.json"
    grep -o '"serial": "[0-9]*"' "$runs/$system/report.json" | sort >"$runs/$system/serials"
  done
  diff -u "$runs/linux/same.json" "$runs/windows/same.json"
  diff -u "$runs/linux/serials" "$runs/windows/serials"
  echo "test-windows: the Linux and the Windows station reported the same run" >&2
fi
