// Composite volumes read through member files. Every member sector carries a
// stamp (member, sector) so a misplaced unit shows exactly where it came from.
#include <gtest/gtest.h>

#include <fstream>

#include "io/sector_device.h"
#include "io/volume_source.h"
#include "volumes/disk_crafting.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

constexpr uint32_t kStripe = 4;  // sectors per unit in most tests
constexpr uint64_t kMemberSectors = 64;

void Stamp(uint8_t* sector, uint32_t member, uint64_t memberSector) {
  for (int i = 0; i < 512; i += 16) {
    PutLe32(sector + i, member);
    PutLe64(sector + i + 4, memberSector);
    PutLe32(sector + i + 12, 0xC0DE0000u + member);
  }
}

class CompositeTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = TestDir("composite"); }

  // Members whose extents start `lead` sectors into their files.
  PartitionRecord MakeVolume(uint8_t kind, int members, uint64_t lead = 3, uint32_t stripe = kStripe,
                             uint64_t memberSectors = kMemberSectors) {
    PartitionRecord p;
    p.volumeKind = kind;
    p.stripeSize = static_cast<uint16_t>(stripe);
    for (int m = 0; m < members; ++m) {
      std::vector<uint8_t> bytes((lead + memberSectors) * 512, 0xEE);
      for (uint64_t s = 0; s < memberSectors; ++s) Stamp(bytes.data() + (lead + s) * 512, m, s);
      std::string path = dir_ + "/member" + std::to_string(m);
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
      VolumeMember vm;
      vm.ordinal = static_cast<uint8_t>(m);
      vm.path = path;
      vm.startSector = lead;
      vm.sectorCount = memberSectors;
      p.members[vm.ordinal] = vm;
    }
    return p;
  }

  // Rewrites each row's parity unit as the XOR of the row's data units, so a
  // missing member can be rebuilt.
  void WriteParity(const PartitionRecord& p) {
    size_t n = p.members.size();
    std::vector<std::vector<uint8_t>> files;
    for (const auto& [o, m] : p.members) files.push_back(ReadWholeFile(m.path));
    uint64_t rows = kMemberSectors / p.stripeSize;
    for (uint64_t row = 0; row < rows; ++row) {
      size_t parity = n - 1 - row % n;
      for (uint64_t b = 0; b < uint64_t{p.stripeSize} * 512; ++b) {
        uint8_t x = 0;
        uint64_t at = (3 + row * p.stripeSize) * 512 + b;
        for (size_t m = 0; m < n; ++m)
          if (m != parity) x ^= files[m][at];
        files[parity][at] = x;
      }
    }
    size_t i = 0;
    for (const auto& [o, m] : p.members)
      std::ofstream(m.path, std::ios::binary)
          .write(reinterpret_cast<const char*>(files[i].data()), static_cast<std::streamsize>(files[i].size())),
          ++i;
  }

  static void ExpectStamp(const uint8_t* sector, uint32_t member, uint64_t memberSector, const std::string& what) {
    uint8_t expected[512];
    Stamp(expected, member, memberSector);
    EXPECT_EQ(std::memcmp(sector, expected, 512), 0)
        << what << ": wanted member " << member << " sector " << memberSector << ", got member "
        << (sector[0] | sector[1] << 8) << " sector " << (sector[4] | sector[5] << 8);
  }

  std::string dir_;
};

TEST_F(CompositeTest, StripedReadFromLastSectorOfUnitWrapsToNextRow) {
  PartitionRecord p = MakeVolume(kStripedVolume, 3);
  // Volume unit 5 = row 1, member 2; its last sector is volume sector 23.
  const uint64_t first = 5 * kStripe + kStripe - 1;
  std::vector<uint8_t> buf(9 * 512);
  size_t got = 0;
  ASSERT_TRUE(ReadVolumeStriped(p, first * 512, buf, got));
  EXPECT_EQ(got, buf.size());
  for (uint64_t i = 0; i < 9; ++i) {
    uint64_t v = first + i, unit = v / kStripe;
    ExpectStamp(buf.data() + i * 512, static_cast<uint32_t>(unit % 3), (unit / 3) * kStripe + v % kStripe,
                "volume sector " + std::to_string(v));
  }
}

