// Scan-result files from the input: read, loaded onto the disk they name,
// written again and loaded once more. A file the program wrote must read
// back whole and write the same text again, whatever the first one held.
// The disk is 32 MiB: ranges past its end are cut when the file is loaded,
// so what is written again lies on it.
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "scanfile/scan_file_format.h"
#include "scanfile/scan_file_load.h"
#include "scanfile/scan_file_writer.h"

namespace {

quorvel::DiskRecord DiskNamed(const quorvel::ScanFileContents& contents) {
  quorvel::DiskRecord disk;
  disk.vendor = contents.identity;
  disk.devicePath = "/images/disk.img";
  disk.diskKind = contents.values.diskKind;
  disk.sizeBytes = 32u << 20;
  return disk;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace quorvel;
  const MemorySource file(std::vector<uint8_t>(data, data + size));
  ScanFileContents contents;
  ReadScanFile(file, contents);
  if (contents.values.partitions.size() > kMaxScanFilePartitions) __builtin_trap();
  // The disk's identity is written as it is; one holding CR names no disk.
  if (contents.identity.find('\r') != std::string::npos) return 0;

  DiskRecord disk = DiskNamed(contents);
  const ScanFileLoadResult first = LoadScanResult(disk, file);
  if (first.status == ScanFileLoadStatus::kOtherDisk || first.status == ScanFileLoadStatus::kCannotOpen) return 0;
  const std::string written = ScanResultText(disk);

  DiskRecord again = DiskNamed(contents);
  const ScanFileLoadResult second =
      LoadScanResult(again, MemorySource(std::vector<uint8_t>(written.begin(), written.end())));
  if (second.status != ScanFileLoadStatus::kLoaded) __builtin_trap();
  if (ScanResultText(again) != written) __builtin_trap();
  return 0;
}
