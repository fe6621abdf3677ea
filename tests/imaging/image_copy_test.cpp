// The copy engine on sources with chosen unreadable sectors: block and
// sector-wise reads, filler, the bad-sector list, stopping and failed writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <set>

#include "core/recording_sink.h"
#include "imaging/image_copy.h"

using namespace quorvel;

namespace {

constexpr uint64_t kMiB = 0x100000;

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i / 512) * 7 + i * 13 + 1);
  return bytes;
}

// A disk whose listed sectors fail: a read touching one stops there, as
// pread stops at the first failing sector. Records every read.
class FaultySource : public ByteSource {
 public:
  FaultySource(std::vector<uint8_t> bytes, std::set<uint64_t> bad) : bytes_(std::move(bytes)), bad_(std::move(bad)) {}
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      reads.push_back({offset, buffer.size()});
    }
    if (onRead) onRead(offset, buffer.size());
    size_t done = 0;
    while (done < buffer.size() && offset + done < bytes_.size()) {
      if (bad_.count((offset + done) / 512)) break;
      size_t piece = std::min<size_t>(512 - (offset + done) % 512, buffer.size() - done);
      piece = std::min<size_t>(piece, bytes_.size() - (offset + done));
      std::memcpy(buffer.data() + done, bytes_.data() + offset + done, piece);
      done += piece;
    }
    return ZeroRest(buffer, done);
  }
  uint64_t Size() const override { return bytes_.size(); }

  mutable std::vector<std::pair<uint64_t, size_t>> reads;
  std::function<void(uint64_t, size_t)> onRead;

 private:
  std::vector<uint8_t> bytes_;
  std::set<uint64_t> bad_;
  mutable std::mutex mutex_;
};

// A target in memory that can refuse writes from a given byte on.
class MemoryTarget : public ImageWriter {
 public:
  explicit MemoryTarget(size_t size, uint8_t fill = 0xEE) : bytes(size, fill) {}
  bool WriteAt(uint64_t position, std::span<const uint8_t> data) override {
    if (position + data.size() > failFrom) {
      error_ = "No space left on device";
      return false;
    }
    if (position + data.size() > bytes.size()) bytes.resize(position + data.size(), 0xEE);
    std::memcpy(bytes.data() + position, data.data(), data.size());
    ++writes;
    return true;
  }
  bool Flush() override {
    ++flushes;
    if (failFlush) error_ = "Input/output error";
    return !failFlush;
  }
  std::string LastError() const override { return error_; }

  std::vector<uint8_t> bytes;
  uint64_t failFrom = UINT64_MAX;
  bool failFlush = false;
  int writes = 0, flushes = 0;

 private:
  std::string error_;
};

class Recorder : public CopyObserver {
 public:
  void Copied(uint64_t position, uint64_t length) override { copied.push_back({position, length}); }
  void BadSector(uint64_t sector) override { bad.push_back(sector); }
  void SectorsDone(uint64_t sectors) override { done = sectors; }
  std::vector<std::pair<uint64_t, uint64_t>> copied;
  std::vector<uint64_t> bad;
  uint64_t done = 0;
};

CopyPlan WholeRange(uint64_t length, uint64_t sourceStart = 0, uint64_t targetStart = 0) {
  CopyPlan plan;
  plan.sourceStart = sourceStart;
  plan.targetStart = targetStart;
  plan.areas.push_back({sourceStart, length});
  return plan;
}

// Every sector of target equals the source's, except the bad ones, which
// hold 512 bytes of 0x20.
void ExpectImage(const std::vector<uint8_t>& source, const std::vector<uint8_t>& target, const std::set<uint64_t>& bad,
                 uint64_t sourceStart = 0, uint64_t targetStart = 0, uint64_t length = UINT64_MAX) {
  if (length == UINT64_MAX) length = source.size() - sourceStart;
  ASSERT_GE(target.size(), targetStart + length);
  for (uint64_t s = 0; s < length / 512; ++s) {
    const uint8_t* got = target.data() + targetStart + s * 512;
    uint64_t sector = sourceStart / 512 + s;
    if (bad.count(sector)) {
      for (int i = 0; i < 512; ++i) ASSERT_EQ(got[i], 0x20) << "bad sector " << sector << " not filled";
    } else {
      ASSERT_EQ(0, std::memcmp(got, source.data() + sector * 512, 512)) << "sector " << sector << " differs";
    }
  }
}

struct CopyRun {
  ImageCopyResult result;
  RecordingSink sink;
  Recorder observer;
};

void Copy(FaultySource& source, MemoryTarget& target, const CopyPlan& plan, CopyRun& run,
          ScanProgress* progress = nullptr) {
  ScanProgress own;
  ScanProgress& p = progress ? *progress : own;
  p.sink = &run.sink;
  run.result = CopyImage(source, target, plan, p, &run.observer);
}

}  // namespace

