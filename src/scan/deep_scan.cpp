// The deep scan's sweep: 10 MiB blocks, read and sifted on two threads
// (io/sifted_blocks.h), their sectors worth a test tested in place, in
// order.
#include "scan/deep_scan.h"

#include <algorithm>

#include "fs/fs_recognition.h"
#include "io/sifted_blocks.h"
#include "io/volume_source.h"
#include "scan/deep_scan_state.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
constexpr size_t kBlockBytes = kDeepScanBlockSectors * kSector;
const char* const kExtraFoundFiles = "Extra Found Files";

// Labels of the partitions a run added, read from the disk.
void ReadLabels(const ByteSource& disk, const std::vector<PartitionRecord*>& added) {
  for (PartitionRecord* p : added) p->volumeLabel = ReadVolumeLabel(disk, p->startSector, p->fsKind);
}

}  // namespace

void DeepScanSource(DiskRecord& disk, const ByteSource& source, ScanProgress& progress, uint64_t startSector,
                    uint64_t sectorCount, bool addPartitions) {
  disk.extraFoundFiles.name = kExtraFoundFiles;
  disk.extraFoundFiles.size = 0;
  // A partition may claim more sectors than the source holds: the scan (and
  // every carve) ends with the source.
  if (source.Size() != 0) {
    const uint64_t sourceSectors = (source.Size() + kSector - 1) / kSector;
    sectorCount = std::min(sectorCount, sourceSectors > startSector ? sourceSectors - startSector : 0);
  }
  DeepScanner scanner(disk, source, startSector, sectorCount, addPartitions);

  // Blocks are read and sifted on two other threads (io/sifted_blocks.h)
  // while this one tests, in order, the sectors SectorMayMatter let through:
  // TestSector would find nothing in the others. Each block comes with the
  // next block's first sector.
  SiftedBlockShape shape;
  shape.blockSectors = kDeepScanBlockSectors;
  shape.extraSectors = 1;
  SiftedBlocks blocks(source, startSector, sectorCount, shape, SectorMayMatter, progress.stopFlag);
  if (!blocks.ok()) return;

  progress.SetText(std::string());
  progress.Range(sectorCount / 2048 / 10, 1);
  progress.BytesPerUnit(kBlockBytes);
  for (uint64_t index = 0; index < blocks.count() && !progress.StopRequested(); ++index) {
    progress.SetText(FormatText("%llu 扇区被扫描", static_cast<unsigned long long>(index * kDeepScanBlockSectors)));
    progress.Pos(index);
    SiftedBlocks::Block block;
    if (!blocks.Take(index, block)) break;
    const uint64_t first = startSector + index * kDeepScanBlockSectors;
    uint64_t next = 0;  // a carved file moves the next sector to test past its end
    for (const uint32_t i : *block.candidates) {
      if (i < next) continue;
      if (progress.StopRequested()) break;
      next = i + scanner.TestSector(block.data + uint64_t{i} * kSector, first + i);
    }
    blocks.Release(index);
  }
  // Also after a stop: what was found so far still makes partitions.
  scanner.PostPass();
}

bool DeepScan(DiskRecord& disk, ScanProgress& progress, uint64_t startSector, uint64_t sectorCount,
              PartitionRecord* partition, std::string* error) {
  const bool composite = partition && partition->volumeKind != kPlainVolume;
  std::unique_ptr<ByteSource> source =
      composite ? OpenVolumeSource(disk, *partition, error) : OpenDiskSource(disk, error);
  if (!source) return false;
  const size_t before = disk.partitions.size();
  DeepScanSource(disk, *source, progress, startSector, sectorCount, !composite);
  std::vector<PartitionRecord*> added;
  auto it = disk.partitions.begin();
  std::advance(it, before);
  for (; it != disk.partitions.end(); ++it) added.push_back(&*it);
  ReadLabels(*source, added);
  return true;
}

}  // namespace quorvel
