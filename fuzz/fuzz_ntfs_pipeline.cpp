// An NTFS volume made of the input: the record sweep with its tree, shown,
// saved (resident, run-list and compressed data), swept again.
#include "fuzz_pipeline.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto source = std::make_shared<MemorySource>(std::vector<uint8_t>(data, data + size));
  DiskRecord disk = fuzz::WholeVolumeDisk(*source, FsKind::kNtfs);
  fuzz::RunPartitionPipeline(disk, disk.partitions.front(), source);
  return 0;
}
