#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the station need; with --station only
# what building and running the station needs (its compiler, libraries, copy tool and fonts).
# Idempotent: quiet and quick when everything is already there.
set -euo pipefail

station=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  # The configure step finds the device server's usbredir library even for the station alone.
  libudev-dev nlohmann-json3-dev libusbredirparser-dev libpq-dev
  mtools fonts-wqy-microhei
)
packages=("${station[@]}")
if [ "${1:-}" != "--station" ]; then
  packages+=(
    libgtest-dev libgmock-dev
    dosfstools
    postgresql postgresql-common
    xvfb xauth fonts-dejavu-core python3
    clang-format
    dpkg-dev lintian
    clang libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix wine64 googletest
    # The kernel stage: QEMU, the guest's busybox, udevd, and setcap for the package's script.
    qemu-system-x86 busybox-static udev libcap2-bin adduser
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
