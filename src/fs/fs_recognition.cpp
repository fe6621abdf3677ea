#include "fs/fs_recognition.h"

#include <cstring>

#include "core/byte_order.h"
#include "platform/text.h"

namespace quorvel {

namespace {

bool HasBootSignature(const uint8_t* s) { return s[0x1FE] == 0x55 && s[0x1FF] == 0xAA; }

}  // namespace

bool IsNtfsBootSector(const uint8_t* s) {
  return HasBootSignature(s) && LoadLe16(s + 0x0B) == 512 && s[0x10] == 0 && LoadLe16(s + 0x11) == 0 &&
         LoadLe16(s + 0x16) == 0 && std::memcmp(s + 3, "NTFS", 4) == 0;
}

bool IsFat32BootSector(const uint8_t* s) {
  return HasBootSignature(s) && s[0x10] == 2 && LoadLe16(s + 0x0B) == 512 && LoadLe16(s + 0x32) <= 6 &&
         LoadLe32(s + 0x11) == 0 && LoadLe16(s + 0x16) == 0 && std::memcmp(s + 0x52, "FAT32", 5) == 0;
}

bool IsFat16BootSector(const uint8_t* s) {
  return HasBootSignature(s) && LoadLe16(s + 0x11) == 512 && LoadLe16(s + 0x0B) == 512 &&
         std::memcmp(s + 0x36, "FAT16", 5) == 0;
}

bool IsExfatBootSector(const uint8_t* s) {
  if (!HasBootSignature(s) || std::memcmp(s + 3, "EXFAT", 5) != 0) return false;
  for (int i = 0x0B; i < 0x40; ++i)
    if (s[i] != 0) return false;
  return true;
}

namespace {

uint64_t ExtTotalBlocks(const uint8_t* sb) {
  return LoadLe32(sb + 0x04) + (static_cast<uint64_t>(LoadLe32(sb + 0x150)) << 32);
}

}  // namespace

bool IsExtSuperblock(const uint8_t* sb) {
  if (LoadLe16(sb + 0x38) != 0xEF53) return false;
  if (LoadLe32(sb + 0x48) != 0) return false;
  if (LoadLe16(sb + 0x58) < 128) return false;
  uint32_t logBlock = LoadLe32(sb + 0x18);
  // A shift past 31 would make the block size meaningless (and the shift undefined).
  if (logBlock > 21) return false;
  uint32_t blocksPerGroup = LoadLe32(sb + 0x20);
  if (blocksPerGroup == 0 || LoadLe32(sb + 0x28) == 0 || LoadLe32(sb + 0x2C) == 0 || LoadLe32(sb + 0x30) == 0)
    return false;
  uint64_t total = ExtTotalBlocks(sb);
  uint64_t freeBlocks = LoadLe32(sb + 0x0C) + (static_cast<uint64_t>(LoadLe32(sb + 0x158)) << 32);
  return LoadLe32(sb + 0x10) < LoadLe32(sb + 0x00) && freeBlocks < total && LoadLe32(sb + 0x14) < total &&
         blocksPerGroup < total;
}

std::string ExtSubKind(const uint8_t* sb) {
  if ((LoadLe32(sb + 0x5C) & 0x4) == 0) return "EXT2";
  return (LoadLe32(sb + 0x60) & 0x40) ? "EXT4" : "EXT3";
}

uint64_t ExtVolumeSectors(const uint8_t* sb) {
  uint32_t logBlock = LoadLe32(sb + 0x18);
  if (logBlock > 21) return 0;
  uint64_t blockSize = uint64_t{1024} << logBlock;
  return blockSize * ExtTotalBlocks(sb) / 512;
}

namespace {

// Disk text that may be UTF-8 or a legacy 8-bit encoding.
std::string DiskText(const uint8_t* p, size_t maxLen) {
  size_t n = 0;
  while (n < maxLen && p[n] != 0) ++n;
  std::string raw(reinterpret_cast<const char*>(p), n);
  return IsValidUtf8(raw) ? raw : Cp936ToUtf8(raw);
}

}  // namespace

std::string ExtVolumeName(const uint8_t* sb) { return DiskText(sb + 0x78, 16); }

int ClassifyHfsHeader(const uint8_t* h) {
  switch (LoadLe16(h)) {
    case 0x4442: {  // "BD"
      uint16_t embedded = LoadLe16(h + 0x7C);
      if (embedded == 0) return 1;
      if (embedded == 0x2B48) return 4;
      return 0;
    }
    case 0x2B48:  // "H+"
      return 2;
    case 0x5848:  // "HX"
      return 3;
    default:
      return 0;
  }
}

std::string HfsVolumeName(const uint8_t* h) {
  size_t len = h[0x24];
  if (len > 27) len = 27;
  return Cp936ToUtf8(std::string(reinterpret_cast<const char*>(h + 0x25), len));
}

std::string ProbeHfsVolume(SectorDevice& device, uint64_t startSector, int32_t& variant) {
  uint8_t header[512];
  device.ReadAt((startSector + 2) * kSectorSize, header, sizeof header);
  switch (LoadLe16(header)) {
    case 0x4442:
      variant = LoadLe16(header + 0x7C) == 0x2B48 ? 4 : 1;
      return HfsVolumeName(header);
    case 0x2B48:
      variant = 2;
      return "only hfs+";
    case 0x5848:
      variant = 3;
      return "HFSX";
    default:
      return std::string();
  }
}

bool FixUpFileRecord(uint8_t* r) {
  if (std::memcmp(r, "FILE", 4) != 0 && std::memcmp(r, "FHLD", 4) != 0) return false;
  uint8_t usaOffset = r[4];
  if (usaOffset != 0x30 && usaOffset != 0x2A) return false;
  uint16_t usn = LoadLe16(r + usaOffset);
  if (LoadLe16(r + 0x1FE) != usn || LoadLe16(r + 0x3FE) != usn) return false;
  std::memcpy(r + 0x1FE, r + usaOffset + 2, 2);
  std::memcpy(r + 0x3FE, r + usaOffset + 4, 2);
  return true;
}

}  // namespace quorvel
