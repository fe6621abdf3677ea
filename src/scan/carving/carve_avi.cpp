// AVI: a RIFF file whose form type is "AVI "; its size is in the RIFF header.
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {
constexpr uint32_t kLargestAvi = 0x7FFFFFFF;
constexpr uint64_t kRiffHeader = 8;  // "RIFF" and the size field, not counted in the size
}  // namespace

bool IsAviStart(ByteView head) {
  return head.Matches(0, "RIFF") && head.Matches(8, "AVI ") && head.Matches(12, "LIST");
}

CarveFinding CarveAvi(const CarveInput& input) {
  const uint32_t riffSize = input.head.Le32(4);
  if (riffSize <= kCarveMinMediaSize || riffSize > kLargestAvi) return {};
  return Found(uint64_t{riffSize} + kRiffHeader, "avi");
}

}  // namespace quorvel
