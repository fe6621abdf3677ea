// Composite reads against member disks written by Windows Server 2008 R2
// (striped and RAID-5 NTFS volumes). The extents are those the dynamic-disk
// database gives: the first member's extent begins 128 sectors into its disk,
// the others' 65664 sectors in, 32768 sectors each, 64 KiB stripe units.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs/fs_recognition.h"
#include "io/sector_device.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using namespace quorvel::test;

PartitionRecord WindowsVolume(uint8_t kind, const std::vector<std::string>& files) {
  PartitionRecord p;
  p.volumeKind = kind;
  p.stripeSize = 128;
  for (size_t i = 0; i < files.size(); ++i) {
    VolumeMember m;
    m.ordinal = static_cast<uint8_t>(i);
    m.path = FixturePath("ldm/" + files[i]);
    m.startSector = i == 0 ? 128 : 65664;
    m.sectorCount = 32768;
    p.members[m.ordinal] = m;
  }
  return p;
}

// The NTFS volume reads as Windows wrote it: boot sector at 0, its backup in
// the last sector, and 64 MFT records (crossing stripe units) that all pass
// the update-sequence check. A misplaced unit breaks at least one of these.
void ExpectIntactNtfs(const PartitionRecord& volume, const std::string& what) {
  uint8_t boot[512], backup[512];
  size_t got = 0;
  ASSERT_TRUE(ReadCompositeVolume(volume, 0, boot, got)) << what;
  ASSERT_TRUE(IsNtfsBootSector(boot)) << what;
  uint64_t total = ByteView(boot).Le64(0x28);
  ASSERT_TRUE(ReadCompositeVolume(volume, total * 512, backup, got)) << what;
  EXPECT_EQ(std::memcmp(boot, backup, 512), 0) << what;

  uint64_t mftSector = (boot[0x30] | boot[0x31] << 8 | boot[0x32] << 16) * uint64_t{boot[0x0D]};
  std::vector<uint8_t> records(64 * 1024);
  ASSERT_TRUE(ReadCompositeVolume(volume, mftSector * 512, records, got)) << what;
  EXPECT_EQ(got, records.size());
  int fixed = 0;
  for (size_t r = 0; r < 64; ++r) fixed += FixUpFileRecord(std::span<uint8_t>(records).subspan(r * 1024, 1024));
  EXPECT_EQ(fixed, 64) << what;
}

bool HaveWindowsMembers() { return HaveFixture("ldm/ldm-2008r2-raid5-3.img"); }

TEST(WindowsVolumes, StripedNtfsReadsIntact) {
  if (!HaveWindowsMembers()) GTEST_SKIP() << "shared dynamic-disk images not available";
  ExpectIntactNtfs(WindowsVolume(kStripedVolume, {"ldm-2008r2-striped-1.img", "ldm-2008r2-striped-2.img"}), "striped");
}

TEST(WindowsVolumes, Raid5ReadsIntactWithAnyOneMemberMissing) {
  if (!HaveWindowsMembers()) GTEST_SKIP() << "shared dynamic-disk images not available";
  std::vector<std::string> files = {"ldm-2008r2-raid5-1.img", "ldm-2008r2-raid5-2.img", "ldm-2008r2-raid5-3.img"};
  PartitionRecord whole = WindowsVolume(kParityVolume, files);
  ExpectIntactNtfs(whole, "all members");
  std::vector<uint8_t> healthy(2 * 1024 * 1024), degraded(healthy.size());
  size_t got = 0;
  ASSERT_TRUE(ReadVolumeParity(whole, 0, healthy, got));
  for (uint8_t missing = 0; missing < 3; ++missing) {
    PartitionRecord volume = whole;
    volume.members[missing].path.clear();
    ExpectIntactNtfs(volume, "member " + std::to_string(missing) + " missing");
    ASSERT_TRUE(ReadVolumeParity(volume, 0, degraded, got));
    EXPECT_EQ(healthy, degraded) << "member " << int(missing) << " missing";
  }
}

}  // namespace
}  // namespace quorvel
