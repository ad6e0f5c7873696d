#include "platform/sim/emulated_reader.h"

#include "platform/byte_order.h"
#include "platform/files/mbr.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tarvix::platform::sim {

#ifdef ENOMEDIUM
constexpr int kNoMedium = ENOMEDIUM;
#else
constexpr int kNoMedium = ENXIO; // Windows' C library has no "no medium"
#endif
namespace {

std::uint32_t littleEndian32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(littleEndian(bytes, 4));
}
void putLittleEndian32(std::uint8_t* bytes, std::uint32_t value) {
  putLittleEndian(bytes, value, 4);
}

bool zero(const std::uint8_t* block, std::initializer_list<int> indexes) {
  return std::all_of(indexes.begin(), indexes.end(), [&](int i) { return block[i] == 0; });
}

// A decoded block: what it asks and its numbers. Anything not exactly as the command set lays it
// out is refused, as a strict controller would.
struct Decoded {
  Op op = Op::Unknown;
  std::uint8_t subCode = 0;
  std::uint32_t argument = 0; // start sector, logical block or size
};

constexpr std::uint8_t kNoRefusal = 0;

// Returns kNoRefusal or the additional sense code of an ILLEGAL REQUEST.
std::uint8_t decode(const PassThroughRequest& request, Decoded& out) {
  const std::uint8_t* b = request.commandBlock.data();
  const std::uint32_t length = request.dataLength;
  const bool in = request.direction == DataDirection::In;
  if (b[0] == kRead10Opcode || b[0] == kWrite10Opcode) {
    out.op = b[0] == kRead10Opcode ? Op::ReadSector : Op::WriteSector;
    if (!zero(b, {1, 6, 9, 10, 11, 12, 13, 14, 15})) return kAscInvalidField;
    if (bigEndian16(b + 7) != length / kSectorBytes) return kAscInvalidField;
    if (in != (out.op == Op::ReadSector)) return kAscInvalidField;
    out.argument = bigEndian32(b + 2);
    return kNoRefusal;
  }
  if (b[0] != kVendorOpcode) return kAscInvalidOpcode;
  const auto command = std::find_if(kVendorCommands.begin(), kVendorCommands.end(),
                                    [&](const VendorCommand& c) { return c.subCode == b[1]; });
  if (command == kVendorCommands.end()) return kAscInvalidOpcode;
  out.op = command->op;
  out.subCode = b[1];
  if (!std::equal(kVendorSignature.begin(), kVendorSignature.end(), b + 2)) return kAscInvalidField;
  if (!zero(b, {11, 12, 13, 14, 15})) return kAscInvalidField;
  out.argument = bigEndian32(b + 5);
  bool fieldsRight = false;
  switch (command->args) {
  case ArgForm::None:
  case ArgForm::Reply16: fieldsRight = zero(b, {5, 6, 7, 8, 9, 10}); break;
  case ArgForm::Size: fieldsRight = zero(b, {9, 10}); break;
  case ArgForm::Transfer:
    fieldsRight = bigEndian16(b + 9) == length / kSectorBytes && length <= kMaxTransferBytes;
    break;
  case ArgForm::Capacity:
    fieldsRight = zero(b, {6, 8, 9, 10}) && (b[7] == 0 || (b[7] == kCardFormFlag && b[5] == 0)) &&
                  length == kCapacityReplyBytes;
    break;
  case ArgForm::Length8:
    fieldsRight = zero(b, {5, 6, 8, 9, 10}) && b[7] == length && length > 0;
    break;
  case ArgForm::FactoryArg:
    fieldsRight = zero(b, {5, 6, 8, 9, 10}) && b[7] == kFactoryDefaultFlag;
    break;
  }
  if (command->args == ArgForm::Reply16 && length != kVidPidReplyBytes) fieldsRight = false;
  switch (command->flow) {
  case Flow::NoData: fieldsRight = fieldsRight && length == 0 && !in; break;
  case Flow::In: fieldsRight = fieldsRight && in; break;
  case Flow::Out: fieldsRight = fieldsRight && !in; break;
  }
  return fieldsRight ? kNoRefusal : kAscInvalidField;
}

