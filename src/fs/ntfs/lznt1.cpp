// LZNT1, the compression of NTFS compressed files: a sequence of chunks, each
// decompressing to at most 4096 bytes.
#include <algorithm>
#include <cstring>

#include "fs/ntfs/mft_record.h"

namespace quorvel {

namespace {
constexpr size_t kChunkOutput = 4096;
}

size_t DecompressLznt1(ByteView compressed, std::span<uint8_t> out) {
  const size_t length = compressed.size();
  const size_t outSize = out.size();
  size_t in = 0;
  size_t produced = 0;   // end of the last byte written
  size_t chunkBase = 0;  // where the current chunk's output begins
  while (in + 2 <= length && chunkBase < outSize) {
    const uint16_t header = compressed.Le16(in);
    if (header == 0) break;  // end of the compressed stream
    size_t dataSize = static_cast<size_t>(header & 0x0FFF) + 1;
    in += 2;
    if (dataSize > length - in) dataSize = length - in;  // a cut stream: use what is there
    const ByteView data = compressed.Sub(in, dataSize);
    size_t chunkLimit = std::min(outSize, chunkBase + kChunkOutput);
    size_t outPos = chunkBase;

    if (!(header & 0x8000)) {
      // Stored chunk: the bytes as they are.
      const size_t take = std::min(dataSize, chunkLimit - outPos);
      // A header at the very end of the stream leaves nothing (and no bytes to point at).
      if (take) std::memcpy(out.data() + outPos, data.data(), take);
      outPos += take;
    } else {
      size_t pos = 0;
      bool invalid = false;
      while (pos < dataSize && outPos < chunkLimit && !invalid) {
        uint8_t flags = data.U8(pos++);
        for (int bit = 0; bit < 8 && pos < dataSize && outPos < chunkLimit; ++bit, flags >>= 1) {
          if (!(flags & 1)) {
            out[outPos++] = data.U8(pos++);
            continue;
          }
          if (pos + 2 > dataSize) {
            invalid = true;
            break;
          }
          const uint16_t token = data.Le16(pos);
          pos += 2;
          // The further into the chunk, the more bits the offset takes.
          size_t inChunk = outPos - chunkBase;
          unsigned lengthBits = 12;
          for (size_t i = inChunk - 1; inChunk > 0 && i >= 0x10; i >>= 1) --lengthBits;
          if (inChunk == 0) {
            invalid = true;  // a back-reference before any output
            break;
          }
          size_t offset = static_cast<size_t>(token >> lengthBits) + 1;
          size_t count = static_cast<size_t>(token & ((1u << lengthBits) - 1)) + 3;
          if (offset > inChunk) {
            invalid = true;
            break;
          }
          for (size_t k = 0; k < count && outPos < chunkLimit; ++k, ++outPos) out[outPos] = out[outPos - offset];
        }
      }
      if (invalid) {
        produced = std::max(produced, outPos);
        return produced;
      }
    }
    produced = std::max(produced, outPos);
    in += dataSize;
    // A chunk that decompressed short is followed by zeros up to 4096 bytes.
    chunkBase += kChunkOutput;
  }
  return produced;
}

}  // namespace quorvel
