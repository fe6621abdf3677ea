// The FAT volume reader: geometry from the boot sector or from a search,
// hostile geometry, the root chain, the hand-over to the rebuild, and the
// expansion dispatch around it.
#include <gtest/gtest.h>

#include <functional>

#include "core/byte_view.h"
#include "fs/fat/fat_crafting.h"
#include "fs/fat/fat_volume.h"
#include "io/byte_source.h"
#include "recover/expand_partition.h"

namespace quorvel::test {
namespace {

// A copy of a fixture image that a test may damage.
struct ImageCopy {
  explicit ImageCopy(const std::string& fixture) {
    dir = MakeTempDir("fatvol");
    path = dir + "/copy.img";
    EXPECT_EQ(RunCommand("cp --sparse=always " + ShellQuote(FixturePath(fixture)) + " " + ShellQuote(path)).exitCode,
              0);
  }
  ~ImageCopy() {
    std::remove(path.c_str());
    ::rmdir(dir.c_str());
  }
  void Patch(uint64_t offset, const std::vector<uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
  }
  std::vector<uint8_t> Read(uint64_t offset, size_t length) {
    std::vector<uint8_t> data(length, 0);
    FileSource::Open(path)->ReadAt(offset, data);
    return data;
  }
  // A whole-volume partition over the copy, filled by hand.
  DiskRecord Disk(uint8_t fsKind) {
    DiskRecord disk;
    disk.devicePath = path;
    PartitionRecord p;
    p.name = "Partition0";
    p.fsKind = fsKind;
    p.sectorCount = FileSource::Open(path)->Size() / 512;
    disk.partitions.push_back(std::move(p));
    return disk;
  }
  std::string dir, path;
};

// Every entry as "path|state|size|cluster", for comparing two listings.
std::multiset<std::string> Listing(const FatFileEntry& folder, const std::string& prefix = "") {
  std::multiset<std::string> out;
  for (const FatFileEntry& c : folder.children) {
    std::string path = prefix + "/" + c.name;
    out.insert(path + "|" + std::to_string(c.state()) + "|" + std::to_string(c.size) + "|" +
               std::to_string(c.firstCluster));
    for (const std::string& s : Listing(c, path)) out.insert(s);
  }
  return out;
}

#define REQUIRE_FIXTURE(name) \
  if (!HaveFixture(name)) GTEST_SKIP() << name << " missing (mkfs.fat / mtools absent)"

// A FAT32 boot sector that passes the recognition test, with chosen values.
std::vector<uint8_t> Fat32BootSector(uint8_t spc, uint16_t reserved, uint32_t fatSize, uint32_t root = 2) {
  std::vector<uint8_t> s(512, 0);
  s[0] = 0xEB;
  PutLe16(&s[11], 512);
  s[13] = spc;
  PutLe16(&s[14], reserved);
  s[16] = 2;
  PutLe32(&s[36], fatSize);
  PutLe32(&s[44], root);
  PutLe16(&s[50], 6);
  std::memcpy(&s[0x52], "FAT32   ", 8);
  s[510] = 0x55;
  s[511] = 0xAA;
  return s;
}

// Damaged boot sector: reserved 32, FAT size 1000 and 8 sectors per cluster
// must come from the FAT media entries and the first subfolder's "." entry.
TEST(FatVolume, GeometrySearchOnAZeroedBootSector) {
  CraftedFat fat(true, 8, 16384);
  PartitionRecord& p = fat.partition();
  p.sectorsPerCluster = 8;
  p.dataOrigin = 0;
  p.fat.sizeSectors = 0;
  p.fat.table.clear();
  std::vector<uint8_t> fatStart(512, 0);
  PutLe32(&fatStart[0], 0x0FFFFFF8);
  PutLe32(&fatStart[4], 0x0FFFFFFF);
  PutLe32(&fatStart[8], 0x0FFFFFFF);   // root: one cluster
  PutLe32(&fatStart[40], 0x0FFFFFFF);  // cluster 10: one cluster
  fat.WriteBytes(32 * 512, fatStart);
  fat.WriteBytes(1032 * 512, fatStart);
  const uint64_t s0 = 32 + 2 * 1000;
  DirData root;
  root.Add(ShortEntry("SUB        ", 0x10, 10)).Add(ShortEntry("ROOTFILETXT", 0x20, 11, 5));
  fat.WriteBytes(s0 * 512, root.bytes);
  DirData sub;
  sub.AddDots(10, 0).Add(ShortEntry("INSUB   TXT", 0x20, 12, 6));
  fat.WriteBytes((s0 + 64) * 512, sub.bytes);

  EXPECT_EQ(ReadFatVolume(p, fat.disk, fat.progress, true), FatVolumeOutcome::kListed);
  EXPECT_EQ(p.fat.sizeSectors, 1000u);
  EXPECT_EQ(p.sectorsPerCluster, 8u);
  EXPECT_EQ(p.dataOrigin, s0 - 16);
  const FatFileEntry* s = Child(fat.tree().fatRoot, "SUB");
  ASSERT_NE(s, nullptr);
  EXPECT_NE(Child(*s, "INSUB.TXT"), nullptr);
  EXPECT_NE(Child(fat.tree().fatRoot, "ROOTFILE.TXT"), nullptr);
}

// The zeroed-boot fixture (partition 1 of an MBR disk, boot and backup boot
// zeroed) lists exactly what the intact volume lists.
TEST(FatVolume, ZeroedBootSectorListsTheSameTree) {
  REQUIRE_FIXTURE("fat32_noboot.img");
  ImageCopy intact("fat32.img");
  DiskRecord a = intact.Disk(FsKind::kFat32Lba);
  ScanProgress progress;
  std::string error;
  ASSERT_TRUE(ExpandPartition(a, a.partitions.front(), progress, error)) << error;

  DiskRecord b;
  b.devicePath = FixturePath("fat32_noboot.img");
  PartitionRecord p;
  p.name = "Partition1";
  p.fsKind = FsKind::kFat32Lba;
  p.startSector = 2048;
  p.sectorCount = a.partitions.front().sectorCount;
  b.partitions.push_back(std::move(p));
  ASSERT_TRUE(ExpandPartition(b, b.partitions.front(), progress, error)) << error;
  EXPECT_EQ(b.partitions.front().sectorsPerCluster, a.partitions.front().sectorsPerCluster);
  EXPECT_EQ(b.partitions.front().fat.sizeSectors, a.partitions.front().fat.sizeSectors);
  EXPECT_EQ(b.partitions.front().dataOrigin, a.partitions.front().dataOrigin + 2048);
  EXPECT_EQ(Listing(b.partitions.front().tree->fatRoot), Listing(a.partitions.front().tree->fatRoot));
  EXPECT_GT(Listing(a.partitions.front().tree->fatRoot).size(), 90u);
}

// FAT16 with 1024 bytes per sector fails the intact test; the search still
// finds the volume, and its 4-sector clusters (the default is 8).
TEST(FatVolume, Fat16OddBytesPerSectorGoesToTheSearch) {
  REQUIRE_FIXTURE("fat16.img");
  ImageCopy good("fat16.img");
  ImageCopy odd("fat16.img");
  odd.Patch(11, {0x00, 0x04});
  DiskRecord a = good.Disk(FsKind::kFat16);
  DiskRecord b = odd.Disk(FsKind::kFat16);
  ScanProgress progress;
  ASSERT_EQ(ReadFatVolume(a.partitions.front(), a, progress, false), FatVolumeOutcome::kListed);
  ASSERT_EQ(ReadFatVolume(b.partitions.front(), b, progress, false), FatVolumeOutcome::kListed);
  EXPECT_EQ(b.partitions.front().sectorsPerCluster, 4u);
  EXPECT_EQ(Listing(b.partitions.front().tree->fatRoot), Listing(a.partitions.front().tree->fatRoot));
}

// Values that would divide by zero or ask for absurd allocations give an
// empty tree and an error, never a crash.
TEST(FatVolume, AbsurdGeometryIsRejected) {
  struct Case {
    const char* what;
    std::vector<uint8_t> boot;
    bool fat32;
  };
  std::vector<uint8_t> fat16Zero(512, 0);
  PutLe16(&fat16Zero[11], 512);
  fat16Zero[13] = 0;  // no sectors per cluster
  PutLe16(&fat16Zero[14], 1);
  fat16Zero[16] = 2;
  PutLe16(&fat16Zero[17], 512);
  PutLe16(&fat16Zero[22], 16);
  std::memcpy(&fat16Zero[0x36], "FAT16   ", 8);
  fat16Zero[510] = 0x55;
  fat16Zero[511] = 0xAA;
  const std::vector<Case> cases = {
      {"no sectors per cluster", Fat32BootSector(0, 32, 100), true},
      {"FAT larger than the partition", Fat32BootSector(8, 32, 0xFFFFFFF0u), true},
      {"no reserved sectors", Fat32BootSector(8, 0, 100), true},
      {"root cluster past the FAT", Fat32BootSector(8, 32, 100, 0x7FFFFFFF), true},
      {"FAT16 without sectors per cluster", fat16Zero, false},
  };
  for (const Case& c : cases) {
    CraftedFat fat(c.fat32, 8, 4096);
    fat.partition().fat.sizeSectors = 0;
    fat.partition().dataOrigin = 0;
    fat.WriteBytes(0, c.boot);
    std::string error;
    EXPECT_FALSE(ExpandPartition(fat.disk, fat.partition(), fat.progress, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    EXPECT_TRUE(fat.tree().fatRoot.children.empty()) << c.what;
    EXPECT_TRUE(fat.partition().fat.table.empty()) << c.what;
  }
}

// A root chain that loops, or points past the last FAT entry, ends.
TEST(FatVolume, RootChainEnds) {
  REQUIRE_FIXTURE("fat32.img");
  for (uint32_t next : {2u, 0x0FFFFFF0u, 0x00FFFFFFu}) {
    ImageCopy copy("fat32.img");
    std::vector<uint8_t> boot = copy.Read(0, 512);
    const uint64_t reserved = ByteView(boot).Le16(14);
    const uint64_t fatSize = ByteView(boot).Le32(36);
    std::vector<uint8_t> value(4);
    PutLe32(value.data(), next);
    copy.Patch(reserved * 512 + 8, value);
    copy.Patch((reserved + fatSize) * 512 + 8, value);
    DiskRecord disk = copy.Disk(FsKind::kFat32Lba);
    ScanProgress progress;
    EXPECT_EQ(ReadFatVolume(disk.partitions.front(), disk, progress, true), FatVolumeOutcome::kListed) << next;
    // The first root cluster still lists its entries.
    EXPECT_NE(Child(disk.partitions.front().tree->fatRoot, "docs"), nullptr) << next;
  }
}

// Directory sectors recorded inside a healthy volume (a format scan or deep
// scan ran over it) replace its tree only when the caller asks for the
// recovered view; read as it stands, the volume keeps its own folders.
TEST(FatVolume, RecordedSectorsReplaceTheTreeOnlyWhenAskedFor) {
  REQUIRE_FIXTURE("fat32.img");
  ImageCopy copy("fat32.img");
  DiskRecord disk = copy.Disk(FsKind::kFat32Lba);
  PartitionRecord& p = disk.partitions.front();
  ScanProgress progress;
  std::string error;
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error));
  const FatFileEntry* docs = Child(p.tree->fatRoot, "docs");
  ASSERT_NE(docs, nullptr);
  const uint32_t docsCluster = docs->firstCluster;
  disk.directorySectors.insert(p.dataOrigin + docsCluster * p.sectorsPerCluster);

  ASSERT_TRUE(ExpandPartition(disk, p, progress, error));
  EXPECT_NE(Child(p.tree->fatRoot, "docs"), nullptr);
  EXPECT_EQ(Child(p.tree->fatRoot, std::to_string(docsCluster)), nullptr);
  EXPECT_EQ(p.tree->fatLost.state(), kNoState);

  ASSERT_TRUE(ExpandPartition(disk, p, progress, error, RecordedSectors::kRebuild));
  EXPECT_EQ(p.tree->fatLost.name, "零散目录");
  const FatFileEntry* numbered = Child(p.tree->fatRoot, std::to_string(docsCluster));
  ASSERT_NE(numbered, nullptr);
  EXPECT_NE(Child(*numbered, "readme.txt"), nullptr);
  EXPECT_EQ(Child(p.tree->fatRoot, "docs"), nullptr);
}

// A volume whose boot sector and FATs are gone has no tree of its own: an
// expansion reads the recorded sectors wherever an earlier run placed the
// clusters, instead of failing.
TEST(FatVolume, VolumeWithoutAFatFallsBackToRecordedSectors) {
  REQUIRE_FIXTURE("fat32.img");
  ImageCopy copy("fat32.img");
  DiskRecord disk = copy.Disk(FsKind::kFat32Lba);
  PartitionRecord& p = disk.partitions.front();
  ScanProgress progress;
  std::string error;
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error));
  const uint32_t docsCluster = Child(p.tree->fatRoot, "docs")->firstCluster;
  const std::vector<uint8_t> boot = copy.Read(0, 512);
  const uint64_t reserved = ByteView(boot).Le16(14);
  const uint64_t fatSize = ByteView(boot).Le32(36);
  copy.Patch(0, std::vector<uint8_t>((reserved + 2 * fatSize) * 512, 0));

