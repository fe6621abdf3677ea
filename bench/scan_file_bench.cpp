// Times writing and reading a scan-result file of a large scan: 1,000,000
// FAT directory sectors, 100,000 carved files, 10,000 MFT fragments and a
// few hundred partitions, for bench/run_scan_file_bench.sh to set against
// the deep scan that finds such things.
//   scan_file_bench FILE [DIRECTORY_SECTORS] [CARVED_FILES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "scanfile/scan_file_load.h"
#include "scanfile/scan_file_writer.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quorvel;
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_file_bench FILE [DIRECTORY_SECTORS] [CARVED_FILES]\n");
    return 1;
  }
  const uint64_t sectors = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1000000;
  const uint64_t carved = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 100000;

  // Spread over a 2 TB disk the way a deep scan leaves them.
  DiskRecord disk;
  disk.vendor = "bench.img";
  const uint64_t diskSectors = 4000000000ULL;
  for (uint64_t i = 0; i < sectors; ++i) disk.directorySectors.insert(disk.directorySectors.end(), i * 3989 + 2048);
  // The least a disk holding all this spans: every directory sector and carved file.
  uint64_t coveredBytes = sectors * 512;
  for (uint64_t i = 0; i < carved; ++i) {
    coveredBytes += 4096 + i % 100000;
    const uint64_t at = 1000 + i * (diskSectors / (carved + 1));
    disk.carvedFiles.emplace_hint(disk.carvedFiles.end(), at,
                                  CarvedFile{0, 4096 + i % 100000, std::to_string(at) + ".jpg", "jpg"});
  }
  for (uint64_t i = 0; i < 10000; ++i) disk.mftFragments.push_back({i * 100000 + 63, 900});
  for (int i = 0; i < 300; ++i) {
    PartitionRecord p;
    p.name = "Partition" + std::to_string(i);
    p.startSector = 2048 + static_cast<uint64_t>(i) * 10000000;
    p.sectorCount = 9999000;
    p.fsKind = i % 2 ? 0x07 : 0x0B;
    p.originCode = 1 + i % 2;
    p.fat.sizeSectors = i % 2 ? 0 : 1200;
    disk.partitions.push_back(p);
  }

  auto start = std::chrono::steady_clock::now();
  const ScanFileSaveResult saved = SaveScanResult(disk, argv[1]);
  const double saveSeconds = Seconds(start);
  if (saved.status != ScanFileSaveStatus::kSaved) {
    std::fprintf(stderr, "scan_file_bench: %s\n", saved.error.c_str());
    return 2;
  }
  DiskRecord loaded;
  loaded.vendor = disk.vendor;
  start = std::chrono::steady_clock::now();
  const ScanFileLoadResult result = LoadScanResult(loaded, argv[1]);
  const double loadSeconds = Seconds(start);
  if (result.status != ScanFileLoadStatus::kLoaded || loaded.directorySectors.size() != sectors ||
      loaded.carvedFiles.size() != carved || loaded.partitions.size() != disk.partitions.size()) {
    std::fprintf(stderr, "scan_file_bench: the file did not load back whole\n");
    return 2;
  }
  std::printf("directory_sectors=%llu carved=%llu bytes=%llu covered_bytes=%llu save_seconds=%.3f load_seconds=%.3f\n",
              static_cast<unsigned long long>(sectors), static_cast<unsigned long long>(carved),
              static_cast<unsigned long long>(saved.bytes), static_cast<unsigned long long>(coveredBytes), saveSeconds,
              loadSeconds);
  return 0;
}