// 3 MiB + 1024 bytes: three whole-block reads, then the 1024-byte remainder in
// one read; the bar counts the partial block too.
TEST(ImageCopy, ThreeBlocksAndRemainder) {
  const uint64_t size = 3 * kMiB + 1024;
  FaultySource source(Pattern(size), {});
  MemoryTarget target(0);
  CopyRun run;
  Copy(source, target, WholeRange(size), run);
  ASSERT_EQ(source.reads.size(), 4u);
  for (int b = 0; b < 3; ++b) EXPECT_EQ(source.reads[b], std::make_pair(b * kMiB, size_t{kMiB}));
  EXPECT_EQ(source.reads[3], std::make_pair(3 * kMiB, size_t{1024}));
  EXPECT_EQ(target.bytes, Pattern(size));
  EXPECT_TRUE(run.result.Complete());
  EXPECT_EQ(run.result.sectorsWritten, size / 512);
  EXPECT_EQ(run.result.sectorsCopied, size / 512);
  EXPECT_EQ(run.observer.done, size / 512);
  EXPECT_EQ(run.sink.upper(), 4u);
  EXPECT_EQ(run.sink.position(), 4u);
  EXPECT_GE(target.flushes, 1);  // done only once it is on the medium
}

// One bad sector: the block falls back to 2048 sector reads, one list entry,
// filler at its place, every other sector intact.
TEST(ImageCopy, OneBadSectorInABlock) {
  const uint64_t size = 2 * kMiB;
  std::vector<uint8_t> bytes = Pattern(size);
  FaultySource source(bytes, {2048 + 100});
  MemoryTarget target(0);
  CopyRun run;
  Copy(source, target, WholeRange(size), run);
  EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{2148});
  EXPECT_EQ(run.observer.bad, std::vector<uint64_t>{2148});
  EXPECT_EQ(run.result.sectorsCopied, size / 512 - 1);
  EXPECT_EQ(run.result.sectorsWritten, size / 512);
  ExpectImage(bytes, target.bytes, {2148});
  // Block 0 whole; block 1 attempted whole, which delivers the 100 sectors
  // before the bad one; then sector by sector from the bad one on.
  ASSERT_EQ(source.reads.size(), 2u + 2048u - 100);
  EXPECT_EQ(source.reads[1], std::make_pair(kMiB, size_t{kMiB}));
  EXPECT_EQ(source.reads[2], std::make_pair(kMiB + 100 * 512, size_t{512}));
  EXPECT_EQ(run.sink.position(), 2u);
}

// The places where a boundary mistake would lose or shift a sector: the first
// and last sector, a bad sector in the remainder, a whole bad MiB, and runs
// across a block boundary. The list must match the injected sectors exactly.
TEST(ImageCopy, BadSectorsAtTheEdges) {
  struct Case {
    const char* name;
    uint64_t size;
    std::set<uint64_t> bad;
  };
  std::set<uint64_t> wholeMiB;
  for (uint64_t s = 2048; s < 4096; ++s) wholeMiB.insert(s);
  const uint64_t odd = 3 * kMiB + 1024;
  const std::vector<Case> cases = {
      {"first and last sector", 2 * kMiB, {0, 4095}},
      {"in the remainder", odd, {3 * 2048 + 1}},
      {"last sector of the remainder", odd, {odd / 512 - 1}},
      {"a whole bad MiB", 3 * kMiB, wholeMiB},
      {"a run across a block boundary", 2 * kMiB, {2046, 2047, 2048, 2049}},
      {"smaller than a block", 4096, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = Pattern(c.size);
    FaultySource source(bytes, c.bad);
    MemoryTarget target(0);
    CopyRun run;
    Copy(source, target, WholeRange(c.size), run);
    EXPECT_TRUE(run.result.Complete());
    std::vector<uint64_t> expected(c.bad.begin(), c.bad.end());
    EXPECT_EQ(run.result.BadSectors(), expected);
    EXPECT_EQ(run.result.badSectorCount, c.bad.size());
    EXPECT_EQ(run.result.sectorsWritten, c.size / 512);
    EXPECT_EQ(target.bytes.size(), c.size);
    ExpectImage(bytes, target.bytes, c.bad);
  }
  // A dead stretch costs one run, not one entry per sector.
  std::vector<uint8_t> bytes = Pattern(3 * kMiB);
  FaultySource source(bytes, wholeMiB);
  MemoryTarget target(0);
  CopyRun run;
  Copy(source, target, WholeRange(3 * kMiB), run);
  ASSERT_EQ(run.result.badRuns.size(), 1u);
  EXPECT_EQ(run.result.badRuns[0].first, 2048u);
  EXPECT_EQ(run.result.badRuns[0].count, 2048u);
}

// A partition copied to a disk at another place: sector numbers in the list
// are the source's, and the target is written only inside its range.
TEST(ImageCopy, OffsetsOnBothSides) {
  const uint64_t diskSize = 4 * kMiB;
  std::vector<uint8_t> bytes = Pattern(diskSize);
  FaultySource source(bytes, {3000});
  MemoryTarget target(6 * kMiB);
  const uint64_t sourceStart = 2048 * 512 + 512 * 10, length = kMiB + 512 * 3, targetStart = 5 * 512;
  CopyRun run;
  Copy(source, target, WholeRange(length, sourceStart, targetStart), run);
  EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{3000});
  ExpectImage(bytes, target.bytes, {3000}, sourceStart, targetStart, length);
  for (uint64_t i = 0; i < targetStart; ++i) ASSERT_EQ(target.bytes[i], 0xEE);
  for (uint64_t i = targetStart + length; i < target.bytes.size(); ++i) ASSERT_EQ(target.bytes[i], 0xEE);
}

