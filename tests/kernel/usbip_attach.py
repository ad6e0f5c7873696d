#!/usr/bin/env python3
"""Attaches readers of a USB/IP server to this machine's vhci-hcd, through the vhci "attach"
file as the usbip tool does: import each bus id over its own connection, then hand the socket to
the kernel on a free high-speed port.  Usage: usbip_attach.py HOST PORT BUSID...
"""
import socket
import struct
import sys

VHCI = "/sys/devices/platform/vhci_hcd.0"
VERSION, REQUEST_IMPORT = 0x0111, 0x8003
PORT_FREE = 4  # the kernel's VDEV_ST_NULL
HIGH_SPEED_HUB = "hs"


def free_ports():
    with open(f"{VHCI}/status") as status:
        for line in status.readlines()[1:]:
            hub, port, state = line.split()[:3]
            if hub == HIGH_SPEED_HUB and int(state) == PORT_FREE:
                yield int(port)


def receive(connection, count):
    data = b""
    while len(data) < count:
        chunk = connection.recv(count - len(data))
        if not chunk:
            sys.exit("usbip_attach: the server closed the connection")
        data += chunk
    return data


def attach(host, port, busid, vhci_port):
    connection = socket.create_connection((host, port))
    connection.sendall(struct.pack(">HHI", VERSION, REQUEST_IMPORT, 0) + busid.encode().ljust(32, b"\0"))
    _, _, status = struct.unpack(">HHI", receive(connection, 8))
    if status != 0:
        sys.exit(f"usbip_attach: {busid}: import refused")
    device = receive(connection, 312)
    busnum, devnum, speed = struct.unpack(">III", device[288:300])
    with open(f"{VHCI}/attach", "w") as attach_file:
        attach_file.write(f"{vhci_port} {connection.fileno()} {busnum << 16 | devnum} {speed}")
    # The kernel holds the connection now.
    connection.close()


def main():
    host, port, busids = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
    ports = free_ports()
    for busid in busids:
        attach(host, port, busid, next(ports))


if __name__ == "__main__":
    main()