  EXPECT_FALSE(ExpandPartition(disk, p, progress, error)) << "nothing recorded yet: no FAT to read";
  disk.directorySectors.insert(p.dataOrigin + docsCluster * p.sectorsPerCluster);
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error)) << error;
  const FatFileEntry* numbered = Child(p.tree->fatRoot, std::to_string(docsCluster));
  ASSERT_NE(numbered, nullptr);
  EXPECT_NE(Child(*numbered, "readme.txt"), nullptr);
}

// A partition the deep scan rebuilt from traces (origin 1) is read from the
// recorded sectors in its data area, not through a FAT it may not have.
TEST(FatVolume, PartitionRebuiltFromTracesUsesRecordedSectors) {
  REQUIRE_FIXTURE("fat32.img");
  ImageCopy copy("fat32.img");
  DiskRecord first = copy.Disk(FsKind::kFat32Lba);
  ScanProgress progress;
  std::string error;
  ASSERT_TRUE(ExpandPartition(first, first.partitions.front(), progress, error));
  const PartitionRecord& known = first.partitions.front();
  const uint32_t docsCluster = Child(known.tree->fatRoot, "docs")->firstCluster;

  copy.Patch(0, std::vector<uint8_t>(512, 0));
  DiskRecord disk = copy.Disk(FsKind::kFat32Lba);
  PartitionRecord& p = disk.partitions.front();
  p.originCode = 1;
  p.sectorCount = 8;  // what the scan could tell; the data area lies beyond
  p.fat.sizeSectors = known.fat.sizeSectors;
  p.sectorsPerCluster = known.sectorsPerCluster;
  p.dataOrigin = known.dataOrigin;
  disk.directorySectors.insert(known.dataOrigin + docsCluster * known.sectorsPerCluster);
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error)) << error;
  const FatFileEntry* numbered = Child(p.tree->fatRoot, std::to_string(docsCluster));
  ASSERT_NE(numbered, nullptr);
  EXPECT_NE(Child(*numbered, "readme.txt"), nullptr);
}

