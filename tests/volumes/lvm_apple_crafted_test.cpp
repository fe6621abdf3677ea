// LVM2 metadata text and labels, and Apple partition maps, in crafted bytes;
// the Apple map made by parted and hformat against mmls and hvol.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "volumes/apple/apple_partition_map.h"
#include "volumes/lvm2/lvm_label.h"
#include "volumes/lvm2/lvm_mapping.h"
#include "volumes/lvm2/lvm_metadata.h"
#include "volumes/lvm2/lvm_text.h"
#include "volumes/volume_oracles.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

const char* kMetadata =
    "vgid {\n"
    "id = \"Vigiek-e33s-QK3u-n9ss-sG6H-wnni-didMAD\"\n"
    "seqno = 3\n"
    "extent_size = 8192\n"
    "physical_volumes {\n"
    "\n"
    "pv0 {\n"
    "id = \"x6GL70-LFaN-MBao-6plb-J0ub-QdMN-nB5Shq\"\n"
    "dev_size = 2097152\n"
    "pe_start = 2048\n"
    "pe_count = 255\n"
    "}\n"
    "}\n"
    "logical_volumes {\n"
    "\n"
    "data {\n"
    "id = \"lvid\"\n"
    "segment_count = 2\n"
    "\n"
    "segment1 {\n"
    "start_extent = 0\n"
    "extent_count = 100\n"
    "type = \"striped\"\n"
    "stripe_count = 1\n"
    "\n"
    "stripes = [\n"
    "\"pv0\", 50\n"
    "]\n"
    "}\n"
    "segment2 {\n"
    "start_extent = 100\n"
    "extent_count = 50\n"
    "type = \"striped\"\n"
    "stripe_count = 1\n"
    "\n"
    "stripes = [\n"
    "\"pv0\", 0\n"
    "]\n"
    "}\n"
    "}\n"
    "}\n"
    "}\n";

// The group's id is read even when the group's own name contains "id"; a
// metadata id with dashes matches the label's UUID without them; a
// two-segment volume sums its segments.
TEST(LvmMetadata, IdsSegmentsAndSizes) {
  LvmValues lvm;
  std::string group;
  ParseLvmMetadata(kMetadata, "x6GL70LFaNMBao6plbJ0ubQdMNnB5Shq", lvm, group);
  EXPECT_EQ(group, "Vigiek-e33s-QK3u-n9ss-sG6H-wnni-didMAD");
  EXPECT_EQ(lvm.groupName, "vgid");
  EXPECT_EQ(lvm.extentSize, 8192u);
  EXPECT_EQ(lvm.peStart, 2048u);
  EXPECT_EQ(lvm.peCount, 255u);
  ASSERT_EQ(lvm.logicalVolumes.size(), 1u);
  const LvmLogicalVolume& lv = lvm.logicalVolumes[0];
  EXPECT_EQ(lv.name, "data");
  EXPECT_EQ(lv.size, 1228800u);
  ASSERT_EQ(lv.segments.size(), 2u);
  EXPECT_EQ(lv.segments[0].pvName, "pv0");
  EXPECT_EQ(lv.segments[0].pvStartExtent, 50u);
  EXPECT_EQ(lv.segments[0].pvId, "x6GL70-LFaN-MBao-6plb-J0ub-QdMN-nB5Shq");
  EXPECT_EQ(lv.kindText, "EXT");

  DiskRecord disk;
  disk.devicePath = "/images/pv.img";
  disk.diskIdText = "x6GL70LFaNMBao6plbJ0ubQdMNnB5Shq";
  disk.lvm = lvm;
  std::list<PartitionRecord> mapped = MapLogicalVolumes(disk);
  ASSERT_EQ(mapped.size(), 1u);
  const PartitionRecord& p = mapped.front();
  EXPECT_EQ(p.unreadableReason, "");
  ASSERT_EQ(p.members.size(), 2u);
  EXPECT_EQ(p.members.at(0).startSector, 2048u + 50 * 8192);
  EXPECT_EQ(p.members.at(1).startSector, 2048u);
  EXPECT_EQ(p.members.at(1).sectorCount, 50u * 8192);

  disk.diskIdText = "someoneelse";
  EXPECT_NE(MapLogicalVolumes(disk).front().unreadableReason, "");
}

