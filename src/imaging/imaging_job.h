#pragma once
// One imaging run from the user's choices to the finished copy: the checks
// made before anything is opened for writing, opening the source (read-only)
// and the target, and the copy itself. The dialog and the command line both
// run it; they only differ in how they ask and what they show.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imaging/image_copy.h"
#include "imaging/image_writer.h"
#include "imaging/imaging_target.h"
#include "platform/storage_footprint.h"

namespace quorvel {

struct ImagingJob {
  ImagingSelection source;
  uint64_t startSector = 0;  // inside the source selection
  uint64_t sectorCount = 0;  // 0: to the end of the selection
  bool toDisk = false;
  ImagingSelection target;         // a disk or partition (toDisk)
  uint64_t targetStartSector = 0;  // inside the target selection
  std::string filePath;            // the image file (!toDisk)
  bool keepTargetFile = false;     // resuming: the image file is not emptied first
};

// A job that passed the checks, in byte positions.
struct ImagingPlan {
  ImagingSelection source;
  uint64_t sourcePosition = 0;  // on the source's device (or volume)
  uint64_t targetPosition = 0;
  uint64_t length = 0;  // whole sectors
  std::string targetPath;
  TargetOpenMode openMode = TargetOpenMode::kNewFile;
  StorageFootprint sourceFootprint;

  uint64_t Sectors() const { return length / kImagingSectorBytes; }
  uint64_t FirstSector() const { return sourcePosition / kImagingSectorBytes; }
};

struct ImagingRefusal {
  const char* text = nullptr;  // one of the kImaging... texts; null: no refusal
  std::string detail;          // what exactly was wrong, for the command line
  explicit operator bool() const { return text != nullptr; }
};

// Checks a job without opening anything for writing: a source range inside
// the selection, a target that is a plain file or a plain disk or partition
// large enough for the range, nowhere on the source, and (a disk) with
// nothing mounted from it.
ImagingRefusal PlanImaging(const ImagingJob& job, ImagingPlan& plan);

// Opens the selection's bytes read-only: a block device past the page cache
// where it allows that, a volume spread over disks through its members.
std::unique_ptr<ByteSource> OpenImagingSource(const ImagingSelection& selection, std::string* error);
// Opens the plan's target for writing, and checks once more on the opened
// file that it is not one of the source's files.
std::unique_ptr<ImageWriter> OpenImagingTarget(const ImagingPlan& plan, std::string* error);
// The copy plan of a checked job.
CopyPlan CopyPlanOf(const ImagingPlan& plan, const RescueOptions& options = RescueOptions());

// What a run needs beyond its plan.
struct ImagingRunOptions {
  RescueOptions rescue;
  std::string mapfilePath;           // empty: the rescue's map is kept in memory only
  std::vector<std::string> heading;  // comment lines of the mapfile (command line, start time)
};

struct ImagingOutcome {
  enum class Status { kDone, kStopped, kSourceOpenFailed, kTargetOpenFailed, kWriteFailed, kMapfileFailed };
  Status status = Status::kDone;
  std::string error;  // why opening or writing failed
  ImageCopyResult copy;
};

// The imaging thread's work: open the source, then the target, write the
// mapfile once before the copy starts (so a run that cannot keep it does not
// copy for hours first), then rescue. map holds what a mapfile being resumed
// says (empty for a new run) and ends as the mapfile written last.
ImagingOutcome RunImaging(const ImagingPlan& plan, const ImagingRunOptions& options, Mapfile& map,
                          ScanProgress& progress, CopyObserver* observer = nullptr);
// The status of a finished copy.
ImagingOutcome::Status StatusOf(const ImageCopyResult& copy);

}  // namespace quorvel
