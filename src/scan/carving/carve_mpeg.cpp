// MPEG program streams (MPEG-1 and MPEG-2): a pack header, then the system
// header; the stream is walked start code by start code to its end code.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/mpeg_pack_header_layout.h"
#include "scan/carving/mpeg_packet_layout.h"

namespace quorvel {

namespace {

namespace Pack = MpegPackHeader;

// Pack header length by the byte after the start code: MPEG-1 or MPEG-2.
size_t PackHeaderLength(uint8_t marker) {
  return marker == Pack::kMpeg1Marker ? Pack::kMpeg1Size : marker == Pack::kMpeg2Marker ? Pack::kMpeg2Size : 0;
}

// The version bits of a pack header's first byte: '0010' MPEG-1, '01' MPEG-2.
bool SameVersion(uint8_t marker, size_t packLength) {
  return packLength == Pack::kMpeg1Size ? (marker & Pack::kMpeg1VersionMask) == Pack::kMpeg1VersionBits
                                        : (marker & Pack::kMpeg2VersionMask) == Pack::kMpeg2VersionBits;
}

bool IsStartCode(ByteView at) {
  const size_t s = MpegPacket::kStartCode;
  return at.U8(s) == 0 && at.U8(s + 1) == 0 && at.U8(s + 2) == 1;
}

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
  if (!IsStartCode(head) || head.U8(Pack::kStreamId) != MpegPacket::kPackId) return false;
  const size_t pack = PackHeaderLength(head.U8(Pack::kMarker));
  const ByteView next = head.Sub(pack);
  return pack != 0 && IsStartCode(next) && next.U8(MpegPacket::kStreamId) == MpegPacket::kSystemHeaderId;
}

CarveFinding CarveMpeg(const CarveInput& input) {
  const size_t pack = PackHeaderLength(input.head.U8(Pack::kMarker));
  CarveWindow window(input.source, input.startSector, input.head);
  uint64_t position = 0;
  while (true) {
    const ByteView at = window.At(position);
    if (!IsStartCode(at)) break;
    const uint8_t code = at.U8(MpegPacket::kStreamId);
    if (code == MpegPacket::kPackId) {
      // A pack of the other MPEG version starts another stream right behind this one.
      if (!SameVersion(at.U8(Pack::kMarker), pack)) break;
      position += pack;
    } else if (code == MpegPacket::kEndId) {
      position += MpegPacket::kStartCodeBytes;
      break;
    } else if (HasLength(code)) {
      position += MpegPacket::kHeadBytes + at.Be16(MpegPacket::kLength);
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
