// The controller's side of the wire: the command blocks an emulated reader accepts, byte for
// byte, kept apart from the station's own builders so that a wrong builder fails against the
// farm the way it would fail against a real controller.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tarvix::platform::sim {

inline constexpr std::uint32_t kSectorBytes = 512;
// A vendor transfer's limit. READ(10) and WRITE(10) carry as many sectors as their count field
// holds: the system's own disk driver sends up to 120 KiB at a time.
inline constexpr std::uint32_t kMaxTransferBytes = 65536;
inline constexpr std::uint32_t kEepromBytes = 256;
// FactoryTotalDefault clears this much of the EEPROM.
inline constexpr std::uint32_t kEepromFactoryBytes = 128;
inline constexpr std::uint32_t kVidPidReplyBytes = 16;
inline constexpr std::uint32_t kCapacityReplyBytes = 8;
inline constexpr std::uint32_t kConfigurationBytes = 16;

inline constexpr std::uint8_t kVendorOpcode = 0xFB;
inline constexpr std::uint8_t kRead10Opcode = 0x28;
inline constexpr std::uint8_t kWrite10Opcode = 0x2A;
// The standard commands a system's disk and CD-ROM drivers send to every USB disk they meet.
inline constexpr std::uint8_t kTestUnitReadyOpcode = 0x00;
inline constexpr std::uint8_t kRequestSenseOpcode = 0x03;
inline constexpr std::uint8_t kInquiryOpcode = 0x12;
inline constexpr std::uint8_t kModeSense6Opcode = 0x1A;
inline constexpr std::uint8_t kStartStopUnitOpcode = 0x1B;
inline constexpr std::uint8_t kPreventAllowOpcode = 0x1E;
inline constexpr std::uint8_t kReadCapacity10Opcode = 0x25;
inline constexpr std::uint8_t kSynchronizeCache10Opcode = 0x35;
inline constexpr std::uint8_t kModeSense10Opcode = 0x5A;
inline constexpr std::uint8_t kServiceActionInOpcode = 0x9E;
inline constexpr std::uint8_t kReadCapacity16Action = 0x10;
inline constexpr std::uint8_t kReportLunsOpcode = 0xA0;
inline constexpr std::array<std::uint8_t, 3> kVendorSignature = {0x51, 0x4B, 0x5A};
inline constexpr std::uint16_t kVendorId = 0x3C7D;

// Byte 7 of a GetCapacity block asking for the whole card; byte 7 of FactoryTotalDefault.
inline constexpr std::uint8_t kCardFormFlag = 0x01;
inline constexpr std::uint8_t kFactoryDefaultFlag = 0x01;

// Card information sector: where the controller keeps the area sizes (big-endian sectors).
inline constexpr std::size_t kInfoBinSizeOffset = 8;
inline constexpr std::size_t kInfoCdRomSizeOffset = 12;

// Card type bytes of the GetVIDPID 16h reply.
inline constexpr std::uint8_t kCardTypeXd = 0xF7;
inline constexpr std::uint8_t kCardTypeCf = 0xFB;
inline constexpr std::uint8_t kCardTypeMs = 0xFD;
inline constexpr std::uint8_t kCardTypeSd = 0xFE;
inline constexpr std::uint8_t kCardTypeNone = 0xFF;

// What a block asks for, once decoded.
enum class Op : std::uint8_t {
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
  Unknown,
};

// How the argument bytes 5-10 of a vendor block are used.
enum class ArgForm : std::uint8_t {
  None,       // bytes 5-10 zero
  Size,       // bytes 5-8 a size in sectors, 9-10 zero
  Transfer,   // bytes 5-8 start sector, 9-10 data length / 512
  Capacity,   // byte 5 unit number or byte 7 = 01 (card form)
  Length8,    // byte 7 the data length, 1 to 255
  FactoryArg, // byte 7 = 01
  Reply16,    // bytes 5-10 zero, 16 bytes back
};

enum class Flow : std::uint8_t { NoData, In, Out };

struct VendorCommand {
  std::uint8_t subCode;
  Op op;
  ArgForm args;
  Flow flow;
};

