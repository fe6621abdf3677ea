// AVI: a RIFF file whose form type is "AVI "; its size is in the RIFF header.
#include "scan/carving/carvers.h"
#include "scan/carving/riff_header_layout.h"

namespace quorvel {

namespace {
constexpr uint32_t kLargestAvi = 0x7FFFFFFF;
}  // namespace

bool IsAviStart(ByteView head) {
  return head.Matches(RiffHeader::kMagic, "RIFF") && head.Matches(RiffHeader::kFormType, "AVI ") &&
         head.Matches(RiffHeader::kFirstChunk, "LIST");
}

CarveFinding CarveAvi(const CarveInput& input) {
  const uint32_t riffSize = input.head.Le32(RiffHeader::kSize);
  if (riffSize <= kCarveMinMediaSize || riffSize > kLargestAvi) return {};
  return Found(uint64_t{riffSize} + RiffHeader::kUncounted, "avi");
}

}  // namespace quorvel
