// LZNT1 on crafted streams: stored chunks, back-references, streams that lie.
#include <gtest/gtest.h>

#include "fs/ntfs/mft_record.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

// Faults caught: a stored (uncompressed) chunk run through the decoder; a
// short chunk's successor written at the wrong place instead of the next
// 4096-byte boundary.
TEST(Lznt1, StoredChunkAndShortChunkPadding) {
  // Chunk 1: compressed, "ab" then a back-reference of 3 bytes at offset 2 ("aba").
  // Chunk 2: stored, 3 bytes "XYZ" (size - 3 = 0 in the header: 0x3002).
  Bytes stream = {0x04, 0xB0, 0x04, 'a', 'b', 0x00, 0x10, 0x02, 0x30, 'X', 'Y', 'Z', 0x00, 0x00};
  Bytes out(8192, 0xEE);
  size_t produced = DecompressLznt1(stream, out);
  EXPECT_EQ(produced, 4096u + 3);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{'a', 'b', 'a', 'b', 'a'}));
  EXPECT_EQ(out[5], 0xEE);  // nothing written between the chunks
  EXPECT_EQ(Bytes(out.begin() + 4096, out.begin() + 4099), (Bytes{'X', 'Y', 'Z'}));
}

// Faults caught: a back-reference before the chunk's start read out of
// bounds; a chunk header claiming more bytes than the stream holds.
TEST(Lznt1, InvalidTokensEndTheOutput) {
  Bytes before = {0x03, 0xB0, 0x01, 0x00, 0x10};  // back-reference as the first token
  Bytes out(4096, 0);
  EXPECT_EQ(DecompressLznt1(before, out), 0u);

  Bytes truncated = {0xFF, 0xBF, 0x00, 'a', 'b', 'c'};  // claims 4096 bytes, holds 4
  EXPECT_EQ(DecompressLznt1(truncated, out), 3u);

  // A stored chunk's header as the stream's last two bytes: nothing is left
  // to copy, not even a place to copy from (found by the fuzzer).
  Bytes headerLast = {0x02, 0x30, 'a', 'b', 'c', 0x01, 0x30};
  EXPECT_EQ(DecompressLznt1(headerLast, out), 3u);
  Bytes none;
  EXPECT_EQ(DecompressLznt1(headerLast, none), 0u);
}

}  // namespace
}  // namespace quorvel
