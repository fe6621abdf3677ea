// The partition walk on crafted images: table layouts the real tools cannot
// make (loops, hostile GPT headers) and the rules that decide what a disk is.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <random>

#include "model/partition_texts.h"
#include "volumes/disk_crafting.h"
#include "volumes/disk_enumeration.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

class WalkTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = TestDir("walk"); }
  const DiskRecord& Open(const CraftedImage& image, const std::string& name = "disk.img") {
    std::string path = image.WriteTo(dir_, name);
    list_.clear();
    EXPECT_EQ(OpenImageFile(list_, path), 1);
    return list_.back();
  }
  static std::vector<const PartitionRecord*> Parts(const DiskRecord& d) {
    std::vector<const PartitionRecord*> out;
    for (const auto& p : d.partitions) out.push_back(&p);
    return out;
  }
  std::string dir_;
  DiskList list_;
};

TEST_F(WalkTest, BootLoaderMbrIsATableNotAVolume) {
  for (uint8_t jump : {uint8_t{0x63}, uint8_t{0x48}}) {
    CraftedImage image(64);
    image.Sector(0)[0] = 0xEB;
    image.Sector(0)[1] = jump;
    image.Sector(0)[2] = 0x90;
    image.SetEntry(0, 0, 0x0C, 8, 40);
    auto parts = Parts(Open(image));
    ASSERT_EQ(parts.size(), 1u) << int(jump);
    EXPECT_EQ(parts[0]->startSector, 8u);
    EXPECT_EQ(parts[0]->sectorCount, 40u);
  }
}

TEST_F(WalkTest, VolumeBootSectorAtZeroIsOneWholeDiskVolume) {
  CraftedImage image(64);
  MakeFat16Boot(image.Sector(0));
  PutLe16(image.Sector(0) + 0x13, 0);
  PutLe32(image.Sector(0) + 0x20, 60);
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->name, "Partition0");
  EXPECT_EQ(parts[0]->fsKind, 0x06);
  EXPECT_EQ(parts[0]->sectorCount, 60u);
}

TEST_F(WalkTest, PrimaryThenLogicalsRelativeToTheirOwnRecords) {
  CraftedImage image(400);
  image.SetEntry(0, 0, 0x07, 10, 50);
  image.SetEntry(0, 1, 0x05, 100, 300);
  // First EBR at 100: logical at +8, link to the next EBR at extended + 120.
  image.SetEntry(100, 0, 0x06, 8, 60);
  image.SetEntry(100, 1, 0x05, 120, 100);
  // Second EBR at 220: logical at +8 from the EBR itself.
  image.SetEntry(220, 0, 0x0B, 8, 70);
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0]->name, "Partition0");
  EXPECT_EQ(parts[0]->role, 1);
  EXPECT_EQ(parts[1]->name, "Partition1");
  EXPECT_EQ(parts[1]->startSector, 108u);
  EXPECT_EQ(parts[1]->role, 2);
  EXPECT_EQ(parts[2]->name, "Partition2");
  EXPECT_EQ(parts[2]->startSector, 228u);
  EXPECT_EQ(parts[2]->role, 2);
}

TEST_F(WalkTest, ExtendedChainThatLoopsEnds) {
  CraftedImage image(400);
  image.SetEntry(0, 0, 0x0F, 100, 300);
  image.SetEntry(100, 0, 0x06, 8, 10);
  image.SetEntry(100, 1, 0x05, 50, 100);  // -> EBR at 150
  image.SetEntry(150, 0, 0x06, 8, 10);
  image.SetEntry(150, 1, 0x05, 0, 100);   // -> back to 100
  image.SetEntry(150, 2, 0x05, 50, 100);  // -> itself
  auto start = std::chrono::steady_clock::now();
  auto parts = Parts(Open(image));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  ASSERT_EQ(parts.size(), 2u);  // each EBR's logical once
  EXPECT_EQ(parts[0]->startSector, 108u);
  EXPECT_EQ(parts[1]->startSector, 158u);
}

