// The Linux platform layer: disk naming and order, mount-table decoding, free
// space and the write guard ("would writing here reach the source").
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>

#include "platform/free_space.h"
#include "platform/physical_disks.h"
#include "platform/storage_footprint.h"
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

// The write guard without mounts (the mounted cases need root and live with
// the command-line tests): for image files only the image itself counts,
// never the file system it lies in.
TEST(WriteGuard, ImageFilesAndTheirFileSystem) {
  const std::string dir = test::TestDir("guard");
  const std::string image = dir + "/src.img", member = dir + "/member.img", other = dir + "/other.img";
  for (const std::string& f : {image, member, other}) std::ofstream(f) << "x";
  ::unlink((dir + "/link.img").c_str());
  ::symlink(image.c_str(), (dir + "/link.img").c_str());
  struct Case {
    std::string target;
    std::vector<std::string> sources;
    bool reaches;
  } cases[] = {
      {dir, {image}, false},                        // a folder beside the image
      {dir + "/new/deeper", {image}, false},        // a folder still to be made beside it
      {other, {image}, false},                      // another file beside it
      {image, {image}, true},                       // the image itself (an image or scan file)
      {dir + "/link.img", {image}, true},           // the image through a link
      {dir, {"", member, image}, false},            // a group of images has no path of its own
      {member, {image, member}, true},              // a member is the source too
      {dir, {dir + "/missing.img", image}, false},  // an absent member holds nothing
      {dir, {}, true},                              // nothing to judge the source by
      {dir, {dir + "/missing.img"}, true},          //   nor here
      {"/proc/self/no/such", {image}, false},       // another file system
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WritingReachesSource(c.target, c.sources), c.reaches)
        << c.target << " against " << (c.sources.empty() ? std::string("nothing") : c.sources.back());
  }
}

// Two files in one file system do not collide, but a raw disk reaches every
// file system on it.
TEST(WriteGuard, FootprintRules) {
  StorageFootprint image, beside, disk, onDisk;
  image.files = {{1, 10}};
  image.fileSystemDisks = {"sda"};
  beside.fileSystemDisks = {"sda"};
  disk.rawDisks = {"sda"};
  onDisk.fileSystemDisks = {"sda"};
  EXPECT_FALSE(WriteReachesSource(beside, image));
  EXPECT_TRUE(WriteReachesSource(disk, image));   // writing the disk raw
  EXPECT_TRUE(WriteReachesSource(onDisk, disk));  // a folder on the source disk
  EXPECT_FALSE(WriteReachesSource(disk, StorageFootprint{{"sdb"}, {}, {}, {}, true}));

  // An image inside a mounted image (container 7 holds file system 100):
  // beside it in that file system is fine, a second mount of the container
  // (file system 200) or the container itself is not.
  StorageFootprint nested;
  nested.files = {{100, 5}};
  nested.containers = {{{1, 7}, 100}};
  StorageFootprint sameFs, otherMount, container;
  sameFs.containers = {{{1, 7}, 100}};
  otherMount.containers = {{{1, 7}, 200}};
  container.files = {{1, 7}};
  EXPECT_FALSE(WriteReachesSource(sameFs, nested));
  EXPECT_TRUE(WriteReachesSource(otherMount, nested));
  EXPECT_TRUE(WriteReachesSource(container, nested));

  StorageFootprint unknown;
  unknown.complete = false;
  EXPECT_TRUE(WriteReachesSource(unknown, image));
  EXPECT_TRUE(WriteReachesSource(beside, unknown));
}

}  // namespace
}  // namespace quorvel