// The first partition when `sector` is a partition table that fits a disk of `diskSectors`;
// nothing when it is none (a volume boot sector also ends in 55 AA, so that is told apart first).
VolumePlace tablePartition(std::span<const std::uint8_t> sector, std::uint64_t diskSectors) {
  if (!files::hasBootSignature(sector)) return {};
  const bool bootJump = sector[0] == 0xEB || sector[0] == 0xE9;
  if (bootJump && sector[11] == 0x00 && sector[12] == 0x02) return {};
  const std::uint8_t* entry = sector.data() + 446;
  const bool status = entry[0] == 0x00 || entry[0] == 0x80;
  const std::uint32_t start = littleEndian32(entry + 8);
  const std::uint32_t count = littleEndian32(entry + 12);
  if (!status || entry[4] == 0 || start == 0 || count == 0 ||
      std::uint64_t{start} + count > diskSectors)
    return {};
  return {start, count};
}

// One partition of type 0Ch (FAT32, LBA) from sector 63 to the end of the disk.
std::array<std::uint8_t, kSectorBytes> freshPartitionTable(std::uint64_t diskSectors) {
  std::array<std::uint8_t, kSectorBytes> sector{};
  std::uint8_t* entry = sector.data() + 446;
  const std::uint8_t chsBeyond[3] = {0xFE, 0xFF, 0xFF}; // "use the LBA fields"
  std::copy(chsBeyond, chsBeyond + 3, entry + 1);
  entry[4] = 0x0C;
  std::copy(chsBeyond, chsBeyond + 3, entry + 5);
  putLittleEndian32(entry + 8, kPartitionStart);
  putLittleEndian32(entry + 12, static_cast<std::uint32_t>(diskSectors - kPartitionStart));
  sector[510] = 0x55;
  sector[511] = 0xAA;
  return sector;
}

std::filesystem::path cardFile(const std::filesystem::path& dir, const std::string& id,
                               unsigned slot) {
  return dir / (id + (slot == 0 ? std::string() : "-" + std::to_string(slot + 1)) + ".img");
}

std::filesystem::path eepromFile(const std::filesystem::path& dir, const std::string& id) {
  return dir / (id + ".eeprom");
}

// The disk a fresh partition table is written on: the whole card less its information sector
// for the first slot (a fresh card has no hidden or CD-ROM area), the whole card for the second.
std::uint64_t freshDiskSectors(const CardPlan& card, unsigned slot) {
  return slot == 0 ? card.sectors - 1 : card.sectors;
}

} // namespace

void checkCondition(PassThroughRequest& request, std::uint8_t key, std::uint8_t asc) {
  request.errorCode = EIO;
  request.senseKey = key;
  if (request.senseLength >= 14) {
    request.sense.fill(0);
    request.sense[0] = kSenseResponseCode;
    request.sense[2] = key;
    request.sense[7] = kSenseAdditionalLength;
    request.sense[12] = asc;
  }
}

Op commandOf(const PassThroughRequest& request) {
  Decoded decoded;
  decode(request, decoded);
  return decoded.op;
}

bool EmulatedReader::imagesFit(const ReaderPlan& plan, const std::filesystem::path& imageDir,
                               std::string& error) {
  for (unsigned slot = 0; slot < plan.cards.size(); ++slot) {
    const CardPlan& card = plan.cards[slot];
    if (card.sectors == 0) continue;
    if (card.partitioned && freshDiskSectors(card, slot) <= kPartitionStart) {
      error = "a partitioned card needs more than 64 sectors";
      return false;
    }
    if (!CardImage::fits(cardFile(imageDir, plan.id, slot), card.sectors * kSectorBytes, error))
      return false;
  }
  if (plan.model.hasEeprom && !CardImage::fits(eepromFile(imageDir, plan.id), kEepromBytes, error))
    return false;
  return true;
}

