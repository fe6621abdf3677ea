#pragma once
// Byte-level pieces of hand-made FAT directory entries, shared by the FAT
// reader and directory-sweep tests.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::test {

using Entry = std::array<uint8_t, 32>;

inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint16_t kDate = (44 << 9) | (3 << 5) | 15;   // 2024-03-15
constexpr uint16_t kTime = (10 << 11) | (30 << 5) | 7;  // 10:30:14

// The checksum a long-name entry carries of its short entry's 11 name bytes.
inline uint8_t ShortChecksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

// Long-name entries of UTF-16 units already padded to a multiple of 13, in
// on-disk order (last part first).
inline std::vector<Entry> LongEntriesOfUnits(const std::u16string& units, uint8_t checksum) {
  const int count = static_cast<int>(units.size() / 13);
  static const int kSlots[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::vector<Entry> out;
  for (int order = count; order >= 1; --order) {
    Entry e{};
    e[0] = static_cast<uint8_t>(order | (order == count ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = checksum;
    for (int i = 0; i < 13; ++i) PutLe16(&e[kSlots[i]], units[(order - 1) * 13 + i]);
    out.push_back(e);
  }
  return out;
}

}  // namespace quorvel::test
