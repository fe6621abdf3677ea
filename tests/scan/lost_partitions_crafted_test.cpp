// The lost-partition scan on disks crafted sector by sector, for what real
// tools do not make: lying boot sectors, chains that point past the disk or
// at themselves, an MFT without any boot sector, a stop in the middle.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "core/recording_sink.h"
#include "fs/ntfs/ntfs_craft.h"
#include "scan/found_partition_counter.h"
#include "scan/lost_partitions.h"
#include "volumes/disk_crafting.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::test {
namespace {

// A sparse image file written piece by piece, so that disks of several GiB
// cost only the sectors that hold something.
class SparseImage {
 public:
  SparseImage(const std::string& tag, uint64_t sectors) : path_(TestDir(tag) + "/disk.img") {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(ftruncate(fd_, static_cast<off_t>(sectors * 512)), 0);
  }
  ~SparseImage() {
    close(fd_);
    unlink(path_.c_str());
  }
  void Put(uint64_t sector, const std::vector<uint8_t>& bytes) {
    EXPECT_EQ(pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(sector * 512)),
              static_cast<ssize_t>(bytes.size()));
  }
  // The disk as the image opens: no table, geometry 255 x 63.
  DiskRecord Disk() const {
    DiskList list;
    EXPECT_EQ(OpenImageFile(list, path_), 1);
    return list.back();
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
};

Bytes NtfsBoot(uint64_t total, uint64_t mftCluster, uint8_t perCluster = 8) {
  Bytes b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x52;
  b[2] = 0x90;
  std::memcpy(b.data() + 3, "NTFS    ", 8);
  PutLe16(&b[0x0B], 512);
  b[0x0D] = perCluster;
  PutLe64(&b[0x28], total);
  PutLe64(&b[0x30], mftCluster);
  PutSignature(b.data());
  return b;
}

Bytes Fat16Boot(uint16_t sectors, uint16_t reserved = 4) {
  Bytes b(512, 0);
  b[0] = 0xEB;
  b[1] = 0x3C;
  b[2] = 0x90;
  PutLe16(&b[0x0B], 512);
  b[0x0D] = 4;
  PutLe16(&b[0x0E], reserved);
  b[0x10] = 2;
  PutLe16(&b[0x11], 512);
  PutLe16(&b[0x13], sectors);
  PutLe16(&b[0x16], 16);
  std::memcpy(b.data() + 0x36, "FAT16   ", 8);
  PutSignature(b.data());
  return b;
}

Bytes FatStart() { return {0xF8, 0xFF, 0xFF, 0xFF}; }

// A FAT16 volume that every pass accepts: boot sector and the FAT's first entries.
void PutFat16(SparseImage& image, uint64_t start, uint16_t sectors) {
  image.Put(start, Fat16Boot(sectors));
  image.Put(start + 4, FatStart());
}

// An NTFS volume of `sectors` sectors (boot sector, MFT record 0 at cluster 4
// of 4 KiB, backup boot sector at its last sector).
void PutNtfs(SparseImage& image, uint64_t start, uint64_t sectors, bool firstSector = true) {
  if (firstSector) image.Put(start, NtfsBoot(sectors - 1, 4));
  image.Put(start + sectors - 1, NtfsBoot(sectors - 1, 4));
  image.Put(start + 32, RecordBuilder(0, 1).Finish());
}

std::vector<const PartitionRecord*> Found(const DiskRecord& disk) {
  std::vector<const PartitionRecord*> out;
  for (const PartitionRecord& p : disk.partitions)
    if (p.originCode == 2) out.push_back(&p);
  return out;
}

// Stops the scan at the n-th progress report (Step or Pos).
class StopAt : public RecordingSink {
 public:
  StopAt(ScanProgress& progress, int n) : progress_(progress), left_(n) {}
  void Step() override {
    RecordingSink::Step();
    Tick();
  }
  void Pos(uint64_t position) override {
    RecordingSink::Pos(position);
    Tick();
  }

