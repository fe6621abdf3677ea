// The FAT side of format recovery: sweep a partition's sectors in large blocks
// and remember every sector that still holds FAT directory data.
#include "fs/fat/fat_directory_sweep.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "io/sector_device.h"

namespace quorvel {

bool ScanDirectorySectors(DiskRecord& disk, PartitionRecord* partition, ScanProgress& progress, uint64_t startSector,
                          uint64_t sectorCount) {
  disk.extraFoundFiles.name = "Extra Found Files";
  disk.extraFoundFiles.size = 0;

  const bool composite = partition != nullptr && partition->volumeKind != kPlainVolume;
  SectorDevice device;
  if (!composite) {
    if (!device.Open(disk.devicePath)) return false;
    device.Seek(startSector * kSectorSize);
  }

  progress.SetText("");
  const uint64_t lastBlock = sectorCount / kSweepBlockSectors;
  progress.Range(lastBlock, 1);

  constexpr size_t kBlockBytes = kSweepBlockSectors * kSectorSize;
  // Page-aligned: the kernel copies into a misaligned buffer several times
  // slower, which would make the sweep slower than the disk.
  constexpr size_t kAlignment = 4096;
  constexpr size_t kAllocBytes = (kSweepBufferBytes + kAlignment - 1) / kAlignment * kAlignment;
  std::unique_ptr<uint8_t, decltype(&std::free)> owner(
      static_cast<uint8_t*>(std::aligned_alloc(kAlignment, kAllocBytes)), &std::free);
  if (!owner) return false;
  uint8_t* const buffer = owner.get();
  std::memset(buffer, 0, kSweepBufferBytes);
  // Sector numbers of composite volumes are relative to the volume's start.
  uint64_t readPosition = startSector * kSectorSize;
  uint64_t current = startSector;
  const uint64_t lastSector = startSector + sectorCount;  // tested too

  for (uint64_t block = 0; block <= lastBlock && !progress.StopRequested(); ++block) {
    progress.SetText(FormatText("%llu 扇区被扫描", static_cast<unsigned long long>(block * kSweepBlockSectors)));
    progress.Pos(block);
    if (progress.StopRequested()) break;

    uint8_t* target = buffer;
    size_t length = kSweepBufferBytes;
    if (block > 0) {
      // The previous block's extra sector becomes this block's first.
      std::memcpy(buffer, buffer + kBlockBytes, kSectorSize);
      target = buffer + kSectorSize;
      length = kBlockBytes;
    }
    // The device read zero-fills by itself; composite readers get a clean buffer.
    if (composite) std::memset(target, 0, length);
    size_t got = 0;
    ReadPartitionData(partition, got, composite ? nullptr : &device, target, length, readPosition);
    readPosition += length;

    const uint8_t* sector = buffer;
    for (uint64_t i = 0; i < kSweepBlockSectors && current <= lastSector; ++i, ++current, sector += kSectorSize) {
      if (progress.StopRequested()) break;
      if (sector[0] == 0) continue;
      if (sector[0] == '.' && sector[1] == ' ') {
        // A subfolder's first sector counts on its "." and ".." alone: the
        // rest of it may hold entries the general test would refuse.
        if (IsSubfolderFirstSector(sector)) disk.directorySectors.insert(current);
        continue;
      }
      if (IsFatDirectorySector(sector)) disk.directorySectors.insert(current);
    }
  }
  return true;
}

}  // namespace quorvel
