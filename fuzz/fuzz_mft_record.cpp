// One 1024-byte MFT record from the input: fix-up, attribute walk, each
// attribute's value, then the whole-record decode.
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "disk/fs_recognition.h"
#include "scan/mft_record.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The heap copy is exactly one record long, so ASan sees any read past it.
  std::vector<uint8_t> record(kMftRecordSize, 0);
  std::memcpy(record.data(), data, std::min(size, kMftRecordSize));
  FixUpFileRecord(record.data());

  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  ListAttributes(record.data(), attributes);
  RecordDetails pieces;
  for (const auto& [type, offset] : attributes)
    if (offset < kMftRecordSize && (type == NtfsAttr::kData || type == NtfsAttr::kIndexAllocation))
      DecodeAttributeValue(record.data() + offset, kMftRecordSize - offset, pieces);

  PartitionRecord partition;
  RecordDetails details;
  DecodeMftRecord(record.data(), 0, details, nullptr, partition, {}, kMainRecord);
  RecordDetails extension;
  DecodeMftRecord(record.data(), 0, extension, nullptr, partition, {}, kExtensionRecord);
  return 0;
}
