// Cluster mode: FAT16 and FAT32 trees, saved through the in-memory FAT or,
// without it, from the first cluster.
#include <algorithm>
#include <vector>

#include "io/sector_buffer.h"
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

void SaveTreeClusterMode(const SaveJob& job, FatFileEntry& top, const std::string& targetFolder, SaveRun& run) {
  ScanProgress& progress = *job.progress;
  const SaveOptions& options = job.options;
  // Without the FAT there is no chain to follow.
  const bool useFatReference = options.useFatReference && !job.partition->fat.table.empty();
  WalkPath folders(targetFolder);
  bool stopped = false;
  VisitTree(top, [&](FatFileEntry& entry, size_t depth) {
    if (stopped || progress.StopRequested()) {
      stopped = run.summary.stopped = true;
      return false;
    }
    std::string name = entry.name;
    RepairName(name, kNameReplacement);
    const bool passes = options.nameFilter.empty() || MatchNameFilter(name, options.nameFilter);
    switch (entry.state()) {
      case kDeletedFile:
        if (options.recoverDeleted && passes)
          SaveBySignature(job, entry, JoinTargetPath(folders.Parent(depth), name), run);
        return false;
      case kFile:
        if (options.recoverNormal && passes) {
          const std::string path = JoinTargetPath(folders.Parent(depth), name);
          if (useFatReference) {
            // A live typed file owns its first cluster: no deleted file of
            // this run is written from it later.
            if (IsTypedExtension(LowerAscii(NameExtension(name)), run.multiSelect))
              run.usedClusters.insert(entry.firstCluster);
            SaveByClusterChain(job, entry, path, run);
          } else {
            SaveBySignature(job, entry, path, run);
          }
        }
        return false;
      case kDeletedFolder:
      case kFolder:
        // The folder itself is created when a file inside it is.
        folders.Enter(depth, name);
        return true;
      default:
        return false;
    }
  });
}

namespace {

// The FAT as the chain walk reads it.
struct FatView {
  const std::vector<uint8_t>* table = nullptr;
  int width = 0;       // bytes per entry: 2 (FAT16) or 4 (FAT32)
  uint64_t limit = 0;  // number of entries

  // Next cluster of c, or 0 when the chain ends there (end marker, bad
  // cluster, free entry, reserved value or a number beyond the FAT).
  uint64_t Next(uint64_t c) const {
    if (c >= limit) return 0;
    const ByteView fat(*table);
    const size_t at = static_cast<size_t>(c) * static_cast<size_t>(width);
    uint64_t next;
    if (width == 2) {
      next = fat.Le16(at);
      if (next >= 0xFFF7) return 0;
    } else {
      next = fat.Le32(at) & 0x0FFFFFFF;
      if (next >= 0x0FFFFFF7) return 0;
    }
    if (next < 2 || next >= limit) return 0;
    return next;
  }
};

}  // namespace

bool SaveByClusterChain(const SaveJob& job, const FatFileEntry& entry, const std::string& targetPath, SaveRun& run) {
  const PartitionRecord& partition = *job.partition;
  ScanProgress& progress = *job.progress;
  TargetFile file;
  if (!CreateTargetFile(file, targetPath)) {
    NoteFile(run, SaveNoteKind::kTargetNotCreated, targetPath, file.lastError());
    return false;
  }
  const uint64_t size = entry.size;
  FileDataTally tally;
  uint32_t rootCluster = partition.tree->fatRoot.firstCluster;
  // Cluster numbers 0 and 1 hold no data; such an entry has lost its chain.
  if (entry.firstCluster < rootCluster || size == 0 || entry.firstCluster < 2) {
    FinishFile(run, file, size, entry.firstCluster, tally, SaveNoteKind::kChainEndedEarly);
    return true;
  }
  progress.Range(100, 1);
  if (progress.StopRequested()) {
    DropStoppedFile(run, file);
    return false;
  }

  FatView fat;
  fat.table = &partition.fat.table;
  if (IsFat16Kind(partition.fsKind)) {
    fat.width = 2;
  } else if (IsFat32Kind(partition.fsKind)) {
    fat.width = 4;
  } else {
    FinishFile(run, file, size, entry.firstCluster, tally, SaveNoteKind::kChainEndedEarly);
    return true;
  }
  const uint64_t bytesPerSector = JobSectorBytes(job);
  uint64_t fatBytes = static_cast<uint64_t>(partition.fat.sizeSectors) * bytesPerSector;
  if (fatBytes == 0 || fatBytes > partition.fat.table.size()) fatBytes = partition.fat.table.size();
  fat.limit = fatBytes / static_cast<uint64_t>(fat.width);

  uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  // Consecutive clusters of the chain are read together, up to 10 MiB.
  uint64_t maxRun = std::max<uint64_t>(1, 0xA00000 / clusterSize);
  uint64_t clustersNeeded = (size + clusterSize - 1) / clusterSize;
  const std::span<uint8_t> buffer =
      ThreadReadBuffer(static_cast<size_t>(std::min(maxRun, clustersNeeded) * clusterSize));
  if (buffer.size() == 0 && size != 0) {
    FailWrite(run, file);
    return false;
  }

  const uint64_t limit = JobReadLimit(job);
  uint64_t written = 0;
  uint64_t c = entry.firstCluster;
  if (c >= fat.limit) c = 0;  // a first cluster beyond the FAT has no chain
  while (c != 0 && written < size) {
    uint64_t runStart = c, runLength = 1, next = 0;
    bool chainEnds = false;
    for (;;) {
      if ((written + runLength * clusterSize) >= size) break;  // this run finishes the file
      next = fat.Next(c);
      if (next == 0) {
        chainEnds = true;
        break;
      }
      if (next == c + 1 && runLength < maxRun) {
        c = next;
        ++runLength;
        continue;
      }
      break;
    }
    size_t want = static_cast<size_t>(runLength * clusterSize);
    size_t put = static_cast<size_t>(std::min<uint64_t>(size - written, want));
    if (!CopyFileData(job, partition.dataOrigin + runStart * sectorsPerCluster, buffer.first(want), written, put, limit,
                      tally, file, true)) {
      FailWrite(run, file);
      return false;
    }
    written += put;
    ReportFileBytes(progress, run, written);
    progress.Pos(written * 100 / size);
    if (progress.StopRequested() && written < size) {
      DropStoppedFile(run, file);
      return false;
    }
    if (chainEnds || written >= size) break;
    c = next;
  }
  ReportFileBytes(progress, run, written);
  progress.Pos(100);
  FinishFile(run, file, size, entry.firstCluster, tally, SaveNoteKind::kChainEndedEarly);
  return true;
}

}  // namespace quorvel