 private:
  void Tick() {
    if (--left_ == 0) progress_.RequestStop();
  }
  ScanProgress& progress_;
  int left_;
};

// Catches: a volume the disk already lists added again (also when the table
// names the type differently within its family), a dropped one using up a
// number, and a new one taking a name another record already carries.
TEST(AddFoundPartition, FamilyDuplicatesAreDroppedWithoutUsingANumber) {
  DiskRecord disk;
  PartitionRecord table;
  table.name = "Partition0";
  table.fsKind = FsKind::kFat32Lba;
  table.startSector = 2048;
  disk.partitions.push_back(table);

  PartitionRecord fat32;
  fat32.fsKind = FsKind::kFat32;
  fat32.startSector = 2048;
  EXPECT_EQ(AddFoundPartition(disk, fat32), nullptr);
  PartitionRecord ntfs;
  ntfs.fsKind = FsKind::kNtfs;
  ntfs.startSector = 2048;  // another file system at the same place is another volume
  PartitionRecord* added = AddFoundPartition(disk, ntfs);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->name, "Partition1");
  EXPECT_EQ(added->originCode, 2);
  ntfs.fsKind = FsKind::kNtfsAlt;
  EXPECT_EQ(AddFoundPartition(disk, ntfs), nullptr);
  EXPECT_EQ(disk.partitions.size(), 2u);

  // A record loaded from elsewhere already carries the next number.
  disk.partitions.front().name = "Partition2";
  PartitionRecord fat16;
  fat16.fsKind = FsKind::kFat16;
  fat16.startSector = 9000;
  added = AddFoundPartition(disk, fat16);
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->name, "Partition3");
}

// Catches: start = position - total wrapping below sector 0, start + count
// running past the 64-bit range, and chains that never end on boot sectors
// that point at each other or at themselves.
TEST(LostPartitionScan, LyingBootSectorsNeitherWrapNorLoop) {
  SparseImage image("lost-lying", 16384);  // 8 MiB
  // Backup-looking NTFS sectors whose total exceeds their own position, or
  // the whole 64-bit range, near the start and at the end.
  image.Put(100, NtfsBoot(1000, 4));
  image.Put(101, NtfsBoot(UINT64_MAX, 4));
  image.Put(102, NtfsBoot(UINT64_MAX - 50, UINT64_MAX / 4));
  image.Put(16383, NtfsBoot(20000, 4));
  image.Put(16382, NtfsBoot(16382, 4));  // start would be sector 0: nothing there
  // A stretch where every sector is an NTFS boot sector one sector long: the
  // forward chain is sent one sector on from each of them.
  for (uint64_t s = 200; s < 4200; ++s) image.Put(s, NtfsBoot(1, 0));
  // FAT boot sectors with sizes past the 32-bit and 64-bit ends.
  Bytes fat16 = Fat16Boot(0);
  PutLe32(&fat16[0x20], 0xFFFFFFFF);
  image.Put(5000, fat16);
  image.Put(5004, FatStart());
  DiskRecord disk = image.Disk();
  for (LostScanMode mode : {kQuickLostScan, kPreciseLostScan}) {
    ScanProgress progress;
    LostScanReport report;
    auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(ScanLostPartitions(disk, mode, 0, progress, &report));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(20));
    // No NTFS volume is proved; the FAT16 volume that runs past the disk is
    // kept as its boot sector says (a cut-off image still holds its start).
    for (const PartitionRecord* p : Found(disk)) {
      EXPECT_EQ(p->fsKind, FsKind::kFat16);
      EXPECT_EQ(p->startSector, 5000u);
      EXPECT_EQ(p->sectorCount, 0xFFFFFFFFu);
    }
    // The chain reads each 2 MiB of the stretch once, not once per sector.
    EXPECT_LT(report.bytesRead, 64u << 20) << mode;
  }
}

