// The save thread entries: one job, or a multi-select list of jobs, run with
// OperationBusy held and the progress closed at the end.
#include "core/operation_busy.h"
#include "save/name_repair.h"
#include "save/save_engines.h"

namespace quorvel {

static void RunSaveJob(SaveJob& job, SaveRun& run, ScanProgress& progress) {
  SectorDevice* device = job.device.get();
  if (job.partition) {
    if (job.engineMode == kClusterMode && job.fatRoot) {
      SaveTreeClusterMode(device, job.targetFolder, job.nameFilter, job.fatRoot, *job.partition, progress,
                          kNameReplacement, job.useFatReference, job.recoverDeleted, job.recoverNormal, run);
    } else if (job.engineMode == kRecordMode && job.ntfsRoot) {
      SaveTreeRecordMode(device, job.targetFolder, job.nameFilter, job.ntfsRoot, *job.partition, job.recordDecoding,
                         progress, run, job.recoverDeleted, job.recoverNormal);
    }
  }
  if (job.extentRoot && job.extentMap && !progress.StopRequested())
    SaveExtentTree(device, job.targetFolder, job.nameFilter, *job.extentRoot, *job.extentMap, job.extentStartSector,
                   job.extentSectorCount, job.partition, progress, run);
  if (progress.StopRequested()) run.summary.stopped = true;
}

int SaveThreadMain(SaveJob& job, SaveRun& run) {
  ScanProgress local;
  ScanProgress& progress = job.progress ? *job.progress : local;
  {
    OperationBusyGuard busy;
    RunSaveJob(job, run, progress);
  }
  progress.Close();
  return 0;
}

int MultiSelectSaveThreadMain(std::vector<SaveJob>& jobs, SaveRun& run) {
  run.multiSelect = true;
  ScanProgress local;
  ScanProgress* last = &local;
  {
    OperationBusyGuard busy;
    for (SaveJob& job : jobs) {
      ScanProgress& progress = job.progress ? *job.progress : local;
      last = &progress;
      if (progress.StopRequested()) {
        run.summary.stopped = true;
        break;
      }
      RunSaveJob(job, run, progress);
    }
  }
  last->Close();
  return 0;
}

}  // namespace quorvel
