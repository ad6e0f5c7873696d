# The kernel stage's boots and scenarios, sourced by scripts/test-kernel.sh on the host and by
# guest.sh in the guest. A boot NAME has three parts: host_NAME lays out its run folder and names
# the QEMU devices, guest_NAME runs its scenarios in the guest, and judge_SCENARIO judges one
# scenario on the host when the guest asks ("judge SCENARIO"), by the report, the exit code and
# the cards; verdicts_of NAME lists the scenarios a boot must have judged. Cards stay small: every
# byte crosses an emulated USB bus under TCG.
# shellcheck shell=bash

# The model every scenario prepares, and the steps of a whole production run.
model=VQ301C-A-1LUN
full_run="model=$model,llf,cardinfo,rw=1,bin,copy,capacity,label=KERNEL"

verdicts_of() {
  case $1 in
  stage) echo roots production vfat-readback trouble ;;
  *) echo "$1" ;;
  esac
}

# ---- stage: one boot for NO Hub Map, the production run and the trouble run ------------------

# One USB tree for every scenario, so that the guest boots once; each run is served only its own
# readers (the device server is started anew and QEMU reconnects). Root ports 1 to 3 hold
# seven-port hubs with readers r1 to r21; readers a1, a2 and a3 sit straight in root ports 4, 6
# and 7, a4 behind a hub in root port 5; a plain disk (QEMU's usb-storage, "QEMU HARDDISK", vendor
# 46f4) in root port 8 all along. The plain disk is a SuperSpeed device on the xhci's second bus,
# whose ports the walk counts after the first bus's eight: root port 8 is ordinal 16.
#
# A farm of `hubs` seven-port hubs in root ports 1 on, each full of readers with `mib` cards;
# then pairs of a reader id and what its entry adds ("r4" ', "partitioned": true'), "roots" and
# the root-port readers' entries, or "events" and the farm's events.
hub_farm() {
  local hubs=$1 mib=$2 h p id entries=() events=""
  shift 2
  declare -A extra=()
  while [ $# -gt 0 ]; do
    case $1 in
    events) events=", \"events\": $2" ;;
    roots) entries+=("$2") ;;
    *) extra[$1]=$2 ;;
    esac
    shift 2
  done
  for h in $(seq 1 "$hubs"); do
    local readers=()
    for p in 1 2 3 4 5 6 7; do
      id=r$(((h - 1) * 7 + p))
      readers+=("{\"port\": $p, \"reader\": {\"id\": \"$id\", \"model\": \"$model\", \"cardMiB\": $mib${extra[$id]:-}}}")
    done
    entries+=("{\"port\": $h, \"hub\": {\"ports\": 7, \"attached\": [$(IFS=,; echo "${readers[*]}")]}}")
  done
  echo "{\"imageDir\": \"images\", \"hostControllers\": [{\"rootHubPorts\": 8, \"attached\": [$(IFS=,; echo "${entries[*]}")]}]$events}"
}
root_reader() { echo "{\"port\": $1, \"reader\": {\"id\": \"$2\", \"model\": \"$model\", \"cardMiB\": $card_mib}}"; }
root_readers() {
  echo "$(root_reader 4 a1), $(root_reader 6 a2), $(root_reader 7 a3),
    {\"port\": 5, \"hub\": {\"ports\": 7, \"attached\": [$(root_reader 1 a4)]}}"
}
# Cards as small as the steps allow: a FAT16 volume, the hidden areas and the files fit in 8 MiB,
# and a forged card needs room to be shown smaller than it claims.
card_mib=8

roots_run="model=$model,nohubmap,cardinfo,copy,label=ROOTS"
# The trouble run: capacity check, format, areas and copy on hub 1 alone, each reader with its
# own trouble.
trouble_run="model=$model,cardinfo,bin,copy,capacity,label=TROUBLE"
# How many capacity queries r2 answers before the one after its card is re-laid.
ua_after=7
# How many writes r3 takes before the format's first: the capacity check's stamp and restore of
# each of its blocks, one at every MiB of an 8 MiB card and one at its end.
writes_before_format=18
# The first data sector of the volume the station lays on such a card with its areas: only the copy
# writes there.
data_sector=161

host_stage() {
  # The whole tree, for QEMU's devices; each run is served only its own readers, as the station
  # has 23 letters for 26 disks.
  hub_farm 3 "$card_mib" roots "$(root_readers)" >"$run/layout.json"
  qemu_layout=$run/layout.json
  hub_farm 0 "$card_mib" roots "$(root_readers)" >"$run/farm.json"
  # r4's card comes partitioned from the factory: the kernel makes a partition node of it.
  hub_farm 3 "$card_mib" r4 ', "partitioned": true' >"$run/production.json"
  # r1 is forged (4 MiB real), r2 answers UNIT ATTENTION to the first capacity query after the
  # controller re-lays its card, r3 is pulled out at the format's first write, r6 is plugged in
  # while the run is on; the guest pulls r4 and makes r5's card go bad (trouble below).
  hub_farm 1 "$card_mib" r1 ', "realMiB": 4, "forgery": "wrap"' \
    r2 ", \"faults\": [{\"command\": \"GetCapacity\", \"after\": $ua_after, \"fault\": \"unitAttention\", \"times\": 1}]" \
    r3 ", \"faults\": [{\"command\": \"WriteSector\", \"after\": $writes_before_format, \"fault\": \"pull\"}]" \
    r6 ', "plugged": false' >"$run/trouble.json"
  serve "$run/farm.json"
  # Filled, so that any write shows in its checksum.
  head -c $((16 << 20)) /dev/urandom >"$run/plain.img"
  qemu_devices+=(-drive "if=none,id=plain,format=raw,cache=unsafe,file=$run/plain.img"
    -device "usb-storage,bus=xhci.0,port=8,drive=plain,serial=PLAIN,removable=on")
  judge lay "$run/roots" "$roots_run"
  judge lay "$run/production" "$full_run"
  judge lay "$run/trouble" "$trouble_run"
  (cd "$run" && sha256sum plain.img images/a4.img >untouched.sha256)
}
guest_stage() {
  wait_disks 5
  readers_are_the_operators || return 1
  # The plain disk is given to the operator too, as if by mistake: the station must refuse it for
  # what it answers, not only because it cannot open it.
  give_to_operator PLAIN
  station roots
  ask judge roots
  serve_farm production 22 || return 1
  station production
  ask judge production
  vfat_readback r1 "$out/production"
  serve_farm trouble 7 || return 1
  trouble
  ask judge trouble
}

# NO Hub Map: the root-port readers pass in the boxes of their ordinals; the plain disk is refused
# and, like the readers behind hubs, never written.
judge_roots() {
  judge check "$run/roots" "$roots_run" "$run/roots/report.json" "$(cat "$run/roots/exit")" \
    "$run/images" 4=a1:pass 6=a2:pass 7=a3:pass 16=plain:refused &&
    (cd "$run" && sha256sum --quiet -c untouched.sha256 &&
      sha256sum plain.img images/a*.img >after-roots.sha256)
}
# Hub Map: the hubs' readers in boxes 1 to 21; the plain disk gets none, and neither it nor the
# root-port readers' cards are written.
judge_production() {
  judge check "$run/production" "$full_run" "$run/production/report.json" \
    "$(cat "$run/production/exit")" "$run/images" $(for n in $(seq 1 21); do echo "$n=r$n:pass"; done) &&
    (cd "$run" && sha256sum --quiet -c after-roots.sha256)
}

# Mounts the card of the reader `reader` as vfat, as a customer's computer would, and compares
# the files the run in `dir` copied.
vfat_readback() {
  local reader=$1 dir=$2 disk verdict=pass
  disk=$(disk_of "$reader")
  mkdir -p /mnt/card
  if ! mount -t vfat -o ro "/dev/$disk" /mnt/card; then
    verdict="fail: /dev/$disk does not mount as vfat"
  elif ! cmp -s /mnt/card/hello.txt "$dir/hello.txt" || ! cmp -s /mnt/card/Docs/inner.txt "$dir/Docs/inner.txt"; then
    verdict="fail: the copied files read back otherwise: $(ls -R /mnt/card | tr '\n' ' ')"
  fi
  umount /mnt/card 2>/dev/null
  ask result vfat-readback "$verdict"
}

# The trouble run, with the pull and the plug the guest makes while it goes on (r3's pull is the
# farm's: a pull between two of the guest's looks at the disk came too late for a quick format,
# now and then). The copy tool the station finds on its PATH holds on r4's and r5's disks
# until the scenario lets it go. Meanwhile r6 is plugged in (and started: a run starts the readers
# that come while it is on) and r4 pulled (and gone from sysfs); r5's card goes bad: every write
# to its volume's data fails, which the kernel makes only after the copy tool has exited. Holding
# the copy keeps the run going, so none of it depends on how fast the emulated machine is.
trouble() {
  local r4 r5 trace=$scratch/trouble/stderr gate=$scratch/copy-gate watchers=()
  r4=$(disk_of r4)
  r5=$(disk_of r5)
  # Without its disk a reader's copy would not be held, and the run would not be what it says.
  [ -n "$r4" ] && [ -n "$r5" ] || { say "no disk for r4 ($r4) or r5 ($r5)"; return 1; }
  rm -rf "$gate"
  mkdir -p "$gate/bin"
  printf '%s\n' '#!/bin/sh' \
    'for arg; do case $arg in /dev/*) disk=${arg#/dev/} ;; esac; done' \
    "if [ -n \"\$disk\" ] && [ -e $gate/\$disk.hold ]; then" \
    "  touch $gate/\$disk.started" \
    "  until [ -e $gate/\$disk.go ]; do sleep 0.05; done" \
    'fi' \
    'exec /usr/bin/mcopy "$@"' >"$gate/bin/mcopy"
  chmod 0755 "$gate/bin/mcopy"
  touch "$gate/$r4.hold" "$gate/$r5.hold"
  chown -R operator: "$gate"
  (
    until [ -e "$gate/$r4.started" ]; do sleep 0.1; done
    say "plugging r6 while r4's copy waits: $(ask plug r6)"
    until grep -qs " port 6: " "$trace"; do sleep 0.2; done
    say "pulling r4 ($r4) with its copy started: $(ask pull r4)"
    until [ ! -e "/sys/class/block/$r4" ]; do sleep 0.1; done
    touch "$gate/$r4.go"
  ) &
  watchers+=($!)
  (
    until [ -e "$gate/$r5.started" ]; do sleep 0.1; done
    say "r5's data area failing writes: $(ask fault r5 "{\"command\": \"WriteSector\", \"fault\": \"fail\", \"fromSector\": $data_sector}")"
    touch "$gate/$r5.go"
  ) &
  watchers+=($!)
  station_path="$gate/bin:$PATH" station trouble
  kill "${watchers[@]}" 2>/dev/null
  wait
  [ -e "$gate/$r4.go" ] && [ -e "$gate/$r5.go" ] || say "the run ended before r4's and r5's copies"
}
judge_trouble() {
  judge check "$run/trouble" "$trouble_run" "$run/trouble/report.json" \
    "$(cat "$run/trouble/exit")" "$run/images" 1=r1:forged=4 2=r2:pass 3=r3:pulled=format \
    "4=r4:pulled=copy files" "5=r5:fail=copy files" 6=r6:pass 7=r7:pass &&
    # The readers not served (r8 to r21) are as the production run left them.
    (cd "$run/images" && grep -E ' r([89]|1[0-9]|2[01])\.img$' ../untouched.sha256 |
      sha256sum --quiet -c -)
}

# ---- bench: the work of bench/kernel_path.sh --------------------------------------------------

bench_run="model=$model,rw=1,label=BENCH"
host_bench() {
  hub_farm 1 16 >"$run/farm.json"
  serve "$run/farm.json"
  judge lay "$run/bench" "$bench_run"
  # The station saves its serial number into the file it ran with; the in-process run starts from
  # the same settings.
  cp "$run/bench/TarvixValue.ini" "$run/bench/TarvixValue.ini.laid"
}
guest_bench() {
  wait_disks 7
  readers_are_the_operators || return 1
  station bench
  ask judge bench
}
judge_bench() {
  judge check "$run/bench" "$bench_run" "$run/bench/report.json" "$(cat "$run/bench/exit")" \
    "$run/images" $(for n in $(seq 1 7); do echo "$n=r$n:pass"; done)
}

# ---- usbip: readers attached over USB/IP, as on a PC with no readers at hand ------------------

# Two readers attached to vhci-hcd over QEMU's user network, which reaches nothing but the server
# (at 10.0.2.100:3240 for the guest; QEMU starts a netcat for each connection the guest makes, as
# a character device would connect once, when QEMU starts). The virtual controller's root ports
# come after the xhci's sixteen in the walk: boxes 17 and 18.
usbip_run="model=$model,nohubmap,cardinfo,copy,label=USBIP"
usbip_port=$((3240 + RANDOM % 1000))
host_usbip() {
  local reader='"model": "'$model'", "cardMiB": 8'
  cat >"$run/farm.json" <<EOF
{"imageDir": "images", "hostControllers": [{"rootHubPorts": 8, "attached": [
  {"port": 1, "reader": {"id": "r1", $reader}}, {"port": 2, "reader": {"id": "r2", $reader}}]}]}
EOF
  serve "$run/farm.json" --usbip "127.0.0.1:$usbip_port"
  kernel_args=" tarvix_usbip=1"
  qemu_devices+=(-device qemu-xhci,id=xhci,p2=8,p3=8
    -netdev "user,id=net,restrict=on,guestfwd=tcp:10.0.2.100:3240-cmd:/bin/busybox nc 127.0.0.1 $usbip_port"
    -device virtio-net-pci,netdev=net,romfile=)
  judge lay "$run/usbip" "$usbip_run"
}
guest_usbip() {
  ip link set lo up
  ip link set eth0 up
  ip addr add 10.0.2.15/24 dev eth0
  python3 "$here/usbip_attach.py" 10.0.2.100 3240 r1 r2 || return 1
  wait_disks 2
  readers_are_the_operators || return 1
  station usbip
  ask judge usbip
}
judge_usbip() {
  judge check "$run/usbip" "$usbip_run" "$run/usbip/report.json" "$(cat "$run/usbip/exit")" \
    "$run/images" 17=r1:pass 18=r2:pass
}
