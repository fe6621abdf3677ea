#pragma once
// The pack header of an MPEG program stream: the start code 00 00 01 BA,
// then a byte whose top bits tell MPEG-1 ('0010', 12-byte header) from
// MPEG-2 ('01', 14 bytes before any stuffing).
#include <cstddef>
#include <cstdint>

namespace quorvel::MpegPackHeader {

constexpr size_t kStartCode = 0;        // 00 00 01
constexpr size_t kStreamId = 3;         // 0xBA
constexpr size_t kMarker = 4;           // the version bits, then the clock
constexpr uint8_t kMpeg1Marker = 0x21;  // the whole byte, as a stream's first pack has it
constexpr uint8_t kMpeg2Marker = 0x44;
constexpr uint8_t kMpeg1VersionMask = 0xF0;
constexpr uint8_t kMpeg1VersionBits = 0x20;
constexpr uint8_t kMpeg2VersionMask = 0xC0;
constexpr uint8_t kMpeg2VersionBits = 0x40;
constexpr size_t kMpeg1Size = 12;
constexpr size_t kMpeg2Size = 14;

}  // namespace quorvel::MpegPackHeader