// Catches: the backward chain insisting on the volume's own first sector,
// which is the one thing an overwritten volume lacks (the label then comes
// from the backup's fields), and the quick pass's test of the last sector of
// the previous cylinder.
TEST(LostPartitionScan, OverwrittenNtfsFirstSectorIsFoundThroughTheBackup) {
  const uint64_t cylinder = 255 * 63;
  SparseImage image("lost-backup", 6 * cylinder);
  // Volume A: cylinder 1 up to the disk's end, first sector overwritten by
  // something else (not zeros).
  const uint64_t startA = cylinder;
  PutNtfs(image, startA, 5 * cylinder, false);
  image.Put(startA, Bytes(512, 0x5A));
  image.Put(startA + 32 + 6, RecordBuilder(3, 1)
                                 .RawAttribute({0x60, 0, 0, 0, 0x20, 0, 0, 0, 0,   0, 0x18, 0, 0, 0, 0, 0,  //
                                                4,    0, 0, 0, 0x18, 0, 0, 0, 'O', 0, 'K',  0, 0, 0, 0, 0})
                                 .Finish());
  DiskRecord disk = image.Disk();
  ScanProgress progress;
  LostScanReport report;
  ASSERT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 0, progress, &report));
  std::vector<const PartitionRecord*> found = Found(disk);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, startA);
  EXPECT_EQ(found[0]->sectorCount, 5 * cylinder);  // the backup boot sector included
  EXPECT_EQ(found[0]->fsKind, FsKind::kNtfs);
  EXPECT_EQ(found[0]->volumeLabel, "OK");
  ASSERT_EQ(report.found.size(), 1u);
  EXPECT_EQ(report.found[0].description, "OKNTFS;;0,0,1;16065;80325;主;");

  // Volume B ends at the last sector of cylinder 1 (not at the disk's end):
  // the quick pass sees its backup just before cylinder 2's probe.
  SparseImage second("lost-backup2", 4 * cylinder);
  PutNtfs(second, 63, 2 * cylinder - 63, false);
  DiskRecord disk2 = second.Disk();
  ASSERT_TRUE(ScanLostPartitions(disk2, kQuickLostScan, 0, progress, &report));
  found = Found(disk2);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, 63u);
  EXPECT_EQ(report.found.back().description, "NTFS;;2,0,1;32067;主;");
}

// Catches: the precise pass ignoring the stop flag, throwing away what it
// added before, or claiming to be done; a stopped quick pass reports done.
TEST(LostPartitionScan, StopAfterTheFirstPreciseBlockKeepsWhatWasAdded) {
  SparseImage image("lost-stop", 4 * 20480);  // four 10 MiB blocks
  PutFat16(image, 8000, 4000);                // block 0, beyond the forward chain's first window
  PutFat16(image, 2 * 20480 + 100, 4000);     // block 2
  DiskRecord disk = image.Disk();
  ScanProgress progress;
  StopAt sink(progress, 2);  // the second block's report
  progress.sink = &sink;
  LostScanReport report;
  EXPECT_FALSE(ScanLostPartitions(disk, kPreciseLostScan, 0, progress, &report));
  EXPECT_TRUE(report.stopped);
  std::vector<const PartitionRecord*> found = Found(disk);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, 8000u);
  EXPECT_EQ(found[0]->name, "Partition0");

  progress.stopFlag = 0;
  StopAt quickSink(progress, 1);
  progress.sink = &quickSink;
  EXPECT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 0, progress, &report));
  EXPECT_TRUE(report.stopped);
}

