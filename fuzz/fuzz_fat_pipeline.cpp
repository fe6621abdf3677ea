// A FAT16 or FAT32 volume made of the input (its boot sector decides which):
// listed, shown, saved, swept for directory sectors and rebuilt from them.
#include "fs/fs_recognition.h"
#include "fuzz_pipeline.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto source = std::make_shared<MemorySource>(std::vector<uint8_t>(data, data + size));
  const uint8_t kind = IsFat32BootSector(ByteView(data, size)) ? FsKind::kFat32Lba : FsKind::kFat16;
  DiskRecord disk = fuzz::WholeVolumeDisk(*source, kind);
  fuzz::RunPartitionPipeline(disk, disk.partitions.front(), source);
  return 0;
}
