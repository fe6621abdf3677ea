#pragma once
// The 4-byte header of an MPEG audio frame (MP3 and the other layers), a
// bit field: 11 sync bits (0xFF and the top 3 bits of byte 1), then the
// version and layer in byte 1, the bitrate and sample-rate indexes and the
// padding bit in byte 2.
#include <cstddef>
#include <cstdint>

namespace quorvel::MpegAudioFrame {

constexpr size_t kSync = 0;               // 0xFF
constexpr size_t kVersionAndLayer = 1;    // 111VVLLP: sync, version, layer, no-CRC bit
constexpr uint8_t kSyncBits = 0xE0;       // of byte 1
constexpr unsigned kVersionShift = 3;     // 2 bits: 0 MPEG-2.5, 1 reserved, 2 MPEG-2, 3 MPEG-1
constexpr unsigned kLayerShift = 1;       // 2 bits: 1 layer III, 2 layer II, 3 layer I, 0 reserved
constexpr size_t kRates = 2;              // BBBBRRPx: bitrate index, sample-rate index, padding
constexpr unsigned kBitrateShift = 4;     // 4 bits; 15 is invalid, 0 free format
constexpr unsigned kSampleRateShift = 2;  // 2 bits; 3 is invalid
constexpr unsigned kPaddingShift = 1;     // 1 bit

}  // namespace quorvel::MpegAudioFrame
