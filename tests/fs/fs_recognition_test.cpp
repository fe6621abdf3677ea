// The file-system tests: what they accept, and the near misses they must refuse
// (a loose test would make the walk and the scans misread foreign sectors).
#include <gtest/gtest.h>

#include "fs/fs_recognition.h"
#include "platform/text.h"
#include "volumes/disk_crafting.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

TEST(BootSectorTests, AcceptWellFormedSectorsAndKeepKindsApart) {
  uint8_t ntfs[512] = {}, fat32[512] = {}, fat16[512] = {}, exfat[512] = {};
  MakeNtfsBoot(ntfs);
  MakeFat32Boot(fat32);
  MakeFat16Boot(fat16);
  MakeExfatBoot(exfat);
  EXPECT_TRUE(IsNtfsBootSector(ntfs));
  EXPECT_TRUE(IsFat32BootSector(fat32));
  EXPECT_TRUE(IsFat16BootSector(fat16));
  EXPECT_TRUE(IsExfatBootSector(exfat));
  // Each sector passes its own test only.
  EXPECT_FALSE(IsFat32BootSector(ntfs) || IsFat16BootSector(ntfs) || IsExfatBootSector(ntfs));
  EXPECT_FALSE(IsNtfsBootSector(fat32) || IsFat16BootSector(fat32) || IsExfatBootSector(fat32));
  EXPECT_FALSE(IsNtfsBootSector(fat16) || IsFat32BootSector(fat16) || IsExfatBootSector(fat16));
  EXPECT_FALSE(IsNtfsBootSector(exfat) || IsFat32BootSector(exfat) || IsFat16BootSector(exfat));
}

TEST(BootSectorTests, RejectOtherSectorSizesAndMissingSignature) {
  uint8_t ntfs[512] = {}, fat32[512] = {}, fat16[512] = {};
  MakeNtfsBoot(ntfs);
  MakeFat32Boot(fat32);
  MakeFat16Boot(fat16);
  PutLe16(ntfs + 0x0B, 4096);
  PutLe16(fat32 + 0x0B, 4096);
  PutLe16(fat16 + 0x0B, 1024);
  EXPECT_FALSE(IsNtfsBootSector(ntfs));
  EXPECT_FALSE(IsFat32BootSector(fat32));
  EXPECT_FALSE(IsFat16BootSector(fat16));

  uint8_t unsigned_[512] = {};
  MakeNtfsBoot(unsigned_);
  unsigned_[511] = 0;
  EXPECT_FALSE(IsNtfsBootSector(unsigned_));
}

TEST(BootSectorTests, RejectFatNearMisses) {
  uint8_t s[512] = {};
  MakeFat32Boot(s);
  PutLe16(s + 0x32, 7);  // backup boot sector past 6
  EXPECT_FALSE(IsFat32BootSector(s));
  MakeFat32Boot(s);
  PutLe16(s + 0x13, 8192);  // small volumes' 16-bit sector count
  EXPECT_FALSE(IsFat32BootSector(s));
  MakeFat32Boot(s);
  s[0x10] = 1;
  EXPECT_FALSE(IsFat32BootSector(s));

  uint8_t f16[512] = {};
  MakeFat16Boot(f16);
  PutLe16(f16 + 0x11, 256);  // exactly 512 root entries required
  EXPECT_FALSE(IsFat16BootSector(f16));

  uint8_t ex[512] = {};
  MakeExfatBoot(ex);
  ex[0x3F] = 1;  // the BPB area of exFAT must be zero
  EXPECT_FALSE(IsExfatBootSector(ex));
}

