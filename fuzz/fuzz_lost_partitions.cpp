// The lost-partition scan over a disk made of the input (at most 64 KiB,
// written at the start of a 4 MiB sparse image so that the chains' 2 MiB
// windows fit): both passes. The first byte picks the tracks per cylinder of
// the quick pass, so that its probes land inside the input.
#include <unistd.h>
#include <cstdint>
#include <cstdio>

#include "scan/lost_partitions.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  char path[] = "/tmp/quorvel-fuzz-lost-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) return 0;
  bool written = ::write(fd, data + 1, size - 1) == static_cast<ssize_t>(size - 1) && ::ftruncate(fd, 4 << 20) == 0;
  ::close(fd);
  DiskList list;
  if (written && OpenImageFile(list, path)) {
    const uint32_t tracks = data[0] % 4 + 1;  // cylinders of 63 to 252 sectors
    for (LostScanMode mode : {kQuickLostScan, kPreciseLostScan}) {
      ScanProgress progress;
      ScanLostPartitions(list.back(), mode, tracks, progress);
    }
  }
  ::unlink(path);
  return 0;
}
