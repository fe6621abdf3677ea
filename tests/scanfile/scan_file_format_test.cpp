// The scan-result file format on crafted disks: the exact text of an empty
// disk, every field back after a round trip, what loading replaces, merges
// and refuses, and texts that would break the line structure.
#include <gtest/gtest.h>

#include "scanfile/scan_file_crafting.h"
#include "scanfile/scan_file_writer.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LoadText;
using test::RichDisk;

DiskRecord SameIdentity(const DiskRecord& like) {
  DiskRecord disk;
  disk.vendor = like.vendor;
  disk.diskKind = like.diskKind;
  disk.devicePath = like.devicePath;
  return disk;
}

void ExpectSamePartition(const PartitionRecord& a, const PartitionRecord& b) {
  EXPECT_EQ(a.devicePath, b.devicePath);
  EXPECT_EQ(a.subKindText, b.subKindText);
  EXPECT_EQ(a.subKindCode, b.subKindCode);
  EXPECT_EQ(a.volumeLabel, b.volumeLabel);
  EXPECT_EQ(a.driveLetter, b.driveLetter);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.linuxSubKind, b.linuxSubKind);
  EXPECT_EQ(a.sectorCount, b.sectorCount);
  EXPECT_EQ(a.startSector, b.startSector);
  EXPECT_EQ(a.role, b.role);
  EXPECT_EQ(a.sectorsPerCluster, b.sectorsPerCluster);
  EXPECT_EQ(a.dataOrigin, b.dataOrigin);
  EXPECT_EQ(a.fsKind, b.fsKind);
  EXPECT_EQ(a.bytesPerSector, b.bytesPerSector);
  EXPECT_EQ(a.originCode, b.originCode);
  EXPECT_EQ(a.volumeKind, b.volumeKind);
  EXPECT_EQ(a.stripeSize, b.stripeSize);
  EXPECT_EQ(a.fat.sizeSectors, b.fat.sizeSectors);
  EXPECT_EQ(a.ntfs.mftStartSector, b.ntfs.mftStartSector);
  ASSERT_EQ(a.members.size(), b.members.size());
  for (const auto& [ordinal, m] : a.members) {
    const VolumeMember& n = b.members.at(ordinal);
    EXPECT_EQ(m.memberDiskId, n.memberDiskId);
    EXPECT_EQ(m.path, n.path);
    EXPECT_EQ(m.startSector, n.startSector);
    EXPECT_EQ(m.sectorCount, n.sectorCount);
  }
}

// The file of a disk with nothing found is its identity, three counts and
// the eleven disk values; loading it empties the disk's partition list.
TEST(ScanFileFormat, EmptyDiskIsExactlyIdentityCountsAndDiskValues) {
  DiskRecord disk;
  disk.vendor = "disk.img";
  const std::string text = ScanResultText(disk);
  EXPECT_EQ(text,
            "disk.img\r\n0\r\n0\r\n0\r\n"
            "0\r\n0\r\n\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n");

  DiskRecord listed = disk;
  listed.partitions.emplace_back();
  listed.partitions.back().name = "Partition0";
  const ScanFileLoadResult result = LoadText(listed, text);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kLoaded);
  EXPECT_TRUE(listed.partitions.empty());
}

