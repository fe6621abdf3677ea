// Times sequential reads of an image through the disk layer against
// `dd bs=10M` of the same file in the same run:
//   plain    the image's FileSource, 10 MiB blocks
//   striped  the same bytes as a two-member striped volume (64 KiB units),
//            opened once and read by volume position, 10 MiB blocks
// Each contender runs `rounds` times after a warm-up pass; the best time
// counts, so all of them read from the same (cached) state.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "io/sector_buffer.h"
#include "io/volume_source.h"

using namespace quorvel;
using Clock = std::chrono::steady_clock;

namespace {

constexpr size_t kBlock = 10 * 1024 * 1024;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double TimeDd(const std::string& image) {
  std::string cmd = "dd if='" + image + "' of=/dev/null bs=10M status=none";
  auto t0 = Clock::now();
  if (std::system(cmd.c_str()) != 0) return -1;
  return Seconds(t0, Clock::now());
}

// Reads size bytes of source in buffer-sized blocks; the seconds taken, or -1
// when a block came back short.
double TimeSource(const ByteSource& source, uint64_t size, SectorBuffer& buf) {
  auto t0 = Clock::now();
  uint64_t total = 0;
  while (total < size) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), size - total));
    if (source.ReadAt(total, std::span<uint8_t>(buf.data(), want)) != want) return -1;
    total += want;
  }
  return Seconds(t0, Clock::now());
}

double Best(double a, double b) { return a < 0 ? b : (b < 0 ? a : std::min(a, b)); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: disk_read_bench IMAGE [ROUNDS]\n");
    return 1;
  }
  std::string image = argv[1];
  int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  std::unique_ptr<ByteSource> plainSource = FileSource::Open(image);
  if (!plainSource) {
    std::fprintf(stderr, "cannot open %s\n", image.c_str());
    return 2;
  }
  uint64_t size = plainSource->Size() / (2 * 128 * 512) * (2 * 128 * 512);  // whole stripe rows

  // Two members: the image's first and second halves.
  PartitionRecord striped;
  striped.volumeKind = kStripedVolume;
  striped.stripeSize = 128;
  for (int m = 0; m < 2; ++m) {
    VolumeMember member;
    member.ordinal = static_cast<uint8_t>(m);
    member.path = image;
    member.startSector = m * (size / 2 / 512);
    member.sectorCount = size / 2 / 512;
    striped.members[member.ordinal] = member;
  }

  std::unique_ptr<ByteSource> stripedSource = OpenVolumeSource(DiskRecord(), striped);
  if (!stripedSource) return 2;
  SectorBuffer buf(kBlock);
  TimeDd(image);  // warm-up: every contender then reads the same cached file
  double dd = -1, plain = -1, stripe = -1;
  for (int r = 0; r < rounds; ++r) {
    dd = Best(dd, TimeDd(image));
    plain = Best(plain, TimeSource(*plainSource, size, buf));
    stripe = Best(stripe, TimeSource(*stripedSource, size, buf));
  }
  if (dd <= 0 || plain <= 0 || stripe <= 0) {
    std::fprintf(stderr, "a contender failed (dd %.3f, plain %.3f, striped %.3f)\n", dd, plain, stripe);
    return 3;
  }
  double mib = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("image %s, %.0f MiB, best of %d rounds\n", image.c_str(), mib, rounds);
  std::printf("dd bs=10M          %8.1f MiB/s\n", mib / dd);
  std::printf("plain source       %8.1f MiB/s  ratio to dd %.2f\n", mib / plain, dd / plain);
  std::printf("striped volume     %8.1f MiB/s  ratio to dd %.2f\n", mib / stripe, dd / stripe);
  return 0;
}