TEST(ExtSuperblock, AcceptsLinuxVolumeAndRejectsForeignOrInconsistentOnes) {
  uint8_t sb[1024] = {};
  MakeExtSuperblock(sb);
  EXPECT_TRUE(IsExtSuperblock(sb));
  EXPECT_EQ(ExtVolumeSectors(sb), 16384u * 1024 / 512);

  MakeExtSuperblock(sb);
  PutLe32(sb + 0x48, 3);  // created by FreeBSD
  EXPECT_FALSE(IsExtSuperblock(sb));
  MakeExtSuperblock(sb);
  PutLe32(sb + 0x2C, 0);  // never mounted
  EXPECT_FALSE(IsExtSuperblock(sb));
  MakeExtSuperblock(sb);
  PutLe32(sb + 0x20, 8193);  // more blocks per group than one 1 KiB bitmap block maps
  EXPECT_FALSE(IsExtSuperblock(sb));
  MakeExtSuperblock(sb);
  PutLe16(sb + 0x58, 64);
  EXPECT_FALSE(IsExtSuperblock(sb));
  // A shift past the block-size range must neither pass nor shift out of range.
  MakeExtSuperblock(sb);
  PutLe32(sb + 0x18, 40);
  EXPECT_FALSE(IsExtSuperblock(sb));
  EXPECT_EQ(ExtVolumeSectors(sb), 0u);
}

TEST(ExtSuperblock, SingleGroupVolumesAreRecognised) {
  // mkfs's defaults for small volumes: one group holding every block, as
  // many blocks per group as one bitmap block maps (8 x block size).
  uint8_t sb[1024] = {};
  MakeExtSuperblock(sb);
  PutLe32(sb + 0x04, 8192);  // an 8 MiB ext2 of 1 KiB blocks
  PutLe32(sb + 0x20, 8192);
  EXPECT_TRUE(IsExtSuperblock(sb));
  PutLe32(sb + 0x18, 2);      // 4 KiB blocks
  PutLe32(sb + 0x04, 32768);  // 128 MiB
  PutLe32(sb + 0x20, 32768);
  EXPECT_TRUE(IsExtSuperblock(sb));
  PutLe32(sb + 0x20, 32769);
  EXPECT_FALSE(IsExtSuperblock(sb));
}

TEST(ExtSuperblock, HighBlockCountCountsInTotal) {
  uint8_t sb[1024] = {};
  MakeExtSuperblock(sb);
  PutLe32(sb + 0x04, 100);  // low word smaller than blocks per group...
  PutLe32(sb + 0x150, 1);   // ...but the high word makes the volume huge
  EXPECT_TRUE(IsExtSuperblock(sb));
  EXPECT_EQ(ExtVolumeSectors(sb), ((uint64_t{1} << 32) + 100) * 2);
}

TEST(ExtSuperblock, SubKindFollowsJournalThenExtentsBits) {
  uint8_t sb[1024] = {};
  MakeExtSuperblock(sb);
  EXPECT_EQ(ExtSubKind(sb), "EXT2");
  PutLe32(sb + 0x60, 0x40);  // extents without a journal is still EXT2
  EXPECT_EQ(ExtSubKind(sb), "EXT2");
  PutLe32(sb + 0x5C, 0x4);
  EXPECT_EQ(ExtSubKind(sb), "EXT4");
  PutLe32(sb + 0x60, 0);
  EXPECT_EQ(ExtSubKind(sb), "EXT3");
}

TEST(HfsHeader, ClassifiesEveryVariant) {
  uint8_t h[512] = {};
  PutText(h, "BD");
  EXPECT_EQ(ClassifyHfsHeader(h), 1);
  PutText(h + 0x7C, "H+");
  EXPECT_EQ(ClassifyHfsHeader(h), 4);
  PutText(h + 0x7C, "XY");  // an unknown embedded volume is no HFS at all
  EXPECT_EQ(ClassifyHfsHeader(h), 0);
  PutText(h, "H+");
  EXPECT_EQ(ClassifyHfsHeader(h), 2);
  PutText(h, "HX");
  EXPECT_EQ(ClassifyHfsHeader(h), 3);
  PutText(h, "xx");
  EXPECT_EQ(ClassifyHfsHeader(h), 0);
}

TEST(HfsHeader, VolumeNameIsBoundedByTheRecordNotTheLengthByte) {
  uint8_t h[512] = {};
  PutText(h, "BD");
  h[0x24] = 200;  // a damaged length byte
  std::memset(h + 0x25, 'A', 40);
  EXPECT_EQ(HfsVolumeName(h), std::string(27, 'A'));
}

