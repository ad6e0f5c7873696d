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
  qemu_devices+=(-device qemu-xhci,id=xhci,p2=8,p3=8 -device usb-hub,bus=xhci.0,port=3,ports=7)
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
  readers_are_the_operators || return 1
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

# ---- hubs: 21 readers on three 7-port hubs, served over usbredir -----------------------------

# A farm of `cardMiB` cards on three seven-port hubs in root ports 1 to 3; `extra` is added to
# the reader whose id is its key ("r5": ', "partitioned": true').
hub_farm() {
  local mib=$1 h p id entries=()
  shift
  declare -A extra=()
  while [ $# -gt 0 ]; do
    extra[$1]=$2
    shift 2
  done
  for h in 1 2 3; do
    local readers=()
    for p in 1 2 3 4 5 6 7; do
      id=r$(((h - 1) * 7 + p))
      readers+=("{\"port\": $p, \"reader\": {\"id\": \"$id\", \"model\": \"$model\", \"cardMiB\": $mib${extra[$id]:-}}}")
    done
    entries+=("{\"port\": $h, \"hub\": {\"ports\": 7, \"attached\": [$(IFS=,; echo "${readers[*]}")]}}")
  done
  echo "{\"imageDir\": \"images\", \"hostControllers\": [{\"rootHubPorts\": 8, \"attached\": [$(IFS=,; echo "${entries[*]}")]}]}"
}
# port=ID:pass for every box of the hubs.
all_pass() {
  local n
  for n in $(seq 1 21); do echo "$n=r$n:pass"; done
}

host_hubs() {
  hub_farm 8 >"$run/farm.json"
  serve "$run/farm.json"
  judge lay "$run/production" "$full_run"
}
guest_hubs() {
  wait_disks 21
  readers_are_the_operators || return 1
  station production
  ask judge production
}
judge_production() {
  judge check "$run/production" "$full_run" "$run/production/report.json" \
    "$(cat "$run/production/exit")" "$run/images" $(all_pass)
}
