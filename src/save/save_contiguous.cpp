// Record mode without record decoding: the entry's record-number field holds
// the absolute start sector of its data.
#include "save/file_data.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

// Block size of start-sector copies.
constexpr size_t kStartSectorBlock = 0x200000;

bool SaveContiguous(const SaveJob& job, const NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run) {
  ScanProgress& progress = *job.progress;
  TargetFile file;
  std::string path = JoinTargetPath(targetFolder, SafeTargetName(entry.name));
  if (!CreateJobTarget(job, run, file, path)) {
    NoteFile(run, SaveNoteKind::kTargetNotCreated, path, file.lastError());
    return false;
  }
  uint64_t size = entry.size;  // 64-bit throughout: files of 2 GiB and more copy whole
  bool large = size > kStartSectorBlock;
  if (large)
    progress.Range(size, 0);
  else
    progress.Range(1, 1);
  FileDataTally tally;
  CopyResult copy = CopySourceRange(job, entry.recordNumber, size, file, kStartSectorBlock, JobSourceEnd(job), tally,
                                    [&](uint64_t written) {
                                      progress.SetText(SavedTotalText(run.runningTotal));
                                      if (large) progress.Pos(written);
                                    });
  if (!large) progress.Step();
  if (copy.writeFailed) {
    FailWrite(run, file);
    return true;
  }
  if (copy.stopped) {
    DropStoppedFile(run, file);
    return false;
  }
  FinishFile(run, file, size, entry.recordNumber, tally, SaveNoteKind::kRunsEndBeforeSize);
  return true;
}

}  // namespace quorvel
