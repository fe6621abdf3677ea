// Cluster mode: FAT16 and FAT32 trees, saved through the in-memory FAT or,
// without it, from the first cluster.
#include <algorithm>
#include <vector>

#include "save/file_copy_crew.h"
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
  FileCopyCrew crew(job, run);
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
        if (options.recoverDeleted && passes) {
          crew.Drain();  // the files before it are counted first
          SaveBySignature(job, entry, JoinTargetPath(folders.Parent(depth), name), run);
        }
        return false;
      case kFile:
        if (options.recoverNormal && passes) {
          const std::string path = JoinTargetPath(folders.Parent(depth), name);
          if (useFatReference) {
            // A live typed file owns its first cluster: no deleted file of
            // this run is written from it later.
            if (IsTypedExtension(LowerAscii(NameExtension(name)), run.multiSelect))
              run.usedClusters.insert(entry.firstCluster);
            SaveByClusterChain(job, entry, path, run, &crew);
          } else {
            crew.Drain();
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

// A file's pieces along its chain, found as the copy asks for them (a long
// file in small clusters would make a long list): consecutive clusters make
// one piece (the copy reads it in blocks); the chain ends at the size, at its
// end marker or at a number it may not hold.
struct ChainPieces {
  FatView fat;
  uint64_t cluster = 0;  // the next piece's first cluster (0: no more)
  uint64_t written = 0;  // file bytes in the pieces so far
  uint64_t size = 0;
  uint64_t clusterSize = 0;
  uint64_t sectorsPerCluster = 0;
  uint64_t dataOrigin = 0;

  bool operator()(FilePiece& piece) {
    if (cluster == 0 || written >= size) return false;
    uint64_t c = cluster, runLength = 1, next = 0;
    bool chainEnds = false;
    for (;;) {
      if (written + runLength * clusterSize >= size) break;  // this run finishes the file
      next = fat.Next(c);
      if (next == 0) {
        chainEnds = true;
        break;
      }
      if (next == c + 1) {
        c = next;
        ++runLength;
        continue;
      }
      break;
    }
    const uint64_t put = std::min(size - written, runLength * clusterSize);
    piece = {dataOrigin + cluster * sectorsPerCluster, written, put};
    written += put;
    cluster = chainEnds || written >= size ? 0 : next;
    return true;
  }
};

}  // namespace

bool SaveByClusterChain(const SaveJob& job, const FatFileEntry& entry, const std::string& targetPath, SaveRun& run,
                        FileCopyCrew* crew) {
  if (!crew) {
    FileCopyCrew here(job, run, 0);
    return SaveByClusterChain(job, entry, targetPath, run, &here) && here.Drain();
  }
  const PartitionRecord& partition = *job.partition;
  PreparedFile prepared;
  if (!CreateJobTarget(job, run, prepared.file, targetPath)) {
    crew->Drain();
    NoteFile(run, SaveNoteKind::kTargetNotCreated, targetPath, prepared.file.lastError());
    return false;
  }
  const uint64_t size = entry.size;
  prepared.size = size;
  prepared.id = entry.firstCluster;
  prepared.whyShort = SaveNoteKind::kChainEndedEarly;
  prepared.writeUnread = true;
  prepared.reportBytes = true;
  FatView fat;
  fat.table = &partition.fat.table;
  fat.width = IsFat16Kind(partition.fsKind) ? 2 : IsFat32Kind(partition.fsKind) ? 4 : 0;
  uint32_t rootCluster = partition.tree->fatRoot.firstCluster;
  // Cluster numbers 0 and 1 hold no data; such an entry has lost its chain.
  if (entry.firstCluster < rootCluster || size == 0 || entry.firstCluster < 2 || fat.width == 0) {
    crew->Submit(std::move(prepared));
    return true;
  }
  const uint64_t bytesPerSector = JobSectorBytes(job);
  uint64_t fatBytes = static_cast<uint64_t>(partition.fat.sizeSectors) * bytesPerSector;
  if (fatBytes == 0 || fatBytes > partition.fat.table.size()) fatBytes = partition.fat.table.size();
  fat.limit = fatBytes / static_cast<uint64_t>(fat.width);

  ChainPieces pieces;
  pieces.fat = fat;
  // A first cluster beyond the FAT has no chain.
  pieces.cluster = entry.firstCluster < fat.limit ? entry.firstCluster : 0;
  pieces.size = size;
  pieces.sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  pieces.clusterSize = bytesPerSector * pieces.sectorsPerCluster;
  pieces.dataOrigin = partition.dataOrigin;
  prepared.morePieces = pieces;
  crew->Submit(std::move(prepared));
  return true;
}

}  // namespace quorvel