TEST(LvmMetadata, ValuesAndBlocksStayInsideTheText) {
  EXPECT_EQ(LvmValue("a = 1\nab = 2\n", "b"), "");
  EXPECT_EQ(LvmValue("xid = 1\nid = 2", "id"), "2");
  EXPECT_EQ(LvmValue("id =", "id"), "");
  EXPECT_EQ(LvmValue("stripes = [ \"pv0\", 4", "stripes"), "");
  EXPECT_EQ(LvmBlock("a { b { } c } d"), "a { b { } c }");
  EXPECT_EQ(LvmBlock("a { b { }"), "");
  LvmValues lvm;
  std::string group;
  // A segment count far beyond the segments there stops at the last one.
  ParseLvmMetadata("vg {\nextent_size = 8\nlogical_volumes {\nlv {\nsegment_count = 4000000000\n}\n}\n}\n", "", lvm,
                   group);
  ASSERT_EQ(lvm.logicalVolumes.size(), 1u);
  EXPECT_TRUE(lvm.logicalVolumes[0].segments.empty());
}

// A label leading to a metadata area whose text wraps round its end.
TEST(LvmLabel, ReadsTheTextEvenWhenItWraps) {
  const uint64_t area = 4096, areaSize = 8192;
  std::string text = kMetadata;
  std::vector<uint8_t> disk(64 * 1024);
  uint8_t* label = disk.data() + 512;
  std::memcpy(label, "LABELONE", 8);
  std::memcpy(label + 32, "x6GL70LFaNMBao6plbJ0ubQdMNnB5Shq", 32);
  auto le64 = [](uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  };
  le64(label + 104, area);
  le64(label + 112, areaSize);
  uint8_t* header = disk.data() + area;
  std::memcpy(header + 4, " LVM2 x[5A%r0N*>", 16);
  le64(header + 24, area);
  le64(header + 32, areaSize);
  const uint64_t offset = areaSize - 300;  // 300 bytes before the end, the rest after the header
  le64(header + 40, offset);
  le64(header + 48, text.size());
  std::memcpy(disk.data() + area + offset, text.data(), 300);
  std::memcpy(disk.data() + area + 512, text.data() + 300, text.size() - 300);
  DiskRecord record;
  MemorySource source(disk);
  EXPECT_EQ(ReadLvmLabel(ByteView(label, 512), source, record), 0);
  EXPECT_EQ(record.diskIdText, "x6GL70LFaNMBao6plbJ0ubQdMNnB5Shq");
  EXPECT_EQ(record.groupIdText, "Vigiek-e33s-QK3u-n9ss-sG6H-wnni-didMAD");
  ASSERT_EQ(record.lvm.logicalVolumes.size(), 1u);
  EXPECT_EQ(ReadLvmLabel(ByteView(disk.data(), 512), source, record), 1);  // no label there
}

void PutBe(uint8_t* p, uint64_t v, size_t width) {
  for (size_t i = 0; i < width; ++i) p[i] = static_cast<uint8_t>(v >> (8 * (width - 1 - i)));
}

// A map in 2048-byte blocks: starts and counts become 512-byte sectors, other
// types are skipped, an HFS entry without a volume keeps its name.
TEST(AppleMap, BlocksBecomeSectorsAndOtherTypesAreSkipped) {
  const uint32_t block = 2048;
  std::vector<uint8_t> disk(64 * block);
  disk[0] = 'E', disk[1] = 'R';
  PutBe(&disk[2], block, 2);
  struct Entry {
    const char *name, *type;
    uint32_t start, count;
  };
  const Entry entries[] = {{"Apple", "Apple_partition_map", 1, 4},
                           {"Extra", "Apple_Free", 5, 3},
                           {"Mac", "Apple_HFS", 8, 16},
                           {"Blank", "Apple_HFS", 24, 8}};
  for (uint32_t i = 0; i < 4; ++i) {
    uint8_t* e = disk.data() + (1 + i) * block;
    e[0] = 'P', e[1] = 'M';
    PutBe(e + 4, 4, 4);
    PutBe(e + 8, entries[i].start, 4);
    PutBe(e + 12, entries[i].count, 4);
    std::strcpy(reinterpret_cast<char*>(e + 16), entries[i].name);
    std::strcpy(reinterpret_cast<char*>(e + 48), entries[i].type);
  }
  uint8_t* hfsPlus = disk.data() + 8 * block + 1024;
  hfsPlus[0] = 'H', hfsPlus[1] = '+';
  MemorySource source(disk);
  DiskRecord record;
  record.sizeBytes = disk.size();
  ReadApplePartitionMap(ByteView(disk.data(), 2048), source, record);
  EXPECT_EQ(record.mapEntryCount, 4u);
  EXPECT_EQ(record.sizeBytes, disk.size());  // bytes, not the block count
  ASSERT_EQ(record.partitions.size(), 2u);
  const PartitionRecord& plus = record.partitions.front();
  EXPECT_EQ(plus.name, "Partition0");
  EXPECT_EQ(plus.subKindText, "Apple_HFS+");
  EXPECT_EQ(plus.subKindCode, 2);
  EXPECT_EQ(plus.startSector, 8u * 4);
  EXPECT_EQ(plus.sectorCount, 16u * 4);
  const PartitionRecord& blank = record.partitions.back();
  EXPECT_EQ(blank.name, "Blank");
  EXPECT_EQ(blank.subKindText, "Apple_HFS");
  EXPECT_EQ(blank.subKindCode, 0);
}

