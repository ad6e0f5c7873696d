// The simulated reader farm: a USB tree of host controllers, hubs and readers described by a farm
// file, whose readers answer the vendor command set on sparse card images. It provides the
// platform's clock, drives, USB tree, reader access and volumes, so a whole station runs on it.
// Thread-safe: twenty-one workers and the window thread use one farm at once. The farm must
// outlive every interface reference, handle and volume taken from it.
#pragma once

#include "platform/clock.h"
#include "platform/drives.h"
#include "platform/reader_access.h"
#include "platform/sim/emulated_reader.h"
#include "platform/sim/farm_plan.h"
#include "platform/usb_tree.h"
#include "platform/volumes.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvix::platform::sim {

class Farm {
public:
  // Each loader returns null and one message (source, JSON path, what is wrong) on a bad farm;
  // no image is created unless the whole farm file is sound and every existing image fits.
  static std::unique_ptr<Farm> load(const std::filesystem::path& farmFile, std::string& error);
  // `sourceName` heads messages; a relative imageDir is taken from `baseDir`.
  static std::unique_ptr<Farm> fromText(std::string_view json, std::string_view sourceName,
                                        const std::filesystem::path& baseDir, std::string& error);
  // The embedded default farm, its images in `cacheDir` (empty: the user's XDG cache folder).
  static std::unique_ptr<Farm> loadDefault(std::string& error,
                                           const std::filesystem::path& cacheDir = {});
  ~Farm();
  Farm(const Farm&) = delete;
  Farm& operator=(const Farm&) = delete;

  // The platform interfaces. The clock runs at the farm's time scale.
  Clock& clock();
  Drives& drives();
  UsbTree& usbTree();
  ReaderAccess& readerAccess();
  Volumes& volumes();

  // Plug a reader in (letters, device numbers, arrival event) or pull it out (letters freed,
  // removal event, every handle and volume on it dead). False when the id is unknown or the
  // reader already is in that state. Any thread. Events reach the drives' listener on the thread
  // that plugs or pulls (a fault's pull: a worker; a timed event: the farm's event thread), one
  // at a time; the listener must not wait for another thread that might plug, pull or replace it.
  bool plug(std::string_view readerId);
  bool pull(std::string_view readerId);
  // Arms `fault` on the reader from now on, as a card that goes bad while it is used.
  bool addFault(std::string_view readerId, const FaultPlan& fault);
  // Which plug-in of a reader is current: a number that changes at every plug-in; 0 while the
  // reader is pulled out or unknown.
  std::uint64_t plugGeneration(std::string_view readerId) const;
  // Sends `request` to logical unit `lun` (0-based) of a reader as its USB device receives it:
  // addressed by reader and unit, not by letter (the kernel names the disks, and a farm of
  // two-unit readers has more units than letters), with the same faults, emulator and bandwidth
  // as a handle's send, except that a hang returns at once with ETIMEDOUT. ENODEV when the plug-in
  // `generation` is over (the reader was pulled, perhaps by a fault). Any thread.
  bool sendToUnit(std::string_view readerId, std::uint64_t generation, unsigned lun,
                  PassThroughRequest& request);
  // The farm file as read; fixed for the farm's life.
  const FarmPlan& plan() const;
  // Starts the farm file's timed events on the farm's clock; once. Stopped by the destructor.
  void start();

  // Inspection for tests and the simulator panel.
  double timeScale() const;
  std::vector<std::string> readerIds() const;
  bool isPlugged(std::string_view readerId) const;
  // One letter per logical unit, 0 for a unit without one; empty when unplugged or unknown.
  std::vector<char> letters(std::string_view readerId) const;
  std::vector<std::uint32_t> deviceNumbers(std::string_view readerId) const;
  std::filesystem::path cardImagePath(std::string_view readerId, unsigned slot = 0) const;
  std::filesystem::path eepromPath(std::string_view readerId) const;
  std::vector<std::uint8_t> eepromBytes(std::string_view readerId) const;
  std::optional<CardLayout> layout(std::string_view readerId) const;
  // Where the volume of a card letter lies in its image, for the copy tool (mtools takes an image
  // and a byte offset: firstByte + hiddenSectors * 512).
  std::optional<DiskExtent> publicDisk(char letter) const;

  struct Impl;

private:
  explicit Farm(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

} // namespace tarvix::platform::sim
