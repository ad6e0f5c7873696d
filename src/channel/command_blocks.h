// The reader controller's command set as pure request builders: each returns a request with its
// command block, frame variant, direction, data length, sense length and time-out filled in and no
// data buffer attached. Nothing here touches a device, so every byte can be checked in tests.
#pragma once

#include "platform/reader_access.h"

#include <cstdint>
#include <string_view>

namespace tarvix::channel {

using platform::DataDirection;
using platform::FrameVariant;
using platform::PassThroughRequest;

inline constexpr std::uint32_t kSectorSize = 512;
// One request moves at most this much; longer card transfers are split into chunks of it.
inline constexpr std::uint32_t kMaxTransferBytes = 65536;
inline constexpr std::uint32_t kSectorsPerTransfer = kMaxTransferBytes / kSectorSize;
// The controller answers GetVIDPID with 16 bytes; callers receive a whole sector's image.
inline constexpr std::uint32_t kVidPidReplyLength = 16;
inline constexpr std::uint32_t kVidPidImageLength = 512;
inline constexpr std::uint32_t kCapacityReplyLength = 8;
inline constexpr std::uint32_t kMaxEepromLength = 255;

inline constexpr std::uint8_t kVendorOperationCode = 0xFB;
inline constexpr std::uint8_t kRead10 = 0x28;
inline constexpr std::uint8_t kWrite10 = 0x2A;
// Bytes 2-4 of every vendor block.
inline constexpr std::uint8_t kVendorSignature[3] = {0x51, 0x4B, 0x5A};

// GetVIDPID sub-codes.
inline constexpr std::uint8_t kVidPidIdentity = 0x14;      // vendor and product id
inline constexpr std::uint8_t kVidPidCardType = 0x16;      // card type byte
inline constexpr std::uint8_t kVidPidConfiguration = 0x3E; // model nibble, LUN kinds

enum class Command : std::uint8_t {
  ReInitialCard,
  FactoryTotalDefault,
  SetBinAreaSize,
  SetCDRomSize,
  WriteCard,
  ReadCard,
  WriteBin,
  ReadBin,
  WriteAutorun,
  ReadAutoRun,
  GetCapacity,
  GetVIDPID,
  ReadEEPROM,
  WriteEEPROM,
  ReadSector,
  WriteSector,
};

struct CommandTraits {
  std::string_view name; // also the head of its trace lines
  std::uint8_t operationCode;
  std::uint8_t subCode; // byte 1 of a vendor block; GetVIDPID takes it per call
  FrameVariant frame;
  DataDirection direction;
  std::uint8_t senseLength;
  std::uint32_t timeoutSeconds;
  bool tracesSuccess; // writes "<name> DeviceIoControl bSuccess" after each successful request
};

const CommandTraits& traits(Command command);

PassThroughRequest reInitialCardRequest();
PassThroughRequest factoryTotalDefaultRequest();
PassThroughRequest setBinAreaSizeRequest(std::uint32_t sectors);
PassThroughRequest setCDRomSizeRequest(std::uint32_t sectors);
// WriteCard, ReadCard, WriteBin, ReadBin, WriteAutorun or ReadAutoRun: one chunk of at most
// kMaxTransferBytes from `startSector` of the card or the area.
PassThroughRequest areaTransferRequest(Command command, std::uint32_t startSector,
                                       std::uint32_t length);
// Unit form: only the low 8 bits of the unit number travel.
PassThroughRequest getCapacityUnitRequest(unsigned unitNumber);
PassThroughRequest getCapacityCardRequest();
PassThroughRequest getVidPidRequest(std::uint8_t subCode);
PassThroughRequest readEepromRequest(std::uint8_t length);
PassThroughRequest writeEepromRequest(std::uint8_t length);
PassThroughRequest readSectorRequest(std::uint32_t logicalBlock, std::uint32_t length);
PassThroughRequest writeSectorRequest(std::uint32_t logicalBlock, std::uint32_t length);

} // namespace tarvix::channel
