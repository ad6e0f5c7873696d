// One farm reader's controller: its card images, the layout of areas in force, its EEPROM, the
// faults armed on it. It answers pass-through requests on its logical units exactly as the
// command set lays them out, and the standard commands a system's disk driver sends to any USB
// disk, and refuses everything else with CHECK CONDITION.
// Thread-safe: every method takes the reader's own lock, so requests from several handles and
// volume writes on the same reader run one at a time; different readers never share a lock.
#pragma once

#include "platform/reader_access.h"
#include "platform/sim/card_image.h"
#include "platform/sim/farm_plan.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarvix::platform::sim {

// The area sizes in force and the card they divide.
struct CardLayout {
  std::uint64_t cardSectors = 0; // 0: no card
  std::uint32_t binSectors = 0;
  std::uint32_t cdRomSectors = 0;
};

// What a public disk looks like from the file: where its bytes lie in which image.
struct DiskExtent {
  std::filesystem::path image;
  std::uint64_t firstByte = 0;
  std::uint64_t bytes = 0;
  std::uint32_t hiddenSectors = 0; // the volume's first sector on the disk
};

// Where an open volume lies: the partition the system showed when it was opened, or the whole
// disk. It keeps that place until closed, whatever becomes of the partition table meanwhile.
struct VolumePlace {
  std::uint32_t firstSector = 0; // on the disk; 0 for the whole disk
  std::uint64_t sectors = 0;
};

enum class FaultVerdict : std::uint8_t { None, Fail, Corrupt, Pull, Hang, UnitAttention };

// Ends `request` in CHECK CONDITION with sense `key` / `asc`: EIO, the key reported, and fixed
// format sense data when a sense area was asked for.
void checkCondition(PassThroughRequest& request, std::uint8_t key, std::uint8_t asc);

// The command a block names, for faults and statistics; Op::Unknown for anything else.
Op commandOf(const PassThroughRequest& request);

// A fresh partition table's volume starts here, as on a card formatted by a desktop system.
inline constexpr std::uint32_t kPartitionStart = 63;

class EmulatedReader {
public:
  // Opens or creates the reader's images in `imageDir`. Null with a message on failure.
  static std::unique_ptr<EmulatedReader>
  create(const ReaderPlan& plan, const std::filesystem::path& imageDir, std::string& error);
  // Checks, without creating anything, that existing images fit the cards.
  static bool imagesFit(const ReaderPlan& plan, const std::filesystem::path& imageDir,
                        std::string& error);

  const ReaderPlan& plan() const { return plan_; }

  // Plug-in: the controller reads the area sizes from the card information sector again and the
  // system reads each disk's partition table. Returns the new generation; handles of an earlier
  // generation are dead.
  std::uint64_t plugIn();
  void pullOut();
  bool pluggedAs(std::uint64_t generation) const;

  // Carries out `request` on logical unit `lun` (0-based). On refusal sets request.errorCode (EIO
  // for CHECK CONDITION, with sense data when a sense area was asked for) and returns false.
  bool execute(std::uint64_t generation, unsigned lun, PassThroughRequest& request);

  // Faults: what the next `command` ("open", "volumeWrite" or a command name), reaching
  // `lastSector` when it carries sectors, must suffer, and counting.
  FaultVerdict takeFault(std::string_view command, std::uint64_t lastSector = 0);
  // A fault from now on, beside the farm file's.
  void addFault(const FaultPlan& fault);
  void noteSuccess(std::string_view command);
  // True when this open attempt is one of the first failFirst ones.
  bool openMustFail();

