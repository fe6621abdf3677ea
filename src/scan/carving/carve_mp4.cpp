// MP4: an "ftyp" box first; the file is walked box by box while the boxes are
// of the four kinds a plain MP4 holds at its top level.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/mp4_box_layout.h"

namespace quorvel {

namespace {

bool IsTopLevelBox(ByteView at) {
  return at.Matches(Mp4Box::kType, "free") || at.Matches(Mp4Box::kType, "ftyp") || at.Matches(Mp4Box::kType, "mdat") ||
         at.Matches(Mp4Box::kType, "moov");
}

}  // namespace

bool IsMp4Start(ByteView head) { return head.Matches(Mp4Box::kType, "ftyp"); }

CarveFinding CarveMp4(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (true) {
    const ByteView at = window.At(position);
    if (!IsTopLevelBox(at)) break;
    const uint32_t size = at.Be32(Mp4Box::kSize);
    position += size;
    if (size <= 1) break;  // to the end of the file, or a 64-bit size: the walk ends here
    if (position >= kCarveStreamLimit) return {};
  }
  if (position > kCarveMinMediaSize) return Found(position, "mp4");
  return {};
}

}  // namespace quorvel
