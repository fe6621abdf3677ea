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

std::unique_ptr<ByteSource> OpenVolumeSource(const DiskRecord& disk, const PartitionRecord& partition,
                                             std::string* error) {
  if (!partition.unreadableReason.empty()) {
    if (error) *error = partition.unreadableReason;
    return nullptr;
  }
  if (partition.volumeKind == kPlainVolume) {
    const std::string& path = disk.devicePath.empty() ? partition.devicePath : disk.devicePath;
    SharedSource base = FileSource::Open(path, error);
    if (!base) return nullptr;
    uint64_t sectorSize = SectorSizeOf(disk.bytesPerSector);
    return std::make_unique<SliceSource>(std::move(base), partition.startSector * sectorSize,
                                         partition.sectorCount * sectorSize, static_cast<uint32_t>(sectorSize));
  }
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

}  // namespace quorvel