// Catches: a wrong cylinder size (or a division by zero for a disk that
// reports no geometry) and the tracks-per-cylinder override ignored.
TEST(LostPartitionScan, QuickPassFollowsTheGeometryAndItsOverride) {
  // A FAT16 volume at cylinder 5 of a 16-head geometry (sector 5040): no
  // probe of 255 x 63 reaches it.
  SparseImage image("lost-geometry", 40000);
  PutFat16(image, 5 * 16 * 63, 4000);
  DiskRecord disk = image.Disk();
  ScanProgress progress;
  ASSERT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 0, progress));
  EXPECT_TRUE(Found(disk).empty());
  RecordingSink sink;
  progress.sink = &sink;
  LostScanReport report;
  ASSERT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 16, progress, &report));
  ASSERT_EQ(Found(disk).size(), 1u);
  EXPECT_EQ(Found(disk)[0]->startSector, 5040u);
  EXPECT_EQ(report.found[0].description, "FAT16;;5,0,1;4000;主;");
  EXPECT_EQ(sink.upper(), 40000u / (16 * 63));
  // Two 4 KiB reads per cylinder and one more for sector 2048, plus the chains' few.
  EXPECT_LT(report.reads, 2 * (40000 / (16 * 63)) + 30);

  DiskRecord noGeometry = image.Disk();
  noGeometry.tracksPerCylinder = 0;
  noGeometry.sectorsPerTrack = 0;
  EXPECT_TRUE(ScanLostPartitions(noGeometry, kQuickLostScan, 0, progress));
}

// Catches: the count text not following what was found, or shown only once.
TEST(LostPartitionScan, CountTextFollowsTheFoundPartitions) {
  SparseImage image("lost-count", 3 * 255 * 63);
  PutFat16(image, 255 * 63, 4000);
  DiskRecord disk = image.Disk();
  std::vector<std::string> shown;
  RecordingSink inner;
  FoundPartitionCounter counter(disk, &inner, [&](const std::string& text) { shown.push_back(text); });
  ScanProgress progress;
  progress.sink = &counter;
  ASSERT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 0, progress));
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0], "正在扫描，请稍等...");
  EXPECT_EQ(shown[1], "已经找到1个分区,继续扫描,稍等...");
  EXPECT_GE(inner.steps(), 3u);
  EXPECT_EQ(inner.lastText(), "FAT16;;1,0,1;4000;主;");
}

// Catches: the MFT probe at the default place missing a volume whose boot
// sectors are both gone, stepping back wrongly from a record other than 0,
// or taking sectors per cluster and size from the wrong fields.
TEST(LostPartitionScan, MftAtTheDefaultPlaceFindsAVolumeWithoutBootSectors) {
  constexpr uint64_t kMft = 0x600000;
  const uint64_t start = 2044;  // the probe at 2048 lands on record 2
  const uint64_t clusters = 900000;
  SparseImage image("lost-mft", start + clusters * 8 + 100);
  // Record 0: $MFT's data from cluster 0xC0000 (4 KiB clusters); record 6:
  // the volume bitmap, one bit per cluster; record 3 carries the name.
  image.Put(start + kMft, RecordBuilder(0, 1).NonResidentData({0x31, 0x40, 0x00, 0x00, 0x0C}, 0x40000).Finish());
  image.Put(start + kMft + 4, RecordBuilder(2, 1).Finish());
  image.Put(start + kMft + 6, RecordBuilder(3, 1)
                                  .RawAttribute({0x60, 0, 0, 0, 0x20, 0, 0, 0, 0,   0, 0x18, 0, 0, 0, 0, 0,  //
                                                 4,    0, 0, 0, 0x18, 0, 0, 0, 'B', 0, 'G',  0, 0, 0, 0, 0})
                                  .Finish());
  image.Put(start + kMft + 12, RecordBuilder(6, 1).NonResidentData({0x11, 0x1C, 0x10, 0x00}, clusters / 8).Finish());
  DiskRecord disk = image.Disk();
  ScanProgress progress;
  ASSERT_TRUE(ScanLostPartitions(disk, kQuickLostScan, 0, progress));
  std::vector<const PartitionRecord*> found = Found(disk);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, start);
  EXPECT_EQ(found[0]->sectorCount, clusters * 8);
  EXPECT_EQ(found[0]->fsKind, FsKind::kNtfs);
  EXPECT_EQ(found[0]->volumeLabel, "BG");
}

}  // namespace
}  // namespace quorvel::test
