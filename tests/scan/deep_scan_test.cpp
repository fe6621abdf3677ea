// The deep scan on crafted images: which traces make which partitions, the
// block mechanics (the next block's first sector, skips after a carved file,
// more blocks than buffers), stopping, and runs repeated over the same disk.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>

#include "carving_crafting.h"
#include "core/recording_sink.h"
#include "fs/ntfs/mft_name_run.h"
#include "fs/ntfs/ntfs_craft.h"
#include "scan/deep_scan.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Bytes;
using test::PutLe16;
using test::PutLe32;
using test::RecordBuilder;
using test::Ref;

constexpr uint64_t kBlock = kDeepScanBlockSectors;

void Plant(Bytes& image, uint64_t sector, const Bytes& bytes) {
  if ((sector * 512 + bytes.size()) > image.size()) image.resize(sector * 512 + bytes.size(), 0);
  std::memcpy(&image[sector * 512], bytes.data(), bytes.size());
}

// Scans the whole image; the disk keeps its size.
void Scan(DiskRecord& disk, const Bytes& image, ScanProgress* progress = nullptr) {
  MemorySource source(image);
  ScanProgress own;
  disk.sizeBytes = image.size();
  DeepScanSource(disk, source, progress ? *progress : own, 0, image.size() / 512);
}

std::vector<const PartitionRecord*> Partitions(const DiskRecord& disk, uint8_t fsKind, int origin) {
  std::vector<const PartitionRecord*> out;
  for (const PartitionRecord& p : disk.partitions)
    if (p.fsKind == fsKind && p.originCode == origin) out.push_back(&p);
  return out;
}

Bytes Sector() { return Bytes(512, 0); }

Bytes Fat32Boot(uint32_t hidden, uint32_t total) {
  Bytes b = Sector();
  b[0] = 0xEB;
  PutLe16(b, 0x0B, 512);
  b[0x0D] = 8;
  PutLe16(b, 0x0E, 32);  // reserved
  b[0x10] = 2;
  PutLe32(b, 0x1C, hidden);
  PutLe32(b, 0x20, total);
  PutLe32(b, 0x24, 100);
  std::memcpy(&b[0x52], "FAT32   ", 8);
  b[510] = 0x55;
  b[511] = 0xAA;
  return b;
}

Bytes FatStart(bool fat32) {
  Bytes b = Sector();
  const uint8_t f32[] = {0xF8, 0xFF, 0xFF, 0x0F, 0xFF, 0xFF, 0xFF, 0x0F};
  const uint8_t f16[] = {0xF8, 0xFF, 0xFF, 0xFF};
  if (fat32)
    std::memcpy(b.data(), f32, sizeof f32);
  else
    std::memcpy(b.data(), f16, sizeof f16);
  return b;
}

// A subfolder's first sector: "." naming cluster c, then "..".
Bytes SubfolderStart(uint32_t c) {
  Bytes b = Sector();
  std::memcpy(&b[0], ".          ", 11);
  b[11] = 0x10;
  PutLe16(b, 20, static_cast<uint16_t>(c >> 16));
  PutLe16(b, 26, static_cast<uint16_t>(c));
  std::memcpy(&b[32], "..         ", 11);
  b[32 + 11] = 0x10;
  return b;
}

Bytes PlainRecord(uint32_t number) {
  return RecordBuilder(number, 1).StandardInformation(1, 1, 1).FileName(Ref(5, 5), "f.txt").Finish();
}

