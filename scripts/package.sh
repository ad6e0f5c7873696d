#!/usr/bin/env bash
# Builds the Debian package build/tarvix_<version>_<arch>.deb and checks it with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
build="${TARVIX_BUILD_DIR:-build}"
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls -t "$build"/tarvix_*.deb | head -n1)
# Errors fail the build; warnings are shown.
lintian --fail-on error "$deb"
echo "$deb"
