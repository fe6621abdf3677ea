#pragma once
// The copy at the heart of imaging, in the order that rescues the most from
// a failing disk before it dies (the order GNU ddrescue's manual describes):
//  1. copying: the untried parts in clusters; a cluster that fails is marked
//     non-trimmed and the pass skips ahead (further after each failure in a
//     row, back to the start size after a good read), so everything easily
//     read comes first; a second pass the other way delimits what was
//     skipped, a last pass sweeps what is left;
//  2. trimming: each non-trimmed area sector by sector from its leading edge
//     to the first failure, then from its trailing edge to the first
//     failure; the middle becomes non-scraped;
//  3. scraping: the non-scraped areas sector by sector;
//  4. retrying (optional): the bad sectors again, one pass each way in turn.
// The state lives in a ddrescue mapfile, so a stopped rescue resumes where it
// was (and ddrescue can take it over, or hand it over). Every sector found
// bad is written as 512 bytes of 0x20, so each later sector keeps its place.
#include <cstdint>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "imaging/image_writer.h"
#include "imaging/mapfile.h"
#include "io/byte_source.h"

namespace quorvel {

constexpr uint64_t kImagingBlockBytes = 0x100000;  // the bar counts MiB
constexpr uint32_t kImagingSectorBytes = 512;
constexpr uint8_t kUnreadableFiller = 0x20;
constexpr uint64_t kDefaultClusterBytes = 0x10000;  // 64 KiB, as ddrescue's default

struct RescueOptions {
  uint64_t clusterBytes = kDefaultClusterBytes;  // reads of the copying phase (whole sectors)
  int retries = 0;                               // retry passes over the bad sectors
  bool reverse = false;                          // every pass in the other direction
};

// What to rescue: source bytes [sourceStart, sourceStart + length) land on
// the target from targetStart on. Whole sectors.
struct CopyPlan {
  uint64_t sourceStart = 0;
  uint64_t targetStart = 0;
  uint64_t length = 0;
  RescueOptions options;
};

enum class RescuePhase { kCopying, kTrimming, kScraping, kRetrying, kFinished };

// A running rescue as its status screen shows it.
struct RescueStatus {
  RescuePhase phase = RescuePhase::kCopying;
  int pass = 1;
  bool forwards = true;
  uint64_t position = 0;  // source byte being read
  uint64_t length = 0;    // of the whole range
  MapTally tally;         // of the whole range
  uint64_t readErrors = 0;
  double currentRate = 0;  // bytes read intact per second, over the last second or so
  double averageRate = 0;  // over this run
  double seconds = 0;      // since this run began
};

// Bad sectors kept as runs, so a dead stretch of disk costs one entry.
struct BadSectorRun {
  uint64_t first = 0;
  uint64_t count = 0;
};

// Reports of a running copy, made on the copying thread.
class CopyObserver {
 public:
  virtual ~CopyObserver() = default;
  // Source bytes [position, position + length) were read and written intact.
  virtual void Copied(uint64_t /*position*/, uint64_t /*length*/) {}
  // Source sector `sector` (position / 512) was found bad; filler was written.
  virtual void BadSector(uint64_t /*sector*/) {}
  // A few times a second, at each change of phase or pass, and at the end.
  virtual void Status(const RescueStatus& /*status*/) {}
};

// Keeps the mapfile on disk while the copy runs (imaging/mapfile_recorder.h).
class MapfileRecorder;

struct ImageCopyResult {
  uint64_t sectorsWritten = 0;  // in this run, filler included
  uint64_t sectorsCopied = 0;   // read intact in this run
  uint64_t readErrors = 0;      // failed reads in this run
  // The bad sectors of the range when the run ended (found now or before).
  uint64_t badSectorCount = 0;
  std::vector<BadSectorRun> badRuns;  // in sector order
  bool stopped = false;
  bool writeFailed = false;
  std::string writeError;
  bool mapfileFailed = false;  // a save of the mapfile failed (the copy went on)
  std::string mapfileError;

  bool Complete() const { return !stopped && !writeFailed; }
  // Every bad sector number, in order (for lists of modest size).
  std::vector<uint64_t> BadSectors() const;
};

// Runs the rescue of plan's range, resuming from what map says (an empty
// map: nothing done yet) and marking map as it goes; map's status line says
// where it stopped. The bar (progress) counts MiB of the range that are
// finished or known bad. The stop flag is honoured after each read. A failed
// write ends the copy. The target is flushed at the end (a flush error counts
// as a failed write); recorder, when given, saves the mapfile every few
// seconds and at the end, each time after the target was flushed.
ImageCopyResult CopyImage(const ByteSource& source, ImageWriter& target, const CopyPlan& plan, Mapfile& map,
                          ScanProgress& progress, CopyObserver* observer = nullptr,
                          MapfileRecorder* recorder = nullptr);

// The bad sectors map lists inside [start, start + length), as runs.
std::vector<BadSectorRun> BadRunsOf(const Mapfile& map, uint64_t start, uint64_t length);

}  // namespace quorvel