TEST_F(WalkTest, DeepLinksNeedTheirSignature) {
  CraftedImage image(400);
  image.SetEntry(0, 0, 0x05, 100, 300);
  image.SetEntry(100, 0, 0x06, 8, 10);
  image.SetEntry(100, 1, 0x05, 50, 100);
  image.SetEntry(150, 0, 0x06, 8, 10);
  image.Sector(150)[511] = 0;  // not an EBR any more
  EXPECT_EQ(Parts(Open(image)).size(), 1u);
}

TEST_F(WalkTest, Type07WithExfatBootIsExfatAnd83WithoutSuperblockHasNoSubKind) {
  CraftedImage image(200);
  image.SetEntry(0, 0, 0x07, 16, 64);
  MakeExfatBoot(image.Sector(16));
  image.SetEntry(0, 1, 0x83, 100, 64);  // swap or XFS behind type 0x83
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[0]->fsKind, 0x05);
  EXPECT_EQ(PartitionTypeText(*parts[0]), "exFAT");
  EXPECT_EQ(parts[1]->fsKind, 0x83);
  EXPECT_EQ(parts[1]->linuxSubKind, "");
}

TEST_F(WalkTest, DynamicDiskEntryMakesNoRecordAndKeepsNumbering) {
  CraftedImage image(200);
  image.SetEntry(0, 0, 0x42, 16, 64);
  image.SetEntry(0, 1, 0x07, 100, 64);
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->name, "Partition0");
}

// A protective MBR plus GPT header at sector 1 and entries from sector 2.
struct GptImage : CraftedImage {
  explicit GptImage(size_t sectors, uint32_t entries = 128, uint32_t entrySize = 128) : CraftedImage(sectors) {
    SetEntry(0, 0, 0xEE, 1, static_cast<uint32_t>(sectors - 1));
    PutText(Sector(1), "EFI PART");
    PutLe64(Sector(1) + 0x48, 2);
    PutLe32(Sector(1) + 0x50, entries);
    PutLe32(Sector(1) + 0x54, entrySize);
  }
  void AddEntry(int index, const uint8_t* typeGuid, uint64_t first, uint64_t last, const std::u16string& name) {
    uint8_t* e = Sector(2) + 128 * index;
    std::memcpy(e, typeGuid, 16);
    e[16] = 1;  // unique GUID, any non-zero value
    PutLe64(e + 32, first);
    PutLe64(e + 40, last);
    for (size_t i = 0; i < name.size(); ++i) PutLe16(e + 56 + 2 * i, name[i]);
  }
};

const uint8_t kBasicData[16] = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
const uint8_t kLinuxSwap[16] = {0x6D, 0xFD, 0x57, 0x06, 0xAB, 0xA4, 0xC4, 0x43,
                                0x84, 0xE5, 0x09, 0x33, 0xC8, 0x4B, 0x4F, 0x4F};

TEST_F(WalkTest, GptIsReadBehindAProtectiveEntryOfAnySize) {
  GptImage image(400);
  image.AddEntry(0, kLinuxSwap, 40, 59, u"swap");
  image.AddEntry(1, kBasicData, 60, 99, u"data");
  MakeFat32Boot(image.Sector(60));
  image.AddEntry(2, kBasicData, 100, 199, u"系统");
  MakeNtfsBoot(image.Sector(100));
  PutLe64(image.Sector(100) + 0x30, 1000);  // label read lands past the disk: no label
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[0]->name, "swap");
  EXPECT_EQ(parts[0]->fsKind, 0);
  EXPECT_EQ(parts[1]->name, "data(fat)1");
  EXPECT_EQ(parts[1]->fsKind, 0x0B);
  EXPECT_EQ(parts[2]->name, "系统(NTFS)2");
  EXPECT_EQ(parts[2]->fsKind, 0x07);
  EXPECT_EQ(parts[2]->startSector, 100u);
  EXPECT_EQ(parts[2]->sectorCount, 100u);
}

TEST_F(WalkTest, ProtectiveEntryWithoutHeaderIsKeptAsOneRecord) {
  CraftedImage image(64);
  image.SetEntry(0, 0, 0xEE, 1, 63);
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->fsKind, 0xEE);
  EXPECT_EQ(parts[0]->sectorCount, 63u);
}

