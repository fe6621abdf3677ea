// MPEG program streams (MPEG-1 and MPEG-2): a pack header, then the system
// header; the stream is walked start code by start code to its end code.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"

namespace quorvel {

namespace {

constexpr uint8_t kPack = 0xBA;
constexpr uint8_t kEnd = 0xB9;
constexpr uint8_t kSystemHeader = 0xBB;

// Pack header length by the byte after the start code: MPEG-1 or MPEG-2.
size_t PackHeaderLength(uint8_t marker) { return marker == 0x21 ? 12 : marker == 0x44 ? 14 : 0; }

// The version bits of a pack header's first byte: '0010' MPEG-1, '01' MPEG-2.
bool SameVersion(uint8_t marker, size_t packLength) {
  return packLength == 12 ? (marker & 0xF0) == 0x20 : (marker & 0xC0) == 0x40;
}

bool IsStartCode(ByteView at) { return at.U8(0) == 0 && at.U8(1) == 0 && at.U8(2) == 1; }

// Start codes followed by a 16-bit length.
bool HasLength(uint8_t code) {
  switch (code) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0xB3:
    case 0xB5:
    case 0xB8:
    case 0xBB:
    case 0xBD:
    case 0xBE:
    case 0xBF:
    case 0xC0:
    case 0xE0:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsMpegStart(ByteView head) {
  if (!IsStartCode(head) || head.U8(3) != kPack) return false;
  const size_t pack = PackHeaderLength(head.U8(4));
  return pack != 0 && IsStartCode(head.Sub(pack)) && head.U8(pack + 3) == kSystemHeader;
}

CarveFinding CarveMpeg(const CarveInput& input) {
  const size_t pack = PackHeaderLength(input.head.U8(4));
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (true) {
    const ByteView at = window.At(position);
    if (!IsStartCode(at)) break;
    const uint8_t code = at.U8(3);
    if (code == kPack) {
      // A pack of the other MPEG version starts another stream right behind this one.
      if (!SameVersion(at.U8(4), pack)) break;
      position += pack;
    } else if (code == kEnd) {
      position += 4;
      break;
    } else if (HasLength(code)) {
      position += 6 + at.Be16(4);
    } else {
      break;
    }
    if (position >= kCarveStreamLimit) {
      CarveFinding jump;
      jump.jump = position;
      return jump;
    }
  }
  if (position > kCarveMinMediaSize) return Found(position, "mpeg");
  return {};
}

}  // namespace quorvel
