#include "channel/command_blocks.h"
#include "platform/byte_order.h"

#include <array>

namespace tarvix::channel {
namespace {

constexpr std::uint8_t kSense = platform::kSenseAreaLength;
constexpr std::uint32_t kDefaultTimeout = 2;
// EEPROM writes are slow on the one model that has an EEPROM.
constexpr std::uint32_t kEepromWriteTimeout = 4;

constexpr auto B = FrameVariant::Buffered;
constexpr auto D = FrameVariant::Direct;
constexpr auto In = DataDirection::In;
constexpr auto Out = DataDirection::Out;

// Indexed by Command.
constexpr std::array<CommandTraits, 16> kTraits{{
    {"ReInitialCard", kVendorOperationCode, 0x38, B, Out, 0, kDefaultTimeout, true},
    {"FactoryTotalDefault", kVendorOperationCode, 0x3F, B, Out, 0, kDefaultTimeout, true},
    {"SetBinAreaSize", kVendorOperationCode, 0x40, B, Out, kSense, kDefaultTimeout, true},
    {"SetCDRomSize", kVendorOperationCode, 0x30, B, Out, kSense, kDefaultTimeout, true},
    {"WriteCard", kVendorOperationCode, 0x13, D, Out, kSense, kDefaultTimeout, true},
    {"ReadCard", kVendorOperationCode, 0x12, B, In, 0, kDefaultTimeout, false},
    {"WriteBin", kVendorOperationCode, 0x42, D, Out, kSense, kDefaultTimeout, true},
    {"ReadBin", kVendorOperationCode, 0x41, B, In, 0, kDefaultTimeout, false},
    {"WriteAutorun", kVendorOperationCode, 0x32, D, Out, kSense, kDefaultTimeout, true},
    {"ReadAutoRun", kVendorOperationCode, 0x31, B, In, 0, kDefaultTimeout, false},
    {"GetCapacity", kVendorOperationCode, 0x11, B, In, kSense, kDefaultTimeout, false},
    {"GetVIDPID", kVendorOperationCode, 0x00, B, In, 0, kDefaultTimeout, false},
    {"ReadEEPROM", kVendorOperationCode, 0x19, B, In, 0, kDefaultTimeout, false},
    {"WriteEEPROM", kVendorOperationCode, 0x18, D, Out, 0, kEepromWriteTimeout, false},
    {"ReadSector", kRead10, 0x00, B, In, 0, kDefaultTimeout, false},
    {"WriteSector", kWrite10, 0x00, D, Out, 0, kDefaultTimeout, false},
}};

// Header fields from the command's traits; the block carries only the operation code.
PassThroughRequest framed(Command command, std::uint32_t dataLength) {
  const CommandTraits& t = traits(command);
  PassThroughRequest request;
  request.commandBlock[0] = t.operationCode;
  request.frame = t.frame;
  request.direction = t.direction;
  request.dataLength = dataLength;
  request.senseLength = t.senseLength;
  request.timeoutSeconds = t.timeoutSeconds;
  return request;
}

PassThroughRequest vendor(Command command, std::uint32_t dataLength) {
  PassThroughRequest request = framed(command, dataLength);
  request.commandBlock[1] = traits(command).subCode;
  for (std::size_t i = 0; i < 3; ++i)
    request.commandBlock[2 + i] = kVendorSignature[i];
  return request;
}

// Bytes 5-8 the start sector or size, bytes 9-10 the length in whole sectors (a partial sector
// counts as none: the controller takes the byte count from the data length).
PassThroughRequest vendorTransfer(Command command, std::uint32_t argument, std::uint32_t length) {
  PassThroughRequest request = vendor(command, length);
  platform::putBigEndian32(&request.commandBlock[5], argument);
  platform::putBigEndian16(&request.commandBlock[9], length / kSectorSize);
  return request;
}

// READ(10) / WRITE(10): bytes 2-5 the block address, bytes 7-8 the block count.
PassThroughRequest blockTransfer(Command command, std::uint32_t logicalBlock,
                                 std::uint32_t length) {
  PassThroughRequest request = framed(command, length);
  platform::putBigEndian32(&request.commandBlock[2], logicalBlock);
  platform::putBigEndian16(&request.commandBlock[7], length / kSectorSize);
  return request;
}

} // namespace

const CommandTraits& traits(Command command) { return kTraits[static_cast<std::size_t>(command)]; }

PassThroughRequest reInitialCardRequest() { return vendor(Command::ReInitialCard, 0); }

PassThroughRequest factoryTotalDefaultRequest() {
  PassThroughRequest request = vendor(Command::FactoryTotalDefault, 0);
  request.commandBlock[7] = 0x01;
  return request;
}

PassThroughRequest setBinAreaSizeRequest(std::uint32_t sectors) {
  return vendorTransfer(Command::SetBinAreaSize, sectors, 0);
}

PassThroughRequest setCDRomSizeRequest(std::uint32_t sectors) {
  return vendorTransfer(Command::SetCDRomSize, sectors, 0);
}

PassThroughRequest areaTransferRequest(Command command, std::uint32_t startSector,
                                       std::uint32_t length) {
  return vendorTransfer(command, startSector, length);
}

PassThroughRequest getCapacityUnitRequest(unsigned unitNumber) {
  PassThroughRequest request = vendor(Command::GetCapacity, kCapacityReplyLength);
  request.commandBlock[5] = static_cast<std::uint8_t>(unitNumber & 0xFFu);
  return request;
}

PassThroughRequest getCapacityCardRequest() {
  PassThroughRequest request = vendor(Command::GetCapacity, kCapacityReplyLength);
  request.commandBlock[7] = 0x01;
  return request;
}

PassThroughRequest getVidPidRequest(std::uint8_t subCode) {
  PassThroughRequest request = vendor(Command::GetVIDPID, kVidPidReplyLength);
  request.commandBlock[1] = subCode;
  return request;
}

PassThroughRequest readEepromRequest(std::uint8_t length) {
  PassThroughRequest request = vendor(Command::ReadEEPROM, length);
  request.commandBlock[7] = length;
  return request;
}

PassThroughRequest writeEepromRequest(std::uint8_t length) {
  PassThroughRequest request = vendor(Command::WriteEEPROM, length);
  request.commandBlock[7] = length;
  return request;
}

PassThroughRequest readSectorRequest(std::uint32_t logicalBlock, std::uint32_t length) {
  return blockTransfer(Command::ReadSector, logicalBlock, length);
}

PassThroughRequest writeSectorRequest(std::uint32_t logicalBlock, std::uint32_t length) {
  return blockTransfer(Command::WriteSector, logicalBlock, length);
}

} // namespace tarvix::channel
