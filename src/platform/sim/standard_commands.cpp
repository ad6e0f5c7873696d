// The standard commands of the emulated controller: what a system's disk and CD-ROM drivers send to
// any USB disk before and beside READ(10) and WRITE(10). The station itself sends none of them;
// the kernel does, once the farm is served as USB devices.
#include "platform/byte_order.h"
#include "platform/sim/emulated_reader.h"

#include <algorithm>
#include <string_view>

namespace tarvix::platform::sim {
namespace {

// The unit's own defaults, as a card information block leaves them when nothing is typed.
constexpr std::string_view kDiskVendor = "Mass    ";
constexpr std::string_view kCdRomVendor = "USB Mass";
constexpr std::string_view kInquiryProduct = "Storage Device  ";
constexpr std::string_view kInquiryRevision = "1.00";
constexpr std::uint8_t kDirectAccessDevice = 0x00;
constexpr std::uint8_t kCdRomDevice = 0x05;
constexpr std::uint8_t kRemovableMedium = 0x80;
constexpr std::uint8_t kScsi2 = 0x02;
constexpr std::uint8_t kResponseFormat = 0x02;
constexpr std::size_t kStandardInquiryBytes = 36;

constexpr std::uint8_t kVpdSupportedPages = 0x00;
constexpr std::uint8_t kVpdUnitSerial = 0x80;
constexpr std::uint8_t kVpdDeviceIdentification = 0x83;
constexpr std::uint8_t kAsciiCodeSet = 0x02;
constexpr std::uint8_t kT10VendorIdType = 0x01;

constexpr std::uint8_t kCachingPage = 0x08;
constexpr std::uint8_t kCachingPageLength = 0x12;
constexpr std::uint8_t kAllPages = 0x3F;
constexpr std::uint8_t kWriteProtected = 0x80;

constexpr std::size_t kLunListEntryBytes = 8;

// Copies the reply into the request's data area, cut to what the host asked and room allows; the
// rest of the area is zero.
void reply(PassThroughRequest& request, std::span<const std::uint8_t> bytes,
           std::size_t allocation) {
  std::fill(request.data, request.data + request.dataLength, 0);
  const std::size_t length = std::min({bytes.size(), allocation, std::size_t{request.dataLength}});
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length), request.data);
}

void append(std::vector<std::uint8_t>& bytes, std::string_view text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
}

} // namespace

bool EmulatedReader::isStandardCommand(std::uint8_t opcode) {
  switch (opcode) {
  case kTestUnitReadyOpcode:
  case kInquiryOpcode:
  case kModeSense6Opcode:
  case kStartStopUnitOpcode:
  case kPreventAllowOpcode:
  case kReadCapacity10Opcode:
  case kSynchronizeCache10Opcode:
  case kModeSense10Opcode:
  case kServiceActionInOpcode:
  case kReportLunsOpcode: return true;
  default: return false;
  }
}

EmulatedReader::Outcome EmulatedReader::standardCommand(unsigned lun,
                                                        PassThroughRequest& request) const {
  const std::uint8_t* b = request.commandBlock.data();
  const bool in = request.direction == DataDirection::In;
  const Refusal invalidField{kKeyIllegalRequest, kAscInvalidField};
  const Area area = lunArea(lun);
  const bool medium = area.image != nullptr && area.sectors > 0;
  const Refusal noMedium{kKeyNotReady, kAscNoMedium};
  switch (b[0]) {
  case kTestUnitReadyOpcode: return medium ? Outcome() : noMedium;
  case kStartStopUnitOpcode:
  case kPreventAllowOpcode:
  case kSynchronizeCache10Opcode: return Outcome(); // the images are written through
  case kInquiryOpcode: return in ? inquiry(lun, request) : invalidField;
  case kModeSense6Opcode:
  case kModeSense10Opcode: return in ? modeSense(lun, request) : invalidField;
  case kReadCapacity10Opcode: {
    if (!in) return invalidField;
    if (!medium) return noMedium;
    std::array<std::uint8_t, 8> data{};
    // A disk too large for ten-byte addresses says so, and the driver asks the long form.
    putBigEndian32(data.data(), static_cast<std::uint32_t>(
                                    std::min<std::uint64_t>(area.sectors - 1, 0xFFFFFFFF)));
    putBigEndian32(data.data() + 4, kSectorBytes);
    reply(request, data, data.size());
    return Outcome();
  }
  case kServiceActionInOpcode: {
    if (!in || (b[1] & 0x1F) != kReadCapacity16Action) return invalidField;
    if (!medium) return noMedium;
    std::array<std::uint8_t, 32> data{};
    putBigEndian(data.data(), area.sectors - 1, 8);
    putBigEndian32(data.data() + 8, kSectorBytes);
    reply(request, data, bigEndian32(b + 10));
    return Outcome();
  }
  case kReportLunsOpcode: {
    if (!in) return invalidField;
    std::vector<std::uint8_t> data(kLunListEntryBytes * (1 + lunCount()), 0);
    putBigEndian32(data.data(), static_cast<std::uint32_t>(kLunListEntryBytes * lunCount()));
    for (unsigned unit = 0; unit < lunCount(); ++unit)
      data[kLunListEntryBytes * (1 + unit) + 1] = static_cast<std::uint8_t>(unit);
    reply(request, data, bigEndian32(b + 6));
    return Outcome();
  }
  default: return Refusal{kKeyIllegalRequest, kAscInvalidOpcode};
  }
}

