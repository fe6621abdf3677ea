// Reading volumes that a volume manager spreads over several disks: striped,
// spanned, and striped with rotating parity. Member devices are opened for one
// read and closed at its end, so nothing stays open between calls and threads
// may read at once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "io/sector_device.h"

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

// The member devices of one composite read, opened on first use and closed
// when the read ends (not kept between calls).
class MemberDevices {
 public:
  explicit MemberDevices(size_t count) : devices_(count), tried_(count, false) {}
  SectorDevice* Get(size_t index, const VolumeMember& m) {
    if (!tried_[index]) {
      tried_[index] = true;
      if (!m.path.empty()) OpenDevice(m.path, devices_[index]);
    }
    return devices_[index].IsOpen() ? &devices_[index] : nullptr;
  }

 private:
  std::vector<SectorDevice> devices_;
  std::vector<bool> tried_;
};

// Reads one piece of a member. A piece that starts at or past the end of the
// member's extent, a member that cannot be opened, or a short read fails.
bool ReadMemberPiece(SectorDevice* device, const VolumeMember& m, uint64_t bytesPerSector, uint64_t memberOffset,
                     uint8_t* out, size_t length, size_t& bytesRead) {
  uint64_t position = m.startSector * bytesPerSector + memberOffset;
  if (position >= MemberEnd(m, bytesPerSector) || !device) return false;
  size_t got = 0;
  bool ok = device->ReadAt(position, out, length, &got);
  bytesRead += got;
  return ok && got == length;
}

// Whatever a failed or short read did not fill reads as zeros.
bool Finish(bool ok, void* buffer, size_t length, size_t bytesRead) {
  if (bytesRead < length) std::memset(static_cast<uint8_t*>(buffer) + bytesRead, 0, length - bytesRead);
  return ok;
}

