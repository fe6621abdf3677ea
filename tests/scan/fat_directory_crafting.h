#pragma once
// Builders for hand-made FAT directory entries and sectors.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quorvel::test {

using Entry = std::array<uint8_t, 32>;
using Sector = std::array<uint8_t, 512>;

inline void PutWord(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutDword(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

constexpr uint16_t kSomeDate = (44 << 9) | (3 << 5) | 15;  // 2024-03-15
constexpr uint16_t kSomeTime = (10 << 11) | (30 << 5) | 7;

// A short entry with plausible times; name11 is the 8.3 name padded to 11.
inline Entry ShortEntry(const char* name11, uint8_t attribute, uint32_t cluster, uint32_t size) {
  Entry e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attribute;
  PutWord(&e[14], kSomeTime);
  PutWord(&e[16], kSomeDate);
  PutWord(&e[18], kSomeDate);
  PutWord(&e[20], static_cast<uint16_t>(cluster >> 16));
  PutWord(&e[22], kSomeTime);
  PutWord(&e[24], kSomeDate);
  PutWord(&e[26], static_cast<uint16_t>(cluster));
  PutDword(&e[28], size);
  return e;
}

inline uint8_t Checksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

// The long-name entries of an ASCII name, in on-disk order (last part first).
inline std::vector<Entry> LongNameEntries(const std::string& name, const char* shortName11) {
  std::vector<uint16_t> units(name.begin(), name.end());
  units.push_back(0);
  while (units.size() % 13) units.push_back(0xFFFF);
  const int count = static_cast<int>(units.size() / 13);
  static const int kSlots[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
  std::vector<Entry> out;
  for (int order = count; order >= 1; --order) {
    Entry e{};
    e[0] = static_cast<uint8_t>(order | (order == count ? 0x40 : 0));
    e[11] = 0x0F;
    e[13] = Checksum(reinterpret_cast<const uint8_t*>(shortName11));
    for (int i = 0; i < 13; ++i) PutWord(&e[kSlots[i]], units[(order - 1) * 13 + i]);
    out.push_back(e);
  }
  return out;
}

inline Sector MakeSector(const std::vector<Entry>& entries) {
  Sector s{};
  for (size_t i = 0; i < entries.size() && i < 16; ++i) std::memcpy(s.data() + i * 32, entries[i].data(), 32);
  return s;
}

// A folder's first sector: ".", "..", then the given entries.
inline Sector SubfolderFirstSector(uint32_t self, uint32_t parent, std::vector<Entry> rest) {
  std::vector<Entry> entries{ShortEntry(".          ", 0x10, self, 0), ShortEntry("..         ", 0x10, parent, 0)};
  entries.insert(entries.end(), rest.begin(), rest.end());
  return MakeSector(entries);
}

}  // namespace quorvel::test
