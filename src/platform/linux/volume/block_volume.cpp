#include "platform/linux/volume/block_volume.h"

#include "platform/files/file_io.h"
#include "platform/files/label_codec.h"
#include "platform/files/mbr.h"
#include "platform/linux/volume/mounts.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/fs.h>
#include <linux/hdreg.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvix::platform::linux_volume {
namespace {

namespace fs = std::filesystem;

// sysfs gives partition starts in 512-byte units whatever the device's sector size.
constexpr std::uint64_t kSysfsSectorBytes = 512;

std::string readFile(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool readNumber(const fs::path& path, std::uint64_t& out) {
  std::ifstream in(path);
  return static_cast<bool>(in >> out);
}

std::string devName(dev_t device) {
  return std::to_string(major(device)) + ":" + std::to_string(minor(device));
}

class Fd {
public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

} // namespace

std::unique_ptr<BlockVolume> BlockVolume::open(const std::string& devicePath, int* error) {
  // O_DSYNC: a write returns once the card has it, so a failing card fails the write itself (and
  // the zero fill's retry sees it), not a flush long after the format reported success.
  const int fd = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC | O_DSYNC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISBLK(st.st_mode)) {
    const int e = fd < 0 ? errno : ENOTBLK;
    if (fd >= 0) ::close(fd);
    if (error) *error = e;
    return nullptr;
  }
  return std::unique_ptr<BlockVolume>(new BlockVolume(fd, st.st_rdev));
}

BlockVolume::BlockVolume(int fd, dev_t device) : fd_(fd), device_(device) {}

BlockVolume::~BlockVolume() { ::close(fd_); }

bool BlockVolume::fail(int error) {
  lastError_ = error;
  return false;
}

std::string BlockVolume::sysfsDir(dev_t device) { return "/sys/dev/block/" + devName(device); }

bool BlockVolume::isPartition() const { return fs::exists(sysfsDir(device_) + "/partition"); }

std::string BlockVolume::diskNode() const {
  std::error_code ec;
  fs::path dir = fs::canonical(sysfsDir(device_), ec);
  if (ec) return {};
  if (isPartition()) dir = dir.parent_path();
  return "/dev/" + dir.filename().string();
}

bool BlockVolume::geometry(platform::VolumeGeometry& out) {
  int sectorSize = 0;
  if (::ioctl(fd_, BLKSSZGET, &sectorSize) != 0) return fail(errno);
  out.bytesPerSector = static_cast<std::uint32_t>(sectorSize);
  // The kernel invents a CHS geometry for disks that have none; it only fills the boot sector.
  struct hd_geometry geo {};
  if (::ioctl(fd_, HDIO_GETGEO, &geo) != 0) return fail(errno);
  out.sectorsPerTrack = geo.sectors;
  out.tracksPerCylinder = geo.heads;
  return true;
}

bool BlockVolume::hiddenSectors(std::uint32_t& out) {
  if (!isPartition()) {
    out = 0;
    return true;
  }
  std::uint64_t start = 0;
  int sectorSize = 0;
  if (!readNumber(sysfsDir(device_) + "/start", start)) return fail(ENOENT);
  if (::ioctl(fd_, BLKSSZGET, &sectorSize) != 0 || sectorSize <= 0) return fail(errno);
  const std::uint64_t sectors = start * kSysfsSectorBytes / static_cast<std::uint64_t>(sectorSize);
  if (sectors > 0xFFFFFFFF) return fail(EOVERFLOW);
  out = static_cast<std::uint32_t>(sectors);
  return true;
}

template <typename Edit> bool BlockVolume::editMbr(Edit edit) {
  const std::string node = diskNode();
  if (node.empty()) return fail(ENODEV);
  Fd disk(::open(node.c_str(), O_RDWR | O_CLOEXEC));
  if (disk.get() < 0) return fail(errno);
  std::array<std::uint8_t, files::kMbrBytes> mbr{};
  if (!files::readAll(disk.get(), 0, mbr)) return fail(errno);
  if (!edit(std::span<std::uint8_t>(mbr))) return fail(EINVAL);
  if (!files::writeAll(disk.get(), 0, mbr) || ::fsync(disk.get()) != 0) return fail(errno);
  return true;
}

bool BlockVolume::setPartitionType(std::uint8_t type) {
  // A volume that is the whole disk has no entry of its own.
  if (!isPartition()) return fail(ENODEV);
  std::uint64_t number = 0;
  if (!readNumber(sysfsDir(device_) + "/partition", number)) return fail(ENOENT);
  return editMbr([&](std::span<std::uint8_t> mbr) {
    return files::setPartitionType(mbr, static_cast<unsigned>(number), type);
  });
}

bool BlockVolume::dropPartitionLayout() {
  // No table is no failure: the disk is already used from its first sector.
  return editMbr([](std::span<std::uint8_t> mbr) {
    files::dropLayout(mbr);
    return true;
  });
}

namespace {

// How often udevd is asked for a re-read, how long each request is given, and how long udevd
// may stay busy before a request.
constexpr int kUdevRereadRequests = 4;
constexpr auto kUdevRereadWait = std::chrono::milliseconds(1000);
constexpr auto kUdevQuietWait = std::chrono::milliseconds(3000);
constexpr auto kUdevRereadPoll = std::chrono::milliseconds(50);

template <typename Condition>
void waitWhile(Condition condition, std::chrono::milliseconds longest) {
  const auto until = std::chrono::steady_clock::now() + longest;
  while (condition() && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(kUdevRereadPoll);
}

bool showsPartitions(dev_t disk) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(BlockVolume::sysfsDir(disk), ec))
    if (fs::exists(entry.path() / "partition", ec)) return true;
  return false;
}

// udevd re-reads a watched disk (as root) when a handle opened for writing on it is closed; it
// cannot while one of the partitions is open, and its own probes open them after every change
// of the disk, so each request waits until udevd has no event at work, and is made again while a
// partition stays.
bool askUdevToReread(const std::string& diskNode, dev_t disk, int& error,
                     const std::function<bool()>& udevBusy) {
  for (int request = 0; request < kUdevRereadRequests; ++request) {
    if (!showsPartitions(disk)) return true;
    if (udevBusy) waitWhile(udevBusy, kUdevQuietWait);
    const int fd = ::open(diskNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
      error = errno;
      return false;
    }
    ::close(fd);
    waitWhile([&] { return showsPartitions(disk); }, kUdevRereadWait);
  }
  if (!showsPartitions(disk)) return true;
  error = EBUSY;
  return false;
}

} // namespace