// Expanding twice shows every entry once: the second run starts empty.
TEST(FatVolume, ExpandingTwiceListsEachEntryOnce) {
  REQUIRE_FIXTURE("fat16.img");
  ImageCopy copy("fat16.img");
  DiskRecord disk = copy.Disk(FsKind::kFat16);
  PartitionRecord& p = disk.partitions.front();
  ScanProgress progress;
  std::string error;
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error));
  const auto once = Listing(p.tree->fatRoot);
  const size_t indexed = p.tree->NormalEntryByCluster.size() + p.tree->DeletedEntryByCluster.size();
  ASSERT_TRUE(ExpandPartition(disk, p, progress, error));
  EXPECT_EQ(Listing(p.tree->fatRoot), once);
  EXPECT_EQ(p.tree->NormalEntryByCluster.size() + p.tree->DeletedEntryByCluster.size(), indexed);
  EXPECT_EQ(p.tree->NormalEntryByCluster.count(0), 1u + 2u);  // the root and the two empty files
}

TEST(FatVolume, KindsWithoutAReaderAreRefused) {
  DiskRecord disk;
  PartitionRecord p;
  p.fsKind = FsKind::kExfat;
  ScanProgress progress;
  std::string error;
  EXPECT_EQ(ExpansionModeForFsKind(FsKind::kExfat), kNoReader);
  EXPECT_EQ(ExpansionModeForFsKind(0x0B), kExpandFat32);
  EXPECT_EQ(ExpansionModeForFsKind(0x0D), kExpandNtfs);
  EXPECT_EQ(ExpansionModeForFsKind(0x04), kExpandFat16);
  EXPECT_FALSE(ExpandPartition(disk, p, progress, error));
  EXPECT_NE(error.find("不受支持"), std::string::npos) << error;
}

// A stopped run ends early and keeps what it found.
TEST(FatVolume, StopKeepsWhatWasFound) {
  REQUIRE_FIXTURE("fat32.img");
  ImageCopy copy("fat32.img");
  DiskRecord disk = copy.Disk(FsKind::kFat32Lba);
  PartitionRecord& p = disk.partitions.front();
  ScanProgress progress;
  progress.RequestStop();
  EXPECT_EQ(ReadFatVolume(p, disk, progress, true), FatVolumeOutcome::kStopped);
  // The first folder of the root is placed, then the walk ends at it.
  EXPECT_NE(Child(p.tree->fatRoot, "docs"), nullptr);
  EXPECT_LT(Listing(p.tree->fatRoot).size(), 5u);
}

}  // namespace
}  // namespace quorvel::test
