// `quorvel disks IMAGE --json` on images made by sfdisk, sgdisk, mkntfs,
// mkfs.* and hformat, checked against mmls, sfdisk --dump and sgdisk -p.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

struct Row {
  std::string name, row, label, type;
  uint64_t start = 0, count = 0;
  int fsKind = 0, role = 0, origin = -1;
};

// Flattens the JSON with python3 so the test does not depend on our own writer
// to read it back.
std::vector<Row> ListPartitions(const std::string& image) {
  const char* flatten =
      "import json,sys\n"
      "doc=json.load(sys.stdin)\n"
      "assert len(doc['disks'])==1\n"
      "d=doc['disks'][0]\n"
      "for k in ('identity','path','number','size','cylinders','tracks_per_cylinder','sectors_per_track','kind'):\n"
      "  assert k in d, k\n"
      "for p in d['partitions']:\n"
      "  print('\\x1f'.join(str(p[k]) for k in ('name','row','label','type','start_sector','sector_count',"
      "'fs_kind','role','origin')))\n";
  CommandResult r = RunCommand("(" + ShellQuote(QUORVEL_CLI) + " disks " + ShellQuote(image) + " --json | python3 -c " +
                               ShellQuote(flatten) + ")");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<Row> rows;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    size_t pos = 0, sep;
    while ((sep = line.find('\x1f', pos)) != std::string::npos) {
      f.push_back(line.substr(pos, sep - pos));
      pos = sep + 1;
    }
    f.push_back(line.substr(pos));
    if (f.size() != 9) continue;
    Row row{f[0],           f[1], f[2], f[3], std::stoull(f[4]), std::stoull(f[5]), std::stoi(f[6]), std::stoi(f[7]),
            std::stoi(f[8])};
    rows.push_back(row);
  }
  return rows;
}

// (start, count) of the partitions mmls lists.
std::vector<std::pair<uint64_t, uint64_t>> MmlsExtents(const std::string& image) {
  CommandResult r = RunCommand("mmls " + ShellQuote(image));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::pair<uint64_t, uint64_t>> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    std::string index, slot;
    uint64_t start, end, length;
    if (!(f >> index >> slot >> start >> end >> length)) continue;
    // Partition slots are numbers ("000:001" for DOS tables, "004" for GPT).
    if (slot.empty() || !std::isdigit(static_cast<unsigned char>(slot[0]))) continue;
    out.emplace_back(start, length);
  }
  return out;
}

#define REQUIRE_FIXTURE(name) \
  if (!HaveFixture(name)) GTEST_SKIP() << name << " was not built (tool missing)"

TEST(DisksFixture, DemoMbrMatchesSfdiskAndMmls) {
  REQUIRE_FIXTURE("demo.img");
  std::string image = FixturePath("demo.img");
  auto rows = ListPartitions(image);
  ASSERT_EQ(rows.size(), 3u);

  // sfdisk --dump: every non-extended entry, in table order (1, then 5, 6).
  CommandResult dump = RunCommand("sfdisk --dump " + ShellQuote(image));
  ASSERT_EQ(dump.exitCode, 0) << dump.err;
  std::vector<std::pair<uint64_t, uint64_t>> sfdisk;
  std::istringstream in(dump.out);
  std::string line;
  while (std::getline(in, line)) {
    unsigned long long start, size;
    char type[16];
    size_t at = line.find(": start=");
    if (at == std::string::npos) continue;
    if (std::sscanf(line.c_str() + at, ": start= %llu, size= %llu, type=%15s", &start, &size, type) != 3) continue;
    if (std::string(type) == "5" || std::string(type) == "f") continue;
    sfdisk.emplace_back(start, size);
  }
  auto mmls = MmlsExtents(image);
  ASSERT_EQ(sfdisk.size(), 3u);
  ASSERT_EQ(mmls, sfdisk);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].start, sfdisk[i].first) << i;
    EXPECT_EQ(rows[i].count, sfdisk[i].second) << i;
    EXPECT_EQ(rows[i].name, "Partition" + std::to_string(i));
    EXPECT_EQ(rows[i].row, rows[i].name);  // an image is never mounted
    EXPECT_EQ(rows[i].origin, 0);
  }
  EXPECT_EQ(rows[0].role, 1);
  EXPECT_EQ(rows[1].role, 2);
  EXPECT_EQ(rows[2].role, 2);
  EXPECT_EQ(rows[0].fsKind, 0x07);
  EXPECT_EQ(rows[1].fsKind, 0x0C);
  EXPECT_EQ(rows[2].fsKind, 0x06);
  EXPECT_EQ(rows[0].type, "NTFS");
  EXPECT_EQ(rows[1].type, "FAT32");
  EXPECT_EQ(rows[2].type, "FAT16");
  EXPECT_EQ(rows[0].label, "DEMO-NTFS");
  EXPECT_EQ(rows[1].label, "DEMO-FAT32 ");  // FAT labels keep their blank padding
  EXPECT_EQ(rows[2].label, "DEMO-FAT16 ");
}

