#!/usr/bin/env python3
"""Writes the recorded sysfs trees the Linux USB backend is tested on.

Each tree is a miniature /sys: devices/ with USB devices, interfaces, SCSI hosts and block
devices, plus the bus/usb/devices, class/block and dev/block links the backend reads. A tree is
described in a few lines at the bottom of this file; only the attributes the backend reads are
written.

  make_fixtures.py            rewrite the trees next to this script
  make_fixtures.py --check    fail when the committed trees differ from what the script writes
  make_fixtures.py --out DIR  write the trees below DIR
"""

import filecmp
import os
import shutil
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


# ---- what a tree is made of -------------------------------------------------------------------

def hub(ports, on=None):
    return {"kind": "hub", "ports": ports, "on": on or {}}


def chained_hub7(on):
    """A seven-port hub built from two chained four-port chips: hub ports 1-3 are the outer
    chip's, and the inner chip on the outer chip's port 4 carries hub ports 4-7."""
    outer = {p: node for p, node in on.items() if p <= 3}
    outer[4] = hub(4, {p - 3: node for p, node in on.items() if p >= 4})
    return hub(4, outer)


def reader(*luns, card=True):
    """A card reader; each LUN is "card" (removable disk) or "cd" (CD-ROM)."""
    return {"kind": "storage", "luns": list(luns), "removable": True, "card": card}


def usb_disk(holder=None):
    """A fixed USB disk with one partition; `holder` puts a device-mapper device on it."""
    return {"kind": "storage", "luns": ["disk"], "removable": False, "card": True,
            "holder": holder}


# ---- writing ----------------------------------------------------------------------------------

