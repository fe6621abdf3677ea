// The FAT side of format recovery: sweep a partition's sectors in large blocks
// and remember every sector that still holds FAT directory data.
#include "fs/fat/fat_directory_sweep.h"

#include <algorithm>
#include <memory>

#include "fs/fat/fat_directory_parser.h"
#include "io/careful_read.h"
#include "io/sector_buffer.h"
#include "io/volume_source.h"

namespace quorvel {

bool ScanDirectorySectors(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount) {
  const bool composite = partition != nullptr && partition->volumeKind != kPlainVolume;
  std::unique_ptr<ByteSource> source = composite ? OpenPartitionSource(disk, *partition) : OpenDiskSource(disk);
  if (!source) return false;
  return ScanDirectorySectors(*source, disk, progress, startSector, sectorCount);
}

bool ScanDirectorySectors(const ByteSource& source, DiskRecord& disk, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount) {
  constexpr size_t kSector = kFatSectorSize;
  constexpr size_t kPage = 4096;
  constexpr size_t kPieceBytes = size_t{1024} << 10;
  disk.extraFoundFiles.name = "Extra Found Files";
  disk.extraFoundFiles.size = 0;
  // A boot sector or table entry may claim far more sectors than the source
  // has: the sweep ends with the source.
  const uint64_t sourceSectors = (source.Size() + kSector - 1) / kSector;
  if (source.Size() != 0)
    sectorCount = std::min(sectorCount, sourceSectors > startSector ? sourceSectors - startSector : 0);

  progress.SetText("");
  const uint64_t lastBlock = sectorCount / kSweepBlockSectors;
  constexpr size_t kBlockBytes = kSweepBlockSectors * kSector;
  progress.Range(lastBlock, 1);
  progress.BytesPerUnit(kBlockBytes);
  // Every block is read whole into the same place, which starts as far into
  // its page as the block's disk position is into a page (blocks are whole
  // pages, so that stays true): the kernel copies between places that do not
  // line up several times slower, which would make the sweep slower than the
  // disk (partitions of older disks start at sector 63). A block's sectors
  // are tested on their own, so nothing needs to be carried from one block
  // to the next.
  SectorBuffer owner(kBlockBytes + kPage);
  if (owner.size() == 0) return false;
  // Sector numbers of composite volumes are relative to the volume's start.
  uint64_t readPosition = startSector * kSector;
  uint8_t* const buffer = owner.data() + readPosition % kPage;
  const std::span<uint8_t> blockArea(buffer, kBlockBytes);
  uint64_t current = startSector;
  const uint64_t lastSector = startSector + sectorCount;  // tested too

  for (uint64_t block = 0; block <= lastBlock && !progress.StopRequested(); ++block) {
    progress.SetText(FormatText("%llu 扇区被扫描", static_cast<unsigned long long>(block * kSweepBlockSectors)));
    progress.Pos(block);
    if (progress.StopRequested()) break;

    // Read in pieces, each tested while it is still in the processor's
    // cache (a whole block read first goes through memory twice). What could
    // not be read is zero; sectors after a failing one still count.
    for (size_t piece = 0; piece < kBlockBytes && current <= lastSector && !progress.StopRequested();
         piece += kPieceBytes) {
      ReadCarefully(source, readPosition + piece, blockArea.subspan(piece, kPieceBytes), kPieceBytes, UINT64_MAX,
                    kSector);
      for (size_t at = piece; at < piece + kPieceBytes && current <= lastSector; at += kSector, ++current) {
        if (progress.StopRequested()) break;
        const uint8_t* const first = buffer + at;
        const ByteView sector(first, kSector);
        if (first[0] == '.' && first[1] == ' ') {
          // A subfolder's first sector counts on its "." and ".." alone: the
          // rest of it may hold entries the general test would refuse.
          if (IsSubfolderFirstSector(sector)) disk.directorySectors.insert(current);
          continue;
        }
        if (first[0] == 0 || !FirstEntryMayBeDirectory(first)) continue;
        if (IsFatDirectorySector(sector)) disk.directorySectors.insert(current);
      }
    }
    readPosition += kBlockBytes;
  }
  return true;
}

}  // namespace quorvel
