// EXT2/3/4: the superblock test, the sub-kind, size and volume name.
#include "fs/ext_layout.h"
#include "fs/fs_recognition.h"
#include "platform/text.h"

namespace quorvel {

namespace {

using namespace ExtSuperblock;

// A shift past 21 would make the block size meaningless (and the shift undefined).
constexpr uint32_t kMaxLogBlockSize = 21;

uint64_t TotalBlocks(ByteView sb) {
  return sb.Le32(kBlocksCount) + (static_cast<uint64_t>(sb.Le32(kBlocksCountHigh)) << 32);
}

// Disk text that may be UTF-8 or a legacy 8-bit encoding.
std::string DiskText(ByteView bytes) {
  size_t n = 0;
  while (n < bytes.size() && bytes.U8(n) != 0) ++n;
  std::string raw(reinterpret_cast<const char*>(bytes.data()), n);
  return IsValidUtf8(raw) ? raw : Cp936ToUtf8(raw);
}

}  // namespace

bool IsExtSuperblock(ByteView sb) {
  if (!sb.Has(0, kSize)) return false;
  if (sb.Le16(kMagic) != kMagicValue) return false;
  if (sb.Le32(kCreatorOs) != 0) return false;
  if (sb.Le16(kInodeSize) < 128) return false;
  if (sb.Le32(kLogBlockSize) > kMaxLogBlockSize) return false;
  const uint32_t blocksPerGroup = sb.Le32(kBlocksPerGroup);
  if (blocksPerGroup == 0 || sb.Le32(kInodesPerGroup) == 0 || sb.Le32(kLastMountTime) == 0 ||
      sb.Le32(kLastWriteTime) == 0)
    return false;
  const uint64_t total = TotalBlocks(sb);
  const uint64_t freeBlocks = sb.Le32(kFreeBlocksCount) + (static_cast<uint64_t>(sb.Le32(kFreeBlocksCountHigh)) << 32);
  // One block bitmap per group maps at most 8 x block size blocks. (A rule
  // of fewer blocks per group than blocks in all would refuse every volume
  // of a single group, which is what mkfs makes of small ones.)
  const uint64_t blockSize = uint64_t{1024} << sb.Le32(kLogBlockSize);
  return sb.Le32(kFreeInodesCount) < sb.Le32(kInodesCount) && freeBlocks < total && sb.Le32(kFirstDataBlock) < total &&
         blocksPerGroup <= 8 * blockSize;
}

std::string ExtSubKind(ByteView sb) {
  if ((sb.Le32(kCompatibleFeatures) & kHasJournal) == 0) return "EXT2";
  return (sb.Le32(kIncompatibleFeatures) & kExtents) ? "EXT4" : "EXT3";
}

uint64_t ExtVolumeSectors(ByteView sb) {
  const uint32_t logBlock = sb.Le32(kLogBlockSize);
  if (logBlock > kMaxLogBlockSize) return 0;
  const uint64_t blockSize = uint64_t{1024} << logBlock;
  return blockSize * TotalBlocks(sb) / 512;
}

std::string ExtVolumeName(ByteView sb) { return DiskText(sb.Sub(kVolumeName, kVolumeNameLength)); }

}  // namespace quorvel
