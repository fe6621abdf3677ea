// LZNT1 streams from the input, decompressed into one compression unit.
#include <cstdint>
#include <vector>

#include "fs/ntfs/mft_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exact-size heap copies: any read or write past either end is reported.
  std::vector<uint8_t> in(data, data + size);
  std::vector<uint8_t> out(16 * 4096);
  size_t produced = quorvel::DecompressLznt1(in, out);
  if (produced > out.size()) __builtin_trap();
  // A short output buffer must cut the output, not overrun it.
  std::vector<uint8_t> small(size % 5000);
  produced = quorvel::DecompressLznt1(in, small);
  if (produced > small.size()) __builtin_trap();
  return 0;
}
