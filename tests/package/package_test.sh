#!/usr/bin/env bash
# The Debian package as a user receives it: built by CPack from this build, lintian-clean, its
# files where the desktop, man and udev look for them, and its post-install script doing what the
# rights on Linux need. Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pack" -D CPACK_OUTPUT_FILE_PREFIX="$work/out" >/dev/null)
deb=$(ls "$work"/out/tarvix_*_*.deb)
[ -n "$deb" ] || fail "no package was made"
lintian --fail-on error "$deb" >"$work/lintian" 2>&1 || { cat "$work/lintian" >&2; fail "lintian"; }

dpkg-deb -x "$deb" "$work/root"
for file in usr/bin/tarvix usr/share/applications/tarvix.desktop \
  usr/share/icons/hicolor/scalable/apps/tarvix.svg usr/share/metainfo/org.tarvix.Tarvix.metainfo.xml \
  usr/share/man/man1/tarvix.1.gz usr/lib/udev/rules.d/70-tarvix.rules \
  usr/share/doc/tarvix/copyright usr/share/doc/tarvix/changelog.gz; do
  [ -s "$work/root/$file" ] || fail "missing /$file"
done
"$work/root/usr/bin/tarvix" --help >/dev/null || fail "the installed executable does not run"
# It carries cap_sys_rawio: built as Debian hardens what it ships.
station="$work/root/usr/bin/tarvix"
# Read into files first: under pipefail, a grep -q that stops early fails the pipeline through
# the writer's SIGPIPE, which is a matter of timing.
readelf -d "$station" >"$work/dynamic"
readelf -lW "$station" >"$work/segments"
readelf --dyn-syms -W "$station" >"$work/symbols"
grep -Eq 'BIND_NOW|FLAGS_1.* NOW' "$work/dynamic" || fail "not linked with BIND_NOW"
grep -q GNU_RELRO "$work/segments" || fail "not linked with RELRO"
grep -q __stack_chk_fail "$work/symbols" || fail "not built with the stack protector"
grep -Eq '__[a-z0-9]*[^k]_chk@' "$work/symbols" || fail "not built with FORTIFY"
# Accounts outside the group may not run it, so their menus leave it out.
grep -qx 'TryExec=tarvix' "$work/root/usr/share/applications/tarvix.desktop" ||
  fail "desktop entry without TryExec"
depends=$(dpkg-deb -f "$deb" Depends)
grep -q mtools <<<"$depends" || fail "no dependency on mtools"
grep -q libqt6widgets6 <<<"$depends" || fail "no dependency on the Qt libraries"

# The rule gives the readers of the listed vendor, and only them, to the station's group.
rules="$work/root/usr/lib/udev/rules.d/70-tarvix.rules"
grep -v '^#' "$rules" | grep -q . || fail "empty udev rule"
if grep -v '^#' "$rules" | grep -v 'ATTRS{idVendor}=="3c7d"' | grep -q .; then
  fail "a udev rule matches more than the listed vendor"
fi
grep -q 'GROUP="tarvix", MODE="0660"' "$rules" || fail "udev rule without group and mode"
grep -q 'UDISKS_IGNORE}="1"' "$rules" || fail "udev rule lets the desktop mount cards"

dpkg-deb -e "$deb" "$work/control"
postinst="$work/control/postinst"
sh -n "$postinst" || fail "postinst does not parse"
grep -q 'addgroup --system tarvix' "$postinst" || fail "postinst makes no group"
grep -q 'setcap cap_sys_rawio+ep /usr/bin/tarvix' "$postinst" || fail "postinst sets no capability"
grep -q 'chmod 0750 /usr/bin/tarvix' "$postinst" || fail "postinst leaves the executable open"
# One station, one counter and one production log, whoever operates it; gone with a purge.
grep -q 'install -d -o root -g tarvix -m 2775 /var/lib/tarvix /var/log/tarvix' "$postinst" ||
  fail "postinst makes no station-wide folders"
grep -q 'rm -rf /var/lib/tarvix /var/log/tarvix' "$work/control/postrm" ||
  fail "postrm leaves the station's folders behind on purge"
if grep -o 'cap_[a-z_]*' "$postinst" | grep -qv cap_sys_rawio; then
  fail "postinst grants more than cap_sys_rawio"
fi
echo "package: $(basename "$deb") checked"
