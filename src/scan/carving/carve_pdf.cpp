// PDF: "%PDF-1." at the start; the file ends with the first "%EOF" in the
// 10 MiB after its first sector.
#include <algorithm>
#include <cstring>

#include "scan/carving/carvers.h"

namespace quorvel {

bool IsPdfStart(ByteView head) { return head.Matches(0, "%PDF-1."); }

CarveFinding CarvePdf(const CarveInput& input) {
  SearchBuffer buffer(input, (input.startSector + 1) * kDefaultSectorSize);
  // "%EOF" must start below 0x9FFFFC.
  constexpr size_t kSearched = kCarveSearchBytes - 4 + 3;
  size_t searched = 0;  // every start below this was looked at
  while (searched < kSearched - 3) {
    const size_t have = std::min(buffer.Fill(searched + 4), kSearched);
    if (have < searched + 4) break;
    const uint8_t* data = buffer.Data();
    if (const void* hit = memmem(data + searched, have - searched, "%EOF", 4)) {
      const size_t k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
      // The first sector, the bytes before "%EOF" and the marker itself.
      return Found(k + kDefaultSectorSize + 4, "pdf");
    }
    searched = have - 3;  // a marker may begin in the last three bytes
  }
  return {};
}

}  // namespace quorvel
