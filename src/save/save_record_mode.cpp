// Record mode: NTFS trees, each file's data found again from its MFT record.
#include <algorithm>
#include <cerrno>
#include <vector>

#include "fs/ntfs/mft_record.h"
#include "save/file_copy_crew.h"
#include "save/file_data.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

bool SaveTreeRecordMode(const SaveJob& job, NtfsFileEntry& top, const std::string& targetFolder, SaveRun& run) {
  ScanProgress& progress = *job.progress;
  const SaveOptions& options = job.options;
  WalkPath folders(targetFolder);
  FileCopyCrew crew(job, run);
  bool result = true;
  VisitTree(top, [&](NtfsFileEntry& entry, size_t depth) {
    if (progress.StopRequested()) {
      run.summary.stopped = true;
      result = false;
      return false;
    }
    run.runningTotal += entry.size;
    progress.SetText(SavedTotalText(run.runningTotal));
    const uint8_t state = entry.state();
    if (IsFolderState(state)) {
      // A child that fails does not end the folder; only the stop flag does.
      folders.Enter(depth, SafeTargetName(entry.name));
      return true;
    }
    if (state == kDeletedFile && !options.recoverDeleted) return false;
    if (state == kFile && !options.recoverNormal) return false;
    if (state != kDeletedFile && state != kFile) return false;
    if (!options.nameFilter.empty() && !MatchNameFilter(entry.name, options.nameFilter)) return false;
    const std::string& folder = folders.Parent(depth);
    bool saved;
    if (job.recordDecoding) {
      saved = SaveRecordFile(job, entry, folder, run, crew);
    } else {
      crew.Drain();
      saved = SaveContiguous(job, entry, folder, run);
    }
    // The walk's answer is the top entry's own when it is a file.
    if (depth == 0) result = saved;
    return false;
  });
  // The files still being copied are counted before the walk's answer.
  if (!crew.Drain() && !IsFolderState(top.state())) result = false;
  if (IsFolderState(top.state())) result = !progress.StopRequested();
  return result;
}

// Creates folder/name kept inside folder; when the target file system refuses
// the name as found, the fully repaired name is tried.
static bool CreateNamedTarget(const SaveJob& job, TargetFile& file, const std::string& folder, const std::string& name,
                              SaveRun& run, FileCopyCrew& crew) {
  std::string safe = SafeTargetName(name);
  if (CreateJobTarget(job, run, file, JoinTargetPath(folder, safe))) return true;
  int error = file.lastError();
  std::string repaired = name;
  RepairName(repaired, kNameReplacement);
  if (repaired != safe && (error == EINVAL || error == EILSEQ || error == ENAMETOOLONG) &&
      CreateJobTarget(job, run, file, JoinTargetPath(folder, repaired)))
    return true;
  crew.Drain();
  NoteFile(run, SaveNoteKind::kTargetNotCreated, JoinTargetPath(folder, safe), error);
  return false;
}

