// Careful reads: what a failing disk or the end of a partition leaves of a
// block, and which stretches are missing.
#include <gtest/gtest.h>

#include "io/careful_read.h"
#include "support/faulty_source.h"

namespace quorvel {
namespace {

// Catches: a short read dropping every sector after the bad one, a read past
// the limit (the partition's end), gaps that do not say where the bytes are
// missing.
TEST(CarefulRead, BadSectorsAndTheLimitLeaveGapsOnly) {
  std::vector<uint8_t> bytes(32 * 512);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(1 + i / 512);
  const test::FaultySource source(std::make_shared<MemorySource>(bytes), {3, 7, 8});
  std::vector<uint8_t> buffer(16 * 512, 0xEE);
  std::vector<ReadGap> gaps;
  const CarefulReadResult r = ReadCarefully(source, 0, buffer, buffer.size(), 12 * 512, 512, &gaps);
  EXPECT_EQ(r.read, 9u * 512);  // sectors 0-2, 4-6, 9-11
  EXPECT_EQ(r.end, 12u * 512);
  ASSERT_EQ(gaps.size(), 3u);
  EXPECT_EQ(gaps[0].offset, 3u * 512);
  EXPECT_EQ(gaps[0].length, 512u);
  EXPECT_EQ(gaps[1].offset, 7u * 512);
  EXPECT_EQ(gaps[1].length, 1024u);  // two bad sectors in a row: one gap
  EXPECT_EQ(gaps[2].offset, 12u * 512);
  EXPECT_EQ(gaps[2].length, 4u * 512);  // past the limit
  for (size_t s = 0; s < 16; ++s) {
    const bool missing = s == 3 || s == 7 || s == 8 || s >= 12;
    EXPECT_EQ(buffer[s * 512], missing ? 0 : s + 1) << "sector " << s;
  }
  // Only the counted bytes count: the last sector's rest is not the file's.
  const CarefulReadResult part = ReadCarefully(source, 0, buffer, 2 * 512 + 100, UINT64_MAX, 512);
  EXPECT_EQ(part.read, 2u * 512 + 100);
  EXPECT_TRUE(part.Complete(2 * 512 + 100));
}

TEST(CarefulRead, PartitionLimitIsTheNearerEnd) {
  const MemorySource source(std::vector<uint8_t>(100 * 512));
  EXPECT_EQ(PartitionReadLimit(source, 10, 50, 512), 60u * 512);
  EXPECT_EQ(PartitionReadLimit(source, 10, 500, 512), 100u * 512);  // claims past the source's end
  EXPECT_EQ(PartitionReadLimit(source, 10, 0, 512), 100u * 512);    // size unknown
  EXPECT_EQ(PartitionReadLimit(source, 10, UINT64_MAX, 512), 100u * 512);
}

}  // namespace
}  // namespace quorvel