// Every value comes back: the 17 partition values, members (one without a
// path), LVM2 volumes and segments, the disk values (reserved ones too), and
// the collections in the file's order (fragments sorted, one per start;
// sizes past 4 GiB whole).
TEST(ScanFileFormat, RoundTripKeepsEveryValue) {
  const DiskRecord disk = RichDisk();
  const std::string text = ScanResultText(disk);
  DiskRecord loaded = SameIdentity(disk);
  const ScanFileLoadResult result = LoadText(loaded, text);
  ASSERT_EQ(result.status, ScanFileLoadStatus::kLoaded) << ScanFileProblemText(result.problems, result.problemCount);
  EXPECT_EQ(loaded.directorySectors, disk.directorySectors);
  ASSERT_EQ(loaded.mftFragments.size(), 2u);
  EXPECT_EQ(loaded.mftFragments.front().startSector, 100u);
  EXPECT_EQ(loaded.mftFragments.front().sectorCount, 3000000000U);
  EXPECT_EQ(loaded.mftFragments.back().sectorCount, 30u);  // the first listed for its start
  ASSERT_EQ(loaded.carvedFiles.size(), 2u);
  EXPECT_EQ(loaded.carvedFiles[64].size, 5ULL << 30);
  EXPECT_EQ(loaded.carvedFiles[128].name, "a,b,c.jpg");
  EXPECT_EQ(loaded.carvedFiles[128].extension, "jpg");
  EXPECT_EQ(loaded.extraFoundFiles.name, "Extra Found Files");
  EXPECT_EQ(loaded.mapEntryCount, 3u);
  EXPECT_EQ(loaded.diskIdText, disk.diskIdText);
  EXPECT_EQ(loaded.groupIdText, disk.groupIdText);
  EXPECT_EQ(loaded.lvm.peStart, 2048u);
  EXPECT_EQ(loaded.lvm.devSize, 163840u);
  EXPECT_EQ(loaded.lvm.peCount, 80u);
  EXPECT_EQ(loaded.lvm.extentSize, 8192u);
  EXPECT_EQ(loaded.scanFileReserved64, 77u);
  EXPECT_EQ(loaded.scanFileReserved32a, 0xFFFFFFFEu);
  EXPECT_EQ(loaded.scanFileReserved32b, 9u);
  ASSERT_EQ(loaded.partitions.size(), 2u);
  ExpectSamePartition(loaded.partitions.front(), disk.partitions.front());
  ExpectSamePartition(loaded.partitions.back(), disk.partitions.back());
  ASSERT_EQ(loaded.lvm.logicalVolumes.size(), 1u);
  const LvmLogicalVolume& lv = loaded.lvm.logicalVolumes.front();
  EXPECT_EQ(lv.name, "lvntfs");
  EXPECT_EQ(lv.flag, 1);
  EXPECT_EQ(lv.size, 131072u);
  EXPECT_EQ(lv.segmentCount, 2u);
  EXPECT_EQ(lv.kindText, "EXT");
  ASSERT_EQ(lv.segments.size(), 2u);
  EXPECT_EQ(lv.segments[1].pvName, "pv1");
  EXPECT_EQ(lv.segments[1].pvId, "Xy-Zw");
  EXPECT_EQ(lv.segments[1].pvStartExtent, 36u);
  // Written again, the file is the same.
  EXPECT_EQ(ScanResultText(loaded), text);
}

