#include "discovery/scans.h"

#include "discovery/walk.h"
#include "text/pictures.h"

namespace tarvix::discovery {
namespace {

constexpr char kLastArrivalLetter = 'Y'; // Z is never looked at when devices come and go

bool bit(std::uint32_t mask, char letter) { return (mask >> (letter - 'A')) & 1U; }

} // namespace

void Scanner::fullScan(MappingMode mode, const ProbeOptions& probe) {
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    state_.record(letter).reset();
    inspectDrive(platform_.drives, letter, state_.record(letter));
  }
  for (int slot = 1; slot <= station::kSlotCount; ++slot) {
    controls_.enable(station::slotLabelId(slot), false);
    controls_.enable(station::resultLineId(slot), false);
  }
  walkMapAssignProbe(mode, probe);
}

void Scanner::arrivalScan(MappingMode mode, const ProbeOptions& probe) {
  const std::uint32_t before = takeDriveMask();
  for (char letter = 'A'; letter <= kLastArrivalLetter; ++letter) {
    if (!bit(state_.driveMaskCurrent, letter) || bit(before, letter)) continue;
    state_.record(letter).reset();
    inspectDrive(platform_.drives, letter, state_.record(letter));
  }
  walkMapAssignProbe(mode, probe);
}

void Scanner::removalPass() {
  const std::uint32_t before = takeDriveMask();
  for (char letter = 'A'; letter <= kLastArrivalLetter; ++letter) {
    if (bit(state_.driveMaskCurrent, letter) || !bit(before, letter)) continue;
    station::DriveRecord& record = state_.record(letter);
    const int lun = record.lun;
    if (lun == 0 && record.slot == 0) continue;
    const int slot = record.slot != 0 ? record.slot.load() : station::slotNumber(record.port, lun);
    const int n = record.port;
    if (slot >= 1 && slot <= station::kSlotCount) state_.letterOf(slot) = 0;
    if (n >= 1 && n <= station::kPortCount && lun >= 1 && lun <= station::kLunsPerPort) {
      station::PortRecord& port = state_.port(n);
      port.driveIndex[lun - 1] = station::kNoDrive;
      port.lunKind[lun - 1] = station::LunKind::None;
      port.driveLetter[lun - 1] = 0;
      if (port.empty()) {
        port.assigned = false;
        port.busy = false;
        port.done = false;
        port.ready = false;
        port.cardInfoWritten = false;
        controls_.setPicture(station::statusPictureId(n), text::kBlankPicture);
        controls_.setProgress(station::progressBarId(n), 0);
      }
    }
    if (slot >= 1 && slot <= station::kSlotCount) {
      controls_.enable(station::slotLabelId(slot), false);
      controls_.enable(station::resultLineId(slot), false);
      controls_.setText(station::slotLabelId(slot), "");
      controls_.setText(station::resultLineId(slot), "");
      controls_.setColour(station::resultLineId(slot), station::SlotColour::Idle);
    }
    record.reset();
  }
}

void Scanner::walkMapAssignProbe(MappingMode mode, const ProbeOptions& probe) {
  walkUsb(platform_.usb.snapshot(), state_);
  mapPortsAndSlots(state_, mode);
  assignSlots(state_);
  probeCards(platform_, controls_, state_, probe);
}

std::uint32_t Scanner::takeDriveMask() {
  const std::uint32_t before = state_.driveMaskPrevious;
  state_.driveMaskCurrent = platform_.drives.logicalDriveMask();
  state_.driveMaskPrevious = state_.driveMaskCurrent;
  return before;
}

} // namespace tarvix::discovery
