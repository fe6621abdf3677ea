// libFuzzer target: GNU ddrescue mapfiles as a resumed imaging run reads
// them. A file that parses must write back to the same blocks, and a rescue
// resumed from it (on a small disk with bad sectors, with one retry pass)
// must end, writing nowhere outside its range, with every sector the file
// did not call finished read when it is readable (its bytes in the image)
// and bad with the filler when it is not.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/image_copy.h"
#include "imaging/mapfile.h"

using namespace quorvel;

namespace {

constexpr uint64_t kSectors = 256;

bool Bad(uint64_t sector) { return sector % 7 == 3 || (sector >= 100 && sector < 140); }
uint8_t Byte(uint64_t i) { return static_cast<uint8_t>(i * 31 + i / 512); }

class Disk : public ByteSource {
 public:
  size_t ReadAt(uint64_t offset, std::span<uint8_t> buffer) const override {
    size_t done = 0;
    while (done < buffer.size() && offset + done < kSectors * 512 && !Bad((offset + done) / 512)) {
      buffer[done] = Byte(offset + done);
      ++done;
    }
    return ZeroRest(buffer, done / 512 * 512);
  }
  uint64_t Size() const override { return kSectors * 512; }
};

class Image : public ImageWriter {
 public:
  bool WriteAt(uint64_t position, std::span<const uint8_t> data) override {
    if (position + data.size() > bytes.size()) std::abort();  // outside the range
    std::memcpy(bytes.data() + position, data.data(), data.size());
    return true;
  }
  bool Flush() override { return true; }
  std::string LastError() const override { return std::string(); }
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kSectors * 512, 0xEE);
};

std::string BlocksText(const Mapfile& map) {
  std::string text;
  for (const MapBlock& b : map.Blocks())
    text += std::to_string(b.position) + " " + std::to_string(b.size) + b.status + "\n";
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Mapfile map;
  std::string error;
  if (!ParseMapfile(std::string(reinterpret_cast<const char*>(data), size), map, error)) return 0;
  Mapfile back;
  if (!ParseMapfile(FormatMapfile(map, {"fuzz"}), back, error) || BlocksText(back) != BlocksText(map)) std::abort();
  map.Tally(0, UINT64_MAX);

  CopyPlan plan;
  plan.length = kSectors * 512;
  plan.options.retries = 1;
  plan.options.reverse = size % 2 == 1;
  const uint64_t clusters[] = {1, 3, 8, 128};
  plan.options.clusterBytes = clusters[size % 4] * 512;
  Disk disk;
  Image image;
  ScanProgress progress;
  std::vector<bool> finishedBefore(kSectors);
  for (uint64_t s = 0; s < kSectors; ++s) {
    MapBlock b = map.BlockAt(s * 512);
    finishedBefore[s] = b.status == MapStatus::kFinished && b.End() >= (s + 1) * 512;
  }
  ImageCopyResult result = CopyImage(disk, image, plan, map, progress);
  if (!result.Complete()) std::abort();
  for (uint64_t s = 0; s < kSectors; ++s) {
    if (finishedBefore[s]) continue;
    MapBlock b = map.BlockAt(s * 512);
    if (b.status != (Bad(s) ? MapStatus::kBadSector : MapStatus::kFinished)) std::abort();
    for (uint64_t i = 0; i < 512; ++i)
      if (image.bytes[s * 512 + i] != (Bad(s) ? kUnreadableFiller : Byte(s * 512 + i))) std::abort();
  }
  return 0;
}
