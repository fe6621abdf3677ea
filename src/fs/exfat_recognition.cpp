// The exFAT boot-sector test.
#include "fs/exfat_layout.h"
#include "fs/fs_recognition.h"

namespace quorvel {

bool IsExfatBootSector(ByteView s) {
  if (!HasBootSignature(s) || !s.Matches(BootSector::kOemName, "EXFAT")) return false;
  for (size_t i = ExfatBoot::kMustBeZero; i < ExfatBoot::kMustBeZeroEnd; ++i)
    if (s.U8(i) != 0) return false;
  return true;
}

}  // namespace quorvel
