// Extent mode: carved files, each one contiguous stretch of sectors from the
// start sector its map key names.
#include "save/name_repair.h"
#include "save/save_engines.h"
#include "save/source_copy.h"

namespace quorvel {

constexpr size_t kExtentBlock = 0xA00000;

bool SaveExtentTree(SectorDevice* device, const std::string& targetFolder, const std::string& nameFilter,
                    const CarvedFile& root, const CarvedFileMap& map, uint64_t startSector, uint64_t sectorCount,
                    const PartitionRecord* partition, ScanProgress& progress, SaveRun& run) {
  // Carved sectors are absolute on the disk: read them as a plain disk.
  PartitionRecord plain;
  if (partition) {
    plain.bytesPerSector = partition->bytesPerSector;
    plain.volumeKind = partition->volumeKind;
    plain.members = partition->members;
    plain.stripeSize = partition->stripeSize;
  }
  std::string folder = JoinTargetPath(targetFolder, SafeTargetName(root.name));
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
    if (!CreateTargetFile(file, path)) {
      run.summary.skippedTargetNotCreated++;
      run.summary.Note("target could not be created: " + path);
      continue;
    }
    // The file's own bytes: what follows it in its last sector belongs to
    // something else (an ID3v1 tag, for one, must be a file's last 128 bytes).
    const uint64_t length = carved.size;
    progress.Range(100, 1);
    CopyResult copy = CopySourceRange(plain, device, key, length, file, kExtentBlock, progress, [&](uint64_t written) {
      ReportFileBytes(progress, run, written);
      if (length) progress.Pos(written * 100 / length);
    });
    if (copy.writeFailed) {
      run.summary.skippedWriteFailed++;
      run.summary.Note("writing failed: " + file.path());
      continue;
    }
    CountSavedFile(run, copy.written, length);
    if (copy.stopped) {
      run.summary.stopped = true;
      return false;
    }
  }
  return true;
}

}  // namespace quorvel
