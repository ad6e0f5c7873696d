#include "platform/linux/usb/linux_volumes.h"

#include "platform/linux/sg/usb_attachment.h"
#include "platform/linux/volume/block_volume.h"

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <libudev.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvix::platform::linux_usb {
namespace {

std::optional<LogicalUnit> unitOf(LetterTable& letters, std::string_view driveName) {
  const auto letter = linux_backend::driveLetter(driveName);
  if (!letter) return std::nullopt;
  letters.refresh();
  return letters.find(*letter);
}

// The node must be the very block device sysfs described, and that device must hang below USB:
// a stale name or a swapped node must never lead a write to another disk.
bool nodeIsUsbDevice(const LinuxUsbConfig& config, const std::filesystem::path& node,
                     BlockDeviceNumber dev) {
  struct stat status {};
  if (::stat(node.c_str(), &status) != 0 || !S_ISBLK(status.st_mode)) return false;
  if (::major(status.st_rdev) != dev.major || ::minor(status.st_rdev) != dev.minor) return false;
  return linux_backend::isUsbAttached(config.sysfsRoot, dev.major, dev.minor);
}

// Whether udevd has events queued or at work; false where no udevd runs.
bool udevBusy() {
  udev* context = udev_new();
  if (context == nullptr) return false;
  udev_queue* queue = udev_queue_new(context);
  const bool busy = queue != nullptr && udev_queue_get_udev_is_active(queue) != 0 &&
                    udev_queue_get_queue_is_empty(queue) == 0;
  udev_queue_unref(queue);
  udev_unref(context);
  return busy;
}

constexpr auto kUdevQuietWait = std::chrono::milliseconds(3000);
constexpr auto kUdevPoll = std::chrono::milliseconds(50);

void waitForUdev() {
  const auto until = std::chrono::steady_clock::now() + kUdevQuietWait;
  while (udevBusy() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(kUdevPoll);
}

} // namespace

std::optional<std::filesystem::path>
LetterDriveResolver::blockDevice(std::string_view driveName) const {
  const auto unit = unitOf(letters_, driveName);
  if (!unit) return std::nullopt;
  // The pass-through reader access checks the node itself before it opens it.
  return letters_.config().devRoot / unit->name;
}

std::optional<std::filesystem::path> LinuxVolumes::volumeDevice(std::string_view driveName) const {
  const auto unit = unitOf(letters_, driveName);
  if (!unit) return std::nullopt;
  const auto node = volumeNode(letters_.config().sysfsRoot, *unit);
  if (!node) return std::nullopt;
  const std::filesystem::path path = letters_.config().devRoot / node->name;
  if (!nodeIsUsbDevice(letters_.config(), path, node->dev)) return std::nullopt;
  return path;
}

std::optional<std::filesystem::path> LinuxVolumes::diskDevice(std::string_view driveName) const {
  const auto unit = unitOf(letters_, driveName);
  if (!unit || unit->type == DriveType::CdRom) return std::nullopt;
  const std::filesystem::path path = letters_.config().devRoot / unit->name;
  if (!nodeIsUsbDevice(letters_.config(), path, unit->dev)) return std::nullopt;
  return path;
}

bool LinuxVolumes::flushCopies(const std::string& target) const {
  const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
}

bool LinuxVolumes::rereadPartitionLayout(std::string_view driveName) {
  const auto disk = diskDevice(driveName);
  int error = 0;
  return disk && linux_volume::rereadPartitionLayout(disk->string(), error, udevBusy);
}

std::unique_ptr<Volume> LinuxVolumes::open(std::string_view driveName) {
  // udevd re-reads a card's partition table after each close of a handle that could write to the
  // disk: the kernel makes the partition nodes anew, and udevd gives them their group a moment
  // later. A partition that cannot be opened is tried once more when udevd is done.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (attempt > 0) waitForUdev();
    const auto path = volumeDevice(driveName);
    if (!path) continue;
    if (auto volume = linux_volume::BlockVolume::open(path->string())) return volume;
  }
  return nullptr;
}

} // namespace tarvix::platform::linux_usb