// A 1024-byte record with update sequence 0x1234 whose array holds the
// sectors' real last bytes.
void MakeFileRecord(uint8_t* r) {
  std::memset(r, 0, 1024);
  PutText(r, "FILE");
  PutLe16(r + 4, 0x30);
  PutLe16(r + 6, 3);
  PutLe16(r + 0x30, 0x1234);
  PutLe16(r + 0x32, 0xAAAA);
  PutLe16(r + 0x34, 0xBBBB);
  PutLe16(r + 0x1FE, 0x1234);
  PutLe16(r + 0x3FE, 0x1234);
}

TEST(FixUp, RestoresSectorEnds) {
  uint8_t r[1024];
  MakeFileRecord(r);
  ASSERT_TRUE(FixUpFileRecord(r));
  EXPECT_EQ(r[0x1FE], 0xAA);
  EXPECT_EQ(r[0x1FF], 0xAA);
  EXPECT_EQ(r[0x3FE], 0xBB);
  EXPECT_EQ(r[0x3FF], 0xBB);
}

TEST(FixUp, RejectsTornOrForeignRecordsUnchanged) {
  uint8_t r[1024], before[1024];
  MakeFileRecord(r);
  PutLe16(r + 0x3FE, 0x1235);  // second sector from another write
  std::memcpy(before, r, sizeof r);
  EXPECT_FALSE(FixUpFileRecord(r));
  EXPECT_EQ(std::memcmp(r, before, sizeof r), 0);

  MakeFileRecord(r);
  PutText(r, "BAAD");
  EXPECT_FALSE(FixUpFileRecord(r));
  MakeFileRecord(r);
  PutLe16(r + 4, 0x28);
  EXPECT_FALSE(FixUpFileRecord(r));
}

class VolumeLabelTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = TestDir("labels"); }
  std::string ReadLabel(CraftedImage& image, uint64_t start, uint8_t kind) {
    return ReadVolumeLabel(MemorySource(image.bytes), start, kind);
  }
  std::string dir_;
};

TEST_F(VolumeLabelTest, Fat32LabelWithArchiveBitAfterLongNameAndDeletedLabel) {
  CraftedImage image(2000);
  const uint64_t start = 10;
  MakeFat32Boot(image.Sector(start));
  // Root cluster 2 starts after 32 reserved + 2 x 600 FAT sectors.
  uint8_t* root = image.Sector(start + 32 + 1200);
  root[11] = 0x0F;  // a long-name entry carries the label bit among others
  PutText(root + 32, "OLDLABEL   ");
  root[32] = 0xE5;
  root[32 + 11] = 0x08;
  PutText(root + 64, "DATA DISK  ");
  root[64 + 11] = 0x28;
  EXPECT_EQ(ReadLabel(image, start, 0x0C), "DATA DISK  ");
}

TEST_F(VolumeLabelTest, Fat16LabelIsDecodedFromCodePage936) {
  CraftedImage image(200);
  MakeFat16Boot(image.Sector(0));
  uint8_t* root = image.Sector(4 + 80);
  const char gbk[] = "\xca\xfd\xbe\xdd";  // 数据 in GBK
  std::memcpy(root, gbk, 4);
  std::memset(root + 4, ' ', 7);
  root[11] = 0x08;
  EXPECT_EQ(ReadLabel(image, 0, 0x06), "数据       ");
}

TEST_F(VolumeLabelTest, FatScanStopsAtEmptyEntry) {
  CraftedImage image(200);
  MakeFat16Boot(image.Sector(0));
  uint8_t* root = image.Sector(4 + 80);
  PutText(root + 32, "LATE       ");  // after an all-zero entry: not part of the folder
  root[32 + 11] = 0x08;
  EXPECT_EQ(ReadLabel(image, 0, 0x06), "");
}

