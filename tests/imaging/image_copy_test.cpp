// The rescue engine on sources with chosen unreadable sectors: the order of
// its reads (what ddrescue's manual describes), the filler and the list of
// bad sectors, stopping and resuming at any read, retries, and failed writes.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "core/recording_sink.h"
#include "imaging/image_copy.h"

using namespace quorvel;

namespace {

constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kCluster = 128;  // sectors of the default 64 KiB cluster

uint8_t PatternByte(uint64_t i) { return static_cast<uint8_t>((i / 512) * 7 + i * 13 + 1); }

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = PatternByte(i);
  return bytes;
}

struct Read {
  uint64_t sector, count;
  bool good;
  bool operator==(const Read& o) const { return sector == o.sector && count == o.count && good == o.good; }
};
std::ostream& operator<<(std::ostream& out, const Read& r) {
  return out << r.sector << "+" << r.count << (r.good ? "" : "!");
}

// A disk whose listed sectors fail. As a block device read directly (or a
// FUSE file) does, a request touching a bad sector fails whole; a source
// read through a cache (partialReads) delivers the sectors before it.
// Sectors listed in heals fail that many times, then read. Records every read.
class FaultySource : public ByteSource {
 public:
  FaultySource(uint64_t size, std::set<uint64_t> bad, bool partialReads = false)
      : size_(size), bad_(std::move(bad)), partial_(partialReads) {}
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override {
    if (onRead) onRead(offset, buffer.size());
    uint64_t first = offset / 512, count = buffer.size() / 512;
    size_t done = 0;
    bool good = true;
    for (uint64_t s = first; s < first + count && s * 512 < size_; ++s) {
      if (Fails(s)) {
        good = false;
        break;
      }
      done += 512;
    }
    reads.push_back({first, count, good});
    if (!good && !partial_) done = 0;
    for (size_t i = 0; i < done; ++i) buffer[i] = PatternByte(offset + i);
    return ZeroRest(buffer, done);
  }
  uint64_t Size() const override { return size_; }

  // How often each sector was asked for.
  std::map<uint64_t, int> Tries() const {
    std::map<uint64_t, int> tries;
    for (const Read& r : reads)
      for (uint64_t s = r.sector; s < r.sector + r.count; ++s) ++tries[s];
    return tries;
  }
  size_t FailedReads() const {
    size_t n = 0;
    for (const Read& r : reads) n += !r.good;
    return n;
  }

  mutable std::vector<Read> reads;
  mutable std::map<uint64_t, int> heals;
  std::function<void(uint64_t, size_t)> onRead;

 private:
  bool Fails(uint64_t sector) const {
    auto it = heals.find(sector);
    if (it != heals.end()) return it->second-- > 0;
    return bad_.count(sector) > 0;
  }
  uint64_t size_;
  std::set<uint64_t> bad_;
  bool partial_;
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
  int flushes = 0;

 private:
  std::string error_;
};

class Recorder : public CopyObserver {
 public:
  void BadSector(uint64_t sector) override { bad.push_back(sector); }
  void Status(const RescueStatus& s) override {
    if (phases.empty() || phases.back() != s.phase) phases.push_back(s.phase);
    last = s;
  }
  std::vector<uint64_t> bad;
  std::vector<RescuePhase> phases;
  RescueStatus last;
};

struct CopyRun {
  ImageCopyResult result;
  RecordingSink sink;
  Recorder observer;
};

CopyPlan Range(uint64_t length, uint64_t sourceStart = 0, uint64_t targetStart = 0, RescueOptions options = {}) {
  CopyPlan plan;
  plan.sourceStart = sourceStart;
  plan.targetStart = targetStart;
  plan.length = length;
  plan.options = options;
  return plan;
}

void Copy(const FaultySource& source, MemoryTarget& target, const CopyPlan& plan, Mapfile& map, CopyRun& run,
          ScanProgress* progress = nullptr) {
  ScanProgress own;
  ScanProgress& p = progress ? *progress : own;
  p.sink = &run.sink;
  run.result = CopyImage(source, target, plan, map, p, &run.observer);
}