TEST(DisksFixture, GptMatchesSgdiskWithNameSuffixesKindsAndLabels) {
  REQUIRE_FIXTURE("gpt.img");
  std::string image = FixturePath("gpt.img");
  auto rows = ListPartitions(image);
  ASSERT_EQ(rows.size(), 6u);

  CommandResult p = RunCommand("sgdisk -p " + ShellQuote(image));
  ASSERT_EQ(p.exitCode, 0) << p.err;
  std::vector<std::pair<uint64_t, uint64_t>> sgdisk;
  std::istringstream in(p.out);
  std::string line;
  while (std::getline(in, line)) {
    unsigned number;
    unsigned long long start, end;
    if (std::sscanf(line.c_str(), " %u %llu %llu", &number, &start, &end) == 3)
      sgdisk.emplace_back(start, end - start + 1);
  }
  ASSERT_EQ(sgdisk.size(), 6u);
  EXPECT_EQ(MmlsExtents(image), sgdisk);
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].start, sgdisk[i].first) << i;
    EXPECT_EQ(rows[i].count, sgdisk[i].second) << i;
    EXPECT_EQ(rows[i].role, 1);
  }
  const char* names[] = {"data-fat32(fat)0", "data-ntfs(NTFS)1",     "data-exfat(exFat)2",
                         "EFI system(fat)3", "linux-rootPartition4", "mac-hfs"};
  const int kinds[] = {0x0B, 0x07, 0x05, 0x0B, 0x83, 0x19};
  const char* types[] = {"FAT32", "NTFS", "exFAT", "FAT32", "EXT4", "HFS"};
  const char* labels[] = {"GPT-FAT32  ", "数据卷", "交换盘", "EFI        ", "rootfs", "Mac Data"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].name, names[i]);
    EXPECT_EQ(rows[i].fsKind, kinds[i]) << names[i];
    EXPECT_EQ(rows[i].type, types[i]) << names[i];
    EXPECT_EQ(rows[i].label, labels[i]) << names[i];
  }
}

TEST(DisksFixture, WholeDiskVolumes) {
  struct Case {
    const char* image;
    const char* type;
    int fsKind;
    const char* label;
  } cases[] = {
      {"exfat.img", "exFAT", 0x05, "整盘exFAT"},
      {"ext2.img", "EXT2", 0x83, "whole-ext2"},
      {"ext3.img", "EXT3", 0x83, "whole-ext3"},
      {"ext4.img", "EXT4", 0x83, "whole-ext4"},
      {"hfs.img", "HFS", 0x19, "Whole HFS"},
      // One block group: the whole volume in one group.
      {"ext2_onegroup.img", "EXT2", 0x83, "ext2_onegroup"},
      {"ext4_onegroup.img", "EXT4", 0x83, "ext4_onegroup"},
  };
  for (const Case& c : cases) {
    if (!HaveFixture(c.image)) continue;
    std::string image = FixturePath(c.image);
    auto rows = ListPartitions(image);
    ASSERT_EQ(rows.size(), 1u) << c.image;
    EXPECT_EQ(rows[0].name, "Partition0");
    EXPECT_EQ(rows[0].start, 0u);
    EXPECT_EQ(rows[0].type, c.type) << c.image;
    EXPECT_EQ(rows[0].fsKind, c.fsKind) << c.image;
    EXPECT_EQ(rows[0].label, c.label) << c.image;
    // Each volume fills its image.
    EXPECT_EQ(rows[0].count * 512, std::filesystem::file_size(image)) << c.image;
  }
}

TEST(DisksFixture, ProtectiveEntryWithoutGptIsOneRecord) {
  REQUIRE_FIXTURE("mbr-ee-nogpt.img");
  auto rows = ListPartitions(FixturePath("mbr-ee-nogpt.img"));
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].fsKind, 0xEE);
  EXPECT_EQ(rows[0].start, 1u);
  EXPECT_EQ(rows[0].count, 8191u);
  EXPECT_EQ(rows[0].type, "");
}

TEST(DisksFixture, TableShowsTheFiveColumnsAndMissingImageIsNotFound) {
  REQUIRE_FIXTURE("demo.img");
  CommandResult r = RunQuorvel("disks " + ShellQuote(FixturePath("demo.img")));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("磁盘"), std::string::npos);
  EXPECT_NE(r.out.find("文件类型"), std::string::npos);
  EXPECT_NE(r.out.find("demo.img"), std::string::npos);
  EXPECT_NE(r.out.find("Partition2"), std::string::npos);
  EXPECT_NE(r.out.find("DEMO-FAT16"), std::string::npos);
  EXPECT_NE(r.out.find("64.0 MB"), std::string::npos);  // the NTFS partition's size text

  EXPECT_EQ(RunQuorvel("disks /no/such.img").exitCode, 2);
  EXPECT_EQ(RunQuorvel("disks --bogus").exitCode, 1);
}

}  // namespace
}  // namespace quorvel
