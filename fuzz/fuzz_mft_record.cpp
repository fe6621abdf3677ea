// One 1024-byte MFT record from the input: fix-up, attribute walk, each
// attribute's value, then the whole-record decode. The input (at most 64 KiB)
// is also the volume that attribute lists and extension records are read
// from, the table starting at its first sector.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_record.h"

using namespace quorvel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 64 * 1024) return 0;
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

  char path[] = "/tmp/quorvel-fuzz-mft-XXXXXX";
  int fd = ::mkstemp(path);
  if (fd < 0) return 0;
  bool written = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ::close(fd);
  SectorDevice device;
  if (written && device.Open(path)) {
    partition.sectorsPerCluster = 1;
    partition.sectorCount = (size + 511) / 512;
    RecordDetails fromVolume;
    DecodeMftRecord(record.data(), 0, fromVolume, &device, partition, {}, kMainRecord);
  }
  ::unlink(path);
  return 0;
}
