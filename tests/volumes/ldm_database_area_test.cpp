// The database areas of real dynamic disks made by two Windows versions, read
// through the named layouts: the table of contents, the database header, the
// record slots and the private header copy at the area's end must tell one
// consistent story, or a field is read from the wrong place.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "volumes/ldm/ldm_database_header.h"
#include "volumes/ldm/ldm_private_header.h"
#include "volumes/ldm/ldm_records.h"
#include "volumes/ldm/ldm_toc_block_layout.h"
#include "volumes/ldm/ldm_vblk_layout.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

constexpr size_t kSector = 512;

std::vector<std::string> DatabaseAreas() {
  std::vector<std::string> areas;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(FixturePath("ldm-databases"), ec))
    if (entry.path().extension() == ".db") areas.push_back(entry.path().string());
  return areas;
}

std::string RegionName(ByteView region) {
  std::string name;
  for (size_t i = 0; i < LdmTocRegion::kNameWidth && region.U8(LdmTocRegion::kName + i) != 0; ++i)
    name.push_back(static_cast<char>(region.U8(LdmTocRegion::kName + i)));
  return name;
}

// Catches a table-of-contents offset read from the wrong place, and a
// database header that does not lie where the "config" region starts (the
// reader takes it from sector 17 without reading the table) or counts slots
// the region does not hold.
TEST(LdmDatabaseArea, TableOfContentsAgreesWithTheDatabaseHeader) {
  const std::vector<std::string> areas = DatabaseAreas();
  if (areas.empty()) GTEST_SKIP() << "ldm-databases not built (shared data missing)";
  for (const std::string& path : areas) {
    SCOPED_TRACE(path);
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    const ByteView area(bytes);
    const uint64_t sectors = area.size() / kSector;
    LdmDatabaseValues vmdb;
    ASSERT_TRUE(ParseLdmDatabaseHeader(area.Sub(kLdmDatabaseHeaderSector * kSector, kSector), vmdb));
    for (uint64_t copy : {LdmTocBlock::kFirstCopySector, sectors - LdmTocBlock::kLastCopyFromEnd}) {
      const ByteView toc = area.Sub(copy * kSector, LdmTocBlock::kSize);
      ASSERT_TRUE(toc.Matches(LdmTocBlock::kMagic, "TOCBLOCK")) << "copy at " << copy;
      const ByteView config = toc.Sub(LdmTocBlock::kConfigRegion);
      const ByteView log = toc.Sub(LdmTocBlock::kLogRegion);
      EXPECT_EQ(RegionName(config), "config");
      EXPECT_EQ(RegionName(log), "log");
      EXPECT_EQ(config.Be64(LdmTocRegion::kStart), kLdmDatabaseHeaderSector);
      EXPECT_EQ(config.Be64(LdmTocRegion::kSize) * kSector, uint64_t{vmdb.recordSize} * vmdb.lastSequence);
      EXPECT_EQ(log.Be64(LdmTocRegion::kStart), config.Be64(LdmTocRegion::kStart) + config.Be64(LdmTocRegion::kSize));
      EXPECT_LE(log.Be64(LdmTocRegion::kStart) + log.Be64(LdmTocRegion::kSize), sectors);
    }
    // The private header's last copy is the area's last sector and names it.
    LdmDiskValues header;
    const ByteView last = area.Sub((sectors - 1) * kSector, kSector);
    ASSERT_TRUE(ParseLdmPrivateHeader(last, LdmHeaderPlace::kMbr, header) ||
                ParseLdmPrivateHeader(last, LdmHeaderPlace::kGpt, header));
    EXPECT_EQ(header.configSize, sectors);
  }
}

// Catches slot-head offsets that are off: every slot in use carries its own
// place (in slots from the database header) as its sequence number, a record
// group and a part number below its part count, and the database the reader
// builds from the slots holds components, extents, volumes and the group.
TEST(LdmDatabaseArea, RecordSlotsAreNumberedByTheirPlace) {
  const std::vector<std::string> areas = DatabaseAreas();
  if (areas.empty()) GTEST_SKIP() << "ldm-databases not built (shared data missing)";
  for (const std::string& path : areas) {
    SCOPED_TRACE(path);
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    const ByteView area(bytes);
    const uint64_t vmdbAt = kLdmDatabaseHeaderSector * kSector;
    LdmDatabaseValues vmdb;
    ASSERT_TRUE(ParseLdmDatabaseHeader(area.Sub(vmdbAt, kSector), vmdb));
    ASSERT_GT(vmdb.recordSize, 0u);
    size_t used = 0;
    for (uint64_t at = vmdbAt + vmdb.firstRecordOffset;
         at + vmdb.recordSize <= vmdbAt + uint64_t{vmdb.recordSize} * vmdb.lastSequence; at += vmdb.recordSize) {
      const ByteView slot = area.Sub(at, vmdb.recordSize);
      if (!slot.Matches(LdmVblk::kMagic, "VBLK") || slot.Be32(LdmVblk::kDataSize) == 0) continue;
      ++used;
      EXPECT_EQ(slot.Be32(LdmVblk::kSequence), (at - vmdbAt) / vmdb.recordSize) << "slot at " << at;
      EXPECT_NE(slot.Be32(LdmVblk::kGroup), 0u);
      EXPECT_LT(slot.Be16(LdmVblk::kPartNumber), slot.Be16(LdmVblk::kPartCount));
    }
    EXPECT_GT(used, 5u);

    MemorySource disk(bytes);
    LdmDiskValues header;
    header.configStart = 0;
    header.configSize = area.size() / kSector;
    LdmDatabaseValues values;
    LdmDatabase db;
    ASSERT_TRUE(ReadLdmDatabase(disk, header, values, db));
    EXPECT_FALSE(db.components.empty());
    EXPECT_FALSE(db.partitions.empty());
    EXPECT_EQ(db.groups.size(), 1u);
    EXPECT_FALSE(db.volumes.empty());
    // Windows Server 2003 writes each disk record over two slots, which are
    // not read yet; 2008 R2 fits every record in one.
    if (db.multiPartRecords == 0) {
      EXPECT_FALSE(db.disks.empty());
    }
  }
}

}  // namespace
}  // namespace quorvel