// A label or name holding CR or LF would shift every later value by a line.
TEST(ScanFileFormat, LineBreaksInTextsBecomeSpaces) {
  DiskRecord disk = RichDisk();
  disk.partitions.front().volumeLabel = "two\r\nlines";
  disk.carvedFiles[128].name = "title\nof a doc.doc";
  DiskRecord loaded = SameIdentity(disk);
  ASSERT_EQ(LoadText(loaded, ScanResultText(disk)).status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(loaded.partitions.front().volumeLabel, "two  lines");
  EXPECT_EQ(loaded.partitions.front().fsKind, 0x0B);
  EXPECT_EQ(loaded.carvedFiles[128].name, "title of a doc.doc");
  EXPECT_EQ(loaded.partitions.size(), 2u);
}

// Partitions and logical volumes are replaced; the three collections merge,
// what the disk had staying as it was.
TEST(ScanFileFormat, LoadReplacesPartitionsAndMergesCollections) {
  const DiskRecord disk = RichDisk();
  DiskRecord target = SameIdentity(disk);
  target.partitions.emplace_back();
  target.partitions.back().name = "Old";
  target.lvm.logicalVolumes.emplace_back();
  target.directorySectors = {5, 6};
  target.mftFragments = {{900, 99}};
  target.carvedFiles[128] = {0, 1, "kept.jpg", "jpg"};
  const ScanFileLoadResult result = LoadText(target, ScanResultText(disk));
  ASSERT_EQ(result.status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(target.partitions.front().name, "Partition4");
  EXPECT_EQ(target.lvm.logicalVolumes.size(), 1u);
  EXPECT_EQ(target.directorySectors, (DirectorySectorSet{5, 6, 4096, 70000000000ULL}));
  EXPECT_EQ(result.directorySectorsAdded, 2u);
  ASSERT_EQ(target.mftFragments.size(), 2u);
  EXPECT_EQ(target.mftFragments.back().sectorCount, 99u);
  EXPECT_EQ(target.carvedFiles[128].name, "kept.jpg");
  EXPECT_EQ(result.carvedFilesAdded, 1u);
}

// Another disk's file changes nothing: another identity, or the same text
// naming a group where this is an image.
TEST(ScanFileFormat, FileOfAnotherDiskChangesNothing) {
  const std::string text = ScanResultText(RichDisk());
  DiskRecord other;
  other.vendor = "other.img";
  other.partitions.emplace_back();
  EXPECT_EQ(LoadText(other, text).status, ScanFileLoadStatus::kOtherDisk);
  EXPECT_EQ(other.partitions.size(), 1u);
  EXPECT_TRUE(other.directorySectors.empty());

  DiskRecord image;
  image.vendor = "Dg0";  // an image file named like the group
  const ScanFileLoadResult result = LoadText(image, text);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kOtherDisk);
  EXPECT_TRUE(image.partitions.empty());
  EXPECT_TRUE(image.carvedFiles.empty());
}

// On a physical disk or image, everything lies on that disk: paths written
// in another session follow the disk to where it is now. Volume-manager
// details the file lacks come from the partition listed at the same place.
TEST(ScanFileFormat, LoadedPartitionsFollowTheDiskAndKeepVolumeManagerDetails) {
  DiskRecord written;
  written.vendor = "pv0.img";
  written.devicePath = "/old/place/pv0.img";
  PartitionRecord lv;
  lv.name = "lvfat";
  lv.devicePath = written.devicePath;
  lv.volumeKind = kSpannedVolume;
  lv.sectorCount = 73728;
  lv.members[0].path = written.devicePath;
  lv.members[0].startSector = 2048;
  lv.members[0].sectorCount = 73728;
  written.partitions.push_back(lv);
  PartitionRecord striped = lv;
  striped.name = "lvstripe";
  striped.members.clear();
  written.partitions.push_back(striped);

  DiskRecord now = written;
  now.devicePath = "/new/place/pv0.img";
  for (PartitionRecord& p : now.partitions) {
    p.volumeManager = "LVM2";
    if (p.name == "lvstripe") p.unreadableReason = "striped over 2 physical volumes; not read yet";
  }
  ASSERT_EQ(LoadText(now, ScanResultText(written)).status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(now.partitions.front().devicePath, "/new/place/pv0.img");
  EXPECT_EQ(now.partitions.front().members.at(0).path, "/new/place/pv0.img");
  EXPECT_EQ(now.partitions.front().volumeManager, "LVM2");
  EXPECT_EQ(now.partitions.back().unreadableReason, "striped over 2 physical volumes; not read yet");
}

// Lines may end in LF alone (a file edited elsewhere); the marks are
// recognised either way, the segment mark included.
TEST(ScanFileFormat, LfLineEndsReadAsCrLf) {
  const DiskRecord disk = RichDisk();
  std::string text = ScanResultText(disk);
  std::string lf;
  for (char c : text)
    if (c != '\r') lf += c;
  DiskRecord a = SameIdentity(disk), b = SameIdentity(disk);
  ASSERT_EQ(LoadText(a, text).status, ScanFileLoadStatus::kLoaded);
  ASSERT_EQ(LoadText(b, lf).status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(ScanResultText(a), ScanResultText(b));
  EXPECT_EQ(b.lvm.logicalVolumes.front().segments.size(), 2u);
}

// Files of writers that render 32-bit values signed: sizes from 2 GiB come
// back negative and read as the unsigned value.
TEST(ScanFileFormat, NegativeRenderingsOf32BitValues) {
  DiskRecord disk;
  disk.vendor = "d";
  const std::string text =
      "d\r\n0\r\n1\r\n100,-1294967296\r\n1\r\n64,-2147483648,big.pdf\r\n"
      "0\r\n0\r\n\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n-8192\r\n0\r\n";
  ASSERT_EQ(LoadText(disk, text).status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(disk.mftFragments.front().sectorCount, 3000000000U);
  EXPECT_EQ(disk.carvedFiles[64].size, 2147483648ULL);
  EXPECT_EQ(disk.lvm.extentSize, 4294959104U);
}

// Written beside the target first, the file replaces an older one only
// when whole; a folder or a missing folder cannot take it.
TEST(ScanFileFormat, SaveReplacesOnlyWhenWritten) {
  const std::string dir = test::MakeTempDir("scanfile-save");
  const std::string path = dir + "/disk.rvz_scn";
  const DiskRecord disk = RichDisk();
  ScanFileSaveResult saved = SaveScanResult(disk, path);
  ASSERT_EQ(saved.status, ScanFileSaveStatus::kSaved) << saved.error;
  const std::vector<uint8_t> bytes = test::ReadWholeFile(path);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), ScanResultText(disk));
  EXPECT_EQ(saved.bytes, bytes.size());
  EXPECT_EQ(test::RunCommand("ls -A " + test::ShellQuote(dir)).out, "disk.rvz_scn\n");  // no temporary left
  EXPECT_EQ(SaveScanResult(disk, dir).status, ScanFileSaveStatus::kCannotCreate);
  EXPECT_EQ(SaveScanResult(disk, dir + "/none/x.rvz_scn").status, ScanFileSaveStatus::kCannotCreate);
}

}  // namespace
}  // namespace quorvel