TEST(DeepScanNtfs, FoundFromItsBackupBootSectorAndOnceFromBoth) {
  const std::string dir = test::MakeTempDir("deep-ntfs");
  for (bool wipePrimary : {true, false}) {
    SCOPED_TRACE(wipePrimary ? "backup only" : "both boot sectors");
    test::VolumeBuilder volume(256, 8192);
    if (wipePrimary) volume.ZeroBootSector();
    Bytes image(2048 * 512, 0);
    Plant(image, 2048, test::ReadWholeFile(volume.Write(dir + "/v.img")));
    image.resize(image.size() + 100 * 512, 0);
    DiskRecord disk;
    Scan(disk, image);
    auto found = Partitions(disk, FsKind::kNtfs, 2);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->startSector, 2048u);
    EXPECT_EQ(found[0]->sectorCount, 8191u);  // the total-sector field
    EXPECT_EQ(found[0]->ntfs.mftStartSector, 2048u + 32);
    EXPECT_EQ(found[0]->name, "Partition0");
    // Any file record also makes the whole range an NTFS partition, read
    // through the MFT fragments.
    auto whole = Partitions(disk, FsKind::kNtfs, 1);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0]->startSector, 0u);
    EXPECT_EQ(whole[0]->sectorCount, image.size() / 512);
    EXPECT_EQ(whole[0]->sectorsPerCluster, 8u);
    EXPECT_EQ(whole[0]->name, "Partition1");
  }
}

TEST(DeepScanFat32, BackupBootSectorAddsNoSecondPartition) {
  for (uint32_t hidden : {4000u, 0u}) {  // the hidden field right, and wrong
    SCOPED_TRACE(hidden);
    Bytes image(8000 * 512, 0);
    Plant(image, 4000, Fat32Boot(hidden, 3000));
    Plant(image, 4006, Fat32Boot(hidden, 3000));
    Plant(image, 4032, FatStart(true));
    DiskRecord disk;
    Scan(disk, image);
    auto found = Partitions(disk, FsKind::kFat32, 2);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->startSector, 4000u);
    EXPECT_EQ(found[0]->sectorCount, 3000u);
  }
  // A table partition of the FAT32 family at the same start is not repeated.
  Bytes image(8000 * 512, 0);
  Plant(image, 4000, Fat32Boot(4000, 3000));
  Plant(image, 4032, FatStart(true));
  DiskRecord disk;
  PartitionRecord table;
  table.fsKind = FsKind::kFat32Lba;
  table.startSector = 4000;
  disk.partitions.push_back(table);
  Scan(disk, image);
  EXPECT_EQ(disk.partitions.size(), 1u);
}

TEST(DeepScanFat16, CopiesFourHundredSectorsApartPairButNotFourHundredAndOne) {
  for (uint64_t length : {400u, 401u}) {
    SCOPED_TRACE(length);
    const uint64_t first = 1000;
    const uint64_t dataStart = first + 2 * length + 32;  // after both FATs and the root folder
    const uint64_t folder = dataStart + (5 - 2) * 4;     // cluster 5 of 4 sectors
    Bytes image((folder + 100) * 512, 0);
    Plant(image, first, FatStart(false));
    Plant(image, first + length, FatStart(false));
    Plant(image, folder, SubfolderStart(5));
    DiskRecord disk;
    Scan(disk, image);
    EXPECT_TRUE(disk.directorySectors.count(folder));
    auto found = Partitions(disk, FsKind::kFat16, 1);
    if (length == 401) {
      EXPECT_TRUE(found.empty());
      continue;
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->startSector, first - 6);
    EXPECT_EQ(found[0]->sectorsPerCluster, 4u);
    EXPECT_EQ(found[0]->dataOrigin, folder - 4 * 5);
    EXPECT_EQ(found[0]->fat.sizeSectors, length);
    EXPECT_EQ(found[0]->sectorCount, image.size() / 512 - (first - 6));
  }
}

