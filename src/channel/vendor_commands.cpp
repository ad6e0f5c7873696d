#include "channel/vendor_commands.h"

#include "channel/command_blocks.h"
#include "channel/replies.h"
#include "channel/trace_lines.h"

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tarvix::channel {
namespace {

// A reader answers UNIT ATTENTION to the first command after a card change, a plug-in or a
// re-initialisation of its controller; the command itself was not refused, so it is sent again.
constexpr std::uint8_t kSenseKeyUnitAttention = 0x06;
constexpr int kUnitAttentionResends = 3;

// Sends one request and writes the command's trace line. A holder whose open failed answers
// every request with EBADF, as a closed descriptor would.
bool send(ReaderHandleHolder& holder, Command command, PassThroughRequest& request) {
  const CommandTraits& t = traits(command);
  bool ok = false;
  if (holder.isOpen()) {
    for (int resends = 0;; ++resends) {
      request.errorCode = 0;
      request.senseKey = 0;
      request.sense.fill(0);
      ok = holder.access().send(holder.handle(), request);
      if (ok || request.senseKey != kSenseKeyUnitAttention || resends == kUnitAttentionResends)
        break;
    }
    if (!ok && request.errorCode == 0) request.errorCode = EIO;
  } else {
    request.errorCode = EBADF;
  }
  if (ok) {
    if (t.tracesSuccess) holder.trace().line(successLine(t.name));
  } else {
    holder.trace().line(errorLine(t.name, request.errorCode));
  }
  return ok;
}

// A request the station refuses to build; traced like a failed one so the caller's mistake shows.
bool refuse(ReaderHandleHolder& holder, Command command) {
  holder.trace().line(errorLine(traits(command).name, EINVAL));
  return false;
}

// Buffered frame: the device answers into a fresh zeroed area, and `copyOut` receives the area's
// first copyOut.size() bytes on success, so whatever the device did not return reads as zero and
// a failed request leaves `copyOut` as it was. The area is as long as the request or the copy.
bool sendBuffered(ReaderHandleHolder& holder, Command command, PassThroughRequest request,
                  std::span<std::uint8_t> copyOut) {
  std::vector<std::uint8_t> area(std::max<std::size_t>(request.dataLength, copyOut.size()), 0);
  request.data = request.dataLength > 0 ? area.data() : nullptr;
  if (!send(holder, command, request)) return false;
  std::copy_n(area.begin(), copyOut.size(), copyOut.begin());
  return true;
}

// Direct frame: the caller's buffer goes to the backend in place. Out requests are never written
// through, so lending the const buffer is safe.
bool sendDirect(ReaderHandleHolder& holder, Command command, PassThroughRequest request,
                std::span<const std::uint8_t> source) {
  request.data = const_cast<std::uint8_t*>(source.data());
  return send(holder, command, request);
}

std::uint32_t length32(std::size_t size) { return static_cast<std::uint32_t>(size); }

// An area transfer is one chunk; the caller splits longer data.
bool writeArea(ReaderHandleHolder& holder, Command command, std::span<const std::uint8_t> source,
               std::uint32_t startSector) {
  if (source.size() > kMaxTransferBytes) return refuse(holder, command);
  return sendDirect(holder, command,
                    areaTransferRequest(command, startSector, length32(source.size())), source);
}

bool readArea(ReaderHandleHolder& holder, Command command, std::span<std::uint8_t> destination,
              std::uint32_t startSector) {
  if (destination.size() > kMaxTransferBytes) return refuse(holder, command);
  return sendBuffered(holder, command,
                      areaTransferRequest(command, startSector, length32(destination.size())),
                      destination);
}

} // namespace

bool ReInitialCard(ReaderHandleHolder& m_hUSBDeviceHandle) {
  return sendBuffered(m_hUSBDeviceHandle, Command::ReInitialCard, reInitialCardRequest(), {});
}

bool FactoryTotalDefault(ReaderHandleHolder& m_hUSBDeviceHandle) {
  return sendBuffered(m_hUSBDeviceHandle, Command::FactoryTotalDefault,
                      factoryTotalDefaultRequest(), {});
}

bool SetBinAreaSize(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t sectors) {
  return sendBuffered(m_hUSBDeviceHandle, Command::SetBinAreaSize, setBinAreaSizeRequest(sectors),
                      {});
}

bool SetCDRomSize(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t sectors) {
  return sendBuffered(m_hUSBDeviceHandle, Command::SetCDRomSize, setCDRomSizeRequest(sectors), {});
}

bool WriteCard(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<const std::uint8_t> source,
               std::uint32_t startSector) {
  if (source.empty()) return false;
  for (std::size_t offset = 0, i = 0; offset < source.size(); offset += kMaxTransferBytes, ++i) {
    const auto chunk =
        source.subspan(offset, std::min<std::size_t>(kMaxTransferBytes, source.size() - offset));
    const auto sector = startSector + static_cast<std::uint32_t>(i) * kSectorsPerTransfer;
    if (!sendDirect(m_hUSBDeviceHandle, Command::WriteCard,
                    areaTransferRequest(Command::WriteCard, sector, length32(chunk.size())), chunk))
      return false;
  }
  return true;
}

bool ReadCard(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<std::uint8_t> destination,
              std::uint32_t startSector) {
  if (destination.empty()) return false;
  for (std::size_t offset = 0, i = 0; offset < destination.size();
       offset += kMaxTransferBytes, ++i) {
    const auto chunk = destination.subspan(
        offset, std::min<std::size_t>(kMaxTransferBytes, destination.size() - offset));
    const auto sector = startSector + static_cast<std::uint32_t>(i) * kSectorsPerTransfer;
    if (!sendBuffered(m_hUSBDeviceHandle, Command::ReadCard,
                      areaTransferRequest(Command::ReadCard, sector, length32(chunk.size())),
                      chunk))
      return false;
  }
  return true;
}

bool WriteBin(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<const std::uint8_t> source,
              std::uint32_t startSector) {
  return writeArea(m_hUSBDeviceHandle, Command::WriteBin, source, startSector);
}

bool ReadBin(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<std::uint8_t> destination,
             std::uint32_t startSector) {
  return readArea(m_hUSBDeviceHandle, Command::ReadBin, destination, startSector);
}

bool WriteAutorun(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<const std::uint8_t> source,
                  std::uint32_t startSector) {
  return writeArea(m_hUSBDeviceHandle, Command::WriteAutorun, source, startSector);
}

bool ReadAutoRun(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<std::uint8_t> destination,
                 std::uint32_t startSector) {
  return readArea(m_hUSBDeviceHandle, Command::ReadAutoRun, destination, startSector);
}

namespace {

bool getCapacity(ReaderHandleHolder& holder, PassThroughRequest request, std::uint32_t& sectorCount,
                 std::uint32_t& sectorSize) {
  std::array<std::uint8_t, kCapacityReplyLength> reply{};
  if (!sendBuffered(holder, Command::GetCapacity, request, reply)) return false;
  const Capacity capacity = decodeCapacity(reply);
  sectorCount = capacity.sectorCount;
  sectorSize = capacity.sectorSize;
  return true;
}

} // namespace

bool GetCapacity(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t& sectorCount,
                 std::uint32_t& sectorSize, unsigned unitNumber) {
  return getCapacity(m_hUSBDeviceHandle, getCapacityUnitRequest(unitNumber), sectorCount,
                     sectorSize);
}

bool GetCapacity(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint32_t& sectorCount,
                 std::uint32_t& sectorSize) {
  return getCapacity(m_hUSBDeviceHandle, getCapacityCardRequest(), sectorCount, sectorSize);
}

bool GetVIDPID(ReaderHandleHolder& m_hUSBDeviceHandle, std::uint8_t subCode,
               std::span<std::uint8_t, 512> destination) {
  if (subCode == kVidPidIdentity || subCode == kVidPidCardType)
    std::fill(destination.begin(), destination.end(), std::uint8_t{0});
  return sendBuffered(m_hUSBDeviceHandle, Command::GetVIDPID, getVidPidRequest(subCode),
                      destination);
}

bool ReadEEPROM(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<std::uint8_t> destination) {
  if (destination.size() > kMaxEepromLength) return refuse(m_hUSBDeviceHandle, Command::ReadEEPROM);
  return sendBuffered(m_hUSBDeviceHandle, Command::ReadEEPROM,
                      readEepromRequest(static_cast<std::uint8_t>(destination.size())),
                      destination);
}

bool WriteEEPROM(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<const std::uint8_t> source) {
  if (source.size() > kMaxEepromLength) return refuse(m_hUSBDeviceHandle, Command::WriteEEPROM);
  return sendDirect(m_hUSBDeviceHandle, Command::WriteEEPROM,
                    writeEepromRequest(static_cast<std::uint8_t>(source.size())), source);
}

bool ReadSector(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<std::uint8_t> destination,
                std::uint32_t logicalBlock) {
  if (destination.empty()) return false;
  const auto part = destination.first(std::min<std::size_t>(destination.size(), kMaxTransferBytes));
  // Read in place: the bytes are zeroed first, so what the device does not return reads as zero,
  // and zeroed again after a failure, so no part of a failed read passes for data.
  std::fill(part.begin(), part.end(), std::uint8_t{0});
  PassThroughRequest request = readSectorRequest(logicalBlock, length32(part.size()));
  request.data = part.data();
  if (send(m_hUSBDeviceHandle, Command::ReadSector, request)) return true;
  std::fill(part.begin(), part.end(), std::uint8_t{0});
  return false;
}

bool WriteSector(ReaderHandleHolder& m_hUSBDeviceHandle, std::span<const std::uint8_t> source,
                 std::uint32_t logicalBlock) {
  if (source.empty()) return false;
  const auto part = source.first(std::min<std::size_t>(source.size(), kMaxTransferBytes));
  return sendDirect(m_hUSBDeviceHandle, Command::WriteSector,
                    writeSectorRequest(logicalBlock, length32(part.size())), part);
}

bool ReadLastCardBlock(ReaderHandleHolder& m_hUSBDeviceHandle,
                       std::span<std::uint8_t> destination) {
  std::uint32_t sectorCount = 0;
  std::uint32_t sectorSize = 0;
  // A bogus sector size must not read past the caller's buffer, and a card of no sectors has no
  // last sector to read.
  if (!GetCapacity(m_hUSBDeviceHandle, sectorCount, sectorSize) || sectorCount == 0 ||
      sectorSize > destination.size())
    return false;
  return ReadCard(m_hUSBDeviceHandle, destination.first(sectorSize), sectorCount - 1);
}

} // namespace tarvix::channel