bool rereadPartitionLayout(const std::string& diskNode, int& error,
                           const std::function<bool()>& udevBusy) {
  struct stat node {};
  {
    Fd disk(::open(diskNode.c_str(), O_RDONLY | O_CLOEXEC));
    if (disk.get() < 0 || ::fstat(disk.get(), &node) != 0) {
      error = errno;
      return false;
    }
    if (::ioctl(disk.get(), BLKRRPART) == 0) return true;
    error = errno;
  }
  // The kernel re-reads only for CAP_SYS_ADMIN, which an operator's station does not have.
  if (error != EACCES) return false;
  return askUdevToReread(diskNode, node.st_rdev, error, udevBusy);
}

bool BlockVolume::dismount() {
  if (::fsync(fd_) != 0) return fail(errno);
  // The device itself and, for a whole disk, every partition on it.
  std::vector<std::string> devices{devName(device_)};
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(sysfsDir(device_), ec)) {
    if (fs::exists(entry.path() / "partition")) {
      std::string dev = readFile(entry.path() / "dev");
      while (!dev.empty() && (dev.back() == '\n' || dev.back() == ' '))
        dev.pop_back();
      devices.push_back(dev);
    }
  }
  bool ok = true;
  for (const auto& point : mountPointsOf(readFile("/proc/self/mountinfo"), devices)) {
    // A busy mount is detached now and goes when its last user lets go.
    if (::umount2(point.c_str(), 0) != 0 &&
        (errno != EBUSY || ::umount2(point.c_str(), MNT_DETACH) != 0)) {
      ok = fail(errno);
    }
  }
  return ok;
}

bool BlockVolume::writeAt(std::uint64_t byteOffset, std::span<const std::uint8_t> data) {
  if (!files::writeAll(fd_, byteOffset, data)) return fail(errno);
  return true;
}

std::string BlockVolume::labelBytes(std::string_view label) const {
  return files::localeLabelBytes(label);
}

} // namespace tarvix::platform::linux_volume