// Every sector of target equals the source's, except the bad ones, which
// hold 512 bytes of 0x20.
void ExpectImage(const std::vector<uint8_t>& target, const std::set<uint64_t>& bad, uint64_t sourceStart,
                 uint64_t targetStart, uint64_t length) {
  ASSERT_GE(target.size(), targetStart + length);
  uint8_t want[512];
  for (uint64_t s = 0; s < length / 512; ++s) {
    const uint8_t* got = target.data() + targetStart + s * 512;
    uint64_t sector = sourceStart / 512 + s;
    const bool isBad = bad.count(sector) > 0;
    for (uint64_t i = 0; i < 512; ++i) want[i] = isBad ? 0x20 : PatternByte(sector * 512 + i);
    ASSERT_EQ(0, std::memcmp(got, want, 512)) << "sector " << sector << (isBad ? " (bad)" : "");
  }
}

std::vector<Read> Sectors(uint64_t first, uint64_t last, int step, std::set<uint64_t> bad = {}) {
  std::vector<Read> reads;
  for (uint64_t s = first;; s += step) {
    reads.push_back({s, 1, !bad.count(s)});
    if (s == last) break;
  }
  return reads;
}

void Append(std::vector<Read>& to, const std::vector<Read>& more) { to.insert(to.end(), more.begin(), more.end()); }

std::string BlocksText(const Mapfile& map) {
  std::string text;
  for (const MapBlock& b : map.Blocks())
    text += std::to_string(b.position) + "+" + std::to_string(b.size) + b.status + " ";
  return text;
}

}  // namespace

// One bad sector in 1 MiB: the cluster holding it fails and the pass skips
// the next cluster; the pass back reads that one; trimming reads the failed
// cluster sector by sector from its leading edge to the bad sector and from
// its trailing edge back to it. Two failing reads in all, the order GNU
// ddrescue's manual gives (and that ddrescue makes on the same source). A
// source that delivers the sectors before a failure leaves less to trim.
TEST(RescueOrder, OneBadSector) {
  const uint64_t bad = 300;  // in cluster 2 (sectors 256..383)
  for (bool partial : {false, true}) {
    SCOPED_TRACE(partial ? "partial reads" : "whole reads fail");
    FaultySource source(kMiB, {bad}, partial);
    MemoryTarget target(0);
    Mapfile map;
    CopyRun run;
    Copy(source, target, Range(kMiB), map, run);
    std::vector<Read> expected = {{0, kCluster, true}, {128, kCluster, true}, {256, kCluster, false}};
    for (uint64_t c = 4; c < 16; ++c) expected.push_back({c * kCluster, kCluster, true});
    expected.push_back({384, kCluster, true});  // the skipped cluster, on the way back
    if (!partial) Append(expected, Sectors(256, bad - 1, 1));
    Append(expected, Sectors(bad, bad, 1, {bad}));
    Append(expected, Sectors(383, bad + 1, -1));
    EXPECT_EQ(source.reads, expected);
    EXPECT_EQ(source.FailedReads(), 2u);
    EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{bad});
    EXPECT_EQ(run.observer.bad, std::vector<uint64_t>{bad});
    EXPECT_EQ(run.result.sectorsCopied, 2047u);
    EXPECT_EQ(run.result.readErrors, 2u);
    EXPECT_TRUE(run.result.Complete());
    ExpectImage(target.bytes, {bad}, 0, 0, kMiB);
    EXPECT_EQ(map.currentStatus, '+');
    EXPECT_EQ(run.observer.phases,
              (std::vector<RescuePhase>{RescuePhase::kCopying, RescuePhase::kTrimming, RescuePhase::kFinished}));
    EXPECT_EQ(run.observer.last.tally.finished, kMiB - 512);
    EXPECT_EQ(run.observer.last.tally.badAreas, 1u);
    EXPECT_EQ(run.sink.position(), run.sink.upper());
    EXPECT_GE(target.flushes, 1);  // done only once it is on the medium
  }
}

// --reverse runs every pass the other way: copying from the end, the skipped
// cluster read on the forward pass, the failed cluster still trimmed from its
// leading edge first.
TEST(RescueOrder, ReverseRunsThePassesTheOtherWay) {
  const uint64_t bad = 300;
  FaultySource source(kMiB, {bad});
  MemoryTarget target(0);
  Mapfile map;
  CopyRun run;
  RescueOptions options;
  options.reverse = true;
  Copy(source, target, Range(kMiB, 0, 0, options), map, run);
  std::vector<Read> expected;
  for (uint64_t c = 16; c-- > 3;) expected.push_back({c * kCluster, kCluster, true});
  expected.push_back({256, kCluster, false});
  expected.push_back({0, kCluster, true});    // skipped cluster 1, then 0
  expected.push_back({128, kCluster, true});  // the forward pass
  Append(expected, Sectors(256, bad, 1, {bad}));
  Append(expected, Sectors(383, bad + 1, -1));
  EXPECT_EQ(source.reads, expected);
  ExpectImage(target.bytes, {bad}, 0, 0, kMiB);
}

