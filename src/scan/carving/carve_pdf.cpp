// PDF: "%PDF-1." at the start; the file ends with the first "%EOF" in the
// 10 MiB after its first sector.
#include <cstring>

#include "scan/carving/carvers.h"

namespace quorvel {

bool IsPdfStart(ByteView head) { return head.Matches(0, "%PDF-1."); }

CarveFinding CarvePdf(const CarveInput& input) {
  const uint8_t* buffer = ReadSearchBuffer(input, (input.startSector + 1) * kDefaultSectorSize);
  if (!buffer) return {};
  // "%EOF" must start below 0x9FFFFC.
  constexpr size_t kSearched = kCarveSearchBytes - 4 + 3;
  const void* hit = memmem(buffer, kSearched, "%EOF", 4);
  if (!hit) return {};
  const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - buffer);
  // The first sector, the bytes before "%EOF" and the marker itself.
  return Found(k + kDefaultSectorSize + 4, "pdf");
}

}  // namespace quorvel