bool SaveRecordFile(const SaveJob& job, const NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run,
                    FileCopyCrew& crew) {
  const PartitionRecord& partition = *job.partition;
  ScanProgress& progress = *job.progress;
  RecordDetails details;
  bool mftError = false;
  const bool read = ReadEntryRecord(*job.source, entry, partition, details, mftError);
  if (mftError) run.summary.mftErrors++;
  if (!read) {
    crew.Drain();
    NoteFile(run, SaveNoteKind::kRecordUnreadable, JoinTargetPath(targetFolder, entry.name));
    return true;
  }

  std::string name = details.hasFileName && !details.fileName.name.empty() ? details.fileName.name : entry.name;
  PreparedFile prepared;
  TargetFile& file = prepared.file;
  if (!CreateNamedTarget(job, file, targetFolder, name, run, crew)) return false;
  const uint64_t size = details.size;
  prepared.size = size;
  prepared.id = entry.recordNumber;
  prepared.whyShort = SaveNoteKind::kRunsEndBeforeSize;
  if (size == 0) {
    crew.Submit(std::move(prepared));
    return true;
  }
  // The file gets its full length first (when its copy begins: a file
  // waiting for its turn is empty): sparse stretches read as zeros.
  prepared.lengthFirst = true;

  if (!details.nonResident) {
    const size_t put = static_cast<size_t>(std::min<uint64_t>(size, details.residentData.size()));
    prepared.heldBytes.assign(details.residentData.begin(), details.residentData.begin() + static_cast<ptrdiff_t>(put));
    crew.Submit(std::move(prepared));
    return true;
  }

  const uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  const uint64_t bytesPerSector = JobSectorBytes(job);
  const uint64_t clusterSize = sectorsPerCluster * bytesPerSector;
  FileDataTally& tally = prepared.tally;

  if (details.IsCompressed()) {
    // Decompressed on this thread, after the files before it are counted.
    crew.Drain();
    if (!file.SetLength(size)) {
      FailWrite(run, file);
      return true;
    }
    progress.Range(100, 0);
    file.Seek(0);
    std::vector<SectorRun> runs = SectorRunsOf(details, partition);
    bool writeFailed = false;
    ByteWriter writer = [&](std::span<const uint8_t> bytes) {
      if (!file.Write(bytes.data(), bytes.size())) {
        writeFailed = true;
        return false;
      }
      progress.SetText(SavedTotalText(run.runningTotal));
      progress.Pos(file.Position() * 100 / size);
      return true;
    };
    uint64_t unreadable = 0;
    WriteCompressedRuns(*job.source, writer, runs, static_cast<uint32_t>(sectorsPerCluster), size, partition,
                        details.CompressionUnitClusters(), &progress.stopFlag, &unreadable);
    if (writeFailed) {
      FailWrite(run, file);
      return true;
    }
    if (progress.StopRequested() && file.Position() < size) {
      DropStoppedFile(run, file);
      return false;
    }
    // Units whose stored clusters could not be read are written as they
    // decompress and counted as missing; the file keeps its length.
    tally.Known(0, file.Position() - std::min(unreadable, file.Position()));
    tally.end = size;
    tally.unreadable = unreadable > 0;
    FinishFile(run, file, size, entry.recordNumber, tally, SaveNoteKind::kRunsEndBeforeSize);
    return true;
  }

  // Bytes past the initialized size read as zeros whatever the disk holds.
  uint64_t dataEnd = size;
  if (details.hasData && details.initializedSize < dataEnd) dataEnd = details.initializedSize;
  if (dataEnd < size) tally.Known(dataEnd, size - dataEnd);
  const uint64_t limitSector = JobReadLimit(job) / bytesPerSector;
  for (const DataRun& dataRun : details.dataRuns) {
    // Each run lands at its own place in the file, so a sparse run (or a gap
    // between pieces of the list) keeps the following data where it belongs.
    uint64_t outStart = dataRun.vcn * clusterSize;
    if (outStart >= size) break;
    uint64_t runBytes = std::min<uint64_t>(dataRun.clusterCount * clusterSize, size - outStart);
    if (outStart >= dataEnd) continue;
    uint64_t toCopy = std::min<uint64_t>(runBytes, dataEnd - outStart);
    if (dataRun.sparse || dataRun.startCluster == 0) {
      tally.Known(outStart, toCopy);  // a hole: zeros by the file system's own account
      continue;
    }
    uint64_t sector = partition.startSector + dataRun.startCluster * sectorsPerCluster;
    // What lies past the partition's or the source's end does not exist:
    // those bytes stay zeros (the file already has its length) and count as
    // missing.
    const uint64_t readable =
        sector >= limitSector ? 0 : std::min<uint64_t>(toCopy, (limitSector - sector) * bytesPerSector);
    if (readable < toCopy) tally.unreadable = true;
    // A piece that cannot be read at all stays the zeros the length gave.
    if (readable) prepared.pieces.push_back({sector, outStart, readable});
  }
  crew.Submit(std::move(prepared));
  return true;
}

}  // namespace quorvel
