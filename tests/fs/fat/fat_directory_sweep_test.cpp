// The sweep over a partition's sectors: which sectors it records, at which
// absolute numbers, across block boundaries, and how it stops.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <chrono>
#include <random>

#include "core/recording_sink.h"
#include "fs/fat/fat_directory_crafting.h"
#include "fs/fat/fat_directory_sweep.h"
#include "support/faulty_source.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

constexpr uint64_t kBlock = kSweepBlockSectors;

// A sparse image file with chosen sectors written.
class SparseImage {
 public:
  explicit SparseImage(uint64_t sectors) {
    dir_ = MakeTempDir("sweep");
    path_ = dir_ + "/disk.img";
    fd_ = ::open(path_.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
    EXPECT_EQ(::ftruncate(fd_, static_cast<off_t>(sectors * 512)), 0);
  }
  ~SparseImage() {
    ::close(fd_);
    ::unlink(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  void Put(uint64_t sector, const Sector& data) {
    EXPECT_EQ(::pwrite(fd_, data.data(), 512, static_cast<off_t>(sector * 512)), 512);
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_, path_;
  int fd_ = -1;
};

Sector PlainDirectorySector(uint32_t cluster) {
  return MakeSector({ShortEntry("NOTES   TXT", 0x20, cluster, 10), ShortEntry("PICS       ", 0x10, cluster + 1, 0)});
}

Sector RandomSector(uint32_t seed) {
  std::mt19937 rng(seed);
  Sector s{};
  for (auto& b : s) b = static_cast<uint8_t>(rng());
  return s;
}

// Asks the sweep to stop when it announces the given block.
class StopAtBlockSink : public RecordingSink {
 public:
  StopAtBlockSink(ScanProgress& progress, uint64_t block) : progress_(progress), block_(block) {}
  void Pos(uint64_t position) override {
    RecordingSink::Pos(position);
    if (position == block_) progress_.RequestStop();
  }

 private:
  ScanProgress& progress_;
  uint64_t block_;
};

// Catches: relative instead of absolute sector numbers, sectors lost or
// shifted at block boundaries (the carried-over sector), the range end off by
// one, and the "."-sector rule being overruled by the general test.
TEST(FatDirectorySweep, RecordsDirectorySectorsAtTheirAbsoluteNumbers) {
  const uint64_t start = 2048;
  const uint64_t count = 2 * kBlock + 300;
  SparseImage image(start + count + 10);

  // A subfolder's first sector whose third entry would fail the general test.
  Entry broken = ShortEntry("BROKEN  BIN", 0x20, 0, 99);
  std::vector<uint64_t> expected = {
      start, start + kBlock - 1, start + kBlock, start + kBlock + 1, start + 2 * kBlock + 17, start + count};
  image.Put(start, SubfolderFirstSector(5, 0, {broken}));
  for (size_t i = 1; i < expected.size(); ++i)
    image.Put(expected[i], PlainDirectorySector(static_cast<uint32_t>(i * 10)));

  image.Put(start - 1, PlainDirectorySector(1));          // before the range
  image.Put(start + count + 1, PlainDirectorySector(2));  // after it
  Sector leadingZero = MakeSector({Entry{}, ShortEntry("HIDDEN  TXT", 0x20, 30, 4)});
  ASSERT_TRUE(IsFatDirectorySector(leadingZero));
  image.Put(start + 500, leadingZero);  // first byte 0: never recorded
  Sector dotNoDotDot = SubfolderFirstSector(6, 0, {});
  dotNoDotDot[33] = 'X';
  image.Put(start + 501, dotNoDotDot);  // "." without "..": not asked further
  for (uint32_t i = 0; i < 50; ++i) image.Put(start + 1000 + i, RandomSector(i));

  DiskRecord disk;
  disk.devicePath = image.path();
  disk.directorySectors.insert(7);  // kept from an earlier run
  RecordingSink sink;
  ScanProgress progress;
  progress.sink = &sink;
  ASSERT_TRUE(ScanDirectorySectors(disk, nullptr, progress, start, count));

  expected.insert(expected.begin(), 7);
  EXPECT_EQ(std::vector<uint64_t>(disk.directorySectors.begin(), disk.directorySectors.end()), expected);
  EXPECT_EQ(disk.extraFoundFiles.name, "Extra Found Files");
  EXPECT_EQ(sink.upper(), 2u);
  EXPECT_EQ(sink.position(), 2u);
  std::vector<std::string> texts = sink.texts();
  EXPECT_NE(std::find(texts.begin(), texts.end(), "20480 扇区被扫描"), texts.end());
  EXPECT_EQ(texts.back(), "40960 扇区被扫描");
}

// Catches: a sweep that ignores the stop flag (a huge range would take
// minutes) or throws away what it found before the stop.
TEST(FatDirectorySweep, StopAfterFirstBlockReturnsPromptlyAndKeepsFinds) {
  SparseImage image(3 * kBlock);
  image.Put(100, PlainDirectorySector(3));
  image.Put(kBlock + 100, PlainDirectorySector(4));  // in the block after the stop

  DiskRecord disk;
  disk.devicePath = image.path();
  ScanProgress progress;
  StopAtBlockSink sink(progress, 1);
  progress.sink = &sink;
  const uint64_t huge = uint64_t{1} << 36;  // far beyond the file: zeros forever
  auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(ScanDirectorySectors(disk, nullptr, progress, 0, huge));
  auto elapsed = std::chrono::steady_clock::now() - begin;
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  EXPECT_EQ(disk.directorySectors, (DirectorySectorSet{100}));
}

// Catches: composite volumes read through the disk's own device (or at
// absolute positions) instead of through the volume reader, which would lose
// every directory sector past the first member.
TEST(FatDirectorySweep, SpannedVolumeIsSweptAtVolumeRelativeSectors) {
  const uint64_t memberStart = 63;
  SparseImage first(memberStart + 15000), second(memberStart + 20000);
  PartitionRecord volume;
  volume.volumeKind = kSpannedVolume;
  volume.startSector = 0;
  volume.sectorCount = 35000;
  VolumeMember a, b;
  a.ordinal = 1;
  a.path = first.path();
  a.startSector = memberStart;
  a.sectorCount = 15000;
  b.ordinal = 2;
  b.path = second.path();
  b.startSector = memberStart;
  b.sectorCount = 20000;
  volume.members = {{1, a}, {2, b}};

  const std::vector<uint64_t> expected = {14999, 15000, kBlock - 1, kBlock, 34999};
  for (uint64_t sector : expected) {
    Sector data = PlainDirectorySector(static_cast<uint32_t>(sector));
    if (sector < 15000)
      first.Put(memberStart + sector, data);
    else
      second.Put(memberStart + sector - 15000, data);
  }
  DiskRecord disk;
  disk.devicePath = "/nonexistent/not-used-for-composite-volumes";
  ScanProgress progress;
  ASSERT_TRUE(ScanDirectorySectors(disk, &volume, progress, 0, volume.sectorCount - 1));
  EXPECT_EQ(std::vector<uint64_t>(disk.directorySectors.begin(), disk.directorySectors.end()), expected);
}

TEST(FatDirectorySweep, UnopenableDeviceRecordsNothing) {
  DiskRecord disk;
  disk.devicePath = "/nonexistent/quorvel/disk.img";
  ScanProgress progress;
  EXPECT_FALSE(ScanDirectorySectors(disk, nullptr, progress, 0, 1000));
  EXPECT_TRUE(disk.directorySectors.empty());
}

// Catches: a failing sector taking the rest of its 10 MiB block with it
// (directory sectors after it never recorded), and a range claimed past the
// source's end swept for ever as zeros.
TEST(FatDirectorySweep, FailingSectorCostsOnlyItselfAndTheSweepEndsWithTheSource) {
  std::vector<uint8_t> bytes(3000 * 512);
  auto put = [&](uint64_t sector, const Sector& data) {
    std::copy(data.begin(), data.end(), bytes.begin() + sector * 512);
  };
  put(10, PlainDirectorySector(3));
  put(11, PlainDirectorySector(5));  // on the failing sector
  put(12, PlainDirectorySector(7));
  put(2999, PlainDirectorySector(9));
  const FaultySource source(std::make_shared<MemorySource>(bytes), {11});
  DiskRecord disk;
  ScanProgress progress;
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(ScanDirectorySectors(source, disk, progress, 0, uint64_t{1} << 40));
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
  EXPECT_EQ(disk.directorySectors, (DirectorySectorSet{10, 12, 2999}));
}

}  // namespace
}  // namespace quorvel::test