TEST(DeepScanFat32, RebuiltFromTheFirstSubfolderAfterTheCopies) {
  const uint64_t first = 2000, length = 600;
  const uint64_t folder = first + 2 * length + (9 - 2) * 8;  // cluster 9 of 8 sectors
  Bytes image((folder + 5000) * 512, 0);
  Plant(image, first, FatStart(true));
  Plant(image, first + length, FatStart(true));
  Plant(image, folder, SubfolderStart(9));
  DiskRecord disk;
  Scan(disk, image);
  auto found = Partitions(disk, FsKind::kFat32, 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, first - 2);
  EXPECT_EQ(found[0]->sectorsPerCluster, 8u);
  EXPECT_EQ(found[0]->dataOrigin, folder - 8 * 9);
  EXPECT_EQ(found[0]->fat.sizeSectors, length);
}

TEST(DeepScanFat, StaleCopyRestartsThePairing) {
  // A lone FAT start long before a volume (no second copy ever follows it),
  // then the volume's two copies and a subfolder: the volume is still found.
  const uint64_t stray = 500, first = 20000, length = 300;
  const uint64_t folder = first + 2 * length + (4 - 2) * 2;
  Bytes image((folder + 100) * 512, 0);
  Plant(image, stray, FatStart(true));
  Plant(image, first, FatStart(true));
  Plant(image, first + length, FatStart(true));
  Plant(image, folder, SubfolderStart(4));
  DiskRecord disk;
  Scan(disk, image);
  auto found = Partitions(disk, FsKind::kFat32, 1);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0]->startSector, first - 2);
}

TEST(DeepScanFat, PairsOfSubfolderStartsGiveTheClusterGeometry) {
  const uint64_t origin = 3000;
  Bytes image(12000 * 512, 0);
  Plant(image, origin + 4 * 10, SubfolderStart(10));
  Plant(image, origin + 4 * 300, SubfolderStart(300));
  Plant(image, origin + 4 * 301, SubfolderStart(301));
  DiskRecord disk;
  Scan(disk, image);
  auto found = Partitions(disk, FsKind::kFat16, 1);
  ASSERT_EQ(found.size(), 1u);  // both pairs name the same volume
  EXPECT_EQ(found[0]->startSector, origin);
  EXPECT_EQ(found[0]->dataOrigin, origin);
  EXPECT_EQ(found[0]->sectorsPerCluster, 4u);
  EXPECT_EQ(found[0]->fat.sizeSectors, (12000 - origin) / 4 * 2 / 512);

  // Cluster numbers of 0x10000 and more can only be FAT32's.
  Bytes fits(0x10100 * 512 + 4096 * 512, 0);
  Plant(fits, 0x10000 + 100, SubfolderStart(0x10000));
  Plant(fits, 0x10001 + 100, SubfolderStart(0x10001));
  DiskRecord disk32b;
  Scan(disk32b, fits);
  auto fat32 = Partitions(disk32b, FsKind::kFat32, 1);
  ASSERT_EQ(fat32.size(), 1u);
  EXPECT_EQ(fat32[0]->startSector, 100u);
  EXPECT_EQ(fat32[0]->sectorsPerCluster, 1u);
}

TEST(DeepScanMft, FragmentsStartAfterAGapOfThirtySectors) {
  Bytes image(1000 * 512, 0);
  // A fragment covers its records: 100 to 106. 135 lies 29 sectors past that
  // end and extends it; 167 lies 30 past the new end (137) and starts another.
  for (uint64_t s : {100, 102, 104, 135, 167}) Plant(image, s, PlainRecord(static_cast<uint32_t>(s)));
  DiskRecord disk;
  Scan(disk, image);
  ASSERT_EQ(disk.mftFragments.size(), 2u);
  auto it = disk.mftFragments.begin();
  EXPECT_EQ(it->startSector, 100u);
  EXPECT_EQ(it->sectorCount, 37u);
  ++it;
  EXPECT_EQ(it->startSector, 167u);
  EXPECT_EQ(it->sectorCount, 2u);

  // The same disk scanned again, and a range in front of it: the fragments
  // stay in sector order, none twice, and the whole-range partition once.
  const size_t partitions = disk.partitions.size();
  Scan(disk, image);
  EXPECT_EQ(disk.mftFragments.size(), 2u);
  EXPECT_EQ(disk.partitions.size(), partitions);
  Bytes front(1000 * 512, 0);
  Plant(front, 10, PlainRecord(1));
  MemorySource source(front);
  ScanProgress progress;
  DeepScanSource(disk, source, progress, 0, 50);
  ASSERT_EQ(disk.mftFragments.size(), 3u);
  EXPECT_EQ(disk.mftFragments.front().startSector, 10u);
}