TEST_F(WalkTest, GptSkipsUnusedAndReversedSlotsButKeepsLaterEntries) {
  GptImage image(400);
  image.AddEntry(0, kLinuxSwap, 40, 59, u"a");
  image.AddEntry(2, kLinuxSwap, 90, 80, u"reversed");
  image.AddEntry(3, kLinuxSwap, 100, 119, u"b");
  auto parts = Parts(Open(image));
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(parts[1]->name, "b");
}

TEST_F(WalkTest, HostileGptHeadersNeitherCrashNorAllocateAbsurdly) {
  const uint32_t sizes[] = {0, 16, 127, 0xFFFFFFFF, 0x80000000};
  for (uint32_t entrySize : sizes) {
    GptImage image(64, 128, entrySize);
    EXPECT_TRUE(Parts(Open(image)).empty()) << entrySize;
  }
  // More than 128 entries ends the walk of the disk.
  GptImage many(64, 0xFFFFFFFF, 128);
  many.SetEntry(0, 1, 0x07, 40, 10);
  EXPECT_TRUE(Parts(Open(many)).empty());
  // An entry array far beyond the device reads as zeros.
  GptImage far(64);
  PutLe64(far.Sector(1) + 0x48, uint64_t{1} << 60);
  EXPECT_TRUE(Parts(Open(far)).empty());
  // Entries beyond the disk end are listed as the table says, without reads failing.
  GptImage beyond(64);
  beyond.AddEntry(0, kBasicData, 1000000, 1999999, u"ghost");
  auto parts = Parts(Open(beyond));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->sectorCount, 1000000u);
  EXPECT_EQ(parts[0]->fsKind, 0);
}

TEST_F(WalkTest, WholeDiskExtAndHfsWithoutMbrSignature) {
  CraftedImage ext(32);
  MakeExtSuperblock(ext.Sector(2));
  PutLe32(ext.Sector(2) + 0x5C, 0x4);
  PutText(ext.Sector(2) + 0x78, "home");
  auto parts = Parts(Open(ext, "ext.img"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->fsKind, 0x83);
  EXPECT_EQ(parts[0]->linuxSubKind, "EXT3");
  EXPECT_EQ(parts[0]->volumeLabel, "home");
  EXPECT_EQ(parts[0]->sectorCount, 32768u);

  CraftedImage hfs(32);
  PutText(hfs.Sector(2), "H+");
  parts = Parts(Open(hfs, "hfs.img"));
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0]->fsKind, 0x19);
  EXPECT_EQ(PartitionTypeText(*parts[0]), "HFS+");
  EXPECT_EQ(parts[0]->volumeLabel, "only hfs+");
  EXPECT_EQ(parts[0]->sectorCount, 32u);

  CraftedImage hfsx(32);
  PutText(hfsx.Sector(2), "HX");
  EXPECT_TRUE(Parts(Open(hfsx, "hfsx.img")).empty());
}

