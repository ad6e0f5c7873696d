// Drive names to device nodes: the whole disk for pass-through, the volume for the formatter.
#include "platform/linux/usb/linux_volumes.h"
#include "sysfs_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tarvix::platform::linux_usb {
namespace {

namespace fs = std::filesystem;
using testing::configFor;
using testing::recordedTree;
using testing::ScratchDir;

TEST(LinuxUsbDriveNames, ResolveToTheWholeDiskOfTheLetter) {
  LetterTable table(configFor(recordedTree("station"), "/dev"));
  const LetterDriveResolver resolver(table);
  EXPECT_EQ(resolver.blockDevice("H:"), fs::path("/dev/sdg"));
  EXPECT_EQ(resolver.blockDevice("i"), fs::path("/dev/sdh"));
  EXPECT_EQ(resolver.blockDevice("J:"), fs::path("/dev/sr1"));
  for (const char* name : {"C:", "N:", "", "HH", "H:\\", "1:"}) {
    EXPECT_FALSE(resolver.blockDevice(name)) << name;
  }
}

// Block nodes made with mknod in a scratch /dev; only their device numbers are looked at.
class LinuxUsbVolumeNodes : public ::testing::Test {
protected:
  bool blockNode(const char* name, unsigned major, unsigned minor) {
    return ::mknod((dev / name).c_str(), S_IFBLK | 0600, ::makedev(major, minor)) == 0;
  }
  ScratchDir scratch;
  fs::path dev = scratch.path() / "dev";
};

TEST_F(LinuxUsbVolumeNodes, TheFirstPartitionOrTheWholeDiskAndOnlyTheRightNode) {
  fs::create_directories(dev);
  if (!blockNode("sdg1", 8, 97)) GTEST_SKIP() << "no mknod here";
  ASSERT_TRUE(blockNode("sdj", 8, 144));
  ASSERT_TRUE(blockNode("sdg", 8, 96));
  ASSERT_TRUE(blockNode("sdf1", 8, 1)) << "a node that names the system disk's partition";
  std::ofstream(dev / "sdc1") << "not a device\n";
  LetterTable table(configFor(recordedTree("station"), dev));
  const LinuxVolumes volumes(table);
  EXPECT_EQ(volumes.volumeDevice("H:"), dev / "sdg1");
  EXPECT_EQ(volumes.diskDevice("H:"), dev / "sdg") << "the layout is re-read on the whole disk";
  EXPECT_EQ(volumes.volumeDevice("L:"), dev / "sdj") << "no card, no partition: the disk";
  EXPECT_FALSE(volumes.volumeDevice("G:")) << "node of another device";
  EXPECT_FALSE(volumes.volumeDevice("D:")) << "not a block device";
  EXPECT_FALSE(volumes.volumeDevice("I:")) << "no node at all";
  EXPECT_FALSE(volumes.volumeDevice("C:"));
}

TEST(LinuxUsbVolumes, NothingOpensWithoutALetter) {
  LetterTable table(configFor(recordedTree("station"), "/dev"));
  LinuxVolumes volumes(table);
  EXPECT_EQ(volumes.open("C:"), nullptr);
  EXPECT_EQ(volumes.open("Q:"), nullptr);
  EXPECT_EQ(volumes.open("bogus"), nullptr);
}

} // namespace
} // namespace tarvix::platform::linux_usb
