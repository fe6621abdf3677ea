#include "imaging/imaging_job.h"

#include <sys/stat.h>

#include "imaging/direct_source.h"
#include "imaging/imaging_texts.h"
#include "imaging/mapfile_recorder.h"
#include "io/volume_source.h"

namespace quorvel {

namespace {

// The selection's sectors, ending at the device's end where a partition
// table claims more than the disk holds: sectors past the end are not bad,
// they do not exist.
uint64_t AvailableSectors(const ImagingSelection& selection) {
  uint64_t sectors = selection.Sectors();
  if (selection.Composite()) return sectors;
  std::unique_ptr<FileSource> device = FileSource::Open(selection.devicePath);
  if (!device || device->Size() == 0) return sectors;
  uint64_t end = device->Size() / kImagingSectorBytes;
  uint64_t first = selection.startByte / kImagingSectorBytes;
  return first >= end ? 0 : std::min(sectors, end - first);
}

ImagingRefusal Refuse(const char* text, std::string detail) { return ImagingRefusal{text, std::move(detail)}; }

}  // namespace

ImagingRefusal PlanImaging(const ImagingJob& job, ImagingPlan& plan) {
  plan = ImagingPlan();
  plan.source = job.source;
  if (job.source.storagePaths.empty()) return Refuse(kImagingOpenFailed, "the source has no device to read");
  const uint64_t available = AvailableSectors(job.source);
  if (job.startSector >= available)
    return Refuse(kImagingOutsideSource, "the source holds " + std::to_string(available) + " sectors; sector " +
                                             std::to_string(job.startSector) + " is past its end");
  uint64_t count = job.sectorCount ? job.sectorCount : available - job.startSector;
  if (count > available - job.startSector)
    return Refuse(kImagingOutsideSource, std::to_string(count) + " sectors from sector " +
                                             std::to_string(job.startSector) + " reach past the source's " +
                                             std::to_string(available) + " sectors");
  plan.sourcePosition = job.source.startByte + job.startSector * kImagingSectorBytes;
  plan.length = count * kImagingSectorBytes;
  plan.sourceFootprint = FootprintOfSources(job.source.storagePaths);

  StorageFootprint target;
  if (job.toDisk) {
    if (job.target.Composite())
      return Refuse(kImagingTargetComposite, "a volume spread over several disks cannot be written as one range");
    if (job.target.devicePath.empty()) return Refuse(kImagingTargetOpenFailed, "the target has no device");
    uint64_t room = job.target.Sectors();
    if (job.targetStartSector > room || count > room - job.targetStartSector)
      return Refuse(kImagingTargetTooSmall, "the target holds " + std::to_string(room) + " sectors; " +
                                                std::to_string(count) + " sectors from its sector " +
                                                std::to_string(job.targetStartSector) + " do not fit");
    plan.targetPath = job.target.devicePath;
    plan.targetPosition = job.target.startByte + job.targetStartSector * kImagingSectorBytes;
    plan.openMode = TargetOpenMode::kExistingDisk;
    target = FootprintOfPath(plan.targetPath);
  } else {
    if (job.filePath.empty()) return Refuse(kImagingNoFile, "no image file was given");
    struct stat st {};
    if (::stat(job.filePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
      return Refuse(kImagingNotAFile, job.filePath + " is not a regular file (a disk is written with --to-disk)");
    plan.targetPath = job.filePath;
    plan.openMode = job.keepTargetFile ? TargetOpenMode::kResumeFile : TargetOpenMode::kNewFile;
    target = FootprintOfPath(plan.targetPath);
  }
  if (WriteReachesSource(target, plan.sourceFootprint))
    return Refuse(kImagingTargetIsSource,
                  plan.targetPath + " lies on the source" +
                      (target.complete && plan.sourceFootprint.complete ? std::string()
                                                                        : std::string(" (or could not be examined)")));
  if (job.toDisk) {
    std::string mount = MountedOn(target);
    if (!mount.empty())
      return Refuse(kImagingTargetMounted, plan.targetPath + " holds the file system mounted on " + mount);
  }
  return ImagingRefusal();
}

std::unique_ptr<ByteSource> OpenImagingSource(const ImagingSelection& selection, std::string* error) {
  if (selection.Composite()) return OpenVolumeSource(*selection.disk, *selection.partition, error);
  struct stat st {};
  if (::stat(selection.devicePath.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) {
    if (auto direct = DirectSource::Open(selection.devicePath)) return direct;
  }
  return FileSource::Open(selection.devicePath, error);
}

std::unique_ptr<ImageWriter> OpenImagingTarget(const ImagingPlan& plan, std::string* error) {
  auto writer = FileImageWriter::Open(plan.targetPath, plan.openMode, error);
  if (!writer) return nullptr;
  struct stat st {};
  if (::fstat(writer->fd(), &st) != 0 || plan.sourceFootprint.Involves({st.st_dev, st.st_ino})) {
    if (error) *error = plan.targetPath + ": is the source";
    return nullptr;
  }
  return writer;
}

CopyPlan CopyPlanOf(const ImagingPlan& plan, const RescueOptions& options) {
  CopyPlan copy;
  copy.sourceStart = plan.sourcePosition;
  copy.targetStart = plan.targetPosition;
  copy.length = plan.length;
  copy.options = options;
  return copy;
}

ImagingOutcome::Status StatusOf(const ImageCopyResult& copy) {
  if (copy.writeFailed) return ImagingOutcome::Status::kWriteFailed;
  if (copy.mapfileFailed) return ImagingOutcome::Status::kMapfileFailed;
  if (copy.stopped) return ImagingOutcome::Status::kStopped;
  return ImagingOutcome::Status::kDone;
}

ImagingOutcome RunImaging(const ImagingPlan& plan, const ImagingRunOptions& options, Mapfile& map,
                          ScanProgress& progress, CopyObserver* observer) {
  ImagingOutcome outcome;
  std::unique_ptr<ByteSource> source = OpenImagingSource(plan.source, &outcome.error);
  if (!source) {
    outcome.status = ImagingOutcome::Status::kSourceOpenFailed;
    return outcome;
  }
  std::unique_ptr<ImageWriter> target = OpenImagingTarget(plan, &outcome.error);
  if (!target) {
    outcome.status = ImagingOutcome::Status::kTargetOpenFailed;
    return outcome;
  }
  std::unique_ptr<MapfileRecorder> recorder;
  if (!options.mapfilePath.empty()) {
    map.Cover(plan.sourcePosition + plan.length);
    recorder = std::make_unique<MapfileRecorder>(options.mapfilePath, options.heading, *target);
    if (!recorder->Save(map)) {
      outcome.status = ImagingOutcome::Status::kMapfileFailed;
      outcome.error = recorder->error();
      return outcome;
    }
  }
  outcome.copy = CopyImage(*source, *target, CopyPlanOf(plan, options.rescue), map, progress, observer, recorder.get());
  outcome.status = StatusOf(outcome.copy);
  if (outcome.copy.writeFailed)
    outcome.error = outcome.copy.writeError;
  else if (outcome.copy.mapfileFailed)
    outcome.error = outcome.copy.mapfileError;
  return outcome;
}

}  // namespace quorvel
