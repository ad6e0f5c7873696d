// The Linux backend's opening of a reader, as far as a machine without card readers allows.
#include "platform/linux/sg/sg_reader_access.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace tarvix::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

class CountingResolver final : public DriveResolver {
public:
  explicit CountingResolver(fs::path device) : device_(std::move(device)) {}
  std::optional<fs::path> blockDevice(std::string_view) const override {
    ++calls;
    return device_;
  }
  mutable std::atomic<int> calls{0};

private:
  fs::path device_;
};

fs::path tempPath(const std::string& stem) {
  return fs::temp_directory_path() / (stem + "-" + std::to_string(::getpid()));
}

// A status file that grants CAP_SYS_RAWIO, so tests do not depend on how they are run.
fs::path grantedStatus() {
  const fs::path status = tempPath("tarvix-status-granted");
  std::ofstream(status) << "CapEff:\t0000000000020000\n";
  return status;
}

TEST(SgReaderAccess, RefusesAnythingThatIsNotABlockDevice) {
  CountingResolver resolver("/dev/null");
  CapturingTrace trace;
  SgReaderAccess access(resolver, trace, {"/sys", grantedStatus()});
  EXPECT_EQ(access.open("E:"), kNoReader);
  EXPECT_EQ(access.open("E:"), kNoReader);
  EXPECT_EQ(trace.lines(),
            std::vector<std::string>{std::string(kTraceNotBlockDevice) + "/dev/null"});
}

// The machine's own block devices sit on no USB bus; the backend must not open them.
TEST(SgReaderAccess, RefusesABlockDeviceNotAttachedThroughUsb) {
  const fs::path candidates[] = {"/dev/loop0", "/dev/vda", "/dev/sda", "/dev/nvme0n1"};
  fs::path disk;
  for (const auto& c : candidates) {
    struct stat st {};
    if (::stat(c.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
      disk = c;
      break;
    }
  }
  if (disk.empty()) GTEST_SKIP() << "no block device on this machine";
  CountingResolver resolver(disk);
  CapturingTrace trace;
  SgReaderAccess access(resolver, trace, {"/sys", grantedStatus()});
  EXPECT_EQ(access.open("C:"), kNoReader);
  EXPECT_EQ(trace.lines(), std::vector<std::string>{std::string(kTraceNotUsb) + disk.string()});
}

// With a sysfs that places the device below USB, the same device opens read-write. Opening
// sends nothing to it.
TEST(SgReaderAccess, OpensABlockDeviceThatSysfsPlacesOnUsb) {
  const fs::path disk = "/dev/loop0";
  struct stat st {};
  if (::stat(disk.c_str(), &st) != 0 || !S_ISBLK(st.st_mode) ||
      ::access(disk.c_str(), R_OK | W_OK) != 0)
    GTEST_SKIP() << "needs read-write access to " << disk;
  const fs::path root = tempPath("tarvix-usb-sysfs");
  fs::remove_all(root);
  const fs::path usb = root / "devices/usb1/1-1";
  const fs::path block = usb / "1-1:1.0/host9/block/sdz";
  fs::create_directories(block);
  fs::create_directories(root / "bus/usb");
  fs::create_directory_symlink(fs::relative(root / "bus/usb", usb), usb / "subsystem");
  fs::create_directories(root / "dev/block");
  fs::create_directory_symlink(
      fs::relative(block, root / "dev/block"),
      root / "dev/block" /
          (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));

  CountingResolver resolver(disk);
  CapturingTrace trace;
  SgReaderAccess access(resolver, trace, {root, grantedStatus()});
  const ReaderHandle handle = access.open("E:");
  EXPECT_NE(handle, kNoReader);
  if (handle != kNoReader) access.close(handle);
  EXPECT_TRUE(trace.lines().empty());
  fs::remove_all(root);
}

TEST(SgReaderAccess, SaysOnceThatItLacksRawIo) {
  const fs::path status = tempPath("tarvix-status-denied");
  std::ofstream(status) << "CapEff:\t0000000000000000\n";
  CountingResolver resolver("/dev/tarvix-no-such-reader");
  CapturingTrace trace;
  SgReaderAccess access(resolver, trace, {"/sys", status});
  access.open("E:");
  access.open("F:");
  EXPECT_EQ(trace.lines(), std::vector<std::string>{std::string(kTraceNoRawIo)});
  fs::remove(status);
}

} // namespace
} // namespace tarvix::platform::linux_backend
