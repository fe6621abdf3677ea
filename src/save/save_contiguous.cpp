// Record mode without record decoding: the entry's record-number field holds
// the absolute start sector of its data.
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
  if (!CreateTargetFile(file, path)) {
    NoteFile(run, SaveNoteKind::kTargetNotCreated, path);
    return false;
  }
  uint64_t size = entry.size;  // 64-bit throughout: files of 2 GiB and more copy whole
  bool large = size > kStartSectorBlock;
  if (large)
    progress.Range(size, 0);
  else
    progress.Range(1, 1);
  CopyResult copy = CopySourceRange(job, entry.recordNumber, size, file, kStartSectorBlock, [&](uint64_t written) {
    progress.SetText(SavedTotalText(run.runningTotal));
    if (large) progress.Pos(written);
  });
  if (!large) progress.Step();
  if (copy.writeFailed) {
    NoteFile(run, SaveNoteKind::kWriteFailed, file.path());
    return true;
  }
  CountSavedFile(run, copy.written, size);
  if (copy.stopped) {
    run.summary.stopped = true;
    return false;
  }
  return true;
}

}  // namespace quorvel