TEST(DeepScanMft, AnMftAndItsMirrorGiveTheVolumesStartAndClusterSize) {
  // start 1000, 8 sectors per cluster; the MFT at cluster 4, the mirror at 100.
  const uint64_t start = 1000, mft = 4, mirror = 100, spc = 8;
  auto mftRecord = [&] {
    return RecordBuilder(0, 1)
        .FileName(Ref(5, 5), "$MFT", 3)
        .NonResidentData({0x11, 0x40, static_cast<uint8_t>(mft), 0x00}, 0x40 * 4096)
        .Finish();
  };
  auto mirrorRecord = [&] {
    return RecordBuilder(1, 1)
        .FileName(Ref(5, 5), "$MFTMirr", 3)
        .NonResidentData({0x11, 0x01, static_cast<uint8_t>(mirror), 0x00}, 4096)
        .Finish();
  };
  Bytes image(4000 * 512, 0);
  const uint64_t mftSector = start + spc * mft, mirrorSector = start + spc * mirror;
  Plant(image, mftSector, mftRecord());
  Plant(image, mftSector + 2, mirrorRecord());
  Plant(image, mftSector + 10, PlainRecord(5));
  Plant(image, mirrorSector, mftRecord());
  Plant(image, mirrorSector + 2, mirrorRecord());
  DiskRecord disk;
  Scan(disk, image);
  const PartitionRecord* paired = nullptr;
  for (const PartitionRecord* p : Partitions(disk, FsKind::kNtfs, 1))
    if (p->startSector == start) paired = p;
  ASSERT_NE(paired, nullptr);
  EXPECT_EQ(paired->sectorsPerCluster, spc);
  EXPECT_EQ(paired->ntfs.mftStartSector, mftSector);
  EXPECT_EQ(paired->sectorCount, 4000u - start);

  NameAndFirstRun read;
  Bytes fixed = RecordBuilder(0, 1)
                    .FileName(Ref(5, 5), "$MFT", 3)
                    .NonResidentData({0x01, 0x08, 0x11, 0x10, 0x20, 0x00}, 0x18 * 4096)
                    .FinishFixedUp();
  ASSERT_TRUE(ReadNameAndFirstRun(fixed, read));
  EXPECT_EQ(read.name, "$MFT");
  EXPECT_EQ(read.totalClusters, 0x18u);  // a sparse run counts, but does not start the data
  EXPECT_EQ(read.firstCluster, 0x20u);
}

// Also from a start that is not on a page boundary (a partition at sector
// 63): the blocks then sit 3.5 KiB into the read buffer's pages.
TEST(DeepScanBlocks, RecordInABlocksLastSectorIsSeenWhole) {
  for (const uint64_t start : {uint64_t{0}, uint64_t{63}}) {
    Bytes image((start + kBlock + 200) * 512, 0);
    Plant(image, start + kBlock - 1, PlainRecord(40));
    DiskRecord disk;
    disk.sizeBytes = image.size();
    MemorySource source(image);
    ScanProgress progress;
    DeepScanSource(disk, source, progress, start, image.size() / 512 - start);
    ASSERT_EQ(disk.mftFragments.size(), 1u) << start;
    EXPECT_EQ(disk.mftFragments.front().startSector, start + kBlock - 1);
  }
}

