// FAT directory data from the input: the sector test on each 512-byte piece,
// then the parser with the input as the root directory, as the first sectors
// of the FAT and as the image that subfolder clusters are read from. Bit 3 of
// the first byte picks the variant that trusts "." entries instead of the FAT.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/scan_progress.h"
#include "fs/fat/fat_directory_parser.h"
#include "fs/fat/fat_directory_sweep.h"
#include "fs/fat/fat_rebuild.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  const bool fat32 = data[0] & 1;
  const uint32_t spc = 1u << ((data[0] >> 1) & 3);  // 1 to 8 sectors per cluster
  const bool recorded = data[0] & 8;
  std::vector<uint8_t> bytes(data + 1, data + size);

  for (size_t at = 0; at + 512 <= bytes.size(); at += 512) {
    // An exact-size copy: a read past the sector is reported.
    const ByteView piece = ByteView(bytes).Sub(at, 512);
    std::vector<uint8_t> sector(piece.data(), piece.data() + piece.size());
    IsFatDirectorySector(sector);
    IsSubfolderFirstSector(sector);
  }

  const MemorySource image(bytes);
  DiskRecord disk;
  disk.devicePath = "fuzz.img";
  PartitionRecord p;
  p.name = "Partition0";
  p.fsKind = fat32 ? FsKind::kFat32Lba : FsKind::kFat16;
  p.sectorCount = 1 << 16;
  p.sectorsPerCluster = spc;
  p.dataOrigin = 0;
  p.fat.sizeSectors = 8;
  p.fat.table.assign(8 * 512, 0);
  std::copy_n(bytes.begin(), std::min(bytes.size(), p.fat.table.size()), p.fat.table.begin());
  disk.partitions.push_back(std::move(p));
  PartitionRecord& partition = disk.partitions.front();
  VisitedClusterSet visited;
  ScanProgress progress;
  uint32_t counter = 0;
  MarkFatSpecialFolders(partition, 2, false);
  std::vector<uint8_t> root = bytes;
  root.resize(std::max<size_t>(root.size(), 512 * spc), 0);
  FatFileEntry& into = partition.tree->fatRoot;
  if (recorded)
    (fat32 ? ParseFat32Recorded : ParseFat16Recorded)(disk, image, root, into, partition, visited, progress, counter);
  else if (fat32)
    ParseFat32Directory(image, root, into, partition, visited, progress, counter);
  else
    ParseFat16Directory(image, root, into, partition, visited, progress, counter);
  return 0;
}