// Stop pressed while a block is read ends after that block; pressed during a
// sector-wise block, after the current sector. Nothing claims to be complete.
TEST(ImageCopy, StopEndsAfterTheCurrentBlockOrSector) {
  {
    SCOPED_TRACE("whole blocks");
    FaultySource source(Pattern(4 * kMiB), {});
    MemoryTarget target(0);
    ScanProgress progress;
    source.onRead = [&](uint64_t offset, size_t) {
      if (offset == kMiB) progress.RequestStop();
    };
    CopyRun run;
    Copy(source, target, WholeRange(4 * kMiB), run, &progress);
    EXPECT_TRUE(run.result.stopped);
    EXPECT_FALSE(run.result.Complete());
    EXPECT_EQ(run.result.sectorsWritten, 2u * 2048);  // the block being read when stop came is finished
    EXPECT_EQ(source.reads.size(), 2u);
  }
  {
    SCOPED_TRACE("sector by sector");
    FaultySource source(Pattern(4 * kMiB), {2048 + 5});
    MemoryTarget target(0);
    ScanProgress progress;
    source.onRead = [&](uint64_t offset, size_t size) {
      if (size == 512 && offset == (2048 + 10) * 512) progress.RequestStop();
    };
    CopyRun run;
    Copy(source, target, WholeRange(4 * kMiB), run, &progress);
    EXPECT_TRUE(run.result.stopped);
    EXPECT_EQ(run.result.sectorsWritten, 2048u + 11);  // up to and including sector 2058
    EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{2053});
    EXPECT_EQ(source.reads.back(), std::make_pair(uint64_t{(2048 + 10) * 512}, size_t{512}));
  }
}

// A target that stops taking bytes (a full disk) ends the copy: the failure
// is reported with its reason, nothing after it is written or reported copied.
TEST(ImageCopy, FailedWritesEndTheCopy) {
  {
    SCOPED_TRACE("block write");
    FaultySource source(Pattern(4 * kMiB), {});
    MemoryTarget target(0);
    target.failFrom = 2 * kMiB + 4096;
    CopyRun run;
    Copy(source, target, WholeRange(4 * kMiB), run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_FALSE(run.result.Complete());
    EXPECT_EQ(run.result.writeError, "No space left on device");
    EXPECT_EQ(run.result.sectorsWritten, 2u * 2048);
    EXPECT_EQ(source.reads.size(), 3u);
    ASSERT_EQ(run.observer.copied.size(), 2u);
  }
  {
    SCOPED_TRACE("sector write of a bad block");
    FaultySource source(Pattern(2 * kMiB), {10});
    MemoryTarget target(0);
    target.failFrom = 512 * 20;
    CopyRun run;
    Copy(source, target, WholeRange(2 * kMiB), run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_EQ(run.result.sectorsWritten, 20u);
    EXPECT_EQ(run.result.badSectorCount, 1u);
  }
  {
    SCOPED_TRACE("flush at the end");
    FaultySource source(Pattern(kMiB), {});
    MemoryTarget target(0);
    target.failFlush = true;
    CopyRun run;
    Copy(source, target, WholeRange(kMiB), run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_EQ(run.result.writeError, "Input/output error");
  }
}

// Resuming: only the given areas are read and written; the rest of the
// target keeps what it holds.
TEST(ImageCopy, CopiesOnlyTheGivenAreas) {
  std::vector<uint8_t> bytes = Pattern(3 * kMiB);
  FaultySource source(bytes, {2100});
  MemoryTarget target(3 * kMiB);
  CopyPlan plan = WholeRange(3 * kMiB);
  plan.areas = {{512 * 8, 512 * 4}, {2048 * 512, kMiB + 512}};
  CopyRun run;
  Copy(source, target, plan, run);
  EXPECT_TRUE(run.result.Complete());
  EXPECT_EQ(run.result.sectorsWritten, 4u + 2049);
  EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{2100});
  ExpectImage(bytes, target.bytes, {}, 512 * 8, 512 * 8, 512 * 4);
  ExpectImage(bytes, target.bytes, {2100}, 2048 * 512, 2048 * 512, kMiB + 512);
  for (uint64_t i = 0; i < 512 * 8; ++i) ASSERT_EQ(target.bytes[i], 0xEE);
  EXPECT_EQ(target.bytes[512 * 12], 0xEE);
  EXPECT_EQ(run.sink.upper(), 1u + 2);
}
