#include "discovery/probe.h"
#include "platform/byte_order.h"

#include "channel/reader_handle.h"
#include "channel/replies.h"
#include "channel/vendor_commands.h"
#include "station/models.h"
#include "text/texts.h"

#include <array>
#include <optional>

namespace tarvix::discovery {
namespace {

using station::DriveRecord;
using station::SlotColour;

constexpr std::uint16_t kMakerVendorId = 0x3C7D;
constexpr std::size_t kEepromProbeLength = 128;

std::string megabytes(std::uint64_t mib) { return std::to_string(mib) + " MB\r\n"; }

std::string cardTypeText(channel::CardType type, std::uint64_t mib) {
  const std::string n = std::to_string(mib);
  switch (type) {
  case channel::CardType::XD: return "xD:" + n + " MB\r\n";
  case channel::CardType::CF: return "CF:" + n + " MB\r\n";
  case channel::CardType::MS: return "MS:" + n + " MB\r\n";
  case channel::CardType::SdMmc: return "SDMMC:\r\n" + n + " MB\r\n";
  case channel::CardType::NoCard:
  case channel::CardType::Unrecognised: break;
  }
  return {};
}

class Prober {
public:
  Prober(platform::Platform& platform, station::WindowControls& controls,
         station::StationState& state, const ProbeOptions& options)
      : platform_(platform), controls_(controls), state_(state), options_(options) {}

  void probe(int d) {
    DriveRecord& record = state_.driveRecords[d];
    const int slot = record.slot;
    const char letter = record.letter;
    const std::string name = station::driveName(letter);
    controls_.setFont(station::slotLabelId(slot), station::FontChoice::ArialBlack16);
    controls_.setText(station::slotLabelId(slot), name);
    controls_.enable(station::slotLabelId(slot), true);
    controls_.enable(station::resultLineId(slot), true);
    state_.letterOf(slot) = letter;
    record.probeRefusal = 0;

    channel::ReaderHandleHolder m_hUSBDeviceHandle(platform_.readers, platform_.trace);
    // A reader that does not open answers every query with zeros, and is judged by them.
    (void)channel::GetUSBDeviceHandle(m_hUSBDeviceHandle, name, platform_.clock);
    judge(m_hUSBDeviceHandle, record, slot);
    state_.port(record.port).ready = record.present.load();
    m_hUSBDeviceHandle.close();
  }

private:
  void judge(channel::ReaderHandleHolder& reader, DriveRecord& record, int slot) {
    // A refused query reads as zeros: no maker's device.
    std::array<std::uint8_t, 512> reply{};
    (void)channel::GetVIDPID(reader, channel::kQueryIdentity, reply);
    auto identity = channel::decodeIdentity(reply);

    const station::ModelTraits* traits = station::modelTraits(options_.icType);
    if (traits != nullptr && traits->eeprom &&
        !(identity.vendorId == kMakerVendorId && identity.productId == traits->productId)) {
      // The EEPROM model may answer another product id; its EEPROM names it.
      std::array<std::uint8_t, kEepromProbeLength> eeprom{};
      (void)channel::ReadEEPROM(reader, eeprom); // unread, it names no model
      if (channel::decodeEepromModelNumber(eeprom) == "A708") {
        identity = {kMakerVendorId, traits->productId};
      }
    }
    if (identity.vendorId != kMakerVendorId) return reject(record, slot, text::kNotMakerDevice);
    if (traits == nullptr) return;
    const station::ModelTraits& model = *traits;
    bool matches = identity.productId == model.productId;
    if (matches && model.modelNibble) {
      std::array<std::uint8_t, 512> configuration{};
      (void)channel::GetVIDPID(reader, channel::kQueryConfiguration, configuration); // 0: no match
      matches = channel::decodeModelNibble(configuration) == *model.modelNibble;
    }
    if (!matches) return reject(record, slot, model.mismatchText);

    if (model.eeprom) return acceptEepromModel(reader, record, slot);
    if (model.cdromLun && record.lun == 2) {
      record.present = true; // its size was shown with LUN 1
      return;
    }
    if (model.cdromLun && record.lun > 2) return; // the model has no third or fourth line
    const std::uint64_t mib = capacityMiB(platform_, record);
    if (mib == 0) return reject(record, slot, text::kNoCard);
    show(slot, SlotColour::Idle, megabytes(mib));
    record.present = true;
    if (model.cdromLun && record.lun == 1) showCdromSize(reader, slot);
  }