class Tree:
    def __init__(self, root):
        self.root = root
        self.next_host = 0
        self.next_sd = 0
        self.next_sr = 0

    def path(self, rel):
        return os.path.join(self.root, rel)

    def link(self, rel, target_rel):
        os.makedirs(os.path.dirname(self.path(rel)), exist_ok=True)
        os.symlink(os.path.relpath(self.path(target_rel), os.path.dirname(self.path(rel))),
                   self.path(rel))

    def node(self, rel, subsystem, **attrs):
        os.makedirs(self.path(rel), exist_ok=True)
        os.makedirs(self.path(subsystem), exist_ok=True)
        self.link(rel + "/subsystem", subsystem)
        for name, value in sorted(attrs.items()):
            with open(self.path(rel + "/" + name), "w") as out:
                out.write(f"{value}\n")

    def block(self, rel, name, dev, **attrs):
        self.node(rel, "class/block", dev=dev, **attrs)
        self.link("class/block/" + name, rel)
        self.link("dev/block/" + dev, rel)

    def scsi_unit(self, parent, host, lun, kind, removable, card, holder=None, host_dir=True):
        """A SCSI host (once per LUN 0, unless `parent` is the host's own place), its target, one
        LUN and its block device."""
        base = f"{parent}/host{host}" if host_dir else parent
        target = f"{base}/target{host}:0:0"
        if lun == 0:
            self.node(base, "bus/scsi")
            self.node(target, "bus/scsi")
        unit = f"{target}/{host}:0:0:{lun}"
        self.node(unit, "bus/scsi", type=5 if kind == "cd" else 0)
        if kind == "cd":
            name, dev = f"sr{self.next_sr}", f"11:{self.next_sr}"
            self.next_sr += 1
        else:
            name = "sd" + chr(ord("a") + self.next_sd)
            dev = f"8:{16 * self.next_sd}"
            self.next_sd += 1
        rel = f"{unit}/block/{name}"
        self.block(rel, name, dev, removable=1 if removable else 0)
        self.link(rel + "/device", unit)
        if kind != "cd" and card:
            major, minor = dev.split(":")
            self.block(f"{rel}/{name}1", f"{name}1", f"{major}:{int(minor) + 1}", partition=1)
            if holder:
                self.node(f"devices/virtual/block/{holder}", "class/block")
                self.link(f"{rel}/{name}1/holders/{holder}", f"devices/virtual/block/{holder}")
        return name

    def host(self, explicit=None):
        if explicit is not None:
            return explicit
        self.next_host += 1
        return self.next_host - 1

    def usb_device(self, parent, name, what):
        rel = f"{parent}/{name}"
        if what["kind"] == "hub":
            self.node(rel, "bus/usb", bDeviceClass="09", maxchild=what["ports"])
            self.link("bus/usb/devices/" + name, rel)
            self.node(f"{rel}/{name}:1.0", "bus/usb", bInterfaceClass="09")
            self.link(f"bus/usb/devices/{name}:1.0", f"{rel}/{name}:1.0")
            for port, child in sorted(what["on"].items()):
                self.usb_device(rel, f"{name}.{port}", child)
            return
        self.node(rel, "bus/usb", bDeviceClass="00", maxchild=0)
        self.link("bus/usb/devices/" + name, rel)
        interface = f"{rel}/{name}:1.0"
        self.node(interface, "bus/usb", bInterfaceClass="08")
        self.link(f"bus/usb/devices/{name}:1.0", interface)
        host = self.host(what.get("host"))
        for lun, kind in enumerate(what["luns"]):
            self.scsi_unit(interface, host, lun, kind, what["removable"], what["card"],
                           what.get("holder"))

    def controller(self, pci, bus, ports, on):
        """A host controller: its PCI function and its root hub usbN; root ports are N-p. An
        xHCI function carries two root hubs: called once for each."""
        if not os.path.lexists(self.path(pci + "/subsystem")):
            self.node(pci, "bus/pci")
        root = f"{pci}/usb{bus}"
        self.node(root, "bus/usb", bDeviceClass="09", maxchild=ports)
        self.link(f"bus/usb/devices/usb{bus}", root)
        for port, child in sorted(on.items()):
            # A root port's device is named after the bus, not after "usbN".
            self.usb_device(root, f"{bus}-{port}", child)

    def unplug(self, name):
        """Removes a USB device with everything below it and every link that points there; its
        SCSI host number and disk names are not handed out again, as the kernel does."""
        gone = os.path.realpath(self.path("bus/usb/devices/" + name))
        shutil.rmtree(gone)
        for links in ("bus/usb/devices", "class/block", "dev/block"):
            for entry in os.listdir(self.path(links)):
                target = os.path.realpath(os.path.join(self.path(links), entry))
                if target == gone or target.startswith(gone + os.sep):
                    os.remove(os.path.join(self.path(links), entry))

    def ata_disk(self, port):
        """The system disk on a SATA port, with two partitions: never a drive letter."""
        host = self.host()
        parent = f"devices/pci0000:00/0000:00:17.0/ata{port}"
        self.node("devices/pci0000:00/0000:00:17.0", "bus/pci")
        self.node(parent, "ata_port")
        name = self.scsi_unit(parent, host, 0, "disk", False, True)
        self.block(f"{parent}/host{host}/target{host}:0:0/{host}:0:0:0/block/{name}/{name}2",
                   f"{name}2", f"8:{16 * (self.next_sd - 1) + 2}", partition=2)

    def ata_cdrom(self, port):
        host = self.host()
        parent = f"devices/pci0000:00/0000:00:17.0/ata{port}"
        self.node(parent, "ata_port")
        self.scsi_unit(parent, host, 0, "cd", True, False)

    def network_disk(self):
        """A disk behind a network session (as iSCSI presents one): a SCSI disk with no USB
        device above it."""
        host = self.host()
        self.node(f"devices/platform/host{host}", "bus/scsi")
        self.scsi_unit(f"devices/platform/host{host}/session1", host, 0, "disk", False, True,
                       host_dir=False)


# ---- the trees --------------------------------------------------------------------------------

