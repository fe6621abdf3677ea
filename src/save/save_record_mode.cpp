// Record mode: NTFS trees, each file's data found again from its MFT record.
#include <algorithm>
#include <cerrno>
#include <vector>

#include "fs/ntfs/mft_record.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

// Pieces of long runs are read this large.
constexpr uint64_t kRunPiece = 0xA00000;

bool SaveTreeRecordMode(const SaveJob& job, NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run) {
  ScanProgress& progress = *job.progress;
  const SaveOptions& options = job.options;
  if (progress.StopRequested()) {
    run.summary.stopped = true;
    return false;
  }
  run.runningTotal += entry.size;
  progress.SetText(SavedTotalText(run.runningTotal));

  const uint8_t state = entry.state();
  if (IsFolderState(state)) {
    const std::string childFolder = JoinTargetPath(targetFolder, SafeTargetName(entry.name));
    // A child that fails does not end the folder; only the stop flag does.
    for (NtfsFileEntry& child : entry.children) SaveTreeRecordMode(job, child, childFolder, run);
    return !progress.StopRequested();
  }
  if (state == kDeletedFile && !options.recoverDeleted) return true;
  if (state == kFile && !options.recoverNormal) return true;
  if (state != kDeletedFile && state != kFile) return true;
  if (!options.nameFilter.empty() && !MatchNameFilter(entry.name, options.nameFilter)) return true;
  if (job.recordDecoding) return SaveRecordFile(job, entry, targetFolder, run);
  return SaveContiguous(job, entry, targetFolder, run);
}

// Creates folder/name kept inside folder; when the target file system refuses
// the name as found, the fully repaired name is tried.
static bool CreateNamedTarget(TargetFile& file, const std::string& folder, const std::string& name, SaveRun& run) {
  std::string safe = SafeTargetName(name);
  if (CreateTargetFile(file, JoinTargetPath(folder, safe))) return true;
  int error = errno;
  std::string repaired = name;
  RepairName(repaired, kNameReplacement);
  if (repaired != safe && (error == EINVAL || error == EILSEQ || error == ENAMETOOLONG) &&
      CreateTargetFile(file, JoinTargetPath(folder, repaired)))
    return true;
  NoteFile(run, SaveNoteKind::kTargetNotCreated, JoinTargetPath(folder, safe));
  return false;
}

bool SaveRecordFile(const SaveJob& job, const NtfsFileEntry& entry, const std::string& targetFolder, SaveRun& run) {
  const PartitionRecord& partition = *job.partition;
  ScanProgress& progress = *job.progress;
  RecordDetails details;
  bool mftError = false;
  const bool read = ReadEntryRecord(*job.source, entry, partition, details, mftError);
  if (mftError) run.summary.mftErrors++;
  if (!read) {
    NoteFile(run, SaveNoteKind::kRecordUnreadable, JoinTargetPath(targetFolder, entry.name));
    return true;
  }

  std::string name = details.hasFileName && !details.fileName.name.empty() ? details.fileName.name : entry.name;
  TargetFile file;
  if (!CreateNamedTarget(file, targetFolder, name, run)) return false;
  uint64_t size = details.size;
  if (size == 0) {
    CountSavedFile(run, 0, 0);
    return true;
  }
  // The file gets its full length first: sparse stretches and anything not
  // written read as zeros.
  if (!file.SetLength(size)) {
    NoteFile(run, SaveNoteKind::kWriteFailed, file.path());
    return true;
  }
  file.Seek(0);

  if (!details.nonResident) {
    progress.Range(1, 1);
    size_t put = static_cast<size_t>(std::min<uint64_t>(size, details.residentData.size()));
    if (put > 0 && !file.Write(details.residentData.data(), put)) {
      NoteFile(run, SaveNoteKind::kWriteFailed, file.path());
      return true;
    }
    progress.Step();
    CountSavedFile(run, put, size);
    return true;
  }

  progress.Range(100, 0);
  const uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  const uint64_t bytesPerSector = JobSectorBytes(job);
  const uint64_t clusterSize = sectorsPerCluster * bytesPerSector;

  if (details.IsCompressed()) {
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
    WriteCompressedRuns(*job.source, writer, runs, static_cast<uint32_t>(sectorsPerCluster), size, partition,
                        details.CompressionUnitClusters(), &progress.stopFlag);
    if (writeFailed) {
      NoteFile(run, SaveNoteKind::kWriteFailed, file.path());
      return true;
    }
    CountSavedFile(run, file.Position(), size);
    if (progress.StopRequested()) {
      run.summary.stopped = true;
      return false;
    }
    return true;
  }

  // Bytes past the initialized size read as zeros whatever the disk holds.
  uint64_t dataEnd = size;
  if (details.hasData && details.initializedSize < dataEnd) dataEnd = details.initializedSize;
  uint64_t covered = 0;  // end of the stretch the runs describe
  std::vector<uint8_t> buffer;
  for (const DataRun& dataRun : details.dataRuns) {
    // Each run lands at its own place in the file, so a sparse run (or a gap
    // between pieces of the list) keeps the following data where it belongs.
    uint64_t outStart = dataRun.vcn * clusterSize;
    if (outStart >= size) break;
    uint64_t runBytes = std::min<uint64_t>(dataRun.clusterCount * clusterSize, size - outStart);
    covered = std::max(covered, outStart + runBytes);
    if (dataRun.sparse || dataRun.startCluster == 0 || outStart >= dataEnd) continue;
    uint64_t toCopy = std::min<uint64_t>(runBytes, dataEnd - outStart);
    uint64_t sector = partition.startSector + dataRun.startCluster * sectorsPerCluster;
    if (buffer.empty())
      buffer.resize(static_cast<size_t>(
          std::min<uint64_t>(kRunPiece, (toCopy + bytesPerSector - 1) / bytesPerSector * bytesPerSector)));
    for (uint64_t done = 0; done < toCopy;) {
      uint64_t piece = std::min<uint64_t>(kRunPiece, toCopy - done);
      size_t want = static_cast<size_t>((piece + bytesPerSector - 1) / bytesPerSector * bytesPerSector);
      if (want > buffer.size()) buffer.resize(want);
      ReadSectors(*job.source, sector + done / bytesPerSector, bytesPerSector, std::span<uint8_t>(buffer).first(want));
      file.Seek(outStart + done);
      if (!file.Write(buffer.data(), static_cast<size_t>(piece))) {
        NoteFile(run, SaveNoteKind::kWriteFailed, file.path());
        return true;
      }
      done += piece;
      progress.SetText(SavedTotalText(run.runningTotal));
      progress.Pos((outStart + done) * 100 / size);
      if (progress.StopRequested()) {
        run.summary.stopped = true;
        CountSavedFile(run, outStart + done, size);
        return false;
      }
    }
  }
  CountSavedFile(run, std::min(covered, size), size);
  if (covered < size) NoteFile(run, SaveNoteKind::kRunsEndBeforeSize, file.path());
  return true;
}

}  // namespace quorvel
