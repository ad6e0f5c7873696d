#!/bin/bash
# The kernel stage inside the guest, run by the guest's init in a chroot on the host's files.
# Installs the station as the Debian package does (udev rule, group "tarvix", cap_sys_rawio on
# the executable), starts udevd, makes an operator account in the station's group, and then runs
# the boot's part of tests/kernel/scenarios.sh. Talks to the host over the second serial port:
# one line out ("pull r5", "judge production", ...), one line back.
# Environment from the kernel's command line: tarvix_out (the run folder, shared writable with
# the host at the same path), tarvix_boot (which boot this is).
set -uo pipefail
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export LANG=C.UTF-8
here="$(cd "$(dirname "$0")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
out=$tarvix_out

say() { echo "guest: $*"; }

# The host's answer to one request. Watchers of a run ask while it goes on: one at a time, or their
# requests and answers interleave on the line.
stty -F /dev/ttyS1 raw -echo
exec 9<>/dev/ttyS1
ask() {
  local reply
  {
    flock 8
    echo "$*" >&9
    IFS= read -r reply <&9
  } 8>/run/tarvix-stage-ask.lock
  echo "$reply"
}

# The package as apt installs it on a running system: udevd already runs and the readers are
# plugged in; the package is unpacked, then configured. A device event between the two (a reader
# plugged in meanwhile) has udevd read the new rule before the configuration runs. dpkg keeps its
# records apart: the host's own take minutes to read over 9p, and the station's dependencies are
# there anyway.
install_station() {
  local admin=/var/lib/tarvix-stage-dpkg
  mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
  touch "$admin/status"
  export SYSTEMD_IGNORE_CHROOT=1
  /lib/systemd/systemd-udevd --daemon
  # The devices of the disks are what the package's rule is about; events for the rest of the
  # machine would only take time under emulation. Not `trigger --settle`: the kernel drops, without
  # an error, the event asked of a disk it is still adding (reading its partition table), and
  # `--settle` then waits for ever; that disk's own event comes when it is added (wait_disks).
  udevadm trigger --action=add --subsystem-match=block --subsystem-match=scsi_generic
  udevadm settle
  say "udevd up at $SECONDS s"
  dpkg --admindir="$admin" --force-depends --unpack "$out/tarvix.deb" >/dev/null
  say "unpacked at $SECONDS s"
  udevadm trigger --action=change --subsystem-match=block
  udevadm settle
  dpkg --admindir="$admin" --force-depends --configure tarvix >/dev/null
  udevadm settle
  say "configured at $SECONDS s"
  # Debian has a group "operator" of its own already.
  useradd --create-home --no-user-group --gid users --groups tarvix operator
}

# The readers' disk and SCSI generic nodes belong to group tarvix, as the package's rule says, and
# nothing else does; otherwise every run would only wait out its opens.
readers_are_the_operators() {
  local node dev vendor ok=0
  for dev in /sys/class/block/sd* /sys/class/scsi_generic/sg*; do
    [ -e "$dev" ] || continue
    node=/dev/$(basename "$dev")
    vendor=$(cat "$(readlink -f "$dev")"/../../../../../../idVendor 2>/dev/null ||
      udevadm info -q property "$dev" | sed -n 's/^ID_VENDOR_ID=//p')
    if [ "$vendor" = 3c7d ] && [ "$(stat -c %G "$node")" != tarvix ]; then
      say "$node of a reader is $(stat -c '%U:%G %a' "$node"), not the station's group's"
      ok=1
    elif [ "$vendor" != 3c7d ] && [ "$(stat -c %G "$node")" = tarvix ]; then
      say "$node is not a reader's but is given to the station's group"
      ok=1
    fi
  done
  return $ok
}

# Gives the disk and SCSI generic nodes of the USB disk with serial number `serial` to the
# station's group, as an administrator might by mistake.
give_to_operator() {
  local disk sg
  disk=$(disk_of "$1")
  sg=$(ls "/sys/class/block/$disk/device/scsi_generic")
  chgrp tarvix "/dev/$disk" "/dev/$sg" && chmod 0660 "/dev/$disk" "/dev/$sg"
}

