// MP4: an "ftyp" box first; the file is walked box by box while the boxes are
// of the four kinds a plain MP4 holds at its top level.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

bool IsTopLevelBox(ByteView at) {
  return at.Matches(4, "free") || at.Matches(4, "ftyp") || at.Matches(4, "mdat") || at.Matches(4, "moov");
}

}  // namespace

bool IsMp4Start(ByteView head) { return head.Matches(4, "ftyp"); }

CarveFinding CarveMp4(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (true) {
    const ByteView at = window.At(position);
    if (!IsTopLevelBox(at)) break;
    const uint32_t size = at.Be32(0);
    position += size;
    if (size <= 1) break;  // to the end of the file, or a 64-bit size: the walk ends here
    if (position >= kCarveStreamLimit) return {};
  }
  if (position > kCarveMinMediaSize) return Found(position, "mp4");
  return {};
}

}  // namespace quorvel
