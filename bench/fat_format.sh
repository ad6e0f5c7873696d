#!/bin/sh
# Formats 8 GiB and 32 GiB sparse images with our FAT32 formatter and with mkfs.fat -F 32.
#   bench/fat_format.sh [build dir] [bench arguments...]
set -eu
build=${1:-build}
[ $# -gt 0 ] && shift
command -v mkfs.fat >/dev/null || { echo "mkfs.fat (dosfstools) is not installed" >&2; exit 1; }
cmake --build "$build" --target fat_format_bench >/dev/null
exec "$build/bench/fat_format_bench" "$@"
