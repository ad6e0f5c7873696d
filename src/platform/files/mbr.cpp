#include "platform/files/mbr.h"
#include "platform/byte_order.h"

#include <algorithm>

namespace tarvix::platform::files {
namespace {

constexpr std::size_t kFirstEntry = 446;
constexpr std::size_t kEntryBytes = 16;
constexpr std::size_t kTypeOffset = 4;
constexpr std::size_t kStartLbaOffset = 8;
constexpr std::size_t kSectorCountOffset = 12;
constexpr unsigned kPrimaryEntries = 4;

std::uint32_t get32(std::span<const std::uint8_t> b, std::size_t at) {
  return static_cast<std::uint32_t>(platform::littleEndian(&b[at], 4));
}

std::size_t entryAt(unsigned number) { return kFirstEntry + (number - 1) * kEntryBytes; }

bool entryInUse(std::span<const std::uint8_t> mbr, unsigned number) {
  const std::size_t e = entryAt(number);
  return mbr[e + kTypeOffset] != 0 && get32(mbr, e + kSectorCountOffset) != 0;
}

} // namespace

bool hasBootSignature(std::span<const std::uint8_t> mbr) {
  return mbr.size() >= kMbrBytes && mbr[510] == 0x55 && mbr[511] == 0xAA;
}

unsigned entryStartingAt(std::span<const std::uint8_t> mbr, std::uint64_t startLba) {
  if (!hasBootSignature(mbr)) return 0;
  for (unsigned n = 1; n <= kPrimaryEntries; ++n) {
    if (entryInUse(mbr, n) && get32(mbr, entryAt(n) + kStartLbaOffset) == startLba) return n;
  }
  return 0;
}

bool setPartitionType(std::span<std::uint8_t> mbr, unsigned number, std::uint8_t type) {
  if (!hasBootSignature(mbr) || number < 1 || number > kPrimaryEntries) return false;
  if (!entryInUse(mbr, number)) return false;
  mbr[entryAt(number) + kTypeOffset] = type;
  return true;
}

bool dropLayout(std::span<std::uint8_t> mbr) {
  if (!hasBootSignature(mbr)) return false;
  std::fill(mbr.begin() + kFirstEntry, mbr.begin() + kMbrBytes, std::uint8_t{0});
  return true;
}

} // namespace tarvix::platform::files
