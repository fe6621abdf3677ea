// The save thread entries: one job, or a multi-select list of jobs, run with
// OperationBusy held and the progress closed at the end.
#include "core/operation_busy.h"
#include "save/save_engines.h"

namespace quorvel {

namespace {

void RunSaveJob(const SaveJob& job, SaveRun& run) {
  ScanProgress& progress = *job.progress;
  if (job.partition && job.source) {
    if (job.engineMode == kClusterMode && job.fatRoot)
      SaveTreeClusterMode(job, *job.fatRoot, job.options.targetFolder, run);
    else if (job.engineMode == kRecordMode && job.ntfsRoot)
      SaveTreeRecordMode(job, *job.ntfsRoot, job.options.targetFolder, run);
    if (job.extentRoot && job.extentMap && !progress.StopRequested()) SaveExtentTree(job, run);
  }
  if (progress.StopRequested()) run.summary.stopped = true;
}

// The job with a progress block to report on: its own, else `local`.
SaveJob WithProgress(const SaveJob& job, ScanProgress& local) {
  SaveJob ready = job;
  if (!ready.progress) ready.progress = &local;
  return ready;
}

}  // namespace

int SaveThreadMain(SaveJob& job, SaveRun& run) {
  ScanProgress local;
  const SaveJob ready = WithProgress(job, local);
  {
    OperationBusyGuard busy;
    RunSaveJob(ready, run);
  }
  ready.progress->Close();
  return 0;
}

int MultiSelectSaveThreadMain(std::vector<SaveJob>& jobs, SaveRun& run) {
  run.multiSelect = true;
  ScanProgress local;
  ScanProgress* last = &local;
  {
    OperationBusyGuard busy;
    for (SaveJob& job : jobs) {
      const SaveJob ready = WithProgress(job, local);
      last = ready.progress;
      if (last->StopRequested()) {
        run.summary.stopped = true;
        break;
      }
      RunSaveJob(ready, run);
    }
  }
  last->Close();
  return 0;
}

}  // namespace quorvel
