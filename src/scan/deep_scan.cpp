// The deep scan's sweep: 10 MiB blocks read into one page-aligned buffer (in
// 256 KiB pieces, each tested while it is still in the processor's cache), the
// previous block's extra sector carried to the front so that a 1024-byte
// record starting in a block's last sector is whole, every sector tested in
// place.
#include "scan/deep_scan.h"

#include <algorithm>
#include <cstring>

#include "fs/fs_recognition.h"
#include "io/sector_buffer.h"
#include "io/volume_source.h"
#include "scan/deep_scan_state.h"

namespace quorvel {

namespace {

constexpr size_t kSector = 512;
constexpr size_t kPage = 4096;
constexpr size_t kBlockBytes = kDeepScanBlockSectors * kSector;
constexpr uint64_t kPieceSectors = 512;  // 256 KiB: fits the processor's cache
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

  // Sector i of the block is at block + i × 512, the extra sector (the next
  // block's first) at block + 10 MiB. The block starts as far into its page
  // as its first sector's disk position is into a page: the kernel copies
  // from the page cache several times faster when the two line up (a block
  // at a page start would put every read 512 bytes off).
  SectorBuffer buffer(kPage + kBlockBytes + kSector);
  if (buffer.size() == 0) return;
  uint8_t* const block = buffer.data() + (startSector * kSector) % kPage;
  const uint64_t end = startSector + sectorCount;

  progress.SetText(std::string());
  progress.Range(sectorCount / 2048 / 10, 1);
  progress.BytesPerUnit(kBlockBytes);
  const uint64_t blocks = (sectorCount + kDeepScanBlockSectors - 1) / kDeepScanBlockSectors;
  for (uint64_t index = 0; index < blocks && !progress.StopRequested(); ++index) {
    progress.SetText(FormatText("%llu 扇区被扫描", static_cast<unsigned long long>(index * kDeepScanBlockSectors)));
    progress.Pos(index);
    const uint64_t first = startSector + index * kDeepScanBlockSectors;
    const uint64_t sectors = std::min<uint64_t>(kDeepScanBlockSectors, end - first);
    if (index == 0)
      source.ReadAt(first * kSector, std::span<uint8_t>(block, kSector));
    else
      std::memcpy(block, block + kBlockBytes, kSector);
    // The block fills piece by piece, each piece tested while it is still in
    // the processor's cache; a sector is tested once the one after it is
    // read (the block's last sector needs the first of the next block).
    uint64_t read = 1;  // sectors of the block in the buffer
    for (uint64_t i = 0; i < sectors;) {
      while (read < i + 2 && read <= sectors) {
        const uint64_t piece = std::min<uint64_t>(kPieceSectors, sectors + 1 - read);
        source.ReadAt((first + read) * kSector, std::span<uint8_t>(block + read * kSector, piece * kSector));
        read += piece;
      }
      if (progress.StopRequested()) break;
      i += scanner.TestSector(block + i * kSector, first + i);
    }
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
