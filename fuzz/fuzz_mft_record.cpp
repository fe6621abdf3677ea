// One 1024-byte MFT record from the input: fix-up, attribute walk, each
// attribute's value, then the whole-record decode. The input (at most 64 KiB)
// is also the volume that attribute lists and extension records are read
// from, the table starting at its first sector.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_record.h"
#include "io/byte_source.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
  // The heap copy is exactly one record long, so ASan sees any read past it.
  std::vector<uint8_t> record(kMftRecordSize, 0);
  std::memcpy(record.data(), data, std::min(size, kMftRecordSize));
  FixUpFileRecord(record);

  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  ListAttributes(record, attributes);
  RecordDetails pieces;
  for (const auto& [type, offset] : attributes)
    if (offset < kMftRecordSize && (type == NtfsAttr::kData || type == NtfsAttr::kIndexAllocation))
      DecodeAttributeValue(ByteView(record).Sub(offset), pieces);

  PartitionRecord partition;
  const MemorySource nothing({});
  RecordDetails details;
  DecodeMftRecord(record, 0, details, nothing, partition, {}, kMainRecord);
  RecordDetails extension;
  DecodeMftRecord(record, 0, extension, nothing, partition, {}, kExtensionRecord);

  const MemorySource volume(std::vector<uint8_t>(data, data + size));
  partition.sectorsPerCluster = 1;
  partition.sectorCount = (size + 511) / 512;
  RecordDetails fromVolume;
  DecodeMftRecord(record, 0, fromVolume, volume, partition, {}, kMainRecord);
  return 0;
}
