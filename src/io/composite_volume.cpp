// The partition-record entry points of composite reads, kept for callers that
// read a volume once; they open the members for the one read. Readers that
// read a volume many times open it once with OpenVolumeSource.
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

bool ReadLayout(uint8_t kind, const PartitionRecord& partition, uint64_t position, std::span<uint8_t> out,
                size_t& bytesRead) {
  bytesRead = 0;
  if (partition.volumeKind != kind) {
    ZeroRest(out, 0);
    return false;
  }
  auto volume = MakeCompositeSource(partition, OpenMembers(partition));
  bytesRead = volume->ReadAt(position, out);
  if (bytesRead == out.size()) return true;
  // A spanned volume that runs out of members ends the read: bytesRead tells
  // how much there was.
  return kind == kSpannedVolume && !partition.members.empty() && position + bytesRead >= volume->Size();
}

}  // namespace

bool ReadCompositeVolume(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                         size_t& bytesRead) {
  return ReadLayout(partition.volumeKind, partition, position, buffer, bytesRead);
}

bool ReadVolumeStriped(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                       size_t& bytesRead) {
  return ReadLayout(kStripedVolume, partition, position, buffer, bytesRead);
}

bool ReadVolumeSpanned(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                       size_t& bytesRead) {
  return ReadLayout(kSpannedVolume, partition, position, buffer, bytesRead);
}

bool ReadVolumeParity(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                      size_t& bytesRead) {
  return ReadLayout(kParityVolume, partition, position, buffer, bytesRead);
}

bool RebuildFromParity(const PartitionRecord& partition, uint8_t missingOrdinal, uint64_t memberOffset,
                       std::span<uint8_t> output) {
  size_t index = 0;
  for (const auto& [ordinal, member] : partition.members) {
    if (ordinal == missingOrdinal) break;
    ++index;
  }
  if (index == partition.members.size()) {
    ZeroRest(output, 0);
    return false;
  }
  auto source = MakeCompositeSource(partition, OpenMembers(partition));
  return static_cast<const CompositeSource&>(*source).RebuildMember(index, memberOffset, output);
}

}  // namespace quorvel