  // The two-LUN model's second line shows the CD-ROM area the card information sector records.
  void showCdromSize(channel::ReaderHandleHolder& reader, int slot) {
    std::array<std::uint8_t, 512> lastBlock{};
    (void)channel::ReadLastCardBlock(reader, lastBlock); // unread, it shows 0 MB
    const std::uint64_t sectors = platform::bigEndian32(&lastBlock[12]);
    show(slot + 1, SlotColour::Idle, megabytes(sectors * 512 / 1024 / 1024));
  }

  void acceptEepromModel(channel::ReaderHandleHolder& reader, DriveRecord& record, int slot) {
    const std::uint64_t mib = capacityMiB(platform_, record);
    std::array<std::uint8_t, 512> reply{};
    (void)channel::GetVIDPID(reader, channel::kQueryCardType, reply); // unread: no card
    const auto type = channel::decodeCardType(reply);
    if (type == channel::CardType::NoCard) return reject(record, slot, text::kNoCard);
    if (type == channel::CardType::Unrecognised) return reject(record, slot, text::kTooManyCards);
    record.present = true;
    show(slot, SlotColour::Idle, cardTypeText(type, mib));
  }

  void reject(DriveRecord& record, int slot, text::TextId textId) {
    record.present = false;
    record.probeRefusal = textId;
    show(slot, SlotColour::Failed, text::localized(textId, options_.languageOffset));
  }

  void show(int slot, SlotColour colour, const std::string& text) {
    state_.colourOf(slot) = colour;
    controls_.setText(station::resultLineId(slot), text);
  }

  platform::Platform& platform_;
  station::WindowControls& controls_;
  station::StationState& state_;
  const ProbeOptions& options_;
};

} // namespace

std::uint64_t capacityMiB(platform::Platform& platform, const DriveRecord& record) {
  channel::ReaderHandleHolder m_hUSBDeviceHandle(platform.readers, platform.trace);
  // A reader that does not open has no size: the query below fails.
  (void)channel::GetUSBDeviceHandle(m_hUSBDeviceHandle, station::driveName(record.letter),
                                    platform.clock);
  const std::uint64_t mib = capacityMiB(m_hUSBDeviceHandle, record.lun);
  m_hUSBDeviceHandle.close();
  return mib;
}

std::uint64_t capacityMiB(channel::ReaderHandleHolder& opened, int lun) {
  std::uint32_t sectorCount = 0;
  std::uint32_t sectorSize = 0;
  if (!channel::GetCapacity(opened, sectorCount, sectorSize, static_cast<unsigned>(lun - 1)))
    return 0;
  return channel::capacityMiB(sectorCount, sectorSize);
}

void probeCards(platform::Platform& platform, station::WindowControls& controls,
                station::StationState& state, const ProbeOptions& options) {
  for (int slot = 1; slot <= station::kSlotCount; ++slot) {
    if (state.letterOf(slot) == 0) controls.setText(station::slotLabelId(slot), "");
  }
  Prober prober(platform, controls, state, options);
  for (int d = 0; d < station::kDriveCount; ++d) {
    const DriveRecord& record = state.driveRecords[d];
    if (record.slot == 0 || record.port < 1 || record.port > station::kPortCount) continue;
    const station::PortRecord& port = state.port(record.port);
    if (port.busy || port.done) continue;
    prober.probe(d);
  }
}

} // namespace tarvix::discovery