// A long bad stretch: in the first pass each failure in a row skips twice as
// far as the one before (up to 1 % of the range), and a good read brings the
// skip back to 64 KiB. What was skipped is read on the way back, then the
// stretch is trimmed, and its inside scraped sector by sector.
TEST(RescueOrder, SkipGrowsOnFailuresInARowAndShrinksAfterAGoodRead) {
  const uint64_t size = 16 * kMiB;
  std::set<uint64_t> bad;
  for (uint64_t s = 2048; s < 3548; ++s) bad.insert(s);
  bad.insert(20000);
  FaultySource source(size, bad);
  MemoryTarget target(0);
  Mapfile map;
  CopyRun run;
  Copy(source, target, Range(size), map, run);
  std::vector<Read> failed;
  for (const Read& r : source.reads)
    if (!r.good && r.count > 1) failed.push_back(r);
  // 64 KiB, 128 KiB, then 1 % of 16 MiB (328 sectors) as the skip; 20000
  // comes after good reads, so its skip is 64 KiB again.
  ASSERT_GE(failed.size(), 6u);
  EXPECT_EQ(failed[0], (Read{2048, 128, false}));
  EXPECT_EQ(failed[1], (Read{2048 + 256, 128, false}));
  EXPECT_EQ(failed[2], (Read{2304 + 128 + 256, 128, false}));
  EXPECT_EQ(failed[3], (Read{2688 + 128 + 328, 56, false}));
  EXPECT_EQ(failed[4], (Read{3144 + 56 + 328, 56, false}));
  EXPECT_EQ(failed[5], (Read{19968, 128, false}));
  auto after = std::find(source.reads.begin(), source.reads.end(), failed[5]);
  ASSERT_NE(after + 1, source.reads.end());
  EXPECT_EQ(after[1], (Read{19968 + 128 + 128, 128, true}));
  // Each sector is tried at most twice: in a cluster, then alone.
  for (const auto& [sector, tries] : source.Tries()) ASSERT_LE(tries, 2) << "sector " << sector;
  EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>(bad.begin(), bad.end()));
  EXPECT_EQ(run.result.badRuns.size(), 2u);
  EXPECT_EQ(run.observer.phases.back(), RescuePhase::kFinished);
  EXPECT_NE(std::find(run.observer.phases.begin(), run.observer.phases.end(), RescuePhase::kScraping),
            run.observer.phases.end());
  ExpectImage(target.bytes, bad, 0, 0, size);
}

// The places where a boundary mistake would lose or shift a sector: the first
// and last sector, a bad sector in the 1024-byte remainder, a whole bad MiB,
// runs across cluster boundaries, a range smaller than a cluster. The list
// must match the injected sectors exactly, each sector tried at most twice.
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
      {"a run across cluster boundaries", 2 * kMiB, {126, 127, 128, 129, 2046, 2047, 2048, 2049}},
      {"every other sector of a cluster", kMiB, {512, 514, 516, 518, 520}},
      {"smaller than a cluster", 4096, {3}},
  };
  for (const Case& c : cases) {
    for (bool partial : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (partial ? ", partial reads" : ""));
      FaultySource source(c.size, c.bad, partial);
      MemoryTarget target(0);
      Mapfile map;
      CopyRun run;
      Copy(source, target, Range(c.size), map, run);
      EXPECT_TRUE(run.result.Complete());
      EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>(c.bad.begin(), c.bad.end()));
      EXPECT_EQ(run.result.badSectorCount, c.bad.size());
      EXPECT_EQ(run.result.sectorsWritten, c.size / 512);
      EXPECT_EQ(target.bytes.size(), c.size);
      for (const auto& [sector, tries] : source.Tries()) ASSERT_LE(tries, 2) << "sector " << sector;
      ExpectImage(target.bytes, c.bad, 0, 0, c.size);
    }
  }
}

