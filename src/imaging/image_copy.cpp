#include "imaging/image_copy.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "imaging/direct_source.h"
#include "imaging/mapfile_recorder.h"

namespace quorvel {

std::vector<uint64_t> ImageCopyResult::BadSectors() const {
  std::vector<uint64_t> sectors;
  sectors.reserve(badSectorCount);
  for (const BadSectorRun& run : badRuns)
    for (uint64_t i = 0; i < run.count; ++i) sectors.push_back(run.first + i);
  return sectors;
}

std::vector<BadSectorRun> BadRunsOf(const Mapfile& map, uint64_t start, uint64_t length) {
  std::vector<BadSectorRun> runs;
  MapBlock b;
  for (uint64_t at = start; map.FindBlock(MapStatus::kBadSector, at, start, start + length, true, b); at = b.End()) {
    uint64_t first = b.position / kImagingSectorBytes;
    uint64_t end = (b.End() + kImagingSectorBytes - 1) / kImagingSectorBytes;
    if (!runs.empty() && runs.back().first + runs.back().count >= first) {
      runs.back().count = std::max(runs.back().first + runs.back().count, end) - runs.back().first;
      continue;
    }
    runs.push_back({first, end - first});
  }
  return runs;
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint64_t kSector = kImagingSectorBytes;

// How a copying pass goes on after a failed read.
enum class AfterFailure {
  kSkipAhead,      // leave the next stretch for later, longer after each failure in a row
  kLeaveTheBlock,  // leave the rest of this untried block for the sweep
  kGoOn,           // the sweep: read on
};

class Rescuer {
 public:
  Rescuer(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, Mapfile& map, ScanProgress& progress,
          CopyObserver* observer, MapfileRecorder* recorder)
      : source_(source),
        target_(target),
        plan_(plan),
        map_(map),
        progress_(progress),
        observer_(observer),
        recorder_(recorder),
        begin_(plan.sourceStart),
        end_(plan.sourceStart + plan.length) {
    uint64_t cluster = std::max<uint64_t>(kSector, plan.options.clusterBytes / kSector * kSector);
    cluster_ = std::min<uint64_t>(cluster, 64 * kImagingBlockBytes);
    // ddrescue's skip sizes: from 64 KiB (or 1/100,000 of the range) up to
    // 1 % of the range, in whole sectors.
    initialSkip_ = RoundUp(std::max<uint64_t>(0x10000, plan.length / 100000));
    maxSkip_ = std::max(initialSkip_, RoundUp(plan.length / 100));
    filler_.fill(kUnreadableFiller);
  }

  ImageCopyResult Run() {
    start_ = Clock::now();
    rateMark_ = start_;
    map_.Cover(end_);
    progress_.Range((plan_.length + kImagingBlockBytes - 1) / kImagingBlockBytes, 1);
    progress_.BytesPerUnit(kImagingBlockBytes);
    buffer_ = AllocateAligned(cluster_);
    if (!buffer_) {
      result_.writeFailed = true;
      result_.writeError = "out of memory";
      return result_;
    }
    FillKnownBadSectors();
    if (!Halted()) CopyPhase();
    if (!Halted()) TrimPhase();
    if (!Halted()) ScrapePhase();
    if (!Halted()) RetryPhase();
    if (!Halted()) {
      phase_ = RescuePhase::kFinished;
      map_.currentStatus = MapStatus::kFinished;
    }
    if (!result_.writeFailed && !target_.Flush()) {
      result_.writeFailed = true;
      result_.writeError = target_.LastError();
    }
    if (recorder_) SaveMap();
    Report(true);
    result_.badRuns = BadRunsOf(map_, begin_, plan_.length);
    for (const BadSectorRun& run : result_.badRuns) result_.badSectorCount += run.count;
    return result_;
  }

 private:
  static uint64_t RoundUp(uint64_t bytes) { return (bytes + kSector - 1) / kSector * kSector; }
  uint64_t TargetOf(uint64_t position) const { return plan_.targetStart + (position - begin_); }
  bool Halted() const { return result_.stopped || result_.writeFailed; }
  char StatusAt(uint64_t position) const { return map_.BlockAt(position).status; }

  // A block found in the map, widened to whole sectors of the range: a
  // mapfile written for another sector size may cut a sector.
  MapBlock Widen(MapBlock b) const {
    uint64_t from = begin_ + (b.position - begin_) / kSector * kSector;
    uint64_t to = std::min(end_, begin_ + RoundUp(b.End() - begin_));
    return {from, to - from, b.status};
  }

  bool Find(char status, uint64_t from, bool forwards, MapBlock& b) const {
    if (!map_.FindBlock(status, from, begin_, end_, forwards, b)) return false;
    b = Widen(b);
    return true;
  }

  void Enter(RescuePhase phase, int pass, bool forwards, char status) {
    phase_ = phase;
    pass_ = pass;
    forwards_ = forwards;
    map_.currentStatus = status;
    map_.currentPass = pass;
    Report(true);
  }

  // Sectors an earlier run (ours or ddrescue's) found bad hold the filler
  // in the finished image too.
  void FillKnownBadSectors() {
    MapBlock b;
    for (uint64_t at = begin_; !Halted() && Find(MapStatus::kBadSector, at, true, b); at = b.End())
      for (uint64_t p = b.position; p < b.End() && WriteFiller(p); p += kSector) {
      }
  }

  bool Write(std::span<const uint8_t> bytes, uint64_t position) {
    if (WriteBlock(target_, bytes, TargetOf(position))) return true;
    result_.writeFailed = true;
    result_.writeError = target_.LastError();
    return false;
  }

  bool WriteFiller(uint64_t position) {
    if (!Write(filler_, position)) return false;
    ++result_.sectorsWritten;
    return true;
  }

  // Reads [position, position + size) (whole sectors) in one request. What
  // arrived is written and marked finished; the rest is marked failStatus
  // (a bad sector also gets its filler). Returns the bytes read intact.
  uint64_t ReadSpan(uint64_t position, uint64_t size, char failStatus) {
    std::span<uint8_t> buffer(buffer_.get(), size);
    uint64_t got = source_.ReadAt(position, buffer) / kSector * kSector;
    if (got && Write(buffer.first(got), position)) {
      map_.Mark(position, got, MapStatus::kFinished);
      result_.sectorsCopied += got / kSector;
      result_.sectorsWritten += got / kSector;
      copiedBytes_ += got;
      if (observer_) observer_->Copied(position, got);
    }
    if (got < size && !result_.writeFailed) {
      ++result_.readErrors;
      if (failStatus == MapStatus::kBadSector) {
        // Only single sectors are read with this status. A sector is called
        // bad once its filler is written.
        bool known = StatusAt(position) == MapStatus::kBadSector;
        if (known || WriteFiller(position)) {
          map_.Mark(position, size, failStatus);
          if (!known && observer_) observer_->BadSector(position / kSector);
        }
      } else {
        map_.Mark(position + got, size - got, failStatus);
      }
    }
    AfterRead(position);
    return got;
  }

  bool ReadSector(uint64_t position) { return ReadSpan(position, kSector, MapStatus::kBadSector) == kSector; }

  void AfterRead(uint64_t position) {
    map_.currentPosition = position;
    if (progress_.StopRequested()) result_.stopped = true;
    if (recorder_ && recorder_->Due()) SaveMap();
    Report(false);
  }

  // The last save decides: a later good save mends an earlier failed one.
  void SaveMap() {
    result_.mapfileFailed = !recorder_->Save(map_);
    result_.mapfileError = recorder_->error();
  }

  void Report(bool now) {
    Clock::time_point t = Clock::now();
    if (t - rateMark_ >= std::chrono::seconds(1)) {
      currentRate_ =
          static_cast<double>(copiedBytes_ - rateBytes_) / std::chrono::duration<double>(t - rateMark_).count();
      rateMark_ = t;
      rateBytes_ = copiedBytes_;
    }
    if (!now && t - lastReport_ < std::chrono::milliseconds(250)) return;
    lastReport_ = t;
    RescueStatus status;
    status.phase = phase_;
    status.pass = pass_;
    status.forwards = forwards_;
    status.position = map_.currentPosition;
    status.length = plan_.length;
    status.tally = map_.Tally(begin_, plan_.length);
    status.readErrors = result_.readErrors;
    status.seconds = std::chrono::duration<double>(t - start_).count();
    status.currentRate = currentRate_;
    status.averageRate = status.seconds > 0 ? static_cast<double>(copiedBytes_) / status.seconds : 0;
    uint64_t resolved = status.tally.finished + status.tally.badSector;
    uint64_t blocks = (plan_.length + kImagingBlockBytes - 1) / kImagingBlockBytes;
    progress_.Pos(resolved >= plan_.length ? blocks : resolved / kImagingBlockBytes);
    if (observer_) observer_->Status(status);
  }

  // The copying phase: passes 1 (skipping ahead after failures), 2 (the
  // other way, leaving a block at its first failure) and 5 (the sweep).
  // ddrescue's passes 3 and 4 read areas skipped for being slow; this copy
  // skips none for that, so they never have work.
  void CopyPhase() {
    const bool forwards = !plan_.options.reverse;
    int first = 1;
    if (map_.currentStatus == MapStatus::kNonTried && map_.currentPass >= 2) first = map_.currentPass >= 3 ? 5 : 2;
    uint64_t resumeAt = forwards ? begin_ : end_;
    if (first == 1 && map_.currentStatus == MapStatus::kNonTried && map_.currentPosition > begin_ &&
        map_.currentPosition < end_)
      resumeAt = begin_ + (map_.currentPosition - begin_) / kSector * kSector;
    if (first <= 1) CopyPass(1, forwards, AfterFailure::kSkipAhead, resumeAt);
    if (first <= 2 && !Halted()) CopyPass(2, !forwards, AfterFailure::kLeaveTheBlock, forwards ? end_ : begin_);
    if (!Halted()) CopyPass(5, forwards, AfterFailure::kGoOn, forwards ? begin_ : end_);
  }

  // The cluster read next from `at` inside [low, high): clusters are aligned
  // to the start of the range, so reads stay aligned whatever was skipped.
  uint64_t ClusterSize(uint64_t at, uint64_t low, uint64_t high, bool forwards) const {
    uint64_t into = (at - begin_) % cluster_;
    if (forwards) return std::min(cluster_ - into, high - at);
    return std::min(into ? into : cluster_, at - low);
  }

  void CopyPass(int pass, bool forwards, AfterFailure after, uint64_t from) {
    MapBlock b;
    if (!Find(MapStatus::kNonTried, from, forwards, b)) return;
    Enter(RescuePhase::kCopying, pass, forwards, MapStatus::kNonTried);
    uint64_t skip = initialSkip_;
    uint64_t at = from;
    while (!Halted() && Find(MapStatus::kNonTried, at, forwards, b)) {
      uint64_t low = b.position, high = b.End();
      uint64_t pos = forwards ? low : high;
      at = forwards ? high : low;  // where the search goes on unless a failure says otherwise
      while (forwards ? pos < high : pos > low) {
        uint64_t size = ClusterSize(pos, low, high, forwards);
        uint64_t readAt = forwards ? pos : pos - size;
        bool good = ReadSpan(readAt, size, MapStatus::kNonTrimmed) == size;
        pos = forwards ? pos + size : pos - size;
        if (Halted()) return;
        if (good) {
          skip = initialSkip_;
          continue;
        }
        if (after == AfterFailure::kGoOn) continue;
        if (after == AfterFailure::kSkipAhead) {
          at = forwards ? std::min(end_, pos + skip) : (pos - begin_ > skip ? pos - skip : begin_);
          skip = std::min(skip * 2, maxSkip_);
        }
        break;
      }
    }
  }

  void TrimPhase() {
    const bool forwards = !plan_.options.reverse;
    MapBlock b;
    if (!Find(MapStatus::kNonTrimmed, forwards ? begin_ : end_, forwards, b)) return;
    Enter(RescuePhase::kTrimming, 1, forwards, MapStatus::kNonTrimmed);
    for (uint64_t at = forwards ? begin_ : end_; !Halted() && Find(MapStatus::kNonTrimmed, at, forwards, b);) {
      Trim(b);
      at = forwards ? b.End() : b.position;
    }
  }

  // Sector by sector from the leading (low) edge to its first failure, then
  // from the trailing edge back to its first failure; an edge next to a
  // known bad sector is trimmed already. What lies between the failures is
  // left for scraping. A reversed rescue takes the blocks in reverse order,
  // each still trimmed so.
  void Trim(const MapBlock& b) {
    uint64_t low = b.position, high = b.End();
    const bool lowDone = low > begin_ && StatusAt(low - 1) == MapStatus::kBadSector;
    const bool highDone = high < end_ && StatusAt(high) == MapStatus::kBadSector;
    while (!lowDone && low < high && !Halted()) {
      bool good = ReadSector(low);
      low += kSector;
      if (!good) break;
    }
    while (!highDone && high > low && !Halted()) {
      high -= kSector;
      if (!ReadSector(high)) break;
    }
    if (!Halted() && low < high) map_.Mark(low, high - low, MapStatus::kNonScraped);
  }

  // Every sector of each block of `status`, once: the blocks in the pass's
  // direction, the sectors inside each forwards unless sectorsBackwards.
  void SectorPass(char status, bool forwards, bool sectorsBackwards) {
    MapBlock b;
    for (uint64_t at = forwards ? begin_ : end_; !Halted() && Find(status, at, forwards, b);) {
      at = forwards ? b.End() : b.position;
      if (!sectorsBackwards) {
        for (uint64_t p = b.position; p < b.End() && !Halted(); p += kSector) ReadSector(p);
      } else {
        for (uint64_t p = b.End(); p > b.position && !Halted(); p -= kSector) ReadSector(p - kSector);
      }
    }
  }

  void ScrapePhase() {
    const bool forwards = !plan_.options.reverse;
    MapBlock b;
    if (!Find(MapStatus::kNonScraped, forwards ? begin_ : end_, forwards, b)) return;
    Enter(RescuePhase::kScraping, 1, forwards, MapStatus::kNonScraped);
    SectorPass(MapStatus::kNonScraped, forwards, false);
  }

  // Retry passes turn direction each time; a rescue stopped while retrying
  // goes on in the direction it had.
  void RetryPhase() {
    int pass = map_.currentStatus == MapStatus::kBadSector ? std::max(1, map_.currentPass) : 1;
    for (int i = 0; i < plan_.options.retries && !Halted(); ++i, ++pass) {
      const bool forwards = (pass % 2 == 1) != plan_.options.reverse;
      MapBlock b;
      if (!Find(MapStatus::kBadSector, forwards ? begin_ : end_, forwards, b)) return;
      Enter(RescuePhase::kRetrying, pass, forwards, MapStatus::kBadSector);
      SectorPass(MapStatus::kBadSector, forwards, !forwards);
    }
  }

  const ByteSource& source_;
  ImageWriter& target_;
  const CopyPlan& plan_;
  Mapfile& map_;
  ScanProgress& progress_;
  CopyObserver* observer_;
  MapfileRecorder* recorder_;
  const uint64_t begin_, end_;
  uint64_t cluster_ = kDefaultClusterBytes;
  uint64_t initialSkip_ = 0, maxSkip_ = 0;
  AlignedBuffer buffer_;
  std::array<uint8_t, kSector> filler_{};
  ImageCopyResult result_;

  RescuePhase phase_ = RescuePhase::kCopying;
  int pass_ = 1;
  bool forwards_ = true;
  uint64_t copiedBytes_ = 0, rateBytes_ = 0;
  double currentRate_ = 0;
  Clock::time_point start_, rateMark_, lastReport_;
};

}  // namespace

ImageCopyResult CopyImage(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, Mapfile& map,
                          ScanProgress& progress, CopyObserver* observer, MapfileRecorder* recorder) {
  return Rescuer(source, target, plan, map, progress, observer, recorder).Run();
}

}  // namespace quorvel
