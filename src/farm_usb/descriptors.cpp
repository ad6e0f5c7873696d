#include "farm_usb/descriptors.h"

#include "platform/byte_order.h"

#include <string_view>

namespace tarvix::farm_usb {
namespace {

using platform::putLittleEndian;

constexpr std::uint16_t kUsb2 = 0x0200;
constexpr std::uint16_t kUsEnglish = 0x0409;
constexpr std::uint8_t kBusPowered = 0x80;
constexpr std::uint8_t kMaxPower100mA = 50; // in units of 2 mA
constexpr std::uint8_t kInterfaceDescriptor = 0x04;
constexpr std::uint8_t kEndpointDescriptor = 0x05;
constexpr std::uint8_t kBulkTransfers = 0x02;

// The strings the controller shows while no identity has been written to it.
constexpr std::uint8_t kManufacturerIndex = 1;
constexpr std::uint8_t kProductIndex = 2;
constexpr std::uint8_t kSerialIndex = 3;
constexpr std::string_view kManufacturer = " Generic ";
constexpr std::string_view kProduct = " AutoRUN/Partition ";
constexpr std::size_t kLongestString = 126;

std::vector<std::uint8_t> deviceDescriptor(const platform::sim::ReaderPlan& reader) {
  std::vector<std::uint8_t> d(18, 0);
  d[0] = 18;
  d[1] = kDeviceDescriptor;
  putLittleEndian(&d[2], kUsb2, 2);
  // Class, subclass and protocol 0: each interface names its own.
  d[7] = kControlPacketBytes;
  putLittleEndian(&d[8], reader.vendorId, 2);
  putLittleEndian(&d[10], reader.productId, 2);
  putLittleEndian(&d[12], kDeviceRelease, 2);
  d[14] = kManufacturerIndex;
  d[15] = kProductIndex;
  d[16] = kSerialIndex;
  d[17] = 1; // configurations
  return d;
}

std::vector<std::uint8_t> qualifierDescriptor() {
  std::vector<std::uint8_t> d(10, 0);
  d[0] = 10;
  d[1] = kDeviceQualifierDescriptor;
  putLittleEndian(&d[2], kUsb2, 2);
  d[6] = kControlPacketBytes;
  d[7] = 1;
  return d;
}

std::vector<std::uint8_t> configurationDescriptor(Speed speed, std::uint8_t type) {
  std::vector<std::uint8_t> d = {
      9, type, 32, 0, 1, kConfigurationValue, 0, kBusPowered, kMaxPower100mA,
      // The Bulk-Only interface, no string.
      9, kInterfaceDescriptor, kInterfaceNumber, 0, 2, kMassStorageClass, kScsiTransparentSubclass,
      kBulkOnlyProtocol, 0,
      // Its two bulk endpoints.
      7, kEndpointDescriptor, kBulkInEndpoint, kBulkTransfers, 0, 0, 0, //
      7, kEndpointDescriptor, kBulkOutEndpoint, kBulkTransfers, 0, 0, 0};
  putLittleEndian(&d[22], bulkPacketBytes(speed), 2);
  putLittleEndian(&d[29], bulkPacketBytes(speed), 2);
  return d;
}

std::vector<std::uint8_t> stringDescriptor(std::string_view text) {
  text = text.substr(0, kLongestString); // the length byte holds no more
  std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * text.size()), kStringDescriptor};
  for (const char c : text) {
    d.push_back(static_cast<std::uint8_t>(c));
    d.push_back(0);
  }
  return d;
}

} // namespace

std::optional<std::vector<std::uint8_t>> descriptor(const platform::sim::ReaderPlan& reader,
                                                    Speed speed, std::uint16_t value) {
  const std::uint8_t index = static_cast<std::uint8_t>(value);
  const Speed otherSpeed = speed == Speed::High ? Speed::Full : Speed::High;
  switch (value >> 8) {
  case kDeviceDescriptor: return deviceDescriptor(reader);
  case kConfigurationDescriptor:
    if (index != 0) return std::nullopt;
    return configurationDescriptor(speed, kConfigurationDescriptor);
  case kOtherSpeedConfigurationDescriptor:
    if (index != 0) return std::nullopt;
    return configurationDescriptor(otherSpeed, kOtherSpeedConfigurationDescriptor);
  case kDeviceQualifierDescriptor: return qualifierDescriptor();
  case kStringDescriptor:
    switch (index) {
    case 0: {
      std::vector<std::uint8_t> languages = {4, kStringDescriptor, 0, 0};
      putLittleEndian(&languages[2], kUsEnglish, 2);
      return languages;
    }
    case kManufacturerIndex: return stringDescriptor(kManufacturer);
    case kProductIndex: return stringDescriptor(kProduct);
    // The serial a system tells the reader by: its id in the farm file.
    case kSerialIndex: return stringDescriptor(reader.id);
    default: return std::nullopt;
    }
  default: return std::nullopt;
  }
}

} // namespace tarvix::farm_usb
