// Extent mode: carved files, each one contiguous stretch of sectors from the
// start sector its map key names.
#include "save/file_data.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

constexpr size_t kExtentBlock = 0xA00000;

bool SaveExtentTree(const SaveJob& job, SaveRun& run) {
  if (!job.extentRoot || !job.extentMap) return true;
  ScanProgress& progress = *job.progress;
  const std::string& nameFilter = job.options.nameFilter;
  const uint64_t startSector = job.extentStartSector;
  const uint64_t sectorCount = job.extentSectorCount;
  // Carved sectors are absolute on the disk (volume-relative on a composite
  // volume): the sectors the job's source counts in.
  const std::string folder = JoinTargetPath(job.options.targetFolder, SafeTargetName(job.extentRoot->name));
  const CarvedFileMap& map = *job.extentMap;
  for (auto it = map.lower_bound(startSector); it != map.end(); ++it) {
    const uint64_t key = it->first;
    const CarvedFile& carved = it->second;
    if (key - startSector >= sectorCount) break;  // past the range ends the folder
    if (progress.StopRequested()) {
      run.summary.stopped = true;
      return false;
    }
    if (!nameFilter.empty() && !MatchNameFilter(carved.name, nameFilter)) continue;
    TargetFile file;
    std::string path = JoinTargetPath(folder, SafeTargetName(carved.name));
    if (!CreateJobTarget(job, run, file, path)) {
      NoteFile(run, SaveNoteKind::kTargetNotCreated, path, file.lastError());
      continue;
    }
    // The file's own bytes: what follows it in its last sector belongs to
    // something else (an ID3v1 tag, for one, must be a file's last 128 bytes).
    const uint64_t length = carved.size;
    progress.Range(100, 1);
    FileDataTally tally;
    CopyResult copy =
        CopySourceRange(job, key, length, file, kExtentBlock, JobSourceEnd(job), tally, [&](uint64_t written) {
          ReportFileBytes(progress, run, written);
          if (length) progress.Pos(written * 100 / length);
        });
    if (copy.writeFailed) {
      FailWrite(run, file);
      continue;
    }
    if (copy.stopped) {
      DropStoppedFile(run, file);
      return false;
    }
    FinishFile(run, file, length, key, tally, SaveNoteKind::kSourceUnreadable);
  }
  return true;
}

}  // namespace quorvel
