#pragma once
// Helpers for tests that craft sectors and small image files by hand.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace quorvel::test {

inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutText(uint8_t* p, const char* text) { std::memcpy(p, text, std::strlen(text)); }
inline void PutSignature(uint8_t* sector) {
  sector[510] = 0x55;
  sector[511] = 0xAA;
}

// A fresh folder for a test's files; never empty, so no test writes to "/".
inline std::string TestDir(const std::string& tag) {
  std::string dir = MakeTempDir(tag);
  if (!dir.empty()) return dir;
  std::string pattern = "/tmp/quorvel-" + tag + "-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const char* made = mkdtemp(buf.data());
  return made ? std::string(made) : std::string("/tmp");
}

// A disk image held in memory, written out to a file in a temporary folder.
struct CraftedImage {
  std::vector<uint8_t> bytes;
  explicit CraftedImage(size_t sectors) : bytes(sectors * 512, 0) {}
  uint8_t* Sector(uint64_t s) { return bytes.data() + s * 512; }
  // An MBR-style entry (type, first sector, count) in the table at `sector`.
  void SetEntry(uint64_t sector, int slot, uint8_t type, uint32_t first, uint32_t count) {
    uint8_t* e = Sector(sector) + 446 + 16 * slot;
    e[4] = type;
    PutLe32(e + 8, first);
    PutLe32(e + 12, count);
    PutSignature(Sector(sector));
  }
  std::string WriteTo(const std::string& dir, const std::string& name) const {
    std::string path = dir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
};

// Boot sectors that pass the recognition tests; tests break one field each.
inline void MakeNtfsBoot(uint8_t* s) {
  PutText(s + 3, "NTFS    ");
  PutLe16(s + 0x0B, 512);
  s[0x0D] = 8;
  PutSignature(s);
}
inline void MakeFat32Boot(uint8_t* s) {
  s[0] = 0xEB;
  s[1] = 0x58;
  s[2] = 0x90;
  PutLe16(s + 0x0B, 512);
  s[0x0D] = 1;
  PutLe16(s + 0x0E, 32);
  s[0x10] = 2;
  PutLe32(s + 0x20, 70000);
  PutLe32(s + 0x24, 600);
  PutLe32(s + 0x2C, 2);
  PutLe16(s + 0x32, 6);
  PutText(s + 0x52, "FAT32   ");
  PutSignature(s);
}
inline void MakeFat16Boot(uint8_t* s) {
  s[0] = 0xEB;
  s[1] = 0x3C;
  s[2] = 0x90;
  PutLe16(s + 0x0B, 512);
  s[0x0D] = 4;
  PutLe16(s + 0x0E, 4);
  s[0x10] = 2;
  PutLe16(s + 0x11, 512);
  PutLe16(s + 0x13, 40000);
  PutLe16(s + 0x16, 40);
  PutText(s + 0x36, "FAT16   ");
  PutSignature(s);
}
inline void MakeExfatBoot(uint8_t* s) {
  s[0] = 0xEB;
  s[1] = 0x76;
  s[2] = 0x90;
  PutText(s + 3, "EXFAT   ");
  PutLe64(s + 0x48, 32768);
  PutLe32(s + 0x58, 64);
  PutLe32(s + 0x60, 4);
  s[0x6C] = 9;
  s[0x6D] = 3;
  PutSignature(s);
}
// A superblock (1024 bytes) of a mounted two-group EXT volume.
inline void MakeExtSuperblock(uint8_t* sb) {
  PutLe32(sb + 0x00, 4096);   // inodes
  PutLe32(sb + 0x04, 16384);  // blocks
  PutLe32(sb + 0x0C, 1000);   // free blocks
  PutLe32(sb + 0x10, 4000);   // free inodes
  PutLe32(sb + 0x14, 1);      // first data block
  PutLe32(sb + 0x18, 0);      // 1 KiB blocks
  PutLe32(sb + 0x20, 8192);   // blocks per group
  PutLe32(sb + 0x28, 2048);   // inodes per group
  PutLe32(sb + 0x2C, 1700000000);
  PutLe32(sb + 0x30, 1700000000);
  PutLe16(sb + 0x38, 0xEF53);
  PutLe16(sb + 0x58, 256);
}

}  // namespace quorvel::test