  // The public disk behind `lun` for the volume operations; false when there is no card.
  bool diskExtent(std::uint64_t generation, unsigned lun, DiskExtent& out, int& error) const;
  // Opens the volume the system shows for `lun` now: its first partition, else the whole disk.
  // Until closed, a volume on a partition makes the re-read of the layout fail, as the kernel's
  // does while any partition of the disk is open.
  bool openVolume(std::uint64_t generation, unsigned lun, VolumePlace& out, int& error);
  void closeVolume(std::uint64_t generation, unsigned lun, const VolumePlace& place);
  bool writeVolume(std::uint64_t generation, unsigned lun, const VolumePlace& place,
                   std::uint64_t byteOffset, std::span<const std::uint8_t> data, int& error);
  bool setPartitionType(std::uint64_t generation, unsigned lun, const VolumePlace& place,
                        std::uint8_t type, int& error);
  // Edits the table on the card only; the system's view of the partitions changes at the re-read.
  bool dropPartitionLayout(std::uint64_t generation, unsigned lun, int& error);
  bool rereadPartitionLayout(std::uint64_t generation, unsigned lun, int& error);

  // Inspection for tests and the simulator panel.
  CardLayout layout() const;
  std::vector<std::uint8_t> eeprom() const;
  std::filesystem::path cardImagePath(unsigned slot) const;
  std::filesystem::path eepromPath() const;
  unsigned lunCount() const { return plan_.model.lunCount; }
  LunKind lunKind(unsigned lun) const { return plan_.model.luns[lun]; }
  bool hasCard(unsigned lun) const;

private:
  struct Area {
    const CardImage* image = nullptr;
    std::uint64_t firstSector = 0;
    std::uint64_t sectors = 0;
  };
  struct Refusal {
    std::uint8_t key;
    std::uint8_t asc;
  };
  using Outcome = std::optional<Refusal>; // empty: done

  explicit EmulatedReader(const ReaderPlan& plan) : plan_(plan) {}

  Outcome run(unsigned lun, PassThroughRequest& request, int& ioError);
  static bool isStandardCommand(std::uint8_t opcode);
  Outcome standardCommand(unsigned lun, PassThroughRequest& request) const;
  Outcome inquiry(unsigned lun, PassThroughRequest& request) const;
  Outcome modeSense(unsigned lun, PassThroughRequest& request) const;
  Outcome transfer(const Area& area, std::uint64_t startSector, PassThroughRequest& request,
                   bool toCard, int& ioError);
  Outcome reInitialise(int& ioError);
  Outcome writeInfoField(std::size_t offset, std::uint32_t value, int& ioError);
  Outcome capacity(const std::uint8_t* block, PassThroughRequest& request);
  Outcome identity(std::uint8_t subCode, unsigned lun, PassThroughRequest& request) const;
  Outcome eepromTransfer(PassThroughRequest& request, bool write, int& ioError);
  Outcome factoryDefault(int& ioError);

  bool readInfoSector(std::array<std::uint8_t, kSectorBytes>& sector) const;
  void loadLayoutFromCard();
  void readPartitionTable(unsigned lun);
  Area lunArea(unsigned lun) const;
  const CardImage* cardOf(unsigned lun) const;
  bool checkDisk(std::uint64_t generation, unsigned lun, Area& area, int& error) const;
  template <typename Edit> static bool editFirstSector(const Area& area, int& error, Edit edit);

  const ReaderPlan plan_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<CardImage>> cards_; // per slot; null when the slot is empty
  std::unique_ptr<CardImage> eepromFile_;
  std::vector<std::uint8_t> eeprom_;
  std::uint32_t binSectors_ = 0;
  std::uint32_t cdRomSectors_ = 0;
  // Per LUN, as the system last read the table: the first partition, or nothing.
  std::array<VolumePlace, 2> partition_{};
  std::array<std::uint32_t, 2> partitionOpeners_{}; // open volumes on it, this generation
  bool plugged_ = false;
  std::uint64_t generation_ = 0;
  // Per command, then opens, then volume writes.
  std::array<std::uint32_t, kOpNames.size() + 2> successes_{};
  std::vector<FaultPlan> faults_;
  std::vector<std::uint32_t> fired_; // per fault
  std::uint32_t openAttempts_ = 0;
};

} // namespace tarvix::platform::sim
