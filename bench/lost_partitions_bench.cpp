// Times one lost-partition scan of an image file, for
// bench/run_lost_partitions_bench.sh to compare with dd reading the same image.
//   lost_partitions_bench IMAGE quick|precise
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "scan/lost_partitions.h"
#include "volumes/disk_enumeration.h"

int main(int argc, char** argv) {
  using namespace quorvel;
  if (argc != 3 || (std::strcmp(argv[2], "quick") != 0 && std::strcmp(argv[2], "precise") != 0)) {
    std::fprintf(stderr, "usage: lost_partitions_bench IMAGE quick|precise\n");
    return 1;
  }
  DiskList list;
  if (!OpenImageFile(list, argv[1])) {
    std::fprintf(stderr, "lost_partitions_bench: cannot open %s\n", argv[1]);
    return 2;
  }
  DiskRecord& disk = list.back();
  const LostScanMode mode = std::strcmp(argv[2], "precise") == 0 ? kPreciseLostScan : kQuickLostScan;
  ScanProgress progress;
  LostScanReport report;
  auto begin = std::chrono::steady_clock::now();
  bool ok = ScanLostPartitions(disk, mode, 0, progress, &report);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!ok) return 2;
  std::printf("mode=%s found=%zu reads=%llu bytes=%llu seconds=%.4f\n", argv[2], report.found.size(),
              static_cast<unsigned long long>(report.reads), static_cast<unsigned long long>(report.bytesRead),
              seconds);
  for (const auto& f : report.found) std::printf("  %s %s\n", f.name.c_str(), f.description.c_str());
  return 0;
}
