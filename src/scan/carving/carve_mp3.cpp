// MP3 (MPEG audio, any layer and version): an optional ID3v2 tag, then the
// frames walked one by one by their header; an ID3v1 tag may follow them.
#include "scan/carving/carve_window.h"
#include "scan/carving/carvers.h"
#include "scan/carving/id3v1_tag_layout.h"
#include "scan/carving/id3v2_header_layout.h"
#include "scan/carving/mpeg_audio_frame_layout.h"

namespace quorvel {

namespace {

namespace Frame = MpegAudioFrame;

// Kilobits per second by layer (I, II, III) and bitrate index.
constexpr uint16_t kMpeg1Bitrates[3][15] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
};
// MPEG-2 and MPEG-2.5; layers II and III share a row.
constexpr uint16_t kMpeg2Bitrates[3][15] = {
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
// Hertz by version bits (0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1) and rate index.
constexpr uint32_t kSampleRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// Bytes of the frame whose header is at `at`; 0 when it is no frame header.
uint32_t FrameLength(ByteView at) {
  const uint8_t b1 = at.U8(Frame::kVersionAndLayer), b2 = at.U8(Frame::kRates);
  if (at.U8(Frame::kSync) != 0xFF || b1 < Frame::kSyncBits) return 0;
  const unsigned version = (b1 >> Frame::kVersionShift) & 3;  // 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
  const unsigned layerBits = (b1 >> Frame::kLayerShift) & 3;  // 1 III, 2 II, 3 I, 0 reserved
  const unsigned bitrateIndex = b2 >> Frame::kBitrateShift;
  const unsigned rateIndex = (b2 >> Frame::kSampleRateShift) & 3;
  if (version == 1 || layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) return 0;
  const unsigned layer = 4 - layerBits;  // 1, 2 or 3
  const bool mpeg1 = version == 3;
  const uint32_t kbps = (mpeg1 ? kMpeg1Bitrates : kMpeg2Bitrates)[layer - 1][bitrateIndex];
  if (kbps == 0) return 0;  // free format: no length to follow
  const uint32_t bitrate = kbps * 1000u;
  const uint32_t rate = kSampleRates[version][rateIndex];
  const uint32_t padding = (b2 >> Frame::kPaddingShift) & 1;
  if (layer == 1) return (padding + 12 * bitrate / rate) * 4;
  const uint32_t coefficient = layer == 3 && !mpeg1 ? 72 : 144;
  return padding + coefficient * bitrate / rate;
}

}  // namespace

bool IsMp3Start(ByteView head) {
  return head.Matches(Id3v2Header::kMagic, "ID3") ||
         (head.U8(Frame::kSync) == 0xFF && head.U8(Frame::kVersionAndLayer) >= Frame::kSyncBits &&
          head.U8(Frame::kRates) < 0xF0);
}

CarveFinding CarveMp3(const CarveInput& input) {
  uint64_t position = 0;
  if (input.head.Matches(Id3v2Header::kMagic, "ID3")) {
    uint64_t tag = 0;
    for (size_t i = 0; i < Id3v2Header::kSizeBytes; ++i)
      tag = tag << 7 | (input.head.U8(Id3v2Header::kSize + i) & 0x7Fu);
    position = tag + Id3v2Header::kHeaderBytes;
  }
  CarveWindow window(input.source, input.startSector, input.head);
  while (position < kCarveHeaderWalkLimit) {
    const uint32_t length = FrameLength(window.At(position));
    if (length == 0) break;
    position += length;
  }
  if (position <= kCarveMinMediaSize || position >= kCarveHeaderWalkLimit) return {};
  const bool id3v1 = window.At(position).Matches(Id3v1Tag::kMagic, "TAG");
  return Found(position + (id3v1 ? Id3v1Tag::kSize : 0), "mp3");
}

}  // namespace quorvel
