// USB placement from a fake sysfs tree, the capability mask, and drive-name resolution.
#include "platform/linux/sg/drive_resolver.h"
#include "platform/linux/sg/rights.h"
#include "platform/linux/sg/usb_attachment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace tarvix::platform::linux_backend {
namespace {

namespace fs = std::filesystem;

// A miniature /sys: a USB card reader (8:16), a SATA disk (8:0) and a loop device (7:0).
class FakeSysfs : public ::testing::Test {
protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           ("tarvix-sysfs-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    const fs::path pci = root / "devices/pci0000:00";
    const fs::path usbDevice = pci / "0000:00:14.0/usb2/2-1";
    device(pci / "0000:00:14.0", "bus/pci");
    device(pci / "0000:00:14.0/usb2", "bus/usb");
    device(usbDevice, "bus/usb");
    device(usbDevice / "2-1:1.0", "bus/usb");
    const fs::path sdb = usbDevice / "2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb";
    device(usbDevice / "2-1:1.0/host6/target6:0:0/6:0:0:0", "bus/scsi");
    device(sdb, "class/block");
    const fs::path sda = pci / "0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0/block/sda";
    device(pci / "0000:00:17.0", "bus/pci");
    device(pci / "0000:00:17.0/ata1/host0/target0:0:0/0:0:0:0", "bus/scsi");
    device(sda, "class/block");
    const fs::path loop = root / "devices/virtual/block/loop0";
    device(loop, "class/block");
    fs::create_directories(root / "dev/block");
    fs::create_directory_symlink(fs::relative(sdb, root / "dev/block"), root / "dev/block/8:16");
    fs::create_directory_symlink(fs::relative(sda, root / "dev/block"), root / "dev/block/8:0");
    fs::create_directory_symlink(fs::relative(loop, root / "dev/block"), root / "dev/block/7:0");
  }
  void TearDown() override { fs::remove_all(root); }

  void device(const fs::path& dir, const char* subsystem) {
    fs::create_directories(dir);
    fs::create_directories(root / subsystem);
    fs::create_directory_symlink(fs::relative(root / subsystem, dir), dir / "subsystem");
  }

  fs::path root;
};

TEST_F(FakeSysfs, OnlyTheDiskBelowAUsbDeviceCounts) {
  EXPECT_TRUE(isUsbAttached(root, 8, 16));
  EXPECT_FALSE(isUsbAttached(root, 8, 0)) << "SATA system disk";
  EXPECT_FALSE(isUsbAttached(root, 7, 0)) << "virtual device";
  EXPECT_FALSE(isUsbAttached(root, 8, 32)) << "unknown device number";
  EXPECT_FALSE(isUsbAttached(root / "missing", 8, 16)) << "unreadable sysfs";
}

TEST(Rights, CapabilityMaskFromProcStatus) {
  EXPECT_EQ(effectiveCapabilities("Name:\ttarvix\nCapInh:\t0\nCapEff:\t000001fffeffffff\n"),
            0x000001fffeffffffull);
  EXPECT_EQ(effectiveCapabilities("CapEff:\t0000000000020000"), 0x20000ull);
  EXPECT_EQ(effectiveCapabilities("CapPrm:\t0000000000020000\n"), std::nullopt);
  EXPECT_EQ(effectiveCapabilities("CapEff:\tzz\n"), std::nullopt);
}

TEST(Rights, RawIoIsBitSeventeen) {
  const fs::path status =
      fs::temp_directory_path() / ("tarvix-status-" + std::to_string(::getpid()));
  for (const auto& [mask, expected] :
       {std::pair{"0000000000020000", true}, std::pair{"000001fffffdffff", false}}) {
    std::ofstream(status) << "CapEff:\t" << mask << "\n";
    EXPECT_EQ(hasRawIoCapability(status), expected) << mask;
  }
  fs::remove(status);
  EXPECT_FALSE(hasRawIoCapability(status));
}

TEST(DriveNames, FixedTableAndItsTextForm) {
  FixedDriveResolver resolver;
  EXPECT_TRUE(resolver.assign("e:", "/dev/sdb"));
  EXPECT_FALSE(resolver.assign("?:", "/dev/sdc"));
  EXPECT_EQ(resolver.blockDevice("E:"), fs::path("/dev/sdb"));
  EXPECT_EQ(resolver.blockDevice("F:"), std::nullopt);

  const auto table = FixedDriveResolver::parse("E=/dev/sdb,F:=/dev/disk/by-id/usb-x");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->at('F'), fs::path("/dev/disk/by-id/usb-x"));
  EXPECT_EQ(FixedDriveResolver::parse("E/dev/sdb"), std::nullopt);
  EXPECT_EQ(FixedDriveResolver::parse("E="), std::nullopt);
}

} // namespace
} // namespace tarvix::platform::linux_backend
