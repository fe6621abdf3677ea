// The stateless sources: what is read, what is refused, and that nothing
// outside a window or a member's extent is ever returned.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fstream>
#include <numeric>

#include "io/composite_source.h"
#include "volumes/disk_crafting.h"

namespace quorvel {
namespace {

std::vector<uint8_t> Counting(size_t n, uint8_t first = 0) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(FileSource, RefusesFoldersAndFifosWithoutBlocking) {
  std::string dir = test::TestDir("byte_source");
  std::string error;
  EXPECT_EQ(FileSource::Open(dir, &error), nullptr);
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  std::string fifo = dir + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(FileSource::Open(fifo, &error), nullptr);  // would block for ever if opened blindly
  EXPECT_NE(error.find("FIFO"), std::string::npos) << error;
  EXPECT_EQ(FileSource::Open(dir + "/missing", &error), nullptr);
}

TEST(FileSource, ShortReadAtTheEndIsCountedAndZeroFilled) {
  std::string path = test::TestDir("byte_source") + "/three.img";
  std::ofstream(path, std::ios::binary) << "abc";
  auto source = FileSource::Open(path);
  ASSERT_TRUE(source);
  EXPECT_EQ(source->Size(), 3u);
  std::vector<uint8_t> buf(8, 0xEE);
  EXPECT_EQ(source->ReadAt(1, buf), 2u);
  EXPECT_EQ(buf, (std::vector<uint8_t>{'b', 'c', 0, 0, 0, 0, 0, 0}));
}

TEST(SliceSource, NeverReadsOutsideItsWindow) {
  auto disk = std::make_shared<MemorySource>(Counting(100));
  SliceSource part(disk, 10, 20);
  std::vector<uint8_t> buf(8, 0xEE);
  EXPECT_EQ(part.ReadAt(16, buf), 4u);  // bytes 26..29 of the disk, then the window ends
  EXPECT_EQ(buf, (std::vector<uint8_t>{26, 27, 28, 29, 0, 0, 0, 0}));
  EXPECT_EQ(part.ReadAt(20, buf), 0u);
  EXPECT_EQ(part.ReadAt(UINT64_MAX, buf), 0u);
}

// Three members of 4 sectors with 1-sector units; each member's bytes are
// its own counting pattern so every unit's origin shows.
std::vector<CompositeMember> Members(std::vector<SharedSource>& disks) {
  std::vector<CompositeMember> members;
  for (int m = 0; m < 3; ++m) {
    disks.push_back(std::make_shared<MemorySource>(Counting(6 * 512, static_cast<uint8_t>(m * 64))));
    members.push_back({disks.back(), 1, 4});  // extent: sectors 1..4 of the member disk
  }
  return members;
}

TEST(CompositeSource, ParityVolumeReadsTheSameWithAnyMemberMissing) {
  std::vector<SharedSource> disks;
  auto members = Members(disks);
  // Make every row's parity unit the XOR of its data units.
  std::vector<std::vector<uint8_t>> bytes;
  for (auto& d : disks) bytes.push_back(static_cast<const MemorySource&>(*d).bytes());
  for (size_t row = 0; row < 4; ++row) {
    size_t parity = 2 - row % 3;
    for (size_t k = 0; k < 512; ++k) {
      uint8_t x = 0;
      for (size_t m = 0; m < 3; ++m)
        if (m != parity) x ^= bytes[m][(1 + row) * 512 + k];
      bytes[parity][(1 + row) * 512 + k] = x;
    }
  }
  for (size_t m = 0; m < 3; ++m) members[m].source = std::make_shared<MemorySource>(bytes[m]);
  CompositeSource whole(CompositeLayout::kParity, members, 1);
  EXPECT_EQ(whole.Size(), 2u * 4 * 512);
  std::vector<uint8_t> healthy(whole.Size());
  ASSERT_EQ(whole.ReadAt(0, healthy), healthy.size());
  for (size_t missing = 0; missing < 3; ++missing) {
    auto degraded = members;
    degraded[missing].source = nullptr;
    CompositeSource volume(CompositeLayout::kParity, degraded, 1);
    std::vector<uint8_t> got(volume.Size());
    ASSERT_EQ(volume.ReadAt(0, got), got.size()) << missing;
    EXPECT_EQ(got, healthy) << missing;
  }
  // Two missing members: nothing can be rebuilt, and it says so.
  auto broken = members;
  broken[0].source = broken[1].source = nullptr;
  std::vector<uint8_t> got(1024);
  EXPECT_LT(CompositeSource(CompositeLayout::kParity, broken, 1).ReadAt(0, got), got.size());
}

TEST(CompositeSource, ReadsStopAtTheMembersExtents) {
  std::vector<SharedSource> disks;
  CompositeSource spanned(CompositeLayout::kSpanned, Members(disks), 0);
  EXPECT_EQ(spanned.Size(), 12u * 512);
  std::vector<uint8_t> buf(1024);
  // The last sector of member 0's extent, then the first of member 1's.
  ASSERT_EQ(spanned.ReadAt(3 * 512, buf), buf.size());
  EXPECT_EQ(buf[0], static_cast<uint8_t>(4 * 512));
  EXPECT_EQ(buf[512], static_cast<uint8_t>(64 + 512));
  EXPECT_EQ(spanned.ReadAt(11 * 512, buf), 512u);  // the volume ends; the member disk's sector 5 is not read
  EXPECT_EQ(buf[512], 0);
}

}  // namespace
}  // namespace quorvel
