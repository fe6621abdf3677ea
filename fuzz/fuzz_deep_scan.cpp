// The deep scan over an image made of the input: every per-sector test, the
// carving walks (their reads beyond the two sectors they are handed go
// through the source), the partitions and the post-pass. The input is also
// offered to CarveAt at every sector with a range that ends inside it.
#include <cstdint>
#include <vector>

#include "io/byte_source.h"
#include "scan/carving/carve_at.h"
#include "scan/deep_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  std::vector<uint8_t> bytes(data, data + size);
  MemorySource source(bytes);
  DiskRecord disk;
  disk.sizeBytes = size;
  ScanProgress progress;
  DeepScanSource(disk, source, progress, 0, size / 512);
  for (const auto& [sector, file] : disk.carvedFiles)
    if ((sector + 1) * 512 > size + 512 || file.size > (size / 512 - sector) * 512) __builtin_trap();

  // Heads cut to exactly 1024 bytes: nothing past them may be read.
  CarveScratch scratch;
  DiskRecord carved;
  for (uint64_t sector = 0; sector * 512 < size; ++sector) {
    std::vector<uint8_t> head(kCarveHeadBytes, 0);
    for (size_t i = 0; i < head.size() && sector * 512 + i < size; ++i) head[i] = data[sector * 512 + i];
    const uint64_t end = sector + 1 + size % 7;
    CarveResult r = CarveAt(carved, source, head.data(), sector, end, scratch);
    if (r.carvedLength > (end - sector) * 512) __builtin_trap();
  }
  return 0;
}