EmulatedReader::Outcome EmulatedReader::inquiry(unsigned lun, PassThroughRequest& request) const {
  const std::uint8_t* b = request.commandBlock.data();
  const bool cdRom = plan_.model.luns[lun] == LunKind::CdRom;
  const std::uint8_t type = cdRom ? kCdRomDevice : kDirectAccessDevice;
  const bool vitalProductData = (b[1] & 0x01) != 0;
  const std::size_t allocation = bigEndian16(b + 3);
  std::vector<std::uint8_t> data;
  if (!vitalProductData) {
    if (b[2] != 0) return Refusal{kKeyIllegalRequest, kAscInvalidField};
    data = {type,
            kRemovableMedium,
            kScsi2,
            kResponseFormat,
            static_cast<std::uint8_t>(kStandardInquiryBytes - 5),
            0,
            0,
            0};
    append(data, cdRom ? kCdRomVendor : kDiskVendor);
    append(data, kInquiryProduct);
    append(data, kInquiryRevision);
    reply(request, data, allocation);
    return Outcome();
  }
  // The serial number a system names the unit by is the reader's id, as on its USB descriptor.
  const std::string& serial = plan_.id;
  data = {type, b[2], 0, 0};
  switch (b[2]) {
  case kVpdSupportedPages:
    data.insert(data.end(), {kVpdSupportedPages, kVpdUnitSerial, kVpdDeviceIdentification});
    break;
  case kVpdUnitSerial: append(data, serial); break;
  case kVpdDeviceIdentification: {
    const std::string_view vendor = cdRom ? kCdRomVendor : kDiskVendor;
    data.insert(data.end(), {kAsciiCodeSet, kT10VendorIdType, 0,
                             static_cast<std::uint8_t>(vendor.size() + serial.size())});
    append(data, vendor);
    append(data, serial);
    break;
  }
  default: return Refusal{kKeyIllegalRequest, kAscInvalidField};
  }
  putBigEndian16(data.data() + 2, static_cast<std::uint32_t>(data.size() - 4));
  reply(request, data, allocation);
  return Outcome();
}

EmulatedReader::Outcome EmulatedReader::modeSense(unsigned lun, PassThroughRequest& request) const {
  const std::uint8_t* b = request.commandBlock.data();
  const bool tenByte = b[0] == kModeSense10Opcode;
  const std::uint8_t page = b[2] & 0x3F;
  if (page != kAllPages && page != kCachingPage)
    return Refusal{kKeyIllegalRequest, kAscInvalidField};
  const std::size_t header = tenByte ? 8 : 4;
  std::vector<std::uint8_t> data(header, 0);
  // No block descriptors; the CD-ROM unit is read-only.
  data[tenByte ? 3 : 2] = plan_.model.luns[lun] == LunKind::CdRom ? kWriteProtected : 0;
  // Write-through, every field zero and none changeable: the card is written before the command
  // ends, so no cache needs flushing.
  data.push_back(kCachingPage);
  data.push_back(kCachingPageLength);
  data.resize(data.size() + kCachingPageLength, 0);
  const std::size_t length = data.size() - (tenByte ? 2 : 1);
  if (tenByte)
    putBigEndian16(data.data(), static_cast<std::uint32_t>(length));
  else
    data[0] = static_cast<std::uint8_t>(length);
  reply(request, data, tenByte ? bigEndian16(b + 7) : b[4]);
  return Outcome();
}

} // namespace tarvix::platform::sim
