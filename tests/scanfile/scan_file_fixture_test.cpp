// Round trips of real scans: a deep scan of a disk whose volumes were wiped,
// a dynamic-disk group with one disk missing, and an LVM2 physical volume.
// Each is saved, loaded onto the disk opened afresh (as in a new run) and
// must hold what the scan left, value for value.
#include <gtest/gtest.h>

#include "recover/deep_scan_launch.h"
#include "scanfile/scan_file_load.h"
#include "scanfile/scan_file_writer.h"
#include "support/test_support.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {
namespace {

// What a partition's row and readers go by, as one comparable text.
std::string Describe(const PartitionRecord& p) {
  std::string text = p.devicePath + "|" + p.subKindText + "|" + std::to_string(p.subKindCode) + "|" + p.volumeLabel +
                     "|" + p.driveLetter + "|" + p.name + "|" + p.linuxSubKind + "|" + std::to_string(p.sectorCount) +
                     "|" + std::to_string(p.startSector) + "|" + std::to_string(p.role) + "|" +
                     std::to_string(p.sectorsPerCluster) + "|" + std::to_string(p.dataOrigin) + "|" +
                     std::to_string(p.fsKind) + "|" + std::to_string(p.bytesPerSector) + "|" +
                     std::to_string(p.originCode) + "|" + std::to_string(p.volumeKind) + "|" +
                     std::to_string(p.stripeSize) + "|" + std::to_string(p.fat.sizeSectors) + "|" +
                     std::to_string(p.ntfs.mftStartSector) + "|" + p.volumeManager + "|" + p.unreadableReason;
  for (const auto& [ordinal, m] : p.members) {
    text += "|#" + std::to_string(ordinal) + ":" + m.path + "@" + std::to_string(m.startSector) + "+" +
            std::to_string(m.sectorCount);
    for (uint8_t b : m.memberDiskId) text += "," + std::to_string(b);
  }
  return text;
}

std::vector<std::string> Describe(const DiskRecord& disk) {
  std::vector<std::string> out;
  for (const PartitionRecord& p : disk.partitions) out.push_back(Describe(p));
  return out;
}

// Saves disk, opens images afresh and loads the file onto the disk named
// like it; returns that disk.
DiskRecord* SaveAndReload(const DiskRecord& disk, const std::vector<std::string>& images, DiskList& fresh) {
  const std::string path = test::MakeTempDir("scanfile-real") + "/scan.rvz_scn";
  EXPECT_EQ(SaveScanResult(disk, path).status, ScanFileSaveStatus::kSaved);
  for (const std::string& image : images) EXPECT_TRUE(OpenImageFile(fresh, image));
  for (DiskRecord& d : fresh) {
    if (d.Identity() != disk.Identity()) continue;
    const ScanFileLoadResult result = LoadScanResult(d, path);
    EXPECT_EQ(result.status, ScanFileLoadStatus::kLoaded) << ScanFileProblemText(result.problems, result.problemCount);
    return &d;
  }
  ADD_FAILURE() << "no disk " << disk.Identity();
  return nullptr;
}

TEST(ScanFileRealScans, DeepScanOfWipedDisk) {
  if (!test::HaveFixture("deep_wiped.img")) GTEST_SKIP() << "deep_wiped.img not built";
  const std::string image = test::FixturePath("deep_wiped.img");
  DiskList list;
  ASSERT_TRUE(OpenImageFile(list, image));
  DiskRecord& disk = list.back();
  ScanProgress progress;
  ASSERT_TRUE(RunDeepScan(disk, nullptr, progress).ran);
  ASSERT_GE(disk.partitions.size(), 4u);

  DiskList fresh;
  DiskRecord* loaded = SaveAndReload(disk, {image}, fresh);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Describe(*loaded), Describe(disk));
  EXPECT_EQ(loaded->directorySectors, disk.directorySectors);
  ASSERT_EQ(loaded->mftFragments.size(), disk.mftFragments.size());
  auto f = disk.mftFragments.begin();
  for (const MftFragment& g : loaded->mftFragments) {
    EXPECT_EQ(g.startSector, f->startSector);
    EXPECT_EQ(g.sectorCount, f->sectorCount);
    ++f;
  }
}

