#include "recover/file_bytes.h"

#include <algorithm>
#include <cstring>

#include "fs/ntfs/mft_record.h"
#include "io/careful_read.h"
#include "io/volume_source.h"

namespace quorvel {

uint64_t ViewLength(uint64_t size) {
  if (size > kMaxViewBytes) return kMaxViewBytes;
  return (size + kDefaultSectorSize - 1) / kDefaultSectorSize * kDefaultSectorSize;
}

namespace {

std::unique_ptr<ByteSource> OpenSource(const DiskRecord& disk, const PartitionRecord& partition, std::string& error) {
  std::unique_ptr<ByteSource> source = OpenPartitionSource(disk, partition);
  if (!source) error = "cannot open " + PartitionDevicePath(disk, partition);
  return source;
}

uint64_t SectorBytes(const PartitionRecord& partition) {
  return partition.bytesPerSector ? partition.bytesPerSector : kDefaultSectorSize;
}

// Reads buffer from a sector of the partition's source as saving does:
// nothing past the partition's or the source's end, a short read retried
// sector by sector. Returns the bytes of its first `counted` that arrived.
uint64_t ReadPartitionView(const ByteSource& source, const PartitionRecord& partition, uint64_t sector,
                           std::span<uint8_t> buffer, uint64_t counted) {
  const uint64_t bytesPerSector = SectorBytes(partition);
  if (sector > UINT64_MAX / bytesPerSector) return ZeroRest(buffer, 0);
  const uint64_t limit = PartitionReadLimit(source, partition.startSector, partition.sectorCount, bytesPerSector);
  return ReadCarefully(source, sector * bytesPerSector, buffer,
                       static_cast<size_t>(std::min<uint64_t>(counted, buffer.size())), limit, bytesPerSector)
      .read;
}

// Next cluster of a chain, or 0 when the chain ends here.
uint64_t NextCluster(const PartitionRecord& partition, uint64_t cluster, uint64_t limit) {
  const ByteView fat(partition.fat.table);
  uint64_t next;
  if (IsFat16Kind(partition.fsKind)) {
    if (cluster > SIZE_MAX / 2 || !fat.Has(cluster * 2, 2)) return 0;
    next = fat.Le16(cluster * 2);
    if (next == 0xFFFF || next == 0) return 0;
  } else {
    if (cluster > SIZE_MAX / 4 || !fat.Has(cluster * 4, 4)) return 0;
    next = fat.Le32(cluster * 4) & 0x0FFFFFFF;
    if (next >= 0x0FFFFFF8 || next < 2) return 0;
  }
  return next > limit ? 0 : next;
}

}  // namespace

namespace {

// Bytes of a `size`-byte file's view that did not arrive.
uint64_t MissingOf(uint64_t size, uint64_t read) {
  const uint64_t shown = std::min(size, kMaxViewBytes);
  return read < shown ? shown - read : 0;
}

// Clusters 0 and 1 hold no data: such an entry has lost its chain.
bool HasFatData(const PartitionRecord& partition, const FatFileEntry& entry) {
  return entry.size != 0 && entry.firstCluster >= partition.tree->fatRoot.firstCluster && entry.firstCluster >= 2;
}

}  // namespace

uint64_t LoadFatEntryBytes(const ByteSource& source, const PartitionRecord& partition, const FatFileEntry& entry,
                           std::vector<uint8_t>& out) {
  out.clear();
  if (!HasFatData(partition, entry)) return 0;
  const uint64_t length = ViewLength(entry.size);
  out.assign(static_cast<size_t>(length), 0);

  const uint64_t bytesPerSector = SectorBytes(partition);
  const uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  const uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  const bool fatKind = IsFat16Kind(partition.fsKind) || IsFat32Kind(partition.fsKind);
  // A deleted file's chain was cleared when it was deleted: its clusters are
  // read contiguously from the first one, as saving reads them.
  const bool useChain = entry.state() != kDeletedFile;
  uint64_t read = 0;
  if (useChain && entry.size >= clusterSize && fatKind && !partition.fat.table.empty()) {
    uint64_t fatBytes = static_cast<uint64_t>(partition.fat.sizeSectors) * bytesPerSector;
    if (fatBytes == 0 || fatBytes > partition.fat.table.size()) fatBytes = partition.fat.table.size();
    const uint64_t limit = fatBytes / (IsFat16Kind(partition.fsKind) ? 2 : 4);
    std::vector<uint8_t> cluster(static_cast<size_t>(clusterSize));
    uint64_t loaded = 0;
    // The buffer bounds the walk, so a chain that loops ends too.
    for (uint64_t c = entry.firstCluster; c != 0 && loaded < length; c = NextCluster(partition, c, limit)) {
      const size_t put = static_cast<size_t>(std::min<uint64_t>(clusterSize, length - loaded));
      const uint64_t fileBytes = loaded < entry.size ? std::min<uint64_t>(put, entry.size - loaded) : 0;
      read += ReadPartitionView(source, partition, partition.dataOrigin + c * sectorsPerCluster, cluster, fileBytes);
      std::memcpy(out.data() + loaded, cluster.data(), put);
      loaded += put;
    }
    return read;
  }
  return ReadPartitionView(source, partition, partition.dataOrigin + entry.firstCluster * sectorsPerCluster, out,
                           entry.size);
}

bool LoadFatEntryBytes(const DiskRecord& disk, const PartitionRecord& partition, const FatFileEntry& entry,
                       std::vector<uint8_t>& out, std::string& error, uint64_t* missing) {
  out.clear();
  if (missing) *missing = 0;
  if (!HasFatData(partition, entry)) return true;
  std::unique_ptr<ByteSource> source = OpenSource(disk, partition, error);
  if (!source) return false;
  const uint64_t read = LoadFatEntryBytes(*source, partition, entry, out);
  if (missing) *missing = MissingOf(entry.size, read);
  return true;
}

uint64_t LoadNtfsEntryBytes(const ByteSource& source, const PartitionRecord& partition, const NtfsFileEntry& entry,
                            std::vector<uint8_t>& out, bool& recordRead, bool& mftError) {
  out.clear();
  RecordDetails details;
  recordRead = ReadEntryRecord(source, entry, partition, details, mftError);
  if (!recordRead) return 0;
  const uint64_t size = details.hasData ? details.dataRealSize : details.size;
  out.assign(static_cast<size_t>(ViewLength(size)), 0);
  if (out.empty()) return 0;
  if (!details.nonResident) {
    const size_t put = std::min(out.size(), details.residentData.size());
    if (put) std::memcpy(out.data(), details.residentData.data(), put);
    return put;
  }
  const uint64_t bytesPerSector = SectorBytes(partition);
  const uint64_t sectorsPerCluster = partition.sectorsPerCluster ? partition.sectorsPerCluster : 1;
  const uint64_t clusterSize = bytesPerSector * sectorsPerCluster;
  const uint64_t length = out.size();
  if (details.IsCompressed()) {
    uint64_t loaded = 0;
    ByteWriter writer = [&](std::span<const uint8_t> bytes) {
      const size_t put = static_cast<size_t>(std::min<uint64_t>(bytes.size(), length - loaded));
      std::memcpy(out.data() + loaded, bytes.data(), put);
      loaded += put;
      return loaded < length;
    };
    uint64_t unreadable = 0;
    WriteCompressedRuns(source, writer, SectorRunsOf(details, partition), static_cast<uint32_t>(sectorsPerCluster),
                        std::min<uint64_t>(size, length), partition, details.CompressionUnitClusters(), nullptr,
                        &unreadable);
    return loaded - std::min(loaded, unreadable);
  }
  // Past the initialized size the file reads as zeros whatever the disk holds.
  const uint64_t dataEnd = std::min<uint64_t>(length, details.initializedSize < size ? details.initializedSize : size);
  const uint64_t shown = std::min(size, length);
  uint64_t read = shown - std::min(shown, dataEnd);  // zeros past the initialized size
  for (const DataRun& run : details.dataRuns) {
    const uint64_t at = run.vcn * clusterSize;
    if (at >= dataEnd) continue;
    const uint64_t bytes = std::min<uint64_t>(run.clusterCount * clusterSize, dataEnd - at);
    if (run.sparse || run.startCluster == 0) {
      read += bytes;  // a hole: zeros by the file system's own account
      continue;
    }
    const size_t want = static_cast<size_t>((bytes + bytesPerSector - 1) / bytesPerSector * bytesPerSector);
    std::vector<uint8_t> piece(want);
    read += ReadPartitionView(source, partition, partition.startSector + run.startCluster * sectorsPerCluster, piece,
                              bytes);
    std::memcpy(out.data() + at, piece.data(), static_cast<size_t>(bytes));
  }
  return read;
}

bool LoadNtfsEntryBytes(const DiskRecord& disk, PartitionRecord& partition, const NtfsFileEntry& entry,
                        std::vector<uint8_t>& out, std::string& error, bool* mftError, uint64_t* missing) {
  out.clear();
  if (mftError) *mftError = false;
  if (missing) *missing = 0;
  std::unique_ptr<ByteSource> source = OpenSource(disk, partition, error);
  if (!source) return false;
  bool recordRead = false, recordError = false;
  const uint64_t read = LoadNtfsEntryBytes(*source, partition, entry, out, recordRead, recordError);
  // Bytes the record says are zeros (sparse, past the initialized size) count as read.
  if (missing && recordRead) *missing = out.empty() ? 0 : MissingOf(std::min<uint64_t>(entry.size, out.size()), read);
  if (recordError && mftError) *mftError = true;
  if (!recordRead) error = "MFT record unreadable";  // nothing to show, but the source was fine
  return true;
}

bool LoadCarvedFileBytes(const DiskRecord& disk, uint64_t startSector, const CarvedFile& file,
                         std::vector<uint8_t>& out, std::string& error) {
  return LoadSectorBytes(disk.devicePath, startSector, ViewLength(file.size), out, error);
}

uint64_t LoadSectorBytes(const ByteSource& source, uint64_t startSector, uint64_t byteCount,
                         std::vector<uint8_t>& out) {
  const uint64_t count = std::min(byteCount, kMaxViewBytes);
  std::vector<uint8_t> buffer(static_cast<size_t>(ViewLength(count)));
  const uint64_t read = startSector > UINT64_MAX / kDefaultSectorSize
                            ? ZeroRest(buffer, 0)
                            : ReadCarefully(source, startSector * kDefaultSectorSize, buffer,
                                            static_cast<size_t>(count), UINT64_MAX, kDefaultSectorSize)
                                  .read;
  buffer.resize(static_cast<size_t>(count));
  out = std::move(buffer);
  return read;
}

bool LoadSectorBytes(const std::string& devicePath, uint64_t startSector, uint64_t byteCount, std::vector<uint8_t>& out,
                     std::string& error, uint64_t* missing) {
  out.clear();
  if (missing) *missing = 0;
  if (startSector > UINT64_MAX / kDefaultSectorSize) {
    error = "start sector out of range";
    return false;
  }
  std::unique_ptr<ByteSource> source = FileSource::Open(devicePath);
  if (!source) {
    error = "cannot open " + devicePath;
    return false;
  }
  const uint64_t read = LoadSectorBytes(*source, startSector, byteCount, out);
  if (missing) *missing = out.size() - std::min<uint64_t>(out.size(), read);
  return true;
}

}  // namespace quorvel
