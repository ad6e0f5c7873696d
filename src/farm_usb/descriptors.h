// The USB face of a farm reader: the descriptors a host reads while it enumerates the device, a
// full- or high-speed mass-storage device of one Bulk-Only interface, and the numbers of the
// requests its endpoint 0 takes. Pure functions.
#pragma once

#include "platform/sim/farm_plan.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tarvix::farm_usb {

enum class Speed : std::uint8_t { Full, High };

inline constexpr std::uint8_t kBulkInEndpoint = 0x81;
inline constexpr std::uint8_t kBulkOutEndpoint = 0x02;
inline constexpr std::uint8_t kEndpointDirectionIn = 0x80;
inline constexpr std::uint8_t kMassStorageClass = 0x08;
inline constexpr std::uint8_t kScsiTransparentSubclass = 0x06;
inline constexpr std::uint8_t kBulkOnlyProtocol = 0x50;
inline constexpr std::uint8_t kControlPacketBytes = 64;
inline constexpr std::uint8_t kConfigurationValue = 1;
inline constexpr std::uint8_t kInterfaceNumber = 0;
inline constexpr std::uint16_t kDeviceRelease = 0x0100;

// Descriptor types, as the high byte of a GET_DESCRIPTOR's value names them.
inline constexpr std::uint8_t kDeviceDescriptor = 0x01;
inline constexpr std::uint8_t kConfigurationDescriptor = 0x02;
inline constexpr std::uint8_t kStringDescriptor = 0x03;
inline constexpr std::uint8_t kDeviceQualifierDescriptor = 0x06;
inline constexpr std::uint8_t kOtherSpeedConfigurationDescriptor = 0x07;

// Requests of endpoint 0: the standard ones and the two of the Bulk-Only class.
inline constexpr std::uint8_t kGetStatus = 0x00;
inline constexpr std::uint8_t kClearFeature = 0x01;
inline constexpr std::uint8_t kSetFeature = 0x03;
inline constexpr std::uint8_t kSetAddress = 0x05;
inline constexpr std::uint8_t kGetDescriptor = 0x06;
inline constexpr std::uint8_t kGetConfiguration = 0x08;
inline constexpr std::uint8_t kSetConfiguration = 0x09;
inline constexpr std::uint8_t kGetInterface = 0x0A;
inline constexpr std::uint8_t kSetInterface = 0x0B;
inline constexpr std::uint8_t kGetMaxLun = 0xFE;
inline constexpr std::uint8_t kBulkOnlyReset = 0xFF;
inline constexpr std::uint16_t kEndpointHalt = 0x00; // the feature
// A request's type byte: direction (bit 7), type (bits 6-5), recipient (bits 4-0).
inline constexpr std::uint8_t kRequestIn = 0x80;
inline constexpr std::uint8_t kStandardType = 0;
inline constexpr std::uint8_t kClassType = 1;
inline constexpr std::uint8_t kRecipientDevice = 0;
inline constexpr std::uint8_t kRecipientInterface = 1;
inline constexpr std::uint8_t kRecipientEndpoint = 2;

inline constexpr std::uint16_t bulkPacketBytes(Speed speed) {
  return speed == Speed::High ? 512 : 64;
}

// The descriptor a GET_DESCRIPTOR with `value` asks of `reader` at `speed`; nothing for one the
// device does not have (the request then stalls). Strings are in US English whatever the
// language asked: the device offers no other.
std::optional<std::vector<std::uint8_t>> descriptor(const platform::sim::ReaderPlan& reader,
                                                    Speed speed, std::uint16_t value);

} // namespace tarvix::farm_usb
