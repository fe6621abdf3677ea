// The FAT side of format recovery: sweep a partition's sectors in large blocks
// and remember every sector that still holds FAT directory data.
#include "fs/fat/fat_directory_sweep.h"

#include <algorithm>
#include <memory>

#include "fs/fat/fat_directory_parser.h"
#include "io/sifted_blocks.h"
#include "io/volume_source.h"

namespace quorvel {

bool ScanDirectorySectors(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount) {
  const bool composite = partition != nullptr && partition->volumeKind != kPlainVolume;
  std::unique_ptr<ByteSource> source = composite ? OpenPartitionSource(disk, *partition) : OpenDiskSource(disk);
  if (!source) return false;
  return ScanDirectorySectors(*source, disk, progress, startSector, sectorCount);
}

namespace {

// The sift of the sweep, run on the reading threads: a sector that holds FAT
// directory data. A subfolder's first sector counts on its "." and ".."
// alone: the rest of it may hold entries the general test would refuse.
bool HoldsDirectoryData(const uint8_t* first) {
  const ByteView sector(first, kFatSectorSize);
  if (first[0] == '.' && first[1] == ' ') return IsSubfolderFirstSector(sector);
  if (first[0] == 0 || !FirstEntryMayBeDirectory(first)) return false;
  return IsFatDirectorySector(sector);
}

}  // namespace

bool ScanDirectorySectors(const ByteSource& source, DiskRecord& disk, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount) {
  constexpr size_t kSector = kFatSectorSize;
  disk.extraFoundFiles.name = "Extra Found Files";
  disk.extraFoundFiles.size = 0;
  // A boot sector or table entry may claim far more sectors than the source
  // has: the sweep ends with the source.
  const uint64_t sourceSectors = (source.Size() + kSector - 1) / kSector;
  if (source.Size() != 0)
    sectorCount = std::min(sectorCount, sourceSectors > startSector ? sourceSectors - startSector : 0);

  progress.SetText("");
  const uint64_t lastBlock = sectorCount / kSweepBlockSectors;
  progress.Range(lastBlock, 1);
  progress.BytesPerUnit(kSweepBlockSectors * kSector);
  // The end sector is tested too. Blocks are read and sifted on two other
  // threads (io/sifted_blocks.h); the sectors they let through are recorded
  // here, in order. Sector numbers of composite volumes are relative to the
  // volume's start.
  SiftedBlockShape shape;
  shape.blockSectors = kSweepBlockSectors;
  const uint64_t tested = sectorCount == UINT64_MAX ? sectorCount : sectorCount + 1;
  SiftedBlocks blocks(source, startSector, tested, shape, HoldsDirectoryData, progress.stopFlag);
  if (!blocks.ok()) return false;
  for (uint64_t block = 0; block < blocks.count() && !progress.StopRequested(); ++block) {
    progress.SetText(FormatText("%llu 扇区被扫描", static_cast<unsigned long long>(block * kSweepBlockSectors)));
    progress.Pos(block);
    if (progress.StopRequested()) break;
    SiftedBlocks::Block read;
    if (!blocks.Take(block, read)) break;
    const uint64_t first = startSector + block * kSweepBlockSectors;
    for (const uint32_t i : *read.candidates) disk.directorySectors.insert(disk.directorySectors.end(), first + i);
    blocks.Release(block);
  }
  return true;
}

}  // namespace quorvel
