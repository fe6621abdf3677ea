#pragma once
// Builders for hand-made FAT directory entries and sectors.
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/fat_entry_bytes.h"

namespace quorvel::test {

using Sector = std::array<uint8_t, 512>;

// A short entry with plausible times; name11 is the 8.3 name padded to 11.
inline Entry ShortEntry(const char* name11, uint8_t attribute, uint32_t cluster, uint32_t size) {
  Entry e{};
  std::memcpy(e.data(), name11, 11);
  e[11] = attribute;
  PutLe16(&e[14], kTime);
  PutLe16(&e[16], kDate);
  PutLe16(&e[18], kDate);
  PutLe16(&e[20], static_cast<uint16_t>(cluster >> 16));
  PutLe16(&e[22], kTime);
  PutLe16(&e[24], kDate);
  PutLe16(&e[26], static_cast<uint16_t>(cluster));
  PutLe32(&e[28], size);
  return e;
}

// The long-name entries of an ASCII name, in on-disk order (last part first).
inline std::vector<Entry> LongNameEntries(const std::string& name, const char* shortName11) {
  std::u16string units(name.begin(), name.end());
  units.push_back(0);
  while (units.size() % 13) units.push_back(0xFFFF);
  return LongEntriesOfUnits(units, ShortChecksum(reinterpret_cast<const uint8_t*>(shortName11)));
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
