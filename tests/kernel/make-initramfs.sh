#!/usr/bin/env bash
# Builds the kernel stage's initramfs: static busybox, the modules the stage needs with everything
# they depend on (read from each module's .modinfo, since Debian's kmod tools need not be there),
# and the stage's init. Usage: make-initramfs.sh MODULES_DIR OUT.cpio.gz
set -euo pipefail
modules_dir=$1
out=$2
here="$(cd "$(dirname "$0")" && pwd)"

# What the stage uses: the USB host controllers (QEMU's xhci, the USB/IP virtual one), disks,
# CD-ROMs and SCSI generic nodes behind USB storage, the 9p shares under an overlay, the network
# for USB/IP, and vfat to mount a prepared card. The crc helpers are soft dependencies of sd_mod's
# protection-information code, looked up by the crypto layer with no modprobe to ask.
wanted=(crct10dif_generic crc64_rocksoft_generic
  xhci_pci usb_storage sd_mod sr_mod sg
  virtio_pci 9pnet_virtio 9p overlay virtio_net vhci_hcd
  vfat nls_cp437 nls_iso8859_1 nls_ascii)

declare -A path_of
while IFS= read -r ko; do
  name=$(basename "$ko" .ko)
  path_of[${name//-/_}]=$ko
done < <(find "$modules_dir" -name '*.ko')

depends_of() {
  objcopy -O binary -j .modinfo "${path_of[$1]}" /dev/stdout | tr '\0' '\n' |
    sed -n 's/^depends=//p' | tr ',' '\n' | sed '/^$/d; s/-/_/g'
}

# Depth first, so that every module comes after what it depends on.
declare -A seen
order=()
visit() {
  local name=$1 dep
  [ -n "${seen[$name]:-}" ] && return
  seen[$name]=1
  [ -n "${path_of[$name]:-}" ] || { echo "make-initramfs: no module $name in $modules_dir" >&2; exit 1; }
  for dep in $(depends_of "$name"); do visit "$dep"; done
  order+=("$name")
}
for name in "${wanted[@]}"; do visit "$name"; done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root"/{bin,dev,proc,sys,run,lib/modules,host,scratch,newroot}
cp /bin/busybox "$root/bin/busybox"
ln -s busybox "$root/bin/sh"
for name in "${order[@]}"; do
  cp "${path_of[$name]}" "$root/lib/modules/$name.ko"
  echo "$name" >>"$root/lib/modules/order"
done
install -m 0755 "$here/init" "$root/init"
(cd "$root" && find . | LC_ALL=C sort | busybox cpio -o -H newc 2>/dev/null) | gzip -1 >"$out.tmp"
mv "$out.tmp" "$out"
echo "make-initramfs: ${#order[@]} modules, $(($(stat -c %s "$out") / 1024)) KiB" >&2