// $Volume record with a name attribute; record 3 lies at MFT + 6 sectors.
void PutVolumeRecord(uint8_t* r, const std::u16string& name, uint32_t firstAttributeLength) {
  MakeFileRecord(r);
  PutLe16(r + 0x14, 0x38);
  uint8_t* a = r + 0x38;
  PutLe32(a, 0x30);  // an attribute before the name
  PutLe32(a + 4, firstAttributeLength);
  a += firstAttributeLength;
  PutLe32(a, 0x60);
  PutLe32(a + 4, 0x18 + 64);
  PutLe32(a + 0x10, static_cast<uint32_t>(name.size() * 2));
  PutLe16(a + 0x0A, 0x18);
  for (size_t i = 0; i < name.size(); ++i) PutLe16(a + 0x18 + 2 * i, name[i]);
  PutLe32(a + 0x18 + 64, 0xFFFFFFFF);
}

TEST_F(VolumeLabelTest, NtfsLabelFromVolumeRecord) {
  CraftedImage image(300);
  const uint64_t start = 16;
  MakeNtfsBoot(image.Sector(start));
  PutLe64(image.Sector(start) + 0x30, 4);  // MFT at cluster 4 = sector 32
  PutVolumeRecord(image.Sector(start + 32 + 6), u"系统盘", 0x20);
  EXPECT_EQ(ReadLabel(image, start, 0x07), "系统盘");
}

TEST_F(VolumeLabelTest, NtfsAttributeWalkEndsOnZeroLength) {
  CraftedImage image(300);
  MakeNtfsBoot(image.Sector(0));
  PutLe64(image.Sector(0) + 0x30, 4);
  PutVolumeRecord(image.Sector(32 + 6), u"x", 0x20);
  PutLe32(image.Sector(32 + 6) + 0x38 + 4, 0);  // would loop forever
  EXPECT_EQ(ReadLabel(image, 0, 0x07), "");
}

TEST_F(VolumeLabelTest, NtfsLabelNeedsAValidFixUp) {
  CraftedImage image(300);
  MakeNtfsBoot(image.Sector(0));
  PutLe64(image.Sector(0) + 0x30, 4);
  PutVolumeRecord(image.Sector(32 + 6), u"name", 0x20);
  PutLe16(image.Sector(32 + 6) + 0x3FE, 0x9999);
  EXPECT_EQ(ReadLabel(image, 0, 0x07), "");
}

TEST_F(VolumeLabelTest, ExfatLabelFromRootFolder) {
  CraftedImage image(200);
  MakeExfatBoot(image.Sector(0));
  // heap at sector 64, cluster 4 -> (4 - 2) << 3 = 16 sectors further.
  uint8_t* e = image.Sector(64 + 16) + 64;
  e[0] = 0x83;
  e[1] = 3;
  std::u16string name = u"备份盘";
  for (size_t i = 0; i < name.size(); ++i) PutLe16(e + 2 + 2 * i, name[i]);
  EXPECT_EQ(ReadLabel(image, 0, 0x05), "备份盘");
}

TEST_F(VolumeLabelTest, HostileExfatShiftsReadNothing) {
  CraftedImage image(200);
  MakeExfatBoot(image.Sector(0));
  image.Sector(0)[0x6C] = 40;  // would ask for a 1 TiB sector
  EXPECT_EQ(ReadLabel(image, 0, 0x05), "");
}

TEST_F(VolumeLabelTest, ExtLabelAndHfsProbe) {
  CraftedImage image(16);
  MakeExtSuperblock(image.Sector(2));
  PutText(image.Sector(2) + 0x78, "rootfs");
  EXPECT_EQ(ReadLabel(image, 0, 0x83), "rootfs");

  CraftedImage hfs(16);
  PutText(hfs.Sector(4 + 2), "BD");
  PutText(hfs.Sector(4 + 2) + 0x7C, "H+");
  hfs.Sector(4 + 2)[0x24] = 5;
  PutText(hfs.Sector(4 + 2) + 0x25, "Macin");
  MemorySource device(hfs.bytes);
  int32_t variant = 0;
  EXPECT_EQ(ProbeHfsVolume(device, 4, variant), "Macin");
  EXPECT_EQ(variant, 4);
  variant = 7;
  EXPECT_EQ(ProbeHfsVolume(device, 0, variant), "");
  EXPECT_EQ(variant, 7);  // nothing matched: left untouched
}

}  // namespace
}  // namespace quorvel
