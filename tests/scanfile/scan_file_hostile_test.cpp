// Damaged and hostile scan-result files: cut at every line and inside lines,
// counts far beyond the lines there are, numbers that are none, values out
// of range, a line of 100 MB. Each gives a clear result, never a crash, a
// hang or an allocation the file's size does not bound, and what is loaded
// is whole.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "scanfile/scan_file_crafting.h"
#include "scanfile/scan_file_format.h"
#include "scanfile/scan_file_writer.h"

namespace quorvel {
namespace {

using test::LoadText;
using test::RichDisk;

DiskRecord Group() {
  DiskRecord disk;
  disk.vendor = "Dg0";
  disk.diskKind = 2;
  return disk;
}

// The empty disk's values after the three collections.
const char* const kValues = "0\r\n2\r\n\r\n\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n";

// Cut at every line end and in the middle of every line: never more than
// the whole file holds, every partition loaded equal to one written, and a
// cut before the end always reported.
TEST(ScanFileHostile, CutAtEveryLineLoadsOnlyWholeParts) {
  const DiskRecord rich = RichDisk();
  const std::string text = ScanResultText(rich);
  std::vector<size_t> cuts;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') cuts.push_back(i + 1);
    if (i > 0 && text[i - 1] == '\n') cuts.push_back(i + 2);  // inside the next line
  }
  for (size_t cut : cuts) {
    if (cut > text.size()) continue;
    SCOPED_TRACE(cut);
    DiskRecord disk = Group();
    disk.partitions.emplace_back();  // what a damaged file must not wipe for nothing
    const ScanFileLoadResult result = LoadText(disk, text.substr(0, cut));
    if (cut == text.size()) {
      EXPECT_EQ(result.status, ScanFileLoadStatus::kLoaded);
      continue;
    }
    // The file has no end mark: a cut right after a whole block reads as
    // a shorter file; anything else is damage.
    EXPECT_TRUE(result.status == ScanFileLoadStatus::kDamaged || result.status == ScanFileLoadStatus::kLoaded);
    EXPECT_LE(disk.directorySectors.size(), rich.directorySectors.size());
    EXPECT_LE(disk.carvedFiles.size(), rich.carvedFiles.size());
    for (const auto& [sector, file] : disk.carvedFiles) EXPECT_EQ(file.name, rich.carvedFiles.at(sector).name);
    if (!result.partitionsReplaced) {
      EXPECT_EQ(disk.partitions.size(), 1u);
      continue;
    }
    ASSERT_LE(disk.partitions.size(), rich.partitions.size());
    auto written = rich.partitions.begin();
    // The file counts no members or segment blocks: a cut after a whole
    // one reads as a shorter list, whole members and segments only.
    for (const PartitionRecord& p : disk.partitions) {
      EXPECT_EQ(p.name, written->name);
      EXPECT_EQ(p.stripeSize, written->stripeSize);
      for (const auto& [ordinal, m] : p.members) {
        EXPECT_EQ(m.path, written->members.at(ordinal).path);
        EXPECT_EQ(m.sectorCount, written->members.at(ordinal).sectorCount);
      }
      ++written;
    }
    for (const LvmLogicalVolume& lv : disk.lvm.logicalVolumes)
      for (size_t i = 0; i < lv.segments.size(); ++i)
        EXPECT_EQ(lv.segments[i].pvStartExtent, rich.lvm.logicalVolumes[0].segments[i].pvStartExtent);
  }
}

// Counts of 2^31 and more, negative ones and ones far beyond the lines that
// follow: read to the end of the file, quickly, reported.
TEST(ScanFileHostile, AbsurdCountsEndAtTheFileEnd) {
  for (const char* count : {"2147483648", "2147483647", "-5", "99999999999999999999999", "12abc"}) {
    SCOPED_TRACE(count);
    DiskRecord disk = Group();
    const auto start = std::chrono::steady_clock::now();
    const ScanFileLoadResult result = LoadText(disk, std::string("Dg0\r\n") + count + "\r\n7\r\n8\r\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
    EXPECT_FALSE(result.partitionsReplaced);
    EXPECT_LE(disk.directorySectors.size(), 2u);
  }
}

// A value that is no number, or out of its range, leaves its element or
// block out and says where; the rest of the file is still read.
TEST(ScanFileHostile, MalformedValuesLeaveTheirPartOut) {
  const std::string head = "Dg0\r\n3\r\n12\r\nx7\r\n-4\r\n1\r\n5 , 9\r\n1\r\n9,8\r\n";
  DiskRecord disk = Group();
  ScanFileLoadResult result = LoadText(disk, head + kValues);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
  EXPECT_EQ(disk.directorySectors, (DirectorySectorSet{12}));
  EXPECT_EQ(disk.mftFragments.size(), 1u);  // blanks around a number are fine
  EXPECT_TRUE(disk.carvedFiles.empty());    // no name field
  ASSERT_FALSE(result.problems.empty());
  EXPECT_EQ(result.problems.front().line, 4u);

  // One bad value in a partition block: that partition is left out, the
  // next one is read.
  std::string partitions;
  for (const char* sectorSize : {"7", "512"}) {
    partitions += std::string(kPartitionMark) + "\r\n\r\n\r\n0\r\n\r\n\r\nP" + sectorSize +
                  "\r\n\r\n100\r\n2048\r\n1\r\n8\r\n0\r\n7\r\n" + sectorSize + "\r\n0\r\n0\r\n128\r\n";
  }
  // A start past 2^48 sectors would overflow byte offsets downstream.
  partitions +=
      std::string(kPartitionMark) +
      "\r\n\r\n\r\n0\r\n\r\n\r\nPfar\r\n\r\n100\r\n999999999999999999\r\n1\r\n8\r\n0\r\n7\r\n512\r\n0\r\n0\r\n"
      "128\r\n";
  disk = Group();
  result = LoadText(disk, "Dg0\r\n0\r\n0\r\n0\r\n" + std::string(kValues) + partitions);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
  ASSERT_EQ(disk.partitions.size(), 1u);
  EXPECT_EQ(disk.partitions.front().name, "P512");
}

// Members: 16 byte values each, at most one per ordinal; a block cut short
// of its member, or with a member twice, is left out.
TEST(ScanFileHostile, MemberBlocksMustBeWhole) {
  const std::string block =
      std::string(kPartitionMark) +
      "\r\n\r\n\r\n0\r\n\r\n\r\nV\r\n\r\n100\r\n0\r\n1\r\n8\r\n0\r\n7\r\n512\r\n0\r\n1\r\n128\r\n";
  const std::string id = "1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,\r\n";
  const std::string member = "0\r\n" + id + "/a.img\r\n0\r\n50\r\n";
  const std::string start = "Dg0\r\n0\r\n0\r\n0\r\n" + std::string(kValues);
  for (const std::string& members : {member + member, std::string("0\r\n1,2,3,\r\n/a\r\n0\r\n50\r\n"),
                                     "0\r\n" + id + "/a.img\r\n0\r\n", "300\r\n" + id + "p\r\n0\r\n1\r\n"}) {
    DiskRecord disk = Group();
    EXPECT_EQ(LoadText(disk, start + block + members).status, ScanFileLoadStatus::kDamaged);
    EXPECT_TRUE(disk.partitions.empty());
  }
  DiskRecord disk = Group();
  ASSERT_EQ(LoadText(disk, start + block + member).status, ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(disk.partitions.front().members.at(0).memberDiskId[15], 16);
}

// A 100 MB line: as line 1 it names no disk and is not read on; as a name
// it is cut, and the file reported damaged.
TEST(ScanFileHostile, HundredMegabyteLine) {
  const std::string huge(100u << 20, 'A');
  DiskRecord disk = Group();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadText(disk, huge + "\r\n0\r\n").status, ScanFileLoadStatus::kOtherDisk);

  std::string text = "Dg0\r\n0\r\n0\r\n1\r\n64,10,";
  text += huge;
  text += "\r\n";
  text += kValues;
  const ScanFileLoadResult result = LoadText(disk, text);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
  ASSERT_EQ(disk.carvedFiles.size(), 1u);
  EXPECT_LE(disk.carvedFiles[64].name.size(), kMaxScanFileLine);
  EXPECT_TRUE(result.partitionsReplaced);  // the values after it were read
}

// An empty file, binary bytes, a file of one line: nothing to go by.
TEST(ScanFileHostile, NotAScanFile) {
  DiskRecord disk = Group();
  disk.partitions.emplace_back();
  EXPECT_EQ(LoadText(disk, "").status, ScanFileLoadStatus::kDamaged);
  EXPECT_EQ(LoadText(disk, std::string("\x7f"
                                       "ELF\0\0\x01",
                                       7))
                .status,
            ScanFileLoadStatus::kOtherDisk);
  EXPECT_EQ(LoadText(disk, "Dg0").status, ScanFileLoadStatus::kDamaged);
  EXPECT_EQ(disk.partitions.size(), 1u);
  EXPECT_EQ(LoadScanResult(disk, "/nonexistent/x.rvz_scn").status, ScanFileLoadStatus::kCannotOpen);
  EXPECT_EQ(LoadScanResult(disk, "/").status, ScanFileLoadStatus::kCannotOpen);
}

// A partition block in the file's order of lines.
std::string PartitionBlock(const std::string& name, uint64_t start, uint64_t count, const char* sectorsPerCluster,
                           const char* bytesPerSector, const char* volumeKind = "0") {
  return std::string(kPartitionMark) + "\r\n\r\n\r\n0\r\n\r\n\r\n" + name + "\r\n\r\n" + std::to_string(count) +
         "\r\n" + std::to_string(start) + "\r\n1\r\n" + sectorsPerCluster + "\r\n0\r\n7\r\n" + bytesPerSector +
         "\r\n0\r\n" + volumeKind + "\r\n128\r\n";
}

// Catches: ranges of a hostile file taken as they stand on a disk they do
// not fit (an MFT fragment of length -1, read as 4294967295 sectors, swept
// for minutes on a 90 MiB disk). Each range is cut to the disk's end, or
// left out when it begins past it, and each cut is counted and named by its
// line; the partitions the disk itself lists (an image cut short) and
// volumes spread over disks stay as written. A found partition that runs past
// the end of an image cut short (Pcut) is cut and counted but is no damage:
// quorvel writes such files itself.
TEST(ScanFileHostile, RangesAreCutToTheDisk) {
  DiskRecord disk;
  disk.vendor = "img";
  disk.sizeBytes = 1000 * 512 + 100;  // 1001 sectors, the last one partial
  PartitionRecord listed;
  listed.name = "Partition0";
  listed.startSector = 63;
  listed.sectorCount = 5000;  // the table says more than the image holds
  disk.partitions.push_back(listed);

  // Disk kind 0 in the values; 7 ranges past the end: directory sector 1001,
  // both fragments, carved files at 999 and 1001, partitions Pcut and Pfar.
  const std::string text =
      "img\r\n3\r\n12\r\n1000\r\n1001\r\n3\r\n32,-1\r\n700,100\r\n2000,5\r\n"
      "3\r\n10,4096,a.pdf\r\n999,2000,b.jpg\r\n1001,1,c.jpg\r\n" +
      std::string(kValues).replace(3, 1, "0") + PartitionBlock("Partition0", 63, 5000, "8", "512") +
      PartitionBlock("Pcut", 900, 5000, "8", "512") + PartitionBlock("Pfar", 1001, 5, "8", "512") +
      PartitionBlock("Vraid", 0, 900000, "8", "512", "3");
  const ScanFileLoadResult result = LoadText(disk, text);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
  EXPECT_EQ(result.clippedRanges, 7u);
  EXPECT_EQ(result.problemCount, 6u) << ScanFileProblemText(result.problems, result.problemCount);
  EXPECT_EQ(disk.directorySectors, (DirectorySectorSet{12, 1000}));
  ASSERT_EQ(disk.mftFragments.size(), 2u);
  EXPECT_EQ(disk.mftFragments.front().startSector, 32u);
  EXPECT_EQ(disk.mftFragments.front().sectorCount, 1001u - 32u);
  EXPECT_EQ(disk.mftFragments.back().sectorCount, 100u);
  ASSERT_EQ(disk.carvedFiles.size(), 2u);
  EXPECT_EQ(disk.carvedFiles[10].size, 4096u);
  EXPECT_EQ(disk.carvedFiles[999].size, 612u);  // one whole sector and the partial one
  std::map<std::string, uint64_t> counts;
  for (const PartitionRecord& p : disk.partitions) counts[p.name] = p.sectorCount;
  EXPECT_EQ(counts, (std::map<std::string, uint64_t>{{"Partition0", 5000}, {"Pcut", 101}, {"Vraid", 900000}}));
  ASSERT_FALSE(result.problems.empty());
  EXPECT_EQ(result.problems.front().line, 5u);
  EXPECT_NE(result.problems[1].what.find("MFT fragment 32,4294967295"), std::string::npos);

  // Only such a found partition: the file loads whole, the partition cut.
  DiskRecord shortImage;
  shortImage.vendor = "img";
  shortImage.sizeBytes = 1000 * 512;
  const ScanFileLoadResult whole =
      LoadText(shortImage, "img\r\n0\r\n0\r\n0\r\n" + std::string(kValues).replace(3, 1, "0") +
                               PartitionBlock("Pcut", 900, 5000, "8", "512"));
  EXPECT_EQ(whole.status, ScanFileLoadStatus::kLoaded) << ScanFileProblemText(whole.problems, whole.problemCount);
  EXPECT_EQ(whole.clippedRanges, 1u);
  ASSERT_EQ(shortImage.partitions.size(), 1u);
  EXPECT_EQ(shortImage.partitions.front().sectorCount, 100u);

  // A group's sectors count in its volumes: nothing is cut there.
  DiskRecord group = Group();
  EXPECT_EQ(LoadText(group, "Dg0\r\n0\r\n1\r\n32,-1\r\n0\r\n" + std::string(kValues)).status,
            ScanFileLoadStatus::kLoaded);
  EXPECT_EQ(group.mftFragments.front().sectorCount, UINT32_MAX);
}

// Catches: a partition of 0 bytes per sector or 0 sectors per cluster taken
// in, to be refused (or divided by) only when a reader gets to it.
TEST(ScanFileHostile, ZeroSectorOrClusterSizeIsRefusedAtLoad) {
  for (const auto& [spc, bps] : {std::pair{"0", "512"}, std::pair{"8", "0"}, std::pair{"0", "0"}}) {
    SCOPED_TRACE(std::string(spc) + " " + bps);
    DiskRecord disk = Group();
    const ScanFileLoadResult result =
        LoadText(disk, "Dg0\r\n0\r\n0\r\n0\r\n" + std::string(kValues) + PartitionBlock("Pzero", 0, 100, spc, bps) +
                           PartitionBlock("Pgood", 0, 100, "8", "512"));
    EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
    ASSERT_EQ(disk.partitions.size(), 1u);
    EXPECT_EQ(disk.partitions.front().name, "Pgood");
  }
}

}  // namespace
}  // namespace quorvel