#define REQUIRE_FIXTURE(name) \
  if (!HaveFixture(name)) GTEST_SKIP() << name << " was not built (tool missing)"

TEST(AppleFixture, MapMatchesMmlsAndHfsLabels) {
  REQUIRE_FIXTURE("apple.img");
  const std::string image = FixturePath("apple.img");
  CommandResult mmls = RunCommand("mmls " + ShellQuote(image));
  ASSERT_EQ(mmls.exitCode, 0) << mmls.err;
  CommandResult disks = RunQuorvel("disks " + ShellQuote(image) + " --json");
  ASSERT_EQ(disks.exitCode, 0) << disks.err;
  // Every Apple_HFS entry mmls lists (start and length), and only those.
  std::string mmlsFile = MakeTempDir("mmls") + "/mmls.txt";
  std::ofstream(mmlsFile) << mmls.out;
  CommandResult compare = RunCommand("(" + ShellQuote(QUORVEL_CLI) + " disks " + ShellQuote(image) +
                                     " --json | python3 -c 'import json,sys\n"
                                     "rows=[(p[\"start_sector\"],p[\"sector_count\"],p[\"fs_kind\"]) for p in "
                                     "json.load(sys.stdin)[\"disks\"][0][\"partitions\"]]\n"
                                     "want=[]\n"
                                     "for line in open(sys.argv[1]):\n"
                                     "  f=line.split()\n"
                                     "  if len(f)>=6 and f[1][:1].isdigit() and f[5].startswith(\"Apple_HFS\"): "
                                     "want.append((int(f[2]),int(f[4]),25))\n"
                                     "sys.exit(0 if rows==want and len(want)==3 else print(rows,want) or 1)' " +
                                     ShellQuote(mmlsFile) + ")");
  EXPECT_EQ(compare.exitCode, 0) << compare.out << compare.err;
  // hvol's name of the HFS volume in the first partition; hmount keeps its
  // state in $HOME, so it gets a home of its own.
  std::string home = MakeTempDir("hfs-home");
  CommandResult hvol = RunCommand("(export HOME=" + ShellQuote(home) + "; hmount " + ShellQuote(image) +
                                  " 1 >/dev/null && hvol; humount >/dev/null 2>&1)");
  EXPECT_NE(hvol.out.find("\"Mac Files\""), std::string::npos) << hvol.out << hvol.err;
  EXPECT_NE(disks.out.find("\"label\":\"Mac Files\""), std::string::npos) << disks.out;
  EXPECT_NE(disks.out.find("\"type\":\"Apple_HFS+\""), std::string::npos) << disks.out;
}

// Whole-disk volumes without a map: HFS+ and HFS+ in an HFS wrapper give one
// record; HFSX gives none.
TEST(AppleFixture, WholeDiskHfsFamily) {
  REQUIRE_FIXTURE("hfsx-whole.img");
  struct Case {
    const char* image;
    const char* expect;
  };
  for (const Case& c :
       {Case{"hfsplus-whole.img", "\"type\":\"HFS+\""}, Case{"hfs-wrapped-whole.img", "\"type\":\"HFS+ in HFS\""},
        Case{"hfsx-whole.img", "\"partitions\":[]"}}) {
    CommandResult r = RunQuorvel("disks " + ShellQuote(FixturePath(c.image)) + " --json");
    EXPECT_NE(r.out.find(c.expect), std::string::npos) << c.image << ": " << r.out;
  }
}

}  // namespace
}  // namespace quorvel
