# The kernel stage's boots and scenarios, sourced by scripts/test-kernel.sh on the host and by
# guest.sh in the guest. A boot NAME has three parts: host_NAME lays out its run folder and names
# the QEMU devices, guest_NAME runs its scenarios in the guest, and judge_SCENARIO judges one
# scenario on the host when the guest asks ("judge SCENARIO"), by the report, the exit code and
# the cards. Cards stay small: every byte crosses an emulated USB bus under TCG.
# shellcheck shell=bash

# The model every scenario prepares, and the steps of a whole production run.
model=VQ301C-A-1LUN
full_run="model=$model,llf,cardinfo,rw=1,bin,copy,capacity,label=KERNEL"

# ---- plain: USB disks that are not readers, no device server --------------------------------

# Root ports 2 and 5 hold plain disks (QEMU's usb-storage, "QEMU HARDDISK", vendor 46f4), and a
# hub on root port 3 holds a third. The disks are SuperSpeed devices, so they sit on the xhci's
# second bus, whose eight ports the walk counts after the first bus's eight: boxes 10 and 13.
plain_disks=(2 5 3.1)
host_plain() {
  local i=0 at
  qemu_devices+=(-device usb-hub,bus=xhci.0,port=3,ports=7)
  for at in "${plain_disks[@]}"; do
    i=$((i + 1))
    # Filled, so that any write shows in its checksum.
    head -c $((16 << 20)) /dev/urandom >"$run/plain$i.img"
    qemu_devices+=(-drive "if=none,id=plain$i,format=raw,cache=unsafe,file=$run/plain$i.img"
      -device "usb-storage,bus=xhci.0,port=$at,drive=plain$i,serial=PLAIN$i,removable=on")
  done
  (cd "$run" && sha256sum plain*.img >plain.sha256)
  judge lay "$run/noh-scan" "model=$model,nohubmap,scanonly"
  judge lay "$run/plain-refused" "$full_run,nohubmap"
}
guest_plain() {
  wait_disks 3
  station noh-scan --scan-only
  ask judge noh-scan
  station plain-refused
  ask judge plain-refused
}
# NO Hub Map: the disks on root ports 2 and 5 get those port boxes and are refused as not readers
# of the model; the one behind the hub gets no box.
judge_noh_scan() {
  judge check "$run/noh-scan" "model=$model,nohubmap,scanonly" "$run/noh-scan/report.json" \
    "$(cat "$run/noh-scan/exit")" "$run" 10=plain1:refused 13=plain2:refused
}
# A production run on them refuses them all and writes nothing to any.
judge_plain_refused() {
  judge check "$run/plain-refused" "$full_run,nohubmap" "$run/plain-refused/report.json" \
    "$(cat "$run/plain-refused/exit")" "$run" 10=plain1:refused 13=plain2:refused &&
    (cd "$run" && sha256sum --quiet -c plain.sha256)
}