def station(tree, replugged=False):
    """Two host controllers with four root ports each. Controller 0: a seven-port hub of two
    chained chips with readers in hub ports 1, 2 and 7; a four-port hub with a reader in port 3;
    a reader with two card LUNs and a CD-ROM LUN; port 4 empty. Controller 1: a hub with a reader
    in port 1; a fourth hub with a reader in port 2; a reader straight in port 3; a USB disk that
    carries a device-mapper device. Beside them, a SATA system disk, a SATA DVD drive and a network
    disk. `replugged`: the reader in hub port 2 is pulled and a new one goes into root port 4."""
    tree.ata_disk(1)
    tree.ata_cdrom(2)
    tree.network_disk()
    seven = {1: reader("card"), 2: reader("card"), 7: reader("card")}
    first = {1: chained_hub7(seven), 2: hub(4, {3: reader("card")}),
             3: reader("card", "card", "cd")}
    tree.controller("devices/pci0000:00/0000:00:14.0", 1, 4, first)
    second = {1: hub(4, {1: reader("card")}), 2: hub(4, {2: reader("card", card=False)}),
              3: reader("card"), 4: usb_disk(holder="dm-0")}
    tree.controller("devices/pci0000:00/0000:00:1d.0", 2, 4, second)
    if replugged:
        tree.unplug("1-1.2")
        tree.usb_device("devices/pci0000:00/0000:00:14.0/usb1", "1-4", reader("card"))


def xhci(tree):
    """One xHCI controller as the kernel shows it: a single PCI function with two root hubs, usb1
    for high and full speed and usb2 for SuperSpeed, eight root ports each, as under QEMU's
    qemu-xhci with p2=8 and p3=8. A reader in root port 4 is on usb1; a SuperSpeed USB disk in
    root port 8 shows on usb2, as 2-8."""
    pci = "devices/pci0000:00/0000:00:02.0"
    tree.controller(pci, 1, 8, {4: reader("card")})
    tree.controller(pci, 2, 8, {8: {"kind": "storage", "luns": ["disk"], "removable": True,
                                    "card": False}})


TREES = {
    "station": lambda tree: station(tree),
    "station_replugged": lambda tree: station(tree, replugged=True),
    "xhci": xhci,
}


# ---- driver -----------------------------------------------------------------------------------

def write_all(out):
    for name, build in TREES.items():
        root = os.path.join(out, name)
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        build(Tree(root))


def entries(root):
    """Every file and link below `root` with what it holds; empty directories are left out, as
    git keeps none."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            full = os.path.join(dirpath, name)
            rel = os.path.relpath(full, root)
            if os.path.islink(full):
                found[rel] = ("link", os.readlink(full))
            elif os.path.isfile(full):
                found[rel] = ("file", full)
    return found


def same_trees(expected_root, actual_root):
    expected, actual = entries(expected_root), entries(actual_root)
    differences = sorted(set(expected) ^ set(actual))
    for rel in sorted(set(expected) & set(actual)):
        (kind_a, a), (kind_b, b) = expected[rel], actual[rel]
        if kind_a != kind_b or (kind_a == "link" and a != b) or (
                kind_a == "file" and not filecmp.cmp(a, b, shallow=False)):
            differences.append(rel)
    for rel in differences[:20]:
        print(f"differs: {os.path.join(os.path.basename(actual_root), rel)}", file=sys.stderr)
    return not differences


def main(argv):
    if len(argv) == 3 and argv[1] == "--out":
        write_all(argv[2])
        return 0
    if len(argv) == 2 and argv[1] == "--check":
        with tempfile.TemporaryDirectory() as scratch:
            write_all(scratch)
            ok = all(same_trees(os.path.join(scratch, name), os.path.join(HERE, name))
                     for name in TREES)
        print("fixtures are up to date" if ok else "fixtures differ; run make_fixtures.py")
        return 0 if ok else 1
    if len(argv) == 1:
        write_all(HERE)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