inline constexpr std::array<VendorCommand, 16> kVendorCommands = {{
    {0x38, Op::ReInitialCard, ArgForm::None, Flow::NoData},
    {0x3F, Op::FactoryTotalDefault, ArgForm::FactoryArg, Flow::NoData},
    {0x40, Op::SetBinAreaSize, ArgForm::Size, Flow::NoData},
    {0x30, Op::SetCDRomSize, ArgForm::Size, Flow::NoData},
    {0x13, Op::WriteCard, ArgForm::Transfer, Flow::Out},
    {0x12, Op::ReadCard, ArgForm::Transfer, Flow::In},
    {0x42, Op::WriteBin, ArgForm::Transfer, Flow::Out},
    {0x41, Op::ReadBin, ArgForm::Transfer, Flow::In},
    {0x32, Op::WriteAutorun, ArgForm::Transfer, Flow::Out},
    {0x31, Op::ReadAutoRun, ArgForm::Transfer, Flow::In},
    {0x11, Op::GetCapacity, ArgForm::Capacity, Flow::In},
    {0x14, Op::GetVIDPID, ArgForm::Reply16, Flow::In},
    {0x16, Op::GetVIDPID, ArgForm::Reply16, Flow::In},
    {0x3E, Op::GetVIDPID, ArgForm::Reply16, Flow::In},
    {0x19, Op::ReadEEPROM, ArgForm::Length8, Flow::In},
    {0x18, Op::WriteEEPROM, ArgForm::Length8, Flow::Out},
}};

inline constexpr std::uint8_t kSubIdentity = 0x14;
inline constexpr std::uint8_t kSubCardType = 0x16;
inline constexpr std::uint8_t kSubConfiguration = 0x3E;

// The names faults are keyed by, as the station's command set names them; "open" is the open.
inline constexpr std::array<std::string_view, 16> kOpNames = {
    "ReInitialCard",  "FactoryTotalDefault",
    "SetBinAreaSize", "SetCDRomSize",
    "WriteCard",      "ReadCard",
    "WriteBin",       "ReadBin",
    "WriteAutorun",   "ReadAutoRun",
    "GetCapacity",    "GetVIDPID",
    "ReadEEPROM",     "WriteEEPROM",
    "ReadSector",     "WriteSector"};
inline constexpr std::string_view kOpenName = "open";
// A write through a volume (the formatter's), which no command block carries.
inline constexpr std::string_view kVolumeWriteName = "volumeWrite";

inline constexpr bool readsData(Op op) {
  return op == Op::ReadCard || op == Op::ReadBin || op == Op::ReadAutoRun || op == Op::ReadSector ||
         op == Op::ReadEEPROM || op == Op::GetCapacity || op == Op::GetVIDPID;
}

// Fixed-format sense data a refusal leaves in the request's sense area.
inline constexpr std::uint8_t kSenseResponseCode = 0x70;
inline constexpr std::uint8_t kSenseAdditionalLength = 0x0A;
inline constexpr std::uint8_t kKeyNoSense = 0x00;
inline constexpr std::uint8_t kKeyNotReady = 0x02;
inline constexpr std::uint8_t kKeyMediumError = 0x03;
inline constexpr std::uint8_t kKeyIllegalRequest = 0x05;
inline constexpr std::uint8_t kKeyUnitAttention = 0x06;
inline constexpr std::uint8_t kKeyDataProtect = 0x07;
inline constexpr std::uint8_t kAscWriteError = 0x0C;
inline constexpr std::uint8_t kAscUnrecoveredReadError = 0x11;
inline constexpr std::uint8_t kAscInvalidOpcode = 0x20;
inline constexpr std::uint8_t kAscLbaOutOfRange = 0x21;
inline constexpr std::uint8_t kAscLunNotSupported = 0x25;
inline constexpr std::uint8_t kAscInvalidField = 0x24;
inline constexpr std::uint8_t kAscWriteProtected = 0x27;
inline constexpr std::uint8_t kAscPowerOnOrReset = 0x29;
inline constexpr std::uint8_t kAscNoMedium = 0x3A;
// Fixed-format sense data is this long: the additional length plus the eight bytes before it.
inline constexpr std::uint8_t kFixedSenseBytes = 8 + kSenseAdditionalLength;

} // namespace tarvix::platform::sim
