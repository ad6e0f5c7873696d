// The USB/IP protocol's messages as the kernel's documentation of it lays them out: the operation
// exchange that lists and imports devices, then the URB stream (CMD_SUBMIT / RET_SUBMIT,
// CMD_UNLINK / RET_UNLINK). Every number is big-endian. Pure functions.
#pragma once

#include "platform/sim/farm_plan.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarvix::farm_usb::usbip {

inline constexpr std::uint16_t kVersion = 0x0111;
inline constexpr std::uint16_t kRequestDeviceList = 0x8005;
inline constexpr std::uint16_t kReplyDeviceList = 0x0005;
inline constexpr std::uint16_t kRequestImport = 0x8003;
inline constexpr std::uint16_t kReplyImport = 0x0003;
inline constexpr std::size_t kOperationHeaderBytes = 8; // version, code, status
inline constexpr std::size_t kBusIdBytes = 32;
inline constexpr std::size_t kDevicePathBytes = 256;
inline constexpr std::size_t kDeviceBytes = kDevicePathBytes + kBusIdBytes + 24;
inline constexpr std::size_t kInterfaceBytes = 4;
inline constexpr std::uint32_t kStatusOk = 0;
inline constexpr std::uint32_t kStatusError = 1;

inline constexpr std::uint32_t kCommandSubmit = 1;
inline constexpr std::uint32_t kCommandUnlink = 2;
inline constexpr std::uint32_t kReplySubmit = 3;
inline constexpr std::uint32_t kReplyUnlink = 4;
inline constexpr std::size_t kUrbHeaderBytes = 48;
inline constexpr std::uint32_t kDirectionIn = 1;
inline constexpr std::uint32_t kSpeedHigh = 3; // the kernel's USB_SPEED_HIGH

// A reader as the server exports it.
struct ExportedDevice {
  const platform::sim::ReaderPlan* reader = nullptr;
  std::string busId;
  std::uint32_t busNumber = 0;
  std::uint32_t deviceNumber = 0;
};

struct OperationHeader {
  std::uint16_t version = 0;
  std::uint16_t code = 0;
  std::uint32_t status = 0;
};
OperationHeader parseOperationHeader(std::span<const std::uint8_t, kOperationHeaderBytes> bytes);
// The bus id an import request names, up to its first zero byte.
std::string parseBusId(std::span<const std::uint8_t, kBusIdBytes> bytes);

std::vector<std::uint8_t> deviceListReply(std::span<const ExportedDevice> devices);
// The reply to an import: the device, or an error status when `device` is null.
std::vector<std::uint8_t> importReply(const ExportedDevice* device);

struct UrbHeader {
  std::uint32_t command = 0;
  std::uint32_t sequenceNumber = 0;
  std::uint32_t deviceId = 0;
  std::uint32_t direction = 0;
  std::uint32_t endpoint = 0;
  // CMD_SUBMIT
  std::uint32_t bufferLength = 0;
  std::uint32_t packetCount = 0;
  std::array<std::uint8_t, 8> setup{};
  // CMD_UNLINK
  std::uint32_t unlinkSequenceNumber = 0;
};
UrbHeader parseUrbHeader(std::span<const std::uint8_t, kUrbHeaderBytes> bytes);

// RET_SUBMIT: `status` 0 or a negative errno as the kernel's URBs carry it; `data` follows the
// header for an IN transfer, `actualLength` counts what an OUT transfer took.
std::vector<std::uint8_t> submitReply(std::uint32_t sequenceNumber, std::int32_t status,
                                      std::uint32_t actualLength,
                                      std::span<const std::uint8_t> data);
std::vector<std::uint8_t> unlinkReply(std::uint32_t sequenceNumber, std::int32_t status);

} // namespace tarvix::farm_usb::usbip