# Waits until `count` disks sit below USB devices and udev has handled them.
wait_disks() {
  local count=$1 waited=0
  until [ "$(usb_disks | wc -l)" -ge "$count" ] && udev_has_the_disks; do
    sleep 0.5
    waited=$((waited + 1))
    if [ "$waited" -gt 180 ]; then
      say "$(usb_disks | wc -l) of $count disks came$(udev_has_the_disks || echo ', not all handled by udev')"
      return 1
    fi
  done
  udevadm settle
}
usb_disks() { ls -d /sys/bus/usb/devices/*/*/host*/target*/*/block/* 2>/dev/null; }
# Whether udevd has handled the event of every USB disk there is (its database entry is written):
# a disk is in sysfs before the kernel announces it, and `udevadm settle` does not wait for what
# has not been announced yet.
udev_has_the_disks() {
  local disk
  for disk in $(usb_disks); do
    [ -e "/run/udev/data/b$(cat "$disk/dev" 2>/dev/null)" ] || return 1
  done
}

# Has the host serve the farm of the run `name` in place of the last one, and waits until its
# `count` disks are there. The last farm's readers go away while the new ones come, so a count
# alone can be met halfway, with disks about to go: every reader's disk must be one the kernel
# made after the request (a higher disk sequence number).
serve_farm() {
  local name=$1 count=$2 since waited=0
  since=$(cat /sys/class/block/*/diskseq | sort -n | tail -n 1)
  [ "$(ask farm "$name")" = ok ] || { say "the host could not serve $name's farm"; return 1; }
  until [ "$(usb_disks | wc -l)" -eq "$count" ] && [ -z "$(old_reader_disks "$since")" ] &&
    udev_has_the_disks; do
    sleep 0.5
    waited=$((waited + 1))
    if [ "$waited" -gt 180 ]; then
      say "$(usb_disks | wc -l) disks, not $count; left from before: $(old_reader_disks "$since")$(udev_has_the_disks || echo '; not all handled by udev')"
      return 1
    fi
  done
  udevadm settle
}
# The readers' disks made no later than the disk with sequence number $1.
old_reader_disks() {
  local disk usb
  for disk in $(usb_disks); do
    usb=${disk#/sys/bus/usb/devices/}
    [ "$(cat "/sys/bus/usb/devices/${usb%%/*}/idVendor" 2>/dev/null)" = 3c7d ] &&
      [ "$(cat "$disk/diskseq" 2>/dev/null || echo 0)" -le "$1" ] && basename "$disk"
  done
}

# The disk node of the reader `id` (its USB serial number is its id), or of another USB disk by
# its serial number.
disk_of() {
  local dev
  for dev in /sys/class/block/sd*; do
    if [ "$(udevadm info -q property "$dev" | sed -n 's/^ID_SERIAL_SHORT=//p')" = "$1" ]; then
      basename "$dev"
      return
    fi
  done
}

# One headless run of the station as the operator, in $out/NAME: settings TarvixValue.ini there,
# report.json, stderr and the exit code (exit) back. Its trace and its state are written in the
# guest's memory first and copied out at the end: each write to the host's share is a round trip.
# The station's PATH is $station_path when set.
scratch=/tmp/stage
station() {
  local name=$1
  shift
  local dir=$out/$name work=$scratch/$name
  mkdir -p "$work"
  chown -R operator: "$dir" "$work"
  local t0=$SECONDS status
  runuser -u operator -- env PATH="${station_path:-$PATH}" HOME=/home/operator XDG_STATE_HOME="$work/state" \
    tarvix --headless --settings "$dir/TarvixValue.ini" --report "$dir/report.json" --trace "$@" \
    >"$work/stdout" 2>"$work/stderr"
  status=$?
  cp -r "$work/." "$dir/"
  echo $status >"$dir/exit"
  say "$name: station exit $status after $((SECONDS - t0)) s"
}

install_station
# shellcheck source=tests/kernel/scenarios.sh
source "$here/scenarios.sh"
"guest_$tarvix_boot"
