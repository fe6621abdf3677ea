// A disk image made of the input: the partition walk (MBR and extended
// chains, GPT, whole-disk volumes, labels), then every partition it finds
// that has a reader goes through the whole session.
#include "fuzz_pipeline.h"
#include "volumes/disk_enumeration.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto source = std::make_shared<MemorySource>(std::vector<uint8_t>(data, data + size));
  DiskRecord disk;
  disk.devicePath = "fuzz.img";
  disk.sizeBytes = size;
  WalkPartitions(disk, *source, disk.devicePath);
  // Partitions of a table are plain: their sectors count on the disk.
  for (PartitionRecord& partition : disk.partitions)
    if (partition.volumeKind == kPlainVolume) fuzz::RunPartitionPipeline(disk, partition, source);
  return 0;
}