std::unique_ptr<EmulatedReader> EmulatedReader::create(const ReaderPlan& plan,
                                                       const std::filesystem::path& imageDir,
                                                       std::string& error) {
  std::unique_ptr<EmulatedReader> reader(new EmulatedReader(plan));
  reader->faults_ = plan.faults;
  reader->fired_.assign(plan.faults.size(), 0);
  for (unsigned slot = 0; slot < plan.cards.size(); ++slot) {
    const CardPlan& card = plan.cards[slot];
    if (card.sectors == 0) {
      reader->cards_.push_back(nullptr);
      continue;
    }
    bool fresh = false;
    // The first card's information sector lives in the controller's own block, forged or not.
    Forgery forgery = card.forgery;
    forgery.keptBytes = slot == 0 ? kSectorBytes : 0;
    auto image = CardImage::open(cardFile(imageDir, plan.id, slot), card.sectors * kSectorBytes,
                                 fresh, error, forgery);
    if (!image) return nullptr;
    if (fresh && card.partitioned) {
      const auto table = freshPartitionTable(freshDiskSectors(card, slot));
      if (!image->write(0, table)) {
        error = image->path().string() + ": " + std::strerror(errno);
        return nullptr;
      }
    }
    reader->cards_.push_back(std::move(image));
  }
  if (plan.model.hasEeprom) {
    bool fresh = false;
    reader->eepromFile_ =
        CardImage::open(eepromFile(imageDir, plan.id), kEepromBytes, fresh, error);
    if (!reader->eepromFile_) return nullptr;
    reader->eeprom_.assign(kEepromBytes, 0);
    if (fresh) {
      std::copy(plan.eeprom.begin(), plan.eeprom.end(), reader->eeprom_.begin());
      if (!reader->eepromFile_->write(0, reader->eeprom_)) {
        error = reader->eepromFile_->path().string() + ": " + std::strerror(errno);
        return nullptr;
      }
    } else if (!reader->eepromFile_->read(0, reader->eeprom_)) {
      error = reader->eepromFile_->path().string() + ": " + std::strerror(errno);
      return nullptr;
    }
  }
  return reader;
}

std::uint64_t EmulatedReader::plugIn() {
  std::lock_guard lock(mutex_);
  loadLayoutFromCard();
  for (unsigned lun = 0; lun < plan_.model.lunCount; ++lun)
    readPartitionTable(lun);
  partitionOpeners_ = {};
  plugged_ = true;
  return ++generation_;
}

void EmulatedReader::pullOut() {
  std::lock_guard lock(mutex_);
  plugged_ = false;
  partitionOpeners_ = {};
  ++generation_;
}

bool EmulatedReader::pluggedAs(std::uint64_t generation) const {
  std::lock_guard lock(mutex_);
  return plugged_ && generation_ == generation;
}

bool EmulatedReader::readInfoSector(std::array<std::uint8_t, kSectorBytes>& sector) const {
  const CardImage* card = cards_.empty() ? nullptr : cards_[0].get();
  if (!card) return false;
  return card->read(card->bytes() - kSectorBytes, sector);
}

void EmulatedReader::loadLayoutFromCard() {
  binSectors_ = 0;
  cdRomSectors_ = 0;
  std::array<std::uint8_t, kSectorBytes> sector{};
  if (!readInfoSector(sector)) return;
  const std::uint32_t bin = bigEndian32(sector.data() + kInfoBinSizeOffset);
  const std::uint32_t cdRom = bigEndian32(sector.data() + kInfoCdRomSizeOffset);
  // A layout that does not fit is not used: the card comes up as one public disk.
  if (std::uint64_t{bin} + cdRom + 2 > plan_.cards[0].sectors) return;
  binSectors_ = bin;
  cdRomSectors_ = cdRom;
}

void EmulatedReader::readPartitionTable(unsigned lun) {
  partition_[lun] = {};
  if (plan_.model.luns[lun] == LunKind::CdRom) return;
  const Area area = lunArea(lun);
  if (!area.image || area.sectors == 0) return;
  std::array<std::uint8_t, kSectorBytes> sector{};
  if (!area.image->read(area.firstSector * kSectorBytes, sector)) return;
  partition_[lun] = tablePartition(sector, area.sectors);
}

const CardImage* EmulatedReader::cardOf(unsigned lun) const {
  const unsigned slot = plan_.model.luns[lun] == LunKind::SecondCard ? 1 : 0;
  return slot < cards_.size() ? cards_[slot].get() : nullptr;
}

