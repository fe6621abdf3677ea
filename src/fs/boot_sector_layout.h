#pragma once
// The BIOS parameter block that FAT and NTFS boot sectors share: byte
// offsets of the fields read, and the boot signature.
#include <cstddef>
#include <cstdint>

namespace quorvel::BootSector {

constexpr size_t kSize = 512;
constexpr size_t kJump = 0x00;               // 3 bytes: jump instruction
constexpr size_t kOemName = 0x03;            // 8 bytes; NTFS: "NTFS    ", exFAT: "EXFAT   "
constexpr size_t kBytesPerSector = 0x0B;     // 16-bit
constexpr size_t kSectorsPerCluster = 0x0D;  // 8-bit
constexpr size_t kReservedSectors = 0x0E;    // 16-bit
constexpr size_t kNumberOfFats = 0x10;       // 8-bit
constexpr size_t kRootEntries = 0x11;        // 16-bit (FAT12/16)
constexpr size_t kTotalSectors16 = 0x13;     // 16-bit
constexpr size_t kFat16Size = 0x16;          // 16-bit: sectors per FAT (FAT12/16)
constexpr size_t kHiddenSectors = 0x1C;      // 32-bit: sectors before the volume
constexpr size_t kTotalSectors32 = 0x20;     // 32-bit
constexpr size_t kSignature = 0x1FE;         // bytes 0x55 0xAA
constexpr uint16_t kSignatureValue = 0xAA55;

}  // namespace quorvel::BootSector
