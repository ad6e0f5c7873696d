#!/usr/bin/env bash
# The system headers each folder may include. Which project folders a folder may include is the
# build's to enforce (each library sees only the headers of what it links); this check covers
# what the build cannot see: the core includes only the C++ standard library (and the JSON
# library where it reads JSON), and each backend only its own system's headers. Every spelling of
# an include line counts ("#  include", "#include<"), and a header's name is compared exactly.
# Usage: system_headers_test.sh SRC_DIR     checks the tree
#        system_headers_test.sh --self-test  checks that lines which must fail do
set -uo pipefail

std='algorithm|any|csignal|array|atomic|bit|bitset|cassert|cctype|cerrno|cfloat|charconv|chrono|cinttypes|climits|cmath|compare|concepts|condition_variable|cstdarg|cstddef|cstdint|cstdio|cstdlib|cstring|ctime|deque|exception|filesystem|fstream|functional|future|initializer_list|iomanip|ios|iosfwd|iostream|istream|iterator|limits|list|map|memory|mutex|new|numeric|optional|ostream|queue|random|ranges|ratio|regex|set|shared_mutex|span|sstream|stack|stdexcept|streambuf|string|string_view|system_error|thread|tuple|type_traits|typeinfo|unordered_map|unordered_set|utility|variant|vector'
json='nlohmann/json\.hpp'
posix='fcntl\.h|unistd\.h|poll\.h|iconv\.h|langinfo\.h|sys/[a-z_]+\.h'
linux="$posix|linux/[a-z_]+\.h|scsi/sg\.h|libudev\.h"
windows='windows\.h|winioctl\.h|setupapi\.h|cfgmgr32\.h|devpkey\.h|initguid\.h|dbt\.h|ntddscsi\.h|ntddstor\.h|usbioctl\.h|usbiodef\.h|io\.h|share\.h|commctrl\.h|commdlg\.h|shlobj\.h|objbase\.h'
qt='Q[A-Za-z]+'

# The headers a file may include, by where it is.
allowed() {
  case "$1" in
  platform/linux/*) echo "$std|$linux" ;;
  platform/windows/*|ui/win32/*) echo "$std|$windows" ;;
  platform/files/*_posix.cpp) echo "$std|$posix" ;;
  platform/files/*_windows.cpp) echo "$std|$windows|fcntl\.h|sys/stat\.h" ;;
  platform/sim/*|app/*) echo "$std|$json" ;;
  line/database_postgres.cpp) echo "$std|libpq-fe\.h" ;;
  line/*) echo "$std|$json" ;;
  farm_usb/*) echo "$std|$posix|netinet/[a-z_]+\\.h|arpa/inet\\.h|usbredir(parser|filter)\\.h" ;;
  ui/qt/*) echo "$std|$qt" ;;
  *) echo "$std" ;;
  esac
}

# Project folders no core file may include, whatever it links: backends and window front ends.
backends='platform/(linux|windows|sim)/|ui/(qt|win32|headless)/'
core() {
  case "$1" in platform/linux/* | platform/windows/* | platform/sim/* | ui/qt/* | ui/win32/* | ui/headless/* | farm_usb/*) return 1 ;; esac
  return 0
}

check() {
  local src=$1 status=0 file relative line header allowed_here core_here
  while IFS= read -r file; do
    relative=${file#"$src"/}
    # Once per file: each is a subshell, and a file has many include lines.
    allowed_here=$(allowed "$relative")
    core_here=0
    core "$relative" && core_here=1
    while IFS= read -r line; do
      if [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<([^\>]+)\> ]]; then
        header=${BASH_REMATCH[1]}
        if ! [[ $header =~ ^($allowed_here)$ ]]; then
          echo "layering: src/$relative: <$header> is not a header this folder may use" >&2
          status=1
        fi
      elif [[ $line =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
        header=${BASH_REMATCH[1]}
        if [ $core_here = 1 ] && [[ $header =~ ^($backends) ]]; then
          echo "layering: src/$relative: \"$header\" is a backend; only apps/ picks one" >&2
          status=1
        fi
      fi
    done <"$file"
  done < <(find "$src" -name '*.h' -o -name '*.cpp')
  return $status
}

if [ "${1:-}" != "--self-test" ]; then
  check "$1"
  exit $?
fi

# Each of these lines, in a core file, must fail the check; the tree without them must pass.
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree/run"
printf '#include <vector>\n#include "channel/replies.h"\n' >"$tree/run/ok.cpp"
check "$tree" 2>/dev/null || { echo "self-test: a clean file failed" >&2; exit 1; }
status=0
while IFS= read -r bad; do
  printf '%s\n' "$bad" >"$tree/run/bad.cpp"
  if check "$tree" 2>/dev/null; then
    echo "self-test: passed what it must refuse: $bad" >&2
    status=1
  fi
done <<'LINES'
#include <libudev.h>
#include <scsi/sg.h>
#include <Windows.h>
#include <poll.h>
#include "ui/win32/station_view.h"
#  include <sys/ioctl.h>
#include<unistd.h>
#include <QWidget>
#include "platform/sim/farm.h"
LINES
exit $status
