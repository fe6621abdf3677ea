// A disk image made of the input (at most 64 KiB): the partition-table walk.
#include <cstdint>
#include <vector>

#include "io/byte_source.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  MemorySource image(std::vector<uint8_t>(data, data + size));
  DiskRecord disk;
  disk.devicePath = "fuzz.img";
  WalkPartitions(disk, image, disk.devicePath);
  return 0;
}