TEST_F(WalkTest, ImageGeometryFromSize) {
  std::string path = dir_ + "/billion.img";
  FILE* f = std::fopen(path.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(truncate(path.c_str(), 1000000000), 0);
  DiskList list;
  ASSERT_EQ(OpenImageFile(list, path), 1);
  const DiskRecord& d = list.back();
  EXPECT_EQ(d.cylinders, 121u);
  EXPECT_EQ(d.tracksPerCylinder, 255u);
  EXPECT_EQ(d.sectorsPerTrack, 63u);
  EXPECT_EQ(d.vendor, "billion.img");
  EXPECT_EQ(d.Identity(), "billion.img");
  EXPECT_EQ(OpenImageFile(list, dir_ + "/missing.img"), 0);
  unlink(path.c_str());
}

// Seeded random tables (entries pointing anywhere, chains, GPT headers with
// random counts and sizes): the walk must end and stay inside its buffers,
// which the sanitizer build checks.
TEST_F(WalkTest, RandomTablesNeverCrashOrHang) {
  std::mt19937 rng(20240607);
  auto small = [&](uint32_t limit) { return static_cast<uint32_t>(rng() % limit); };
  const uint8_t types[] = {0x05, 0x0F, 0x07, 0x0B, 0x0C, 0x06, 0x83, 0xEE, 0x42, 0x00, 0x01};
  auto start = std::chrono::steady_clock::now();
  for (int round = 0; round < 300; ++round) {
    CraftedImage image(128);
    for (int s = 0; s < 128; ++s) {
      if (small(3) != 0) continue;
      for (int slot = 0; slot < 4; ++slot)
        image.SetEntry(s, slot, types[small(sizeof types)], small(160),
                       small(4) ? small(200) : static_cast<uint32_t>(rng()));
      if (small(4) == 0) {
        PutText(image.Sector(s), "EFI PART");
        PutLe64(image.Sector(s) + 0x48, small(4) ? small(140) : static_cast<uint32_t>(rng()));
        PutLe32(image.Sector(s) + 0x50, small(3) ? small(160) : static_cast<uint32_t>(rng()));
        PutLe32(image.Sector(s) + 0x54, small(3) ? 128 : static_cast<uint32_t>(rng()));
      }
      if (small(5) == 0) MakeNtfsBoot(image.Sector(s));
      if (small(5) == 0) MakeExfatBoot(image.Sector(s));
    }
    image.SetEntry(0, small(4), types[small(sizeof types)], small(128), small(128));
    const DiskRecord& disk = Open(image, "random.img");
    EXPECT_LT(disk.partitions.size(), 5000u);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(MountPoints, AttachedByDiskAndStartSectorToPhysicalDisksOnly) {
  DiskList list;
  DiskRecord disk;
  disk.devicePath = "/dev/sdb";
  disk.diskNumber = "1";
  PartitionRecord a, b;
  a.startSector = 2048;
  b.startSector = 4096;
  disk.partitions = {a, b};
  DiskRecord image = disk;  // an image with the same layout is never mounted
  image.devicePath = "/tmp/sdb";
  image.diskNumber.clear();
  list = {disk, image};
  AttachMountPoints(list, {{"sda", 2048, "/"}, {"sdb", 4096, "/home"}, {"sdb", 4096, "/mnt/again"}});
  EXPECT_EQ(list.front().partitions.front().driveLetter, "");
  EXPECT_EQ(list.front().partitions.back().driveLetter, "/home");
  EXPECT_EQ(list.back().partitions.back().driveLetter, "");
}

TEST(DiskTexts, SizeTextUnits) {
  EXPECT_EQ(SizeText(50ull << 20), "50.0 MB");
  EXPECT_EQ(SizeText(500ull << 20), "0.5 GB");
  EXPECT_EQ(SizeText(100ull << 10), "100.0 KB");
  EXPECT_EQ(SizeText(0), "0.0 KB");
}

TEST(DiskTexts, TypeNamesAndRowTexts) {
  PartitionRecord p;
  p.fsKind = 0x0E;
  EXPECT_EQ(PartitionTypeText(p), "FAT16");
  p.fsKind = 0x0D;
  EXPECT_EQ(PartitionTypeText(p), "NTFS");
  p.fsKind = 0x19;
  p.subKindText = "HFS+ in HFS";
  EXPECT_EQ(PartitionTypeText(p), "HFS+ in HFS");
  p.fsKind = 0x82;
  EXPECT_EQ(PartitionTypeText(p), "");

  DiskRecord d;
  PartitionRecord a, b, c;
  a.name = "Partition0";
  a.driveLetter = "/mnt/x";
  b.name = "Partition1";
  b.driveLetter = "/mnt/x";  // two partitions show the same text: the second by name
  c.name = "Partition2";
  d.partitions = {a, b, c};
  EXPECT_EQ(PartitionRowTexts(d), (std::vector<std::string>{"/mnt/x", "Partition1", "Partition2"}));
}

TEST(DiskTexts, IdentifierCleanUp) {
  EXPECT_EQ(CleanIdentifier("  ATA     "), "ATA");
  EXPECT_EQ(CleanIdentifier("53543130"), "ST10");  // hex text is decoded
  EXPECT_EQ(CleanIdentifier("5354 03130"), "ST");  // blanks count as zeros; a zero byte ends it
  EXPECT_EQ(CleanIdentifier("0x1af4"), "0x1af4");  // not hex text: kept
  EXPECT_EQ(CleanIdentifier("01ff"), "01ff");      // decodes to unprintable bytes: kept raw
  EXPECT_EQ(CleanIdentifier("Disk\x01junk"), "Disk");
  EXPECT_EQ(CleanIdentifier("\x02"
                            "Disk"),
            "");
}

}  // namespace
}  // namespace quorvel
