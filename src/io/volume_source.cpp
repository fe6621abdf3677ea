#include "io/volume_source.h"

#include "io/composite_source.h"

namespace quorvel {

namespace {

uint32_t SectorSizeOf(uint32_t bytesPerSector) { return bytesPerSector ? bytesPerSector : kDefaultSectorSize; }

}  // namespace

std::unique_ptr<ByteSource> OpenDiskSource(const DiskRecord& disk, std::string* error) {
  return FileSource::Open(disk.devicePath, error);
}

std::unique_ptr<ByteSource> MakeCompositeSource(const PartitionRecord& partition,
                                                const std::vector<SharedSource>& memberSources) {
  std::vector<CompositeMember> members;
  size_t i = 0;
  for (const auto& [ordinal, member] : partition.members) {
    CompositeMember m;
    m.source = i < memberSources.size() ? memberSources[i] : nullptr;
    m.startSector = member.startSector;
    m.sectorCount = member.sectorCount;
    members.push_back(std::move(m));
    ++i;
  }
  return std::make_unique<CompositeSource>(static_cast<CompositeLayout>(partition.volumeKind), std::move(members),
                                           partition.stripeSize, SectorSizeOf(partition.bytesPerSector));
}

const std::string& PartitionDevicePath(const DiskRecord& disk, const PartitionRecord& partition) {
  return partition.devicePath.empty() ? disk.devicePath : partition.devicePath;
}

namespace {

// A volume-manager volume that cannot be read yet (a striped LVM2 volume,
// say) says why instead of reading wrong bytes.
bool Refused(const PartitionRecord& partition, std::string* error) {
  if (partition.unreadableReason.empty()) return false;
  if (error) *error = partition.unreadableReason;
  return true;
}

std::unique_ptr<ByteSource> OpenComposite(const PartitionRecord& partition, std::string* error) {
  if (partition.volumeKind > kParityVolume) {
    if (error) *error = "unknown volume layout " + std::to_string(partition.volumeKind);
    return nullptr;
  }
  std::vector<SharedSource> sources;
  bool any = false;
  std::string firstError;
  for (const auto& [ordinal, member] : partition.members) {
    SharedSource source;
    std::string why;
    if (!member.path.empty()) source = FileSource::Open(member.path, &why);
    if (source)
      any = true;
    else if (firstError.empty() && !why.empty())
      firstError = why;
    sources.push_back(std::move(source));
  }
  if (!any) {
    if (error) *error = firstError.empty() ? "no member of the volume is present" : firstError;
    return nullptr;
  }
  return MakeCompositeSource(partition, sources);
}

}  // namespace

std::unique_ptr<ByteSource> OpenPartitionSource(const DiskRecord& disk, const PartitionRecord& partition,
                                                std::string* error) {
  if (Refused(partition, error)) return nullptr;
  if (partition.volumeKind == kPlainVolume) return FileSource::Open(PartitionDevicePath(disk, partition), error);
  return OpenComposite(partition, error);
}

std::unique_ptr<ByteSource> OpenVolumeSource(const DiskRecord& disk, const PartitionRecord& partition,
                                             std::string* error) {
  if (Refused(partition, error)) return nullptr;
  if (partition.volumeKind == kPlainVolume) {
    SharedSource base = FileSource::Open(PartitionDevicePath(disk, partition), error);
    if (!base) return nullptr;
    uint64_t sectorSize = SectorSizeOf(disk.bytesPerSector);
    return std::make_unique<SliceSource>(std::move(base), partition.startSector * sectorSize,
                                         partition.sectorCount * sectorSize, static_cast<uint32_t>(sectorSize));
  }
  return OpenComposite(partition, error);
}

}  // namespace quorvel