TEST_F(CompositeTest, StripedReadPastMemberEndFailsButKeepsCount) {
  PartitionRecord p = MakeVolume(kStripedVolume, 2);
  const uint64_t volumeSectors = 2 * kMemberSectors;
  std::vector<uint8_t> buf(2 * kStripe * 512);
  size_t got = 0;
  EXPECT_FALSE(ReadVolumeStriped(p, (volumeSectors - kStripe) * 512, buf, got));
  EXPECT_EQ(got, kStripe * 512u);  // the last unit was read before the end
}

TEST_F(CompositeTest, SpannedReadCrossesMembersAndEndsCleanly) {
  PartitionRecord p = MakeVolume(kSpannedVolume, 2);
  std::vector<uint8_t> buf(4 * 512);
  size_t got = 0;
  ASSERT_TRUE(ReadVolumeSpanned(p, (kMemberSectors - 2) * 512, buf, got));
  EXPECT_EQ(got, buf.size());
  ExpectStamp(buf.data(), 0, kMemberSectors - 2, "first");
  ExpectStamp(buf.data() + 512, 0, kMemberSectors - 1, "second");
  ExpectStamp(buf.data() + 1024, 1, 0, "third");
  ExpectStamp(buf.data() + 1536, 1, 1, "fourth");

  // Beyond the sum of the members: success with nothing read.
  ASSERT_TRUE(ReadVolumeSpanned(p, 2 * kMemberSectors * 512, buf, got));
  EXPECT_EQ(got, 0u);
  // A read running off the end returns what there is.
  ASSERT_TRUE(ReadVolumeSpanned(p, (2 * kMemberSectors - 1) * 512, buf, got));
  EXPECT_EQ(got, 512u);
}

TEST_F(CompositeTest, ParityRotatesTwoOneZeroAndDataStartsAfterParity) {
  const uint64_t U = 128;
  PartitionRecord p = MakeVolume(kParityVolume, 3, 3, U, 4 * U);
  // Two data units per row; the first data unit of rows 0, 1, 2 lies on
  // members 0, 2, 1 (parity on 2, 1, 0).
  const uint32_t firstDataMember[] = {0, 2, 1, 0};
  const uint32_t secondDataMember[] = {1, 0, 2, 1};
  uint8_t sector[512];
  size_t got = 0;
  for (uint64_t row = 0; row < 4; ++row) {
    ASSERT_TRUE(ReadVolumeParity(p, 2 * row * U * 512, sector, got));
    ExpectStamp(sector, firstDataMember[row], row * U, "row first unit");
    ASSERT_TRUE(ReadVolumeParity(p, (2 * row + 1) * U * 512, sector, got));
    ExpectStamp(sector, secondDataMember[row], row * U, "row second unit");
  }
}

TEST_F(CompositeTest, ParityMultiUnitReadSkipsParityUnits) {
  PartitionRecord p = MakeVolume(kParityVolume, 3);
  const uint64_t rows = kMemberSectors / kStripe;
  const uint64_t dataSectors = rows * 2 * kStripe;
  std::vector<uint8_t> buf((dataSectors - 1) * 512);
  size_t got = 0;
  ASSERT_TRUE(ReadVolumeParity(p, 512, buf, got));
  ASSERT_EQ(got, buf.size());
  for (uint64_t v = 1; v < dataSectors; ++v) {
    uint64_t unit = v / kStripe, row = unit / 2;
    uint64_t parity = 2 - row % 3;
    uint64_t member = (parity + 1 + unit % 2) % 3;
    ExpectStamp(buf.data() + (v - 1) * 512, static_cast<uint32_t>(member), row * kStripe + v % kStripe,
                "volume sector " + std::to_string(v));
  }
}

