// The partition-record entry points of composite reads, kept for callers that
// read a volume once; they open the members for the one read. Readers that
// read a volume many times open it once with OpenVolumeSource.
#include <cstring>

#include "io/composite_source.h"
#include "io/sector_device.h"
#include "io/volume_source.h"

namespace quorvel {

namespace {

std::vector<SharedSource> OpenMembers(const PartitionRecord& partition) {
  std::vector<SharedSource> sources;
  for (const auto& [ordinal, member] : partition.members)
    sources.push_back(member.path.empty() ? nullptr : SharedSource(FileSource::Open(member.path)));
  return sources;
}

bool ReadLayout(uint8_t kind, uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                const PartitionRecord& partition) {
  std::span<uint8_t> out(static_cast<uint8_t*>(buffer), length);
  bytesRead = 0;
  if (partition.volumeKind != kind) {
    ZeroRest(out, 0);
    return false;
  }
  auto volume = MakeCompositeSource(partition, OpenMembers(partition));
  bytesRead = volume->ReadAt(position, out);
  if (bytesRead == length) return true;
  // A spanned volume that runs out of members ends the read: bytesRead tells
  // how much there was.
  return kind == kSpannedVolume && !partition.members.empty() && position + bytesRead >= volume->Size();
}

}  // namespace

bool ReadCompositeVolume(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                         const PartitionRecord& partition) {
  return ReadLayout(partition.volumeKind, position, bytesRead, buffer, length, partition);
}

bool ReadVolumeStriped(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition) {
  return ReadLayout(kStripedVolume, position, bytesRead, buffer, length, partition);
}

bool ReadVolumeSpanned(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                       const PartitionRecord& partition) {
  return ReadLayout(kSpannedVolume, position, bytesRead, buffer, length, partition);
}

bool ReadVolumeParity(uint64_t position, size_t& bytesRead, void* buffer, size_t length,
                      const PartitionRecord& partition) {
  return ReadLayout(kParityVolume, position, bytesRead, buffer, length, partition);
}

bool RebuildFromParity(void* output, uint64_t memberOffset, size_t length, const PartitionRecord& partition,
                       uint8_t missingOrdinal) {
  std::span<uint8_t> out(static_cast<uint8_t*>(output), length);
  size_t index = 0;
  for (const auto& [ordinal, member] : partition.members) {
    if (ordinal == missingOrdinal) break;
    ++index;
  }
  if (index == partition.members.size()) {
    ZeroRest(out, 0);
    return false;
  }
  auto source = MakeCompositeSource(partition, OpenMembers(partition));
  return static_cast<const CompositeSource&>(*source).RebuildMember(index, memberOffset, out);
}

}  // namespace quorvel
