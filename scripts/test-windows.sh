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

# tarvix.exe is a window program (no console opens behind it when started from Explorer) that
# still prints what it has to say where it was started from.
headers=$(x86_64-w64-mingw32-objdump -p "$build/tarvix.exe")
if ! grep -q '^Subsystem.*Windows GUI' <<<"$headers"; then
  echo "test-windows: tarvix.exe is not a window program" >&2
  exit 1
fi
version=$("$wine" "$build/tarvix.exe" --version </dev/null)
status=0
usage=$("$wine" "$build/tarvix.exe" --no-such-option </dev/null 2>&1 >/dev/null) || status=$?
if [[ "$version" != "tarvix "* || $status != 2 || "$usage" != "tarvix: "* ]]; then
  echo "test-windows: tarvix.exe printed '$version' and, refusing an option, '$usage' ($status)" >&2
  exit 1
fi

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

# The station window under wine (TARVIX_WINDOW_CHECK=0 skips it): on a virtual 1366 x 768 display,
# in each language, Auto Start pressed through the window's own messages, the farm run to its end,
# every control's text on screen against the model's, every reader's port box at pass, and at 100,
# 150 and 200 % a screenshot into $build/screenshots/ and every field and label measured against
# the widest text it may show.
if [ "${TARVIX_WINDOW_CHECK:-1}" != 0 ]; then
  shots="$PWD/$build/screenshots"
  rm -rf "$shots"
  mkdir -p "$shots"
  # The wine session so far has no display: a new one on the virtual display.
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  display=91
  while [ -e "/tmp/.X11-unix/X$display" ]; do display=$((display + 1)); done
  # The smallest screen a station PC is expected to have.
  Xvfb ":$display" -screen 0 1366x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true; "$wineserver" -k >/dev/null 2>&1 || true' EXIT
  export DISPLAY=":$display"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
  # Wine has none of the faces the window asks for: the build machine's fonts stand in.
  substitutes='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
  for face in "Microsoft YaHei" "Microsoft JhengHei"; do
    "$wine" reg add "$substitutes" /v "$face" /d "WenQuanYi Micro Hei" /f </dev/null >/dev/null 2>&1
  done
  for face in "Segoe UI" "Arial Black"; do
    "$wine" reg add "$substitutes" /v "$face" /d "DejaVu Sans" /f </dev/null >/dev/null 2>&1
  done
  readers=$(grep -c '"result": "pass"' "$runs/windows/report.json")
  for nLan in 1 2 3; do
    mkdir -p "$runs/window-$nLan"
    sed "s/^nLan=[0-9]*/nLan=$nLan/" share/simulated-station.ini >"$runs/window-$nLan/station.ini"
    shot="$shots/language-$nLan.bmp"
    TARVIX_AUTOSTART_AND_SCREENSHOT="$(windows_path "$shot")" "$wine" "$build/tarvix.exe" \
      --simulate --settings "$(windows_path "$runs/window-$nLan/station.ini")" </dev/null
    diff -u "$shot.model.txt" "$shot.shown.txt"
    if [ "$(grep -c -E ' (pass|default-pass)$' "$shot.pictures.txt")" != "$readers" ]; then
      echo "test-windows: language $nLan: not every reader's port box shows pass" >&2
      exit 1
    fi
    # Only the window's close writes the copy-file list: its section shows the close saved.
    if ! grep -q '^\[Copy File\]' "$runs/window-$nLan/station.ini"; then
      echo "test-windows: language $nLan: closing the window did not save the settings" >&2
      exit 1
    fi
    # At 100, 150 and 200 % every field and label holds its widest text.
    if [ -s "$shot.clipped.txt" ]; then
      echo "test-windows: language $nLan: texts cut off:" >&2
      cat "$shot.clipped.txt" >&2
      exit 1
    fi
    for picture in "$shot" "${shot%.bmp}-150.bmp" "${shot%.bmp}-200.bmp"; do
      python3 scripts/bmp-to-png.py "$picture" "${picture%.bmp}.png"
    done
  done
  echo "test-windows: the station window ran the farm to its end in all three languages" >&2
fi
