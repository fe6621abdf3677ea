// Dynamic-disk structures in crafted bytes: the cases real disks rarely show
// (old versions, copies that disagree, damaged counts and records).
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "volumes/ldm/ldm_group.h"
#include "volumes/ldm/ldm_private_header.h"
#include "volumes/ldm/ldm_records.h"

namespace quorvel {
namespace {

void PutBe(std::vector<uint8_t>& b, size_t at, uint64_t value, size_t width) {
  for (size_t i = 0; i < width; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * (width - 1 - i)));
}

struct Header {
  uint16_t minor = 12;
  uint64_t dataStart = 63, dataSize = 1000, configStart = 2048, configSize = 2048;
  std::string disk = "06495a85-fbfd-11e1-8cf9-52540061f5db";
};

std::vector<uint8_t> PrivateHeader(const Header& h) {
  std::vector<uint8_t> s(512);
  std::memcpy(s.data(), "PRIVHEAD", 8);
  PutBe(s, 0x0C, 2, 2);
  PutBe(s, 0x0E, h.minor, 2);
  std::memcpy(s.data() + 0x30, h.disk.data(), h.disk.size());
  std::memcpy(s.data() + 0xB0, "06495a84-fbfd-11e1-8cf9-52540061f5db", 36);
  std::memcpy(s.data() + 0xF0, "Dg0", 3);
  PutBe(s, 0x11B, h.dataStart, 8);
  PutBe(s, 0x123, h.dataSize, 8);
  PutBe(s, 0x12B, h.configStart, 8);
  PutBe(s, 0x133, h.configSize, 8);
  return s;
}

bool Parses(const Header& h, LdmHeaderPlace place = LdmHeaderPlace::kMbr) {
  LdmDiskValues v;
  std::vector<uint8_t> s = PrivateHeader(h);
  return ParseLdmPrivateHeader(ByteView(s), place, v);
}

TEST(LdmPrivateHeader, VersionsAreaAndGuidsAreChecked) {
  EXPECT_TRUE(Parses({}));
  EXPECT_TRUE(Parses({.minor = 11}));
  EXPECT_FALSE(Parses({.minor = 10}));
  EXPECT_FALSE(Parses({.configSize = 0}));
  // MBR disks keep the database after the data; GPT disks before it.
  EXPECT_FALSE(Parses({.dataStart = 63, .dataSize = 3000}));
  EXPECT_FALSE(Parses({.dataStart = 65570, .dataSize = 36797, .configStart = 34}));
  EXPECT_TRUE(Parses({.dataStart = 65570, .dataSize = 36797, .configStart = 34}, LdmHeaderPlace::kGpt));
  EXPECT_FALSE(Parses({.dataStart = 40, .dataSize = 36797, .configStart = 34}, LdmHeaderPlace::kGpt));
  EXPECT_FALSE(Parses({.disk = "06495a85-fbfd-11e1+8cf9-52540061f5db"}));
  EXPECT_FALSE(Parses({.disk = "06495a85-fbfd-11e1-8cf9-52540061f5dg"}));
  std::array<uint8_t, 16> guid{};
  ASSERT_TRUE(ParseGuidText("06495A85-fbfd-11e1-8cf9-52540061f5db", guid));
  EXPECT_EQ(guid[0], 0x06);
  EXPECT_EQ(guid[15], 0xDB);
  EXPECT_EQ(GuidBytesText(guid).substr(0, 5), "67390");  // 6, 73, 90: "%d" per byte
}

// The three copies: sector 6, the database area's last sector and 192
// sectors before its end. Copies that disagree make the disk no dynamic disk.
TEST(LdmPrivateHeader, EndCopiesMustAgree) {
  const Header h{.dataStart = 63, .dataSize = 1900, .configStart = 2048, .configSize = 256};
  auto image = [&](const Header& second) {
    std::vector<uint8_t> disk(2304 * 512);
    auto put = [&](uint64_t sector, const Header& copy) {
      std::vector<uint8_t> s = PrivateHeader(copy);
      std::memcpy(disk.data() + sector * 512, s.data(), 512);
    };
    put(6, h);
    put(2048 + 256 - 1, h);
    put(2048 + 256 - 192, second);
    return MemorySource(std::move(disk));
  };
  LdmDiskValues v;
  EXPECT_TRUE(ReadLdmPrivateHeaders(image(h), 6, LdmHeaderPlace::kMbr, v));
  EXPECT_EQ(v.logicalDiskSize, 1900u);
  Header other = h;
  other.dataSize = 1800;
  EXPECT_FALSE(ReadLdmPrivateHeaders(image(other), 6, LdmHeaderPlace::kMbr, v));
  other = h;
  other.disk = "16495a85-fbfd-11e1-8cf9-52540061f5db";
  EXPECT_FALSE(ReadLdmPrivateHeaders(image(other), 6, LdmHeaderPlace::kMbr, v));
}

// A VBLK slot of 128 bytes holding one record.
struct Slot {
  std::vector<uint8_t> b = std::vector<uint8_t>(128);
  size_t at = 0x18;
  Slot(uint8_t type, uint64_t id, const std::string& name, uint8_t flags = 0) {
    std::memcpy(b.data(), "VBLK", 4);
    PutBe(b, 0x0E, 1, 2);
    b[0x12] = flags;
    b[0x13] = type;
    Number(id);
    Text(name);
  }
  Slot& Number(uint64_t v) {
    b[at++] = 8;
    PutBe(b, at, v, 8);
    at += 8;
    return *this;
  }
  Slot& Text(const std::string& t) {
    b[at++] = static_cast<uint8_t>(t.size());
    std::memcpy(b.data() + at, t.data(), t.size());
    at += t.size();
    return *this;
  }
  Slot& Bytes(size_t n) { return at += n, *this; }
  Slot& Be64(uint64_t v) { return PutBe(b, at, v, 8), at += 8, *this; }
  Slot& Byte(uint8_t v) { return b[at++] = v, *this; }
  ByteView Done() {
    PutBe(b, 0x14, at - 0x18, 4);
    return ByteView(b);
  }
};

Slot Partition(uint64_t id, const std::string& name, uint64_t start, uint64_t offset, uint64_t size, uint64_t disk) {
  Slot s(0x33, id, name);
  s.Bytes(12).Be64(start).Be64(offset).Number(size).Number(20).Number(disk);
  return s;
}

TEST(LdmRecords, MultiPartAndDamagedRecordsArePassedOver) {
  LdmDatabase db;
  Slot part = Partition(1, "Disk1-01", 100, 0, 50, 30);
  ParseLdmRecord(part.Done(), db);
  ASSERT_EQ(db.partitions.size(), 1u);
  EXPECT_EQ(db.partitions[0].start, 100u);
  EXPECT_EQ(db.partitions[0].diskId, 30u);

  Slot multi = Partition(2, "Disk1-02", 100, 0, 50, 30);
  PutBe(multi.b, 0x0E, 2, 2);  // the first of two parts
  ParseLdmRecord(multi.Done(), db);
  Slot big = Partition(3, "Disk1-03", 100, 0, 50, 30);
  ByteView bigView = big.Done();
  PutBe(big.b, 0x14, 129, 4);
  ParseLdmRecord(bigView, db);
  EXPECT_EQ(db.partitions.size(), 1u);
  EXPECT_EQ(db.multiPartRecords, 2u);

  // A record whose fields run past its stated size is dropped, not read on.
  Slot cut = Partition(4, "Disk1-04", 100, 0, 50, 30);
  ByteView cutView = cut.Done();
  PutBe(cut.b, 0x14, 30, 4);
  ParseLdmRecord(cutView, db);
  EXPECT_EQ(db.partitions.size(), 1u);

  Slot disk(0x44, 30, "Disk1");
  disk.Text("06495a85-fbfd-11e1-8cf9-52540061f5db").Text("");
  ParseLdmRecord(disk.Done(), db);
  ASSERT_EQ(db.disks.size(), 1u);
  EXPECT_EQ(db.newerRevisionRecords, 1u);
}

TEST(LdmRecords, DatabaseCountsLargerThanTheAreaAreRefused) {
  const uint64_t configStart = 10, configSize = 64;
  auto disk = [&](uint32_t lastSequence, uint32_t recordSize) {
    std::vector<uint8_t> bytes((configStart + configSize + 8) * 512);
    uint8_t* vmdb = bytes.data() + (configStart + 17) * 512;
    std::memcpy(vmdb, "VMDB", 4);
    std::vector<uint8_t> h(0x20);
    PutBe(h, 0x04, lastSequence, 4);
    PutBe(h, 0x08, recordSize, 4);
    PutBe(h, 0x0C, 512, 4);
    PutBe(h, 0x12, 4, 2);
    PutBe(h, 0x14, 10, 2);
    std::memcpy(vmdb + 4, h.data() + 4, h.size() - 4);
    return MemorySource(std::move(bytes));
  };
  LdmDiskValues header;
  header.configStart = configStart;
  header.configSize = configSize;
  LdmDatabaseValues values;
  LdmDatabase db;
  EXPECT_TRUE(ReadLdmDatabase(disk(40, 128), header, values, db));
  EXPECT_FALSE(ReadLdmDatabase(disk(4 * 64, 128), header, values, db));      // as large as the area
  EXPECT_FALSE(ReadLdmDatabase(disk(0xFFFFFFFF, 512), header, values, db));  // never allocated
  EXPECT_FALSE(ReadLdmDatabase(disk(40, 0), header, values, db));            // no division by zero
}

// Spanned extents follow their offsets in the volume; each member's start is
// counted from its own disk's data area once that disk is linked.
TEST(LdmGroup, SpannedOrderAndPerDiskStarts) {
  LdmDatabase db;
  LdmComponent component;
  component.id = 20;
  component.name = "Volume1-01";
  component.type = kSpannedVolume;
  component.parentId = 10;
  db.components.push_back(component);
  LdmVolume volume;
  volume.id = 10;
  volume.name = "Volume1";
  volume.size = 150;
  volume.partitionType = 7;
  volume.driveHint = "E:";
  db.volumes.push_back(volume);
  for (auto [id, start, offset, size, diskId] : {std::tuple{1, 94, 100, 50, 31}, std::tuple{2, 65, 0, 100, 30}}) {
    LdmPartition p;
    p.id = id, p.start = start, p.volumeOffset = offset, p.size = size, p.parentId = 20, p.diskId = diskId;
    db.partitions.push_back(p);
  }
  for (auto [id, guid] :
       {std::pair{30, "06495a85-fbfd-11e1-8cf9-52540061f5db"}, std::pair{31, "06495a89-fbfd-11e1-8cf9-52540061f5db"}}) {
    LdmDisk d;
    d.id = id;
    ASSERT_TRUE(ParseGuidText(guid, d.guid));
    db.disks.push_back(d);
  }
  DiskRecord group;
  group.partitions = BuildLdmVolumes(db, 63);
  ASSERT_EQ(group.partitions.size(), 1u);
  PartitionRecord& v = group.partitions.front();
  EXPECT_EQ(v.sectorCount, 150u);
  EXPECT_EQ(v.driveLetter, "E:");
  ASSERT_EQ(v.members.size(), 2u);
  EXPECT_EQ(v.members[0].sectorCount, 100u);  // offset 0 first
  EXPECT_EQ(v.members[0].startSector, 65u + 63);
  DiskRecord gptDisk;
  gptDisk.devicePath = "/images/second.img";
  gptDisk.diskIdText = GuidBytesText(db.disks[1].guid);
  gptDisk.ldm.logicalDiskStart = 65570;
  LinkDiskIntoGroup(group, gptDisk);
  EXPECT_EQ(v.members[1].path, "/images/second.img");
  EXPECT_EQ(v.members[1].startSector, 94u + 65570);
  EXPECT_TRUE(v.members[0].path.empty());
}

}  // namespace
}  // namespace quorvel
