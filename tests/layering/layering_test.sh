#!/usr/bin/env bash
# The folder layering the build relies on, checked on the sources: the core includes no Qt, no
# operating-system header and no backend; nothing below the window model includes it; the farm
# and the shared file helpers do not lean on a system's backend, nor one backend on the other; the
# farm's device server stands on the farm alone.
# Usage: layering_test.sh SRC_DIR
set -uo pipefail
src=$1
status=0
# refuse FOLDERS... -- PATTERN WHY: any include line matching PATTERN under FOLDERS fails.
refuse() {
  local folders=()
  while [ "$1" != "--" ]; do folders+=("$src/$1"); shift; done
  shift
  local found
  found=$(grep -rnE "^#include [<\"]($1)" "${folders[@]}" --include='*.h' --include='*.cpp' || true)
  if [ -n "$found" ]; then
    echo "layering: $2:" >&2
    echo "$found" | sed "s|$src/|  src/|" >&2
    status=1
  fi
}
core=(station text channel fat settings log discovery run app ui/headless)
refuse "${core[@]}" -- 'Q[A-Za-z]|qt/' "the core includes no Qt"
refuse "${core[@]}" -- 'sys/|linux/|unistd\.h|fcntl\.h|windows\.h' \
  "the core includes no operating-system header"
refuse "${core[@]}" -- 'platform/(linux|windows|sim)/|ui/qt/' "the core includes no backend"
refuse station text channel fat settings log discovery run platform ui/headless -- 'app/' \
  "nothing below the window model includes it"
refuse platform/sim platform/files -- 'platform/(linux|windows)/' \
  "the farm and the file helpers do not use a system's backend"
refuse platform/linux -- 'platform/windows/|windows\.h' "the Linux backend uses nothing of Windows"
refuse platform/windows -- 'platform/linux/|sys/|unistd\.h' "the Windows backend uses nothing of Linux"
refuse platform/files -- 'platform/sim/' "the file helpers do not use the farm"
refuse "${core[@]}" platform -- 'farm_usb/' "nothing of the station uses the farm's device server"
refuse farm_usb -- '(station|text|channel|fat|settings|log|discovery|run|app|ui)/|platform/(linux|windows)/' \
  "the device server stands on the farm and the platform layer alone"
# The platform interfaces themselves are as bare as the core.
if grep -nE '^#include [<"](Q[A-Za-z]|sys/|linux/|unistd\.h|fcntl\.h|windows\.h|platform/(linux|windows|sim)/)' \
  "$src"/platform/*.h "$src"/ui/host.h; then
  echo "layering: the platform and host interfaces include nothing of a backend" >&2
  status=1
fi
exit $status
