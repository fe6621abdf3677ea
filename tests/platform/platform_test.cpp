// The Linux platform layer: disk naming and order, mount-table decoding, free
// space and the "target folder is on the source" guard.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <fstream>

#include "platform/free_space.h"
#include "platform/physical_disks.h"
#include "platform/same_device.h"
#include "volumes/disk_crafting.h"

namespace quorvel {
namespace {

TEST(PhysicalDisks, WholeDiskNamesOnly) {
  for (const char* yes : {"sda", "sdaa", "vdb", "xvda", "hdc", "nvme0n1", "nvme12n3", "mmcblk0", "loop7"})
    EXPECT_TRUE(IsWholeDiskName(yes)) << yes;
  // Partitions and other block devices are not disks.
  for (const char* no : {"sda1", "nvme0n1p2", "mmcblk0p1", "dm-0", "zram0", "sr0", "md0", "loop", "nvme0"})
    EXPECT_FALSE(IsWholeDiskName(no)) << no;
}

TEST(PhysicalDisks, NameOrderKeepsNumbersAndLetterRunsNatural) {
  std::vector<std::string> names = {"sdaa", "sdb", "nvme0n10", "sda", "nvme0n2", "loop10", "loop2"};
  std::sort(names.begin(), names.end(), BlockNameLess);
  EXPECT_EQ(names, (std::vector<std::string>{"loop2", "loop10", "nvme0n2", "nvme0n10", "sda", "sdb", "sdaa"}));
}

TEST(PhysicalDisks, ListingStaysWithinSixteenAndIsNumberedInOrder) {
  auto disks = ListPhysicalDisks();
  EXPECT_LE(disks.size(), 16u);
  for (size_t i = 0; i < disks.size(); ++i) {
    EXPECT_EQ(disks[i].number, static_cast<int>(i));
    EXPECT_EQ(disks[i].path, "/dev/" + disks[i].name);
    EXPECT_GT(disks[i].heads, 0u);
    if (i) {
      EXPECT_TRUE(BlockNameLess(disks[i - 1].name, disks[i].name));
    }
  }
}

TEST(Mounts, EscapedMountPointsAreDecoded) {
  EXPECT_EQ(DecodeMountField("/media/my\\040disk"), "/media/my disk");
  EXPECT_EQ(DecodeMountField("/a\\134b"), "/a\\b");
  EXPECT_EQ(DecodeMountField("/trailing\\04"), "/trailing\\04");  // incomplete escape kept
}

TEST(FreeSpace, ReportsSpaceOfAnExistingFolderAndZeroForNone) {
  EXPECT_GT(FreeSpaceBytes(test::TestDir("free")), 0u);
  EXPECT_EQ(FreeSpaceBytes("/no/such/folder/here"), 0u);
}

dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

TEST(SameDevice, ImageSourceAndTargetOnTheSameFileSystem) {
  std::string dir = test::TestDir("same");
  std::string image = dir + "/src.img";
  std::ofstream(image) << "x";
  const std::vector<std::string> disk{image};
  EXPECT_TRUE(TargetIsOnSource(dir, disk));
  // A folder that does not exist yet is judged by its nearest existing parent.
  EXPECT_TRUE(TargetIsOnSource(dir + "/new/deeper", disk));

  // /dev/shm and /proc are other file systems than the build tree.
  for (const char* other : {"/dev/shm", "/proc"}) {
    if (DeviceOf(other) == 0 || DeviceOf(other) == DeviceOf(dir)) continue;
    EXPECT_FALSE(TargetIsOnSource(other, disk)) << other;
  }
}

TEST(SameDevice, CompositeMembersCountAsTheSource) {
  std::string dir = test::TestDir("members");
  std::string member = dir + "/member.img";
  std::ofstream(member) << "x";
  // A dynamic-disk group has no device of its own: only its members count.
  const std::vector<std::string> volume{"", member};
  EXPECT_TRUE(TargetIsOnSource(dir, volume));
  if (DeviceOf("/dev/shm") != 0 && DeviceOf("/dev/shm") != DeviceOf(dir)) {
    EXPECT_FALSE(TargetIsOnSource("/dev/shm", volume));
  }
}

}  // namespace
}  // namespace quorvel
