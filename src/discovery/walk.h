// Ties drive letters to positions on the USB tree and numbers up to three hubs.
#pragma once

#include "platform/drives.h"
#include "platform/usb_tree.h"
#include "station/station_state.h"

namespace tarvix::discovery {

// Fills `record` with what stands behind `letter` (letter, drive type, device number, driver
// key); its USB position, hub, slot and present flag are left zero. False when the letter is not
// A-Z or nothing the station can use stands behind it; the caller has reset the record.
bool inspectDrive(const platform::Drives& drives, char letter, station::DriveRecord& record);

// Walks the whole tree depth-first (controllers by index, ports by number, each hub's ports before
// its parent's next port): counts root-hub ports into the root-port ordinal, notes new hubs in the
// hub table, and copies the position of every device into the records of all its letters.
void walkUsb(const platform::UsbTopology& topology, station::StationState& state);

} // namespace tarvix::discovery