// Reads length bytes of a striped layout unit by unit: the first unit from
// firstOffset bytes into it, the rest whole. readUnit(offsetInUnit, piece)
// reads from the current unit; nextUnit() moves to the following one.
template <typename ReadUnit, typename NextUnit>
bool ReadByUnits(uint64_t firstOffset, uint64_t unitBytes, void* buffer, size_t length, size_t& bytesRead,
                 ReadUnit readUnit, NextUnit nextUnit) {
  size_t piece = static_cast<size_t>(std::min<uint64_t>(length, unitBytes - firstOffset));
  if (!readUnit(firstOffset, piece)) return Finish(false, buffer, length, bytesRead);
  while (bytesRead < length) {
    nextUnit();
    piece = static_cast<size_t>(std::min<uint64_t>(unitBytes, length - bytesRead));
    if (!readUnit(0, piece)) return Finish(false, buffer, length, bytesRead);
  }
  return true;
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
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  const uint64_t U = uint64_t{partition.stripeSize} * B;
  const uint64_t n = members.size();
  // An incomplete volume-manager record can leave any of these at zero.
  if (n == 0 || U == 0) return Finish(false, buffer, length, 0);
  if (length == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  MemberDevices devices(members.size());

  uint64_t unit = position / U;
  uint64_t within = (position % U) / B;
  size_t column = static_cast<size_t>(unit % n);
  uint64_t rowOffset = (unit / n) * U;
  auto readUnit = [&](uint64_t offsetInUnit, size_t piece) {
    return ReadMemberPiece(devices.Get(column, *members[column]), *members[column], B, rowOffset + offsetInUnit,
                           out + bytesRead, piece, bytesRead);
  };
  auto nextUnit = [&] {
    if (++column == n) {
      column = 0;
      rowOffset += U;
    }
  };
  return ReadByUnits(within * B, U, buffer, length, bytesRead, readUnit, nextUnit);
}

bool ReadVolumeSpanned(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition) {
  bytesRead = 0;
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  if (members.empty() || B == 0) return Finish(false, buffer, length, 0);
  uint8_t* out = static_cast<uint8_t*>(buffer);
  MemberDevices devices(members.size());
  uint64_t memberBegin = 0;  // volume offset at which the current member starts
  for (size_t i = 0; i < members.size() && bytesRead < length; ++i) {
    const VolumeMember& m = *members[i];
    uint64_t memberLength = m.sectorCount * B;
    if (position >= memberBegin + memberLength) {
      memberBegin += memberLength;
      continue;
    }
    uint64_t offsetIn = position - memberBegin;
    size_t piece = static_cast<size_t>(std::min<uint64_t>(length - bytesRead, memberLength - offsetIn));
    if (!ReadMemberPiece(devices.Get(i, m), m, B, offsetIn, out + bytesRead, piece, bytesRead))
      return Finish(false, buffer, length, bytesRead);
    memberBegin += memberLength;
    position = memberBegin;  // the rest comes from the next member's first sector
  }
  // Running out of members ends the read: bytesRead tells how much there was.
  return Finish(true, buffer, length, bytesRead);
}

namespace {

bool RebuildWith(MemberDevices& devices, void* output, uint64_t memberOffset, size_t length,
                 const PartitionRecord& partition, uint8_t missingOrdinal) {
  uint8_t* out = static_cast<uint8_t*>(output);
  std::memset(out, 0, length);
  const uint64_t B = partition.bytesPerSector;
  if (partition.members.size() < 2 || B == 0) return false;
  std::vector<uint8_t> scratch(length);
  size_t index = 0;
  for (const auto& [ordinal, member] : partition.members) {
    size_t i = index++;
    if (ordinal == missingOrdinal) continue;
    size_t got = 0;
    // A second missing member (empty path) cannot be opened: the data is gone.
    if (!ReadMemberPiece(devices.Get(i, member), member, B, memberOffset, scratch.data(), length, got)) {
      std::memset(out, 0, length);
      return false;
    }
    for (size_t k = 0; k < length; ++k) out[k] ^= scratch[k];
  }
  return true;
}

}  // namespace

bool RebuildFromParity(void* output, uint64_t memberOffset, size_t length, const PartitionRecord& partition,
                       uint8_t missingOrdinal) {
  MemberDevices devices(partition.members.size());
  return RebuildWith(devices, output, memberOffset, length, partition, missingOrdinal);
}

bool ReadVolumeParity(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                      const PartitionRecord& partition) {
  bytesRead = 0;
  auto members = MembersInOrder(partition);
  const uint64_t B = partition.bytesPerSector;
  const uint64_t U = uint64_t{partition.stripeSize} * B;
  const uint64_t n = members.size();
  // One data unit per row needs at least two members (data + parity).
  if (n < 2 || U == 0) return Finish(false, buffer, length, 0);
  if (length == 0) return true;
  uint8_t* out = static_cast<uint8_t*>(buffer);
  MemberDevices devices(members.size());

  uint64_t unit = position / U;
  uint64_t within = (position % U) / B;
  uint64_t row = unit / (n - 1);
  uint64_t k = unit % (n * (n - 1));
  uint64_t t = k / (n - 1);
  uint64_t column = k % (n - 1);
  size_t parity = static_cast<size_t>(n - 1 - t);
  size_t current = static_cast<size_t>((parity + 1 + column) % n);
  uint64_t memberOffset = row * U;
  auto readUnit = [&](uint64_t offsetInUnit, size_t piece) {
    const VolumeMember& m = *members[current];
    if (m.path.empty()) {
      if (!RebuildWith(devices, out + bytesRead, memberOffset + offsetInUnit, piece, partition, m.ordinal))
        return false;
      bytesRead += piece;
      return true;
    }
    return ReadMemberPiece(devices.Get(current, m), m, B, memberOffset + offsetInUnit, out + bytesRead, piece,
                           bytesRead);
  };
  auto nextUnit = [&] {
    current = static_cast<size_t>((current + 1) % n);
    if (current == parity) {
      // Row complete: the parity unit moves one member to the left.
      memberOffset += U;
      parity = parity == 0 ? static_cast<size_t>(n - 1) : parity - 1;
      current = static_cast<size_t>((parity + 1) % n);
    }
  };
  return ReadByUnits(within * B, U, buffer, length, bytesRead, readUnit, nextUnit);
}

}  // namespace quorvel
