#pragma once
// A packet of an MPEG program stream (system header, PES packet and the
// like): the start code 00 00 01, the stream id, and a 16-bit big-endian
// length of what follows it.
#include <cstddef>
#include <cstdint>

namespace quorvel::MpegPacket {

constexpr size_t kStartCode = 0;  // 00 00 01
constexpr size_t kStreamId = 3;
constexpr size_t kLength = 4;            // 16-bit
constexpr uint64_t kHeadBytes = 6;       // start code, id and length, not counted in kLength
constexpr uint64_t kStartCodeBytes = 4;  // start code and id: all an end code has

constexpr uint8_t kPackId = 0xBA;
constexpr uint8_t kSystemHeaderId = 0xBB;
constexpr uint8_t kEndId = 0xB9;

}  // namespace quorvel::MpegPacket