// A partition copied to a disk at another place: sector numbers in the list
// are the source's, the target is written only inside its range, and the
// source is read only inside the range.
TEST(ImageCopy, OffsetsOnBothSides) {
  FaultySource source(4 * kMiB, {3000});
  MemoryTarget target(6 * kMiB);
  const uint64_t sourceStart = 2048 * 512 + 512 * 10, length = kMiB + 512 * 3, targetStart = 5 * 512;
  Mapfile map;
  CopyRun run;
  Copy(source, target, Range(length, sourceStart, targetStart), map, run);
  EXPECT_EQ(run.result.BadSectors(), std::vector<uint64_t>{3000});
  ExpectImage(target.bytes, {3000}, sourceStart, targetStart, length);
  for (uint64_t i = 0; i < targetStart; ++i) ASSERT_EQ(target.bytes[i], 0xEE);
  for (uint64_t i = targetStart + length; i < target.bytes.size(); ++i) ASSERT_EQ(target.bytes[i], 0xEE);
  for (const Read& r : source.reads) {
    ASSERT_GE(r.sector * 512, sourceStart);
    ASSERT_LE((r.sector + r.count) * 512, sourceStart + length);
  }
  EXPECT_EQ(map.FinishedBytes(sourceStart, length), length - 512);
}

// A stop after any read leaves a map that resumes: the resumed run ends with
// the image and map of a run never stopped, never reads again what was
// finished, and the status line of the stopped map names the phase it was in.
TEST(ImageCopy, StopAndResumeAtAnyRead) {
  const uint64_t size = 2 * kMiB;
  const std::set<uint64_t> bad = {5, 700, 701, 702, 1500, 1501, 1502, 1503, 1504, 1505, 4000};
  FaultySource reference(size, bad);
  MemoryTarget referenceTarget(0);
  Mapfile referenceMap;
  CopyRun referenceRun;
  Copy(reference, referenceTarget, Range(size), referenceMap, referenceRun);
  const size_t total = reference.reads.size();
  std::set<char> phasesStoppedIn;
  for (size_t stopAfter :
       {size_t{1}, size_t{10}, size_t{29}, size_t{40}, size_t{100}, size_t{150}, total - 20, total - 1}) {
    SCOPED_TRACE("stopped after read " + std::to_string(stopAfter));
    FaultySource source(size, bad);
    MemoryTarget target(0);
    Mapfile map;
    ScanProgress progress;
    source.onRead = [&](uint64_t, size_t) {
      if (source.reads.size() + 1 == stopAfter) progress.RequestStop();
    };
    CopyRun first;
    Copy(source, target, Range(size), map, first, &progress);
    EXPECT_TRUE(first.result.stopped);
    EXPECT_FALSE(first.result.Complete());
    EXPECT_EQ(source.reads.size(), stopAfter);
    EXPECT_NE(map.currentStatus, '+');
    phasesStoppedIn.insert(map.currentStatus);
    Mapfile stopped = map;
    source.reads.clear();
    source.onRead = nullptr;
    CopyRun second;
    Copy(source, target, Range(size), map, second);
    EXPECT_TRUE(second.result.Complete());
    for (const Read& r : source.reads)
      for (uint64_t s = r.sector; s < r.sector + r.count; ++s)
        ASSERT_NE(stopped.BlockAt(s * 512).status, '+') << "finished sector " << s << " read again";
    EXPECT_EQ(BlocksText(map), BlocksText(referenceMap));
    EXPECT_EQ(target.bytes, referenceTarget.bytes);
    EXPECT_EQ(second.result.BadSectors(), std::vector<uint64_t>(bad.begin(), bad.end()));
  }
  EXPECT_EQ(phasesStoppedIn, (std::set<char>{'?', '*', '/'}));
}

