// Reading volumes that a volume manager spreads over several disks: striped,
// spanned, and striped with rotating parity. Member devices are opened per
// piece, so nothing stays open between calls and threads may read at once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "disk/sector_device.h"

namespace quorvel {

namespace {

std::vector<const VolumeMember*> MembersInOrder(const PartitionRecord& partition) {
  std::vector<const VolumeMember*> members;
  for (const auto& [ordinal, member] : partition.members) members.push_back(&member);
  return members;
}

uint64_t MemberEnd(const VolumeMember& m, uint64_t bytesPerSector) {
  return (m.startSector + m.sectorCount) * bytesPerSector;
}

// Reads one piece of a member. A piece that starts at or past the end of the
// member's extent, a member that cannot be opened, or a short read fails.
bool ReadMemberPiece(const VolumeMember& m, uint64_t bytesPerSector, uint64_t memberOffset, uint8_t* out,
                     size_t length, size_t& bytesRead) {
  uint64_t position = m.startSector * bytesPerSector + memberOffset;
  if (position >= MemberEnd(m, bytesPerSector)) return false;
  SectorDevice device;
  if (m.path.empty() || !OpenDevice(m.path, device)) return false;
  size_t got = 0;
  bool ok = device.ReadAt(position, out, length, &got);
  bytesRead += got;
  return ok && got == length;
}

}  // namespace

bool ReadCompositeVolume(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                         const PartitionRecord& partition) {
  bytesRead = 0;
  switch (partition.volumeKind) {
    case kStripedVolume:
      return ReadVolumeStriped(position, bytesRead, buffer, length, partition);
    case kSpannedVolume:
      return ReadVolumeSpanned(position, bytesRead, buffer, length, partition);
    case kParityVolume:
      return ReadVolumeParity(position, bytesRead, buffer, length, partition);
    default:
      std::memset(buffer, 0, length);
      return false;
  }
}

bool ReadVolumeStriped(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition) {
  bytesRead = 0;
  std::memset(buffer, 0, length);
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  const uint64_t U = uint64_t{partition.stripeSize} * B;
  const uint64_t n = members.size();
  // An incomplete volume-manager record can leave any of these at zero.
  if (n == 0 || U == 0) return false;
  if (length == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(buffer);

  uint64_t unit = position / U;
  uint64_t within = (position % U) / B;
  size_t column = static_cast<size_t>(unit % n);
  uint64_t rowOffset = (unit / n) * U;
  uint64_t firstRoom = U - within * B;
  size_t piece = static_cast<size_t>(std::min<uint64_t>(length, firstRoom));
  if (!ReadMemberPiece(*members[column], B, rowOffset + within * B, out, piece, bytesRead)) return false;
  while (bytesRead < length) {
    if (++column == n) {
      column = 0;
      rowOffset += U;
    }
    piece = static_cast<size_t>(std::min<uint64_t>(U, length - bytesRead));
    if (!ReadMemberPiece(*members[column], B, rowOffset, out + bytesRead, piece, bytesRead)) return false;
  }
  return true;
}

bool ReadVolumeSpanned(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition) {
  bytesRead = 0;
  std::memset(buffer, 0, length);
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  if (members.empty() || B == 0) return false;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  uint64_t memberBegin = 0;  // volume offset at which the current member starts
  for (const VolumeMember* m : members) {
    if (bytesRead >= length) break;
    uint64_t memberLength = m->sectorCount * B;
    if (position >= memberBegin + memberLength) {
      memberBegin += memberLength;
      continue;
    }
    uint64_t offsetIn = position - memberBegin;
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length - bytesRead, memberLength - offsetIn));
    if (!ReadMemberPiece(*m, B, offsetIn, out + bytesRead, piece, bytesRead)) return false;
    memberBegin += memberLength;
    position = memberBegin;  // the rest comes from the next member's first sector
  }
  return true;
}

bool RebuildFromParity(void* output, uint64_t memberOffset, size_t length, const PartitionRecord& partition,
                       uint8_t missingOrdinal) {
  uint8_t* out = static_cast<uint8_t*>(output);
  std::memset(out, 0, length);
  const uint64_t B = partition.bytesPerSector;
  if (partition.members.size() < 2 || B == 0) return false;
  std::vector<uint8_t> scratch(length);
  for (const auto& [ordinal, member] : partition.members) {
    if (ordinal == missingOrdinal) continue;
    size_t got = 0;
    // A second missing member (empty path) cannot be opened: the data is gone.
    if (!ReadMemberPiece(member, B, memberOffset, scratch.data(), length, got)) return false;
    for (size_t i = 0; i < length; ++i) out[i] ^= scratch[i];
  }
  return true;
}

bool ReadVolumeParity(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                      const PartitionRecord& partition) {
  bytesRead = 0;
  std::memset(buffer, 0, length);
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  const uint64_t U = uint64_t{partition.stripeSize} * B;
  const uint64_t n = members.size();
  // One data unit per row needs at least two members (data + parity).
  if (n < 2 || U == 0) return false;
  if (length == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(buffer);

  auto readUnit = [&](size_t index, uint64_t memberOffset, size_t piece) {
    const VolumeMember& m = *members[index];
    if (m.path.empty()) {
      if (!RebuildFromParity(out + bytesRead, memberOffset, piece, partition, m.ordinal)) return false;
      bytesRead += piece;
      return true;
    }
    return ReadMemberPiece(m, B, memberOffset, out + bytesRead, piece, bytesRead);
  };

  uint64_t unit = position / U;
  uint64_t within = (position % U) / B;
  uint64_t row = unit / (n - 1);
  uint64_t k = unit % (n * (n - 1));
  uint64_t t = k / (n - 1);
  uint64_t column = k % (n - 1);
  size_t parity = static_cast<size_t>(n - 1 - t);
  size_t current = static_cast<size_t>((parity + 1 + column) % n);
  uint64_t memberOffset = row * U;
  size_t piece = static_cast<size_t>(std::min<uint64_t>(length, U - within * B));
  if (!readUnit(current, memberOffset + within * B, piece)) return false;
  while (bytesRead < length) {
    current = static_cast<size_t>((current + 1) % n);
    if (current == parity) {
      // Row complete: the parity unit moves one member to the left.
      memberOffset += U;
      parity = parity == 0 ? static_cast<size_t>(n - 1) : parity - 1;
      current = static_cast<size_t>((parity + 1) % n);
    }
    piece = static_cast<size_t>(std::min<uint64_t>(U, length - bytesRead));
    if (!readUnit(current, memberOffset, piece)) return false;
  }
  return true;
}

}  // namespace quorvel
