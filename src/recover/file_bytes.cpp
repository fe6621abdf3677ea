#include "recover/file_bytes.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs/mft_record.h"
#include "io/sector_device.h"

namespace quorvel {

uint64_t ViewLength(uint64_t size) {
  if (size > kMaxViewBytes) return kMaxViewBytes;
  return (size + kSectorSize - 1) / kSectorSize * kSectorSize;
}

namespace {

bool OpenSource(const DiskRecord& disk, const PartitionRecord& partition, SectorDevice& device, std::string& error) {
  if (OpenPartitionDevice(partition, disk.devicePath, device)) return true;
  error = "cannot open " + (partition.devicePath.empty() ? disk.devicePath : partition.devicePath);
  return false;
}

// Next cluster of a chain, or 0 when the chain ends here.
uint64_t NextCluster(const PartitionRecord& partition, uint64_t cluster, uint64_t limit) {
  const std::vector<uint8_t>& fat = partition.fat.table;
  uint64_t next;
  if (IsFat16Kind(partition.fsKind)) {
    if ((cluster + 1) * 2 > fat.size()) return 0;
    next = fat[cluster * 2] | (fat[cluster * 2 + 1] << 8);
    if (next == 0xFFFF || next == 0) return 0;
  } else {
    if ((cluster + 1) * 4 > fat.size()) return 0;
    next = (fat[cluster * 4] | (fat[cluster * 4 + 1] << 8) | (fat[cluster * 4 + 2] << 16) |
            (static_cast<uint64_t>(fat[cluster * 4 + 3]) << 24)) &
           0x0FFFFFFF;
    if (next >= 0x0FFFFFF8 || next < 2) return 0;
  }
  return next > limit ? 0 : next;
}

}  // namespace

bool LoadFatEntryBytes(const DiskRecord& disk, const PartitionRecord& partition, const FatFileEntry& entry,
                       std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  uint64_t length = ViewLength(entry.size);
  uint32_t rootCluster = partition.tree->fatRoot.firstCluster;
  // Clusters 0 and 1 hold no data: such an entry has lost its chain.
  if (entry.size == 0 || entry.firstCluster < rootCluster || entry.firstCluster < 2) return true;
  SectorDevice device;
  if (!OpenSource(disk, partition, device, error)) return false;
  SectorDevice* dev = device.IsOpen() ? &device : nullptr;
  out.assign(static_cast<size_t>(length), 0);

  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  bool fatKind = IsFat16Kind(partition.fsKind) || IsFat32Kind(partition.fsKind);
  // A deleted file's chain was cleared when it was deleted: its clusters are
  // read contiguously from the first one, as saving reads them.
  bool useChain = entry.state() != kDeletedFile;
  if (useChain && entry.size >= clusterSize && fatKind && !partition.fat.table.empty()) {
    uint64_t fatBytes = static_cast<uint64_t>(partition.fat.sizeSectors) * bytesPerSector;
    if (fatBytes == 0 || fatBytes > partition.fat.table.size()) fatBytes = partition.fat.table.size();
    uint64_t limit = fatBytes / (IsFat16Kind(partition.fsKind) ? 2 : 4);
    std::vector<uint8_t> cluster(static_cast<size_t>(clusterSize));
    uint64_t loaded = 0;
    // The buffer bounds the walk, so a chain that loops ends too.
    for (uint64_t c = entry.firstCluster; c != 0 && loaded < length; c = NextCluster(partition, c, limit)) {
      ReadSourceSectors(partition, dev, partition.dataOrigin + c * sectorsPerCluster, cluster.data(), cluster.size());
      size_t put = static_cast<size_t>(std::min<uint64_t>(clusterSize, length - loaded));
      std::memcpy(out.data() + loaded, cluster.data(), put);
      loaded += put;
    }
    return true;
  }
  ReadSourceSectors(partition, dev, partition.dataOrigin + entry.firstCluster * sectorsPerCluster, out.data(),
                    out.size());
  return true;
}

bool LoadNtfsEntryBytes(const DiskRecord& disk, PartitionRecord& partition, const NtfsFileEntry& entry,
                        std::vector<uint8_t>& out, std::string& error, bool* mftError) {
  out.clear();
  if (mftError) *mftError = false;
  SectorDevice device;
  if (!OpenSource(disk, partition, device, error)) return false;
  SectorDevice* dev = device.IsOpen() ? &device : nullptr;
  RecordDetails details;
  bool recordError = false;
  const bool read = ReadEntryRecord(dev, entry, partition, details, recordError);
  if (recordError && mftError) *mftError = true;
  if (!read) {
    error = "MFT record unreadable";
    return true;  // nothing to show, but the source was fine
  }
  uint64_t size = details.hasData ? details.dataRealSize : details.size;
  out.assign(static_cast<size_t>(ViewLength(size)), 0);
  if (out.empty()) return true;
  if (!details.nonResident) {
    size_t put = std::min(out.size(), details.residentData.size());
    if (put) std::memcpy(out.data(), details.residentData.data(), put);
    return true;
  }
  uint64_t bytesPerSector = partition.bytesPerSector ? partition.bytesPerSector : kSectorSize;
  uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  const uint64_t length = out.size();
  if (details.IsCompressed()) {
    uint64_t loaded = 0;
    ByteWriter writer = [&](const uint8_t* data, size_t n) {
      size_t put = static_cast<size_t>(std::min<uint64_t>(n, length - loaded));
      std::memcpy(out.data() + loaded, data, put);
      loaded += put;
      return loaded < length;
    };
    WriteCompressedRuns(dev, writer, SectorRunsOf(details, partition), static_cast<uint32_t>(sectorsPerCluster),
                        std::min<uint64_t>(size, length), partition, details.CompressionUnitClusters());
    return true;
  }
  // Past the initialized size the file reads as zeros whatever the disk holds.
  uint64_t dataEnd = std::min<uint64_t>(length, details.initializedSize < size ? details.initializedSize : size);
  for (const DataRun& run : details.dataRuns) {
    uint64_t at = run.vcn * clusterSize;
    if (at >= dataEnd) continue;
    if (run.sparse || run.startCluster == 0) continue;
    uint64_t bytes = std::min<uint64_t>(run.clusterCount * clusterSize, dataEnd - at);
    size_t want = static_cast<size_t>((bytes + bytesPerSector - 1) / bytesPerSector * bytesPerSector);
    std::vector<uint8_t> piece(want);
    ReadSourceSectors(partition, dev, partition.startSector + run.startCluster * sectorsPerCluster, piece.data(), want);
    std::memcpy(out.data() + at, piece.data(), static_cast<size_t>(bytes));
  }
  return true;
}

bool LoadCarvedFileBytes(const DiskRecord& disk, uint64_t startSector, const CarvedFile& file,
                         std::vector<uint8_t>& out, std::string& error) {
  return LoadSectorBytes(disk.devicePath, startSector, ViewLength(file.size), out, error);
}

bool LoadSectorBytes(const std::string& devicePath, uint64_t startSector, uint64_t byteCount, std::vector<uint8_t>& out,
                     std::string& error) {
  out.clear();
  if (startSector > UINT64_MAX / kSectorSize) {
    error = "start sector out of range";
    return false;
  }
  SectorDevice device;
  if (!OpenDevice(devicePath, device)) {
    error = "cannot open " + devicePath;
    return false;
  }
  uint64_t count = std::min(byteCount, kMaxViewBytes);
  std::vector<uint8_t> buffer(static_cast<size_t>(ViewLength(count)));
  device.ReadAt(startSector * kSectorSize, buffer.data(), buffer.size());
  buffer.resize(static_cast<size_t>(count));
  out = std::move(buffer);
  return true;
}

}  // namespace quorvel