// Retry passes read the bad sectors again, turning direction each pass; a
// sector that reads on a retry is copied and leaves the list. Without
// retries known bad sectors are left alone.
TEST(ImageCopy, RetriesTurnDirectionAndRescueSectorsThatRead) {
  const uint64_t size = kMiB;
  FaultySource source(size, {10, 20, 1000});
  source.heals[20] = 2;  // fails when trimmed and on the first retry
  MemoryTarget target(0);
  Mapfile map;
  CopyRun run;
  RescueOptions options;
  options.retries = 2;
  Copy(source, target, Range(size, 0, 0, options), map, run);
  std::vector<Read> retries(source.reads.end() - 6, source.reads.end());
  EXPECT_EQ(retries, (std::vector<Read>{{10, 1, false},
                                        {20, 1, false},
                                        {1000, 1, false},  // forwards
                                        {1000, 1, false},
                                        {20, 1, true},
                                        {10, 1, false}}));  // backwards
  EXPECT_EQ(run.result.BadSectors(), (std::vector<uint64_t>{10, 1000}));
  ExpectImage(target.bytes, {10, 1000}, 0, 0, size);
  EXPECT_EQ(map.currentStatus, '+');
  EXPECT_EQ(map.currentPass, 2);

  // The next run without retries reads nothing: everything is finished or bad.
  source.reads.clear();
  CopyRun again;
  Copy(source, target, Range(size), map, again);
  EXPECT_TRUE(source.reads.empty());
  EXPECT_EQ(again.result.BadSectors(), (std::vector<uint64_t>{10, 1000}));
}

// A map another tool wrote (ddrescue leaves bad sectors as they were on the
// target) gets the filler at its bad sectors, and its unfinished areas are
// taken up where they are: a non-trimmed area is trimmed, not read whole.
TEST(ImageCopy, TakesOverAnotherToolsMap) {
  const uint64_t size = kMiB;
  FaultySource source(size, {100, 300, 301});
  MemoryTarget target(size, 0x00);
  Mapfile map;
  map.Mark(0, 256 * 512, '+');
  map.Mark(100 * 512, 512, '-');
  map.Mark(256 * 512, 128 * 512, '*');
  map.Cover(size);
  map.currentStatus = '?';
  map.currentPass = 2;  // the first pass was over
  for (uint64_t s = 0; s < 256; ++s)
    if (s != 100) std::memcpy(&target.bytes[s * 512], Pattern(size).data() + s * 512, 512);
  CopyRun run;
  Copy(source, target, Range(size), map, run);
  ASSERT_FALSE(source.reads.empty());
  // Pass 2 runs backwards over what was never tried, then the trimming.
  EXPECT_EQ(source.reads.front(), (Read{1920, 128, true}));
  for (const Read& r : source.reads) {
    ASSERT_GE(r.sector, 256u) << "a finished or bad sector was read again";
    if (r.sector < 384) {
      ASSERT_EQ(r.count, 1u) << "the non-trimmed area was read whole";
    }
  }
  EXPECT_EQ(run.result.BadSectors(), (std::vector<uint64_t>{100, 300, 301}));
  ExpectImage(target.bytes, {100, 300, 301}, 0, 0, size);
}

// A target that stops taking bytes (a full disk) ends the copy with the
// reason; nothing after it is written, and the map calls finished only what
// was written.
TEST(ImageCopy, FailedWritesEndTheCopy) {
  {
    SCOPED_TRACE("cluster write");
    FaultySource source(4 * kMiB, {});
    MemoryTarget target(0);
    target.failFrom = 2 * kMiB + 4096;
    Mapfile map;
    CopyRun run;
    Copy(source, target, Range(4 * kMiB), map, run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_FALSE(run.result.Complete());
    EXPECT_EQ(run.result.writeError, "No space left on device");
    EXPECT_EQ(run.result.sectorsWritten, 2u * 2048);
    EXPECT_EQ(source.reads.size(), 33u);
    EXPECT_EQ(map.FinishedBytes(0, 4 * kMiB), 2 * kMiB);
  }
  {
    SCOPED_TRACE("filler write");
    FaultySource source(kMiB, {2040});
    MemoryTarget target(0);
    target.failFrom = 512 * 2040;
    Mapfile map;
    CopyRun run;
    Copy(source, target, Range(kMiB), map, run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_EQ(source.reads.back(), (Read{2040, 1, false}));
    EXPECT_EQ(map.BlockAt(2040 * 512).status, '*');  // not called bad before its filler is written
    EXPECT_TRUE(run.observer.bad.empty());
  }
  {
    SCOPED_TRACE("flush at the end");
    FaultySource source(kMiB, {});
    MemoryTarget target(0);
    target.failFlush = true;
    Mapfile map;
    CopyRun run;
    Copy(source, target, Range(kMiB), map, run);
    EXPECT_TRUE(run.result.writeFailed);
    EXPECT_EQ(run.result.writeError, "Input/output error");
  }
}