TEST(ScanFileRealScans, CarvedFilesOfRawDisk) {
  if (!test::HaveFixture("carving_raw.img")) GTEST_SKIP() << "carving_raw.img not built";
  const std::string image = test::FixturePath("carving_raw.img");
  DiskList list;
  ASSERT_TRUE(OpenImageFile(list, image));
  ScanProgress progress;
  ASSERT_TRUE(RunDeepScan(list.back(), nullptr, progress).ran);
  const CarvedFileMap& carved = list.back().carvedFiles;
  ASSERT_GT(carved.size(), 5u);
  DiskList fresh;
  DiskRecord* loaded = SaveAndReload(list.back(), {image}, fresh);
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->carvedFiles.size(), carved.size());
  for (const auto& [sector, file] : carved) {
    EXPECT_EQ(loaded->carvedFiles.at(sector).size, file.size);
    EXPECT_EQ(loaded->carvedFiles.at(sector).name, file.name);
    EXPECT_EQ(loaded->carvedFiles.at(sector).extension, file.extension);
  }
}

// The group of two RAID-5 disks with the third missing: composite volumes
// with their layouts, stripe sizes and every member, the missing one's path
// empty; the paths come from the disks as found now.
TEST(ScanFileRealScans, DynamicDiskGroupWithOneDiskMissing) {
  if (!test::HaveFixture("ldm-all/ldm-2008r2-raid5-1.img")) GTEST_SKIP() << "ldm-all not built";
  const std::vector<std::string> images = {test::FixturePath("ldm-all/ldm-2008r2-raid5-1.img"),
                                           test::FixturePath("ldm-all/ldm-2008r2-raid5-2.img")};
  DiskList list;
  for (const std::string& image : images) ASSERT_TRUE(OpenImageFile(list, image));
  const DiskRecord* group = nullptr;
  for (const DiskRecord& d : list)
    if (d.diskKind == 2) group = &d;
  ASSERT_TRUE(group);
  bool emptyPath = false;
  for (const PartitionRecord& p : group->partitions)
    for (const auto& [ordinal, m] : p.members) emptyPath |= m.path.empty();
  ASSERT_TRUE(emptyPath);

  DiskList fresh;
  DiskRecord* loaded = SaveAndReload(*group, images, fresh);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded->diskKind, 2u);
  EXPECT_EQ(loaded->groupIdText, group->groupIdText);
  EXPECT_EQ(Describe(*loaded), Describe(*group));

  // Written where the images lay elsewhere: the members present now are
  // read from where they are now.
  std::string text = ScanResultText(*group);
  for (const std::string& image : images)
    for (size_t at; (at = text.find(image)) != std::string::npos;) text.replace(at, image.size(), "/moved/disk.img");
  ASSERT_NE(text.find("/moved/disk.img"), std::string::npos);
  ASSERT_EQ(LoadScanResult(*loaded, MemorySource(std::vector<uint8_t>(text.begin(), text.end()))).status,
            ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(Describe(*loaded), Describe(*group));
}

// An LVM2 physical volume: the logical volumes and segments, and the
// partitions mapped from them with their volume-manager details.
TEST(ScanFileRealScans, LvmPhysicalVolume) {
  if (!test::HaveFixture("lvm-pv0.img")) GTEST_SKIP() << "lvm-pv0.img not built";
  const std::string image = test::FixturePath("lvm-pv0.img");
  DiskList list;
  ASSERT_TRUE(OpenImageFile(list, image));
  const DiskRecord& disk = list.back();
  ASSERT_FALSE(disk.lvm.logicalVolumes.empty());
  DiskList fresh;
  DiskRecord* loaded = SaveAndReload(disk, {image}, fresh);
  ASSERT_TRUE(loaded);
  EXPECT_EQ(Describe(*loaded), Describe(disk));
  EXPECT_EQ(loaded->diskIdText, disk.diskIdText);
  EXPECT_EQ(loaded->lvm.extentSize, disk.lvm.extentSize);
  EXPECT_EQ(loaded->lvm.peStart, disk.lvm.peStart);
  ASSERT_EQ(loaded->lvm.logicalVolumes.size(), disk.lvm.logicalVolumes.size());
  for (size_t i = 0; i < disk.lvm.logicalVolumes.size(); ++i) {
    const LvmLogicalVolume &a = loaded->lvm.logicalVolumes[i], &b = disk.lvm.logicalVolumes[i];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.size, b.size);
    ASSERT_EQ(a.segments.size(), b.segments.size());
    for (size_t s = 0; s < a.segments.size(); ++s) {
      EXPECT_EQ(a.segments[s].pvId, b.segments[s].pvId);
      EXPECT_EQ(a.segments[s].pvStartExtent, b.segments[s].pvStartExtent);
      EXPECT_EQ(a.segments[s].extentCount, b.segments[s].extentCount);
    }
  }
}

}  // namespace
}  // namespace quorvel