EmulatedReader::Area EmulatedReader::lunArea(unsigned lun) const {
  const CardImage* card = cardOf(lun);
  if (!card) return {};
  const std::uint64_t sectors = card->bytes() / kSectorBytes;
  switch (plan_.model.luns[lun]) {
  case LunKind::PublicDisk:
    return {card, std::uint64_t{binSectors_} + cdRomSectors_,
            sectors - 1 - binSectors_ - cdRomSectors_};
  case LunKind::CdRom: return {card, binSectors_, cdRomSectors_};
  case LunKind::SecondCard: return {card, 0, sectors};
  }
  return {};
}

bool EmulatedReader::hasCard(unsigned lun) const {
  std::lock_guard lock(mutex_);
  return lun < plan_.model.lunCount && cardOf(lun) != nullptr;
}

bool EmulatedReader::execute(std::uint64_t generation, unsigned lun, PassThroughRequest& request) {
  std::lock_guard lock(mutex_);
  if (!plugged_ || generation != generation_) {
    request.errorCode = ENODEV;
    return false;
  }
  if (request.dataLength > 0 && request.data == nullptr) {
    request.errorCode = EFAULT;
    return false;
  }
  int ioError = 0;
  const Outcome outcome = run(lun, request, ioError);
  if (ioError != 0) {
    request.errorCode = ioError;
    return false;
  }
  if (outcome) {
    checkCondition(request, outcome->key, outcome->asc);
    return false;
  }
  request.errorCode = 0;
  return true;
}

EmulatedReader::Outcome EmulatedReader::run(unsigned lun, PassThroughRequest& request,
                                            int& ioError) {
  if (isStandardCommand(request.commandBlock[0])) return standardCommand(lun, request);
  Decoded decoded;
  const std::uint8_t asc = decode(request, decoded);
  if (asc != kNoRefusal) return Refusal{kKeyIllegalRequest, asc};
  const Refusal noMedium{kKeyNotReady, kAscNoMedium};
  const bool eepromOp = decoded.op == Op::ReadEEPROM || decoded.op == Op::WriteEEPROM;
  if (eepromOp && !plan_.model.hasEeprom) return Refusal{kKeyIllegalRequest, kAscInvalidOpcode};
  const CardImage* card = cards_.empty() ? nullptr : cards_[0].get();
  const bool needsFirstCard = decoded.op != Op::GetVIDPID && decoded.op != Op::GetCapacity &&
                              decoded.op != Op::ReadSector && decoded.op != Op::WriteSector &&
                              !eepromOp;
  if (needsFirstCard && !card) return noMedium;
  const std::uint64_t cardSectors = card ? card->bytes() / kSectorBytes : 0;
  switch (decoded.op) {
  case Op::ReInitialCard: return reInitialise(ioError);
  case Op::FactoryTotalDefault: return factoryDefault(ioError);
  case Op::SetBinAreaSize: return writeInfoField(kInfoBinSizeOffset, decoded.argument, ioError);
  case Op::SetCDRomSize: return writeInfoField(kInfoCdRomSizeOffset, decoded.argument, ioError);
  case Op::WriteCard:
  case Op::ReadCard:
    return transfer({card, 0, cardSectors}, decoded.argument, request, decoded.op == Op::WriteCard,
                    ioError);
  case Op::WriteBin:
  case Op::ReadBin:
    return transfer({card, 0, binSectors_}, decoded.argument, request, decoded.op == Op::WriteBin,
                    ioError);
  case Op::WriteAutorun:
  case Op::ReadAutoRun:
    return transfer({card, binSectors_, cdRomSectors_}, decoded.argument, request,
                    decoded.op == Op::WriteAutorun, ioError);
  case Op::GetCapacity: return capacity(request.commandBlock.data(), request);
  case Op::GetVIDPID: return identity(decoded.subCode, lun, request);
  case Op::ReadEEPROM: return eepromTransfer(request, false, ioError);
  case Op::WriteEEPROM: return eepromTransfer(request, true, ioError);
  case Op::ReadSector:
  case Op::WriteSector: {
    const Area area = lunArea(lun);
    if (!area.image || area.sectors == 0) return noMedium;
    if (decoded.op == Op::WriteSector && plan_.model.luns[lun] == LunKind::CdRom)
      return Refusal{kKeyDataProtect, kAscWriteProtected};
    return transfer(area, decoded.argument, request, decoded.op == Op::WriteSector, ioError);
  }
  case Op::Unknown: break;
  }
  return Refusal{kKeyIllegalRequest, kAscInvalidOpcode};
}

