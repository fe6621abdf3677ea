// JPEG (JFIF and Exif): the marker segments are walked to the start of scan;
// the end marker is then searched in the 10 MiB that follow. An end marker
// counts only where the file could end: at a sector's end, or followed by the
// zeros that fill the rest of a file's last sector.
#include <algorithm>
#include <cstring>

#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/jpeg_segment_layout.h"

namespace quorvel {

namespace {

namespace Segment = JpegSegment;

constexpr size_t kSlackChecked = 8;

// Markers followed by a 16-bit segment length.
bool HasSegmentLength(uint8_t code) {
  switch (code) {
    case 0xC0:
    case 0xC1:
    case 0xC4:
    case 0xDB:
    case 0xDC:
    case 0xDD:
    case 0xFE:
      return true;
    default:
      return code >= 0xE0 && code <= 0xEF;
  }
}

// Whether a file may end at `end` in a buffer that starts on a sector.
bool EndsHere(const uint8_t* buffer, size_t end) {
  const size_t left = kDefaultSectorSize - end % kDefaultSectorSize;
  if (left == kDefaultSectorSize) return true;  // the sector ends with the marker
  const uint8_t* after = buffer + end;
  if (left > kSlackChecked) {
    static const uint8_t kZeros[kSlackChecked] = {};
    return std::memcmp(after, kZeros, kSlackChecked) == 0;
  }
  return std::memchr(after, 0, left) != nullptr;
}

}  // namespace

bool IsJpegStart(ByteView head) {
  // The start of image, then the first segment's marker.
  const ByteView first = head.Sub(Segment::kMarkerBytes);
  if (head.U8(Segment::kPrefix) != 0xFF || head.U8(Segment::kCode) != Segment::kStartOfImage ||
      first.U8(Segment::kPrefix) != 0xFF)
    return false;
  switch (first.U8(Segment::kCode)) {
    case 0xC4:
    case 0xDB:
    case 0xE0:
    case 0xE1:
    case 0xEB:
    case 0xEE:
    case 0xFE:
      return first.Matches(Segment::kIdentifier, "JFIF") || first.Matches(Segment::kIdentifier, "Exif");
    default:
      return false;
  }
}

CarveFinding CarveJpeg(const CarveInput& input) {
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (true) {
    const ByteView at = window.At(position);
    const uint8_t code = at.U8(Segment::kCode);
    if (code == Segment::kStartOfScan) break;
    uint64_t next;
    if (code == Segment::kStartOfImage)
      next = position + Segment::kMarkerBytes;
    else if (HasSegmentLength(code))
      next = position + Segment::kMarkerBytes + at.Be16(Segment::kLength);
    else
      return {};
    if (next >= kCarveHeaderWalkLimit) return {};
    position = next;
  }
  // The scan data is searched from the sector the start of scan ends in.
  const uint64_t headers = (position + kDefaultSectorSize - 1) / kDefaultSectorSize * kDefaultSectorSize;
  SearchBuffer buffer(input, input.startSector * kDefaultSectorSize + headers);
  constexpr size_t kLastMarker = kCarveSearchBytes - 4;  // FF D9 with room for one byte after it
  size_t k = 0;
  while (k <= kLastMarker) {
    // Up to the end of the sector the byte after a marker at k lies in.
    const size_t have = buffer.Fill((k + 3 + kDefaultSectorSize - 1) / kDefaultSectorSize * kDefaultSectorSize);
    if (have < k + 3) break;
    const uint8_t* data = buffer.Data();
    const size_t end = std::min(have - 2, kLastMarker + 1);
    const void* hit = std::memchr(data + k, 0xFF, end - k);
    if (!hit) {
      k = end;
      continue;
    }
    k = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    buffer.Fill((k + 3 + kDefaultSectorSize - 1) / kDefaultSectorSize * kDefaultSectorSize);
    if (data[k + 1] == Segment::kEndOfImage && EndsHere(data, k + Segment::kMarkerBytes))
      return Found(headers + k + Segment::kMarkerBytes, "jpg");
    ++k;
  }
  return {};
}

}  // namespace quorvel
