// The per-sector test of the FAT directory sweep. It runs on every sector of a
// volume, so it rejects early and never allocates.
#include <cstring>

#include "fs/fat/fat_directory_sweep.h"

namespace quorvel {

namespace {

constexpr uint8_t kDeletedMark = 0xE5;
constexpr uint8_t kLongNameAttribute = 0x0F;
constexpr uint8_t kLabelAttribute = 0x08;
constexpr uint16_t kLatestTime = 0xBF7E;    // 23:59:58
constexpr uint16_t kEarliestDate = 0x2821;  // 2000-01-01
constexpr uint16_t kLatestDate = 0xC99F;    // 2080-12-31

inline uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Dword(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// The checksum long-name entries carry of their short entry's 11 name bytes.
inline uint8_t ShortNameChecksum(const uint8_t* name) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
  return sum;
}

inline bool IsAllZero(const uint8_t* entry) {
  static const uint8_t kZero[32] = {};
  return std::memcmp(entry, kZero, 32) == 0;
}

// Fields every short entry in use or deleted must have sane.
inline bool ShortEntryFieldsPlausible(const uint8_t* e) {
  for (int i = 0; i < 11; ++i)
    if (e[i] == 0) return false;
  uint32_t size = Dword(e + 28);
  // Data without a cluster to hold it.
  if (size != 0 && Word(e + 26) <= 1 && Word(e + 20) == 0) return false;
  if (Word(e + 14) > kLatestTime || Word(e + 22) > kLatestTime) return false;
  uint16_t created = Word(e + 16);
  uint16_t written = Word(e + 24);
  if (created < kEarliestDate || created > kLatestDate) return false;
  if (written < kEarliestDate || written > kLatestDate) return false;
  if (Word(e + 18) < created) return false;  // accessed before it existed
  return true;
}

}  // namespace

bool IsSubfolderFirstSector(const uint8_t* sector) {
  return sector[0] == '.' && sector[1] == ' ' && sector[32] == '.' && sector[33] == '.' && Dword(sector + 28) == 0 &&
         Dword(sector + 32 + 28) == 0;
}

bool IsFatDirectorySector(const uint8_t* sector) {
  bool labelSeen = false;
  // A live long-name run is open directly before the current entry; its last
  // order number tells whether it was closed (order 1).
  bool afterLiveLongName = false;
  uint8_t lastOrder = 0;

  for (int i = 0; i < 16; ++i) {
    const uint8_t* e = sector + i * 32;
    const uint8_t attribute = e[11];
    const uint8_t caseByte = e[12];
    if (attribute >= 0x80) return false;
    if (attribute == kLabelAttribute && caseByte == 0) {
      if (labelSeen) return false;
      labelSeen = true;
    } else if ((caseByte & ~0x18) != 0) {  // only 0, 0x08, 0x10, 0x18
      return false;
    }

    if (attribute == kLongNameAttribute) {
      if (Word(e + 26) != 0) return false;
      if (e[0] == kDeletedMark) {
        afterLiveLongName = false;
        continue;
      }
      const uint8_t order = e[0] & 0x1F;
      if (afterLiveLongName && lastOrder != 1 && order + 1 != lastOrder) return false;
      lastOrder = order;
      afterLiveLongName = true;
      continue;
    }

    if (e[0] == 0) {
      if (!IsAllZero(e)) return false;
      afterLiveLongName = false;
      continue;
    }
    if (e[0] == kDeletedMark) {
      if (Word(e + 20) != 0) return false;
    } else if (afterLiveLongName) {
      // The run must end with order 1 right before its short entry, and
      // belong to this short name.
      if (lastOrder != 1) return false;
      if (ShortNameChecksum(e) != e[-32 + 13]) return false;
    }
    afterLiveLongName = false;
    if (!ShortEntryFieldsPlausible(e)) return false;
  }
  return true;
}

}  // namespace quorvel