EmulatedReader::Outcome EmulatedReader::transfer(const Area& area, std::uint64_t startSector,
                                                 PassThroughRequest& request, bool toCard,
                                                 int& ioError) {
  // A partial last sector moves exactly the bytes it carries, but still must lie in the area.
  const std::uint64_t end = startSector * kSectorBytes + request.dataLength;
  if (end > area.sectors * kSectorBytes) return Refusal{kKeyIllegalRequest, kAscLbaOutOfRange};
  if (request.dataLength == 0) return std::nullopt;
  const std::uint64_t offset = (area.firstSector + startSector) * kSectorBytes;
  const bool done = toCard ? area.image->write(offset, {request.data, request.dataLength})
                           : area.image->read(offset, {request.data, request.dataLength});
  if (!done) ioError = errno != 0 ? errno : EIO;
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::writeInfoField(std::size_t offset, std::uint32_t value,
                                                       int& ioError) {
  std::array<std::uint8_t, kSectorBytes> sector{};
  const CardImage* card = cards_[0].get();
  if (!readInfoSector(sector)) {
    ioError = EIO;
    return std::nullopt;
  }
  putBigEndian32(sector.data() + offset, value);
  if (!card->write(card->bytes() - kSectorBytes, sector)) ioError = EIO;
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::reInitialise(int& ioError) {
  std::array<std::uint8_t, kSectorBytes> sector{};
  if (!readInfoSector(sector)) {
    ioError = EIO;
    return std::nullopt;
  }
  const std::uint32_t bin = bigEndian32(sector.data() + kInfoBinSizeOffset);
  const std::uint32_t cdRom = bigEndian32(sector.data() + kInfoCdRomSizeOffset);
  if (std::uint64_t{bin} + cdRom + 2 > plan_.cards[0].sectors)
    return Refusal{kKeyIllegalRequest, kAscInvalidField};
  binSectors_ = bin;
  cdRomSectors_ = cdRom;
  for (unsigned lun = 0; lun < plan_.model.lunCount; ++lun)
    if (plan_.model.luns[lun] != LunKind::SecondCard) readPartitionTable(lun);
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::factoryDefault(int& ioError) {
  Outcome outcome = writeInfoField(kInfoBinSizeOffset, 0, ioError);
  if (!outcome && ioError == 0) outcome = writeInfoField(kInfoCdRomSizeOffset, 0, ioError);
  if (outcome || ioError != 0 || !plan_.model.hasEeprom) return outcome;
  std::fill(eeprom_.begin(), eeprom_.begin() + kEepromFactoryBytes, 0);
  if (!eepromFile_->write(0, {eeprom_.data(), kEepromFactoryBytes})) ioError = EIO;
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::capacity(const std::uint8_t* block,
                                                 PassThroughRequest& request) {
  const Refusal noMedium{kKeyNotReady, kAscNoMedium};
  std::uint64_t sectors = 0;
  if (block[7] == kCardFormFlag) {
    if (cards_.empty() || !cards_[0]) return noMedium;
    sectors = cards_[0]->bytes() / kSectorBytes;
  } else {
    const unsigned unit = block[5];
    if (unit >= plan_.model.lunCount) return Refusal{kKeyIllegalRequest, kAscInvalidField};
    const Area area = lunArea(unit);
    // A CD-ROM area of no sectors is a drive with no disc in it.
    if (!area.image || area.sectors == 0) return noMedium;
    sectors = area.sectors;
  }
  putBigEndian32(request.data, static_cast<std::uint32_t>(sectors));
  putBigEndian32(request.data + 4, kSectorBytes);
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::identity(std::uint8_t subCode, unsigned lun,
                                                 PassThroughRequest& request) const {
  std::uint8_t* reply = request.data;
  std::fill(reply, reply + kVidPidReplyBytes, 0);
  switch (subCode) {
  case kSubIdentity:
    putBigEndian16(&reply[0], plan_.vendorId);
    putBigEndian16(&reply[2], plan_.productId);
    break;
  case kSubCardType: {
    const unsigned slot = plan_.model.luns[lun] == LunKind::SecondCard ? 1 : 0;
    reply[0] = cardOf(lun) ? plan_.cards[slot].typeByte : kCardTypeNone;
    break;
  }
  case kSubConfiguration:
    std::copy(plan_.configuration.begin(), plan_.configuration.end(), reply);
    break;
  default: return Refusal{kKeyIllegalRequest, kAscInvalidOpcode};
  }
  return std::nullopt;
}

EmulatedReader::Outcome EmulatedReader::eepromTransfer(PassThroughRequest& request, bool write,
                                                       int& ioError) {
  const std::uint32_t length = request.dataLength;
  if (write) {
    std::copy(request.data, request.data + length, eeprom_.begin());
    if (!eepromFile_->write(0, {eeprom_.data(), length})) ioError = EIO;
  } else {
    std::copy(eeprom_.begin(), eeprom_.begin() + length, request.data);
  }
  return std::nullopt;
}

namespace {

// Where `command` is counted in successes_; past the end for a name no fault can carry.
std::size_t counterOf(std::string_view command) {
  if (command == kOpenName) return kOpNames.size();
  if (command == kVolumeWriteName) return kOpNames.size() + 1;
  const auto named = std::find(kOpNames.begin(), kOpNames.end(), command);
  return named == kOpNames.end() ? kOpNames.size() + 2
                                 : static_cast<std::size_t>(named - kOpNames.begin());
}

} // namespace

FaultVerdict EmulatedReader::takeFault(std::string_view command, std::uint64_t lastSector) {
  std::lock_guard lock(mutex_);
  const std::size_t index = counterOf(command);
  if (index >= successes_.size()) return FaultVerdict::None;
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    const FaultPlan& fault = faults_[i];
    if (fault.command != command || successes_[index] < fault.after ||
        lastSector < fault.fromSector)
      continue;
    if (fault.times != 0 && fired_[i] >= fault.times) continue;
    ++fired_[i];
    switch (fault.action) {
    case FaultAction::Fail: return FaultVerdict::Fail;
    case FaultAction::Corrupt: return FaultVerdict::Corrupt;
    case FaultAction::Pull: return FaultVerdict::Pull;
    case FaultAction::Hang: return FaultVerdict::Hang;
    case FaultAction::UnitAttention: return FaultVerdict::UnitAttention;
    }
  }
  return FaultVerdict::None;
}

void EmulatedReader::addFault(const FaultPlan& fault) {
  std::lock_guard lock(mutex_);
  faults_.push_back(fault);
  fired_.push_back(0);
}

void EmulatedReader::noteSuccess(std::string_view command) {
  std::lock_guard lock(mutex_);
  const std::size_t index = counterOf(command);
  if (index < successes_.size()) ++successes_[index];
}

bool EmulatedReader::openMustFail() {
  std::lock_guard lock(mutex_);
  return openAttempts_++ < plan_.openFailFirst;
}

bool EmulatedReader::checkDisk(std::uint64_t generation, unsigned lun, Area& area,
                               int& error) const {
  if (!plugged_ || generation != generation_) {
    error = ENODEV;
    return false;
  }
  if (plan_.model.luns[lun] == LunKind::CdRom) {
    error = EROFS;
    return false;
  }
  area = lunArea(lun);
  if (!area.image) {
    error = kNoMedium;
    return false;
  }
  return true;
}

bool EmulatedReader::diskExtent(std::uint64_t generation, unsigned lun, DiskExtent& out,
                                int& error) const {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  out = {area.image->path(), area.firstSector * kSectorBytes, area.sectors * kSectorBytes,
         partition_[lun].firstSector};
  return true;
}

bool EmulatedReader::openVolume(std::uint64_t generation, unsigned lun, VolumePlace& out,
                                int& error) {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  out = partition_[lun].firstSector != 0 ? partition_[lun] : VolumePlace{0, area.sectors};
  if (out.firstSector != 0) ++partitionOpeners_[lun];
  return true;
}

void EmulatedReader::closeVolume(std::uint64_t generation, unsigned lun, const VolumePlace& place) {
  std::lock_guard lock(mutex_);
  // A volume of an earlier plug-in was counted on a disk that is gone.
  if (place.firstSector != 0 && generation == generation_ && partitionOpeners_[lun] > 0)
    --partitionOpeners_[lun];
}

bool EmulatedReader::writeVolume(std::uint64_t generation, unsigned lun, const VolumePlace& place,
                                 std::uint64_t byteOffset, std::span<const std::uint8_t> data,
                                 int& error) {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  if (byteOffset % kSectorBytes != 0 || data.size() % kSectorBytes != 0) {
    error = EINVAL;
    return false;
  }
  const std::uint64_t diskOffset = std::uint64_t{place.firstSector} * kSectorBytes + byteOffset;
  if (byteOffset + data.size() > place.sectors * kSectorBytes ||
      diskOffset + data.size() > area.sectors * kSectorBytes) {
    error = ENOSPC;
    return false;
  }
  if (!area.image->write(area.firstSector * kSectorBytes + diskOffset, data)) {
    error = errno != 0 ? errno : EIO;
    return false;
  }
  return true;
}

// Reads the disk's first sector, lets `edit` change it (false: the change does not apply), and
// writes it back.
template <typename Edit>
bool EmulatedReader::editFirstSector(const Area& area, int& error, Edit edit) {
  std::array<std::uint8_t, kSectorBytes> sector{};
  const std::uint64_t first = area.firstSector * kSectorBytes;
  if (!area.image->read(first, sector)) {
    error = EIO;
    return false;
  }
  if (!edit(std::span<std::uint8_t>(sector))) {
    error = EINVAL;
    return false;
  }
  if (!area.image->write(first, sector)) {
    error = EIO;
    return false;
  }
  return true;
}

bool EmulatedReader::setPartitionType(std::uint64_t generation, unsigned lun,
                                      const VolumePlace& place, std::uint8_t type, int& error) {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  if (place.firstSector == 0) {
    error = ENODEV; // the volume is the whole disk: no entry holds it
    return false;
  }
  return editFirstSector(area, error, [&](std::span<std::uint8_t> sector) {
    const unsigned number = files::entryStartingAt(sector, place.firstSector);
    return number != 0 && files::setPartitionType(sector, number, type);
  });
}

bool EmulatedReader::dropPartitionLayout(std::uint64_t generation, unsigned lun, int& error) {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  // Without a table, sector 0 may be a volume boot sector that must not be touched.
  if (partition_[lun].firstSector == 0) return true;
  return editFirstSector(area, error, [](std::span<std::uint8_t> sector) {
    files::dropLayout(sector);
    return true;
  });
}

bool EmulatedReader::rereadPartitionLayout(std::uint64_t generation, unsigned lun, int& error) {
  std::lock_guard lock(mutex_);
  Area area;
  if (!checkDisk(generation, lun, area, error)) return false;
  if (partitionOpeners_[lun] > 0) {
    error = EBUSY;
    return false;
  }
  readPartitionTable(lun);
  return true;
}

CardLayout EmulatedReader::layout() const {
  std::lock_guard lock(mutex_);
  const std::uint64_t sectors =
      cards_.empty() || !cards_[0] ? 0 : cards_[0]->bytes() / kSectorBytes;
  return {sectors, binSectors_, cdRomSectors_};
}

std::vector<std::uint8_t> EmulatedReader::eeprom() const {
  std::lock_guard lock(mutex_);
  return eeprom_;
}

std::filesystem::path EmulatedReader::cardImagePath(unsigned slot) const {
  return slot < cards_.size() && cards_[slot] ? cards_[slot]->path() : std::filesystem::path();
}

std::filesystem::path EmulatedReader::eepromPath() const {
  return eepromFile_ ? eepromFile_->path() : std::filesystem::path();
}

} // namespace tarvix::platform::sim