TEST_F(CompositeTest, MissingMemberIsRebuiltFromParityAndSecondLossFails) {
  PartitionRecord p = MakeVolume(kParityVolume, 3);
  WriteParity(p);
  const size_t length = kMemberSectors / kStripe * 2 * kStripe * 512;
  std::vector<uint8_t> whole(length), degraded(length);
  size_t got = 0;
  ASSERT_TRUE(ReadVolumeParity(p, 0, whole, got));
  p.members[1].path.clear();
  ASSERT_TRUE(ReadVolumeParity(p, 0, degraded, got));
  EXPECT_EQ(got, length);
  EXPECT_EQ(whole, degraded);
  // A single-unit read that lands on the missing member (row 0, second unit).
  std::vector<uint8_t> unit(kStripe * 512);
  ASSERT_TRUE(ReadVolumeParity(p, kStripe * 512, unit, got));
  EXPECT_EQ(got, unit.size());
  EXPECT_EQ(std::memcmp(unit.data(), whole.data() + kStripe * 512, unit.size()), 0);

  p.members[2].path.clear();
  EXPECT_FALSE(ReadVolumeParity(p, kStripe * 512, unit, got));
}

TEST_F(CompositeTest, DegenerateVolumesFailWithoutDividingByZero) {
  uint8_t buf[512];
  size_t got = 99;
  PartitionRecord none;
  for (uint8_t kind : {kStripedVolume, kSpannedVolume, kParityVolume}) {
    none.volumeKind = kind;
    EXPECT_FALSE(ReadCompositeVolume(none, 0, buf, got)) << int(kind);
    EXPECT_EQ(got, 0u);
  }
  PartitionRecord single = MakeVolume(kParityVolume, 1);
  EXPECT_FALSE(ReadVolumeParity(single, 0, buf, got));
  PartitionRecord noStripe = MakeVolume(kStripedVolume, 2);
  noStripe.stripeSize = 0;
  EXPECT_FALSE(ReadVolumeStriped(noStripe, 0, buf, got));
  noStripe.volumeKind = kParityVolume;
  EXPECT_FALSE(ReadVolumeParity(noStripe, 0, buf, got));
}

TEST_F(CompositeTest, UnknownVolumeKindReadsNothing) {
  PartitionRecord p = MakeVolume(kStripedVolume, 2);
  p.volumeKind = 4;
  uint8_t buf[512];
  std::memset(buf, 0x55, sizeof buf);
  size_t got = 7;
  EXPECT_FALSE(ReadCompositeVolume(p, 0, buf, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(buf[0], 0);  // zero-filled, not stale
  std::string error;
  EXPECT_EQ(OpenVolumeSource(DiskRecord(), p, &error), nullptr);
  EXPECT_NE(error.find("layout"), std::string::npos) << error;
}

// A plain partition's stored sectors are absolute on its disk: its partition
// source is the disk itself, its volume source starts at its first sector.
TEST_F(CompositeTest, PlainPartitionSourcesCountSectorsFromDiskOrVolumeStart) {
  PartitionRecord volume = MakeVolume(kSpannedVolume, 1);
  DiskRecord disk;
  disk.devicePath = volume.members[0].path;
  PartitionRecord plain;
  plain.startSector = 3;
  plain.sectorCount = kMemberSectors;
  uint8_t buf[512];
  auto whole = OpenPartitionSource(disk, plain);
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->ReadAt((3 + 5) * 512, buf), 512u);
  ExpectStamp(buf, 0, 5, "partition source");
  auto window = OpenVolumeSource(disk, plain);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->ReadAt(5 * 512, buf), 512u);
  ExpectStamp(buf, 0, 5, "volume source");
}

}  // namespace
}  // namespace quorvel
