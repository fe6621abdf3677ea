// Writing an NTFS compressed file's plain bytes. The file is cut into
// compression units (16 clusters normally); each unit is stored either in all
// of its clusters (not compressed), in fewer clusters followed by a sparse
// stretch (LZNT1-compressed), or not at all (all sparse: zeros).
#include <algorithm>
#include <cstring>

#include "fs/ntfs/mft_record.h"
#include "io/careful_read.h"

namespace quorvel {

std::vector<SectorRun> SectorRunsOf(const RecordDetails& details, const PartitionRecord& partition) {
  std::vector<SectorRun> out;
  const uint64_t spc = partition.sectorsPerCluster;
  uint64_t nextVcn = details.dataRuns.empty() ? 0 : details.dataRuns.front().vcn;
  for (const DataRun& run : details.dataRuns) {
    // A hole between pieces of the run list reads as zeros, like a sparse run.
    if (run.vcn > nextVcn) out.push_back({0, (run.vcn - nextVcn) * spc, true});
    if (run.sparse)
      out.push_back({0, run.clusterCount * spc, true});
    else
      out.push_back({partition.startSector + run.startCluster * spc, run.clusterCount * spc, false});
    nextVcn = run.vcn + run.clusterCount;
  }
  return out;
}

namespace {

struct UnitPiece {
  uint64_t sector = 0;
  uint64_t count = 0;
  bool sparse = false;
};

constexpr uint64_t kMaxUnitBytes = 64ull << 20;

}  // namespace

bool WriteCompressedRuns(const ByteSource& source, const ByteWriter& output, const std::vector<SectorRun>& runs,
                         uint32_t sectorsPerCluster, uint64_t fileSize, const PartitionRecord& partition,
                         uint32_t unitClusters, const std::atomic<int>* stopFlag, uint64_t* unreadable) {
  if (sectorsPerCluster == 0) return false;
  if (unitClusters == 0) unitClusters = 16;
  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  const uint64_t unitSectors = static_cast<uint64_t>(unitClusters) * sectorsPerCluster;
  if (unitSectors * bytesPerSector > kMaxUnitBytes) return false;
  const size_t unitBytes = static_cast<size_t>(unitSectors * bytesPerSector);
  std::vector<uint8_t> stored(unitBytes), plain(unitBytes);
  std::vector<UnitPiece> unit;
  uint64_t filled = 0;  // sectors of the current unit gathered so far
  uint64_t remaining = fileSize;
  const uint64_t limit = PartitionReadLimit(source, partition.startSector, partition.sectorCount, bytesPerSector);

  auto flushUnit = [&]() -> bool {
    uint64_t allocated = 0;
    for (const UnitPiece& piece : unit)
      if (!piece.sparse) allocated += piece.count;
    const size_t bytes = static_cast<size_t>(filled * bytesPerSector);
    const uint8_t* data;
    if (allocated == 0) {
      std::memset(plain.data(), 0, bytes);
      data = plain.data();
    } else {
      size_t at = 0;
      bool whole = true;
      for (const UnitPiece& piece : unit) {
        if (piece.sparse) continue;
        const size_t length = static_cast<size_t>(piece.count * bytesPerSector);
        const std::span<uint8_t> into = std::span<uint8_t>(stored).subspan(at, length);
        if (piece.sector > UINT64_MAX / bytesPerSector) {
          ZeroRest(into, 0);
          whole = false;
        } else {
          whole &= ReadCarefully(source, piece.sector * bytesPerSector, into, length, limit, bytesPerSector)
                       .Complete(length);
        }
        at += length;
      }
      if (!whole && unreadable) *unreadable += std::min<uint64_t>(remaining, bytes);
      if (allocated == filled) {
        data = stored.data();  // the unit was not compressed
      } else {
        std::memset(plain.data(), 0, unitBytes);
        DecompressLznt1(ByteView(stored).Sub(0, at), plain);
        data = plain.data();
      }
    }
    size_t take = static_cast<size_t>(std::min<uint64_t>(remaining, bytes));
    if (take > 0 && !output(std::span<const uint8_t>(data, take))) return false;
    remaining -= take;
    unit.clear();
    filled = 0;
    return true;
  };

  for (const SectorRun& run : runs) {
    uint64_t sector = run.startSector;
    uint64_t left = run.sectorCount;
    while (left > 0 && remaining > 0) {
      uint64_t take = std::min(left, unitSectors - filled);
      unit.push_back({sector, take, run.sparse});
      filled += take;
      left -= take;
      if (!run.sparse) sector += take;
      if (filled == unitSectors) {
        if (stopFlag && stopFlag->load(std::memory_order_relaxed) != 0) return false;
        if (!flushUnit()) return false;
      }
    }
    if (remaining == 0) return true;
  }
  if (filled > 0 && remaining > 0) return flushUnit();
  return true;
}

}  // namespace quorvel