TEST(DeepScanBlocks, AFileCarvedPastABlocksEndDoesNotHideTheNextBlock) {
  Bytes image((2 * kBlock + 100) * 512, 0);
  // A JPEG of 100 sectors from sector kBlock - 50, into the next block.
  Bytes jpeg = test::JpegHeader();
  jpeg.resize(100 * 512 - 2, 0x5C);
  jpeg.push_back(0xFF);
  jpeg.push_back(0xD9);
  Plant(image, kBlock - 50, jpeg);
  Bytes inside = test::RarArchive(1000);
  Plant(image, kBlock + 1, inside);   // inside the first file, in the next block
  Plant(image, kBlock - 20, inside);  // inside the first file, in its own block
  DiskRecord disk;
  Scan(disk, image);
  ASSERT_TRUE(disk.carvedFiles.count(kBlock - 50));
  EXPECT_EQ(disk.carvedFiles.at(kBlock - 50).size, jpeg.size());
  EXPECT_TRUE(disk.carvedFiles.count(kBlock + 1));
  EXPECT_FALSE(disk.carvedFiles.count(kBlock - 20));
  EXPECT_EQ(disk.extraFoundFiles.name, "Extra Found Files");
}

// Holds the scan back before its second block, so that the readers run as
// far ahead as the buffers let them.
class PauseBeforeSecondBlock : public RecordingSink {
 public:
  void Pos(uint64_t position) override {
    RecordingSink::Pos(position);
    if (position == 1) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
};

// Catches: a buffer refilled before the scan took the block it holds, or a
// block tested twice or never, once a scan is longer than the buffers its
// readers take turns with.
TEST(DeepScanBlocks, ScansLongerThanTheBuffersTestEveryBlockOnce) {
  constexpr uint64_t kBlocks = 6;
  Bytes image((kBlocks * kBlock + 40) * 512, 0);
  const Bytes rar = test::RarArchive(1000);
  std::set<uint64_t> planted;
  for (uint64_t b = 0; b <= kBlocks; ++b) planted.insert(b * kBlock + 10 + b);  // the last in the short block
  for (const uint64_t sector : planted) Plant(image, sector, rar);
  DiskRecord disk;
  ScanProgress progress;
  PauseBeforeSecondBlock sink;
  progress.sink = &sink;
  Scan(disk, image, &progress);
  std::set<uint64_t> carved;
  for (const auto& [sector, file] : disk.carvedFiles) carved.insert(sector);
  EXPECT_EQ(carved, planted);
}

// Asks the scan to stop when it reports its second block.
class StopAtSecondBlock : public RecordingSink {
 public:
  explicit StopAtSecondBlock(ScanProgress& progress) : progress_(progress) {}
  void Pos(uint64_t position) override {
    RecordingSink::Pos(position);
    if (position == 1) progress_.RequestStop();
  }

 private:
  ScanProgress& progress_;
};

TEST(DeepScanProgress, BlocksReportedAndAStopStillRunsThePostPass) {
  Bytes image((3 * kBlock + 7) * 512, 0);
  Plant(image, 10, PlainRecord(30));
  Plant(image, 2 * kBlock + 10, PlainRecord(31));
  {
    DiskRecord disk;
    ScanProgress progress;
    RecordingSink sink;
    progress.sink = &sink;
    Scan(disk, image, &progress);
    EXPECT_EQ(sink.ranges(), 1u);
    EXPECT_EQ(sink.upper(), 3u);  // whole blocks
    EXPECT_EQ(sink.position(), 3u);
    EXPECT_EQ(sink.lastText(), "61440 扇区被扫描");
    EXPECT_EQ(disk.mftFragments.size(), 2u);
  }
  DiskRecord disk;
  ScanProgress progress;
  StopAtSecondBlock sink(progress);
  progress.sink = &sink;
  Scan(disk, image, &progress);
  EXPECT_EQ(disk.mftFragments.size(), 1u);  // block 2 never read
  EXPECT_EQ(Partitions(disk, FsKind::kNtfs, 1).size(), 1u);
}

}  // namespace
}  // namespace quorvel
