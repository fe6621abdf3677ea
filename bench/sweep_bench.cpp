// Times the FAT directory-sector sweep over a whole image file, for
// bench/run_sweep_bench.sh to compare with dd reading the same image.
#include <chrono>
#include <cstdio>
#include <string>

#include "fs/fat/fat_directory_sweep.h"
#include "io/byte_source.h"

int main(int argc, char** argv) {
  using namespace quorvel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: sweep_bench IMAGE\n");
    return 1;
  }
  std::unique_ptr<ByteSource> source = FileSource::Open(argv[1]);
  if (!source) {
    std::fprintf(stderr, "sweep_bench: cannot open %s\n", argv[1]);
    return 2;
  }
  const uint64_t sectors = source->Size() / 512;
  if (sectors == 0) return 2;

  DiskRecord disk;
  disk.devicePath = argv[1];
  ScanProgress progress;
  auto begin = std::chrono::steady_clock::now();
  // The end sector of the range is tested too: stop one short of the file's end.
  bool ok = ScanDirectorySectors(*source, disk, progress, 0, sectors - 1);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  if (!ok) return 2;
  std::printf("sectors=%llu recorded=%zu seconds=%.4f\n", static_cast<unsigned long long>(sectors),
              disk.directorySectors.size(), seconds);
  return 0;
}
