// The main passes of the lost-partition scan. Quick: two small reads per
// cylinder, at the places where partitioning tools of the cylinder era put
// volumes. Precise: every sector of the disk, read in 10 MiB blocks and tested
// in place.
#include <algorithm>
#include <optional>

#include "fs/fs_recognition.h"
#include "io/sector_buffer.h"
#include "scan/lost_partition_search.h"

namespace quorvel {

namespace {

// The geometry of image files, and of disks that report none.
constexpr uint32_t kDefaultHeads = 255;
constexpr uint32_t kDefaultSectorsPerTrack = 63;
constexpr uint64_t kFirstTrackSectors = 63;  // a logical partition's offset behind its EBR
constexpr uint64_t kAlignedStart = 2048;     // the 1 MiB start of today's first partition
constexpr uint64_t kBlockSectors = 20480;    // 10 MiB

// Sector P (and the sector before it, and the backup boot sector six sectors
// after it): the tests of the quick pass, first match wins.
std::optional<FoundVolume> TestProbe(LostSearch& search, uint64_t probe, ByteView at, ByteView before) {
  std::optional<FoundVolume> v;
  const ByteView backup = at.Sub(6 * kDefaultSectorSize, kDefaultSectorSize);
  if (IsNtfsBootSector(at)) v = NtfsAt(search, probe, at);
  if (!v && IsFat32BootSector(at)) v = Fat32At(search, probe, at);
  if (!v && IsFat32BootSector(backup)) v = Fat32At(search, probe, backup);
  if (!v && IsFat16BootSector(at)) v = Fat16At(probe, at);
  // The last sector of the previous cylinder may be the backup boot sector of
  // an NTFS volume that ends there.
  if (!v && !before.empty() && IsNtfsBootSector(before)) v = NtfsFromBackup(search, probe - 1, before);
  return v;
}

void Probe(LostSearch& search, uint64_t cylinder, int k, uint64_t probe) {
  // 4096 bytes: on cylinders above 0 from the sector before the probe, so
  // that it and the six sectors after the probe are at hand.
  uint8_t bytes[8 * kDefaultSectorSize];
  const bool withBefore = cylinder > 0;
  search.Read(withBefore ? probe - 1 : probe, bytes);
  const ByteView all(bytes);
  const ByteView at = all.Sub(withBefore ? kDefaultSectorSize : 0);
  std::optional<FoundVolume> v = TestProbe(search, probe, at, withBefore ? all.Sub(0, kDefaultSectorSize) : ByteView());
  if (!v) return;
  // Behind an extended boot record, 63 sectors into a cylinder: a logical partition.
  v->role = cylinder == 0 || k == 0 ? 1 : 2;
  AddVolume(search, *v, FormatText("%llu,%d,1;", static_cast<unsigned long long>(cylinder), k));
}

void TestPreciseSector(LostSearch& search, uint64_t n, ByteView s) {
  std::optional<FoundVolume> v;
  if (IsNtfsBootSector(s)) {
    v = NtfsAt(search, n, s);
    // Not proved where it lies: it may be the backup at a volume's last sector.
    if (!v) v = NtfsFromBackup(search, n, s);
  } else if (IsFat32BootSector(s)) {
    v = Fat32At(search, n, s);
  } else if (IsFat16BootSector(s)) {
    v = Fat16At(n, s);
  }
  if (v) AddVolume(search, *v, SectorPlaceText(v->start));
}

}  // namespace

void QuickPass(LostSearch& search, uint32_t tracksPerCylinder) {
  uint64_t heads = tracksPerCylinder ? tracksPerCylinder : search.disk.tracksPerCylinder;
  uint64_t perTrack = search.disk.sectorsPerTrack;
  if (heads == 0) heads = kDefaultHeads;
  if (perTrack == 0) perTrack = kDefaultSectorsPerTrack;
  const uint64_t cylinderSectors = heads * perTrack;
  const uint64_t cylinders = search.diskSectors / cylinderSectors;
  search.progress.Range(cylinders, 1);
  for (uint64_t c = 0; c < cylinders; ++c) {
    search.progress.Step();
    if (search.Stopped()) return;
    const uint64_t first = c * cylinderSectors;
    Probe(search, c, 0, first);
    Probe(search, c, 1, first + kFirstTrackSectors);
    if (c == 0) {
      // The 1 MiB start of today's partitions, an extra step counted as
      // cylinder 0, probe 1.
      search.progress.Step();
      if (search.Stopped()) return;
      Probe(search, 0, 1, kAlignedStart);
    }
  }
}

bool PrecisePass(LostSearch& search) {
  constexpr uint64_t kPieceSectors = 2048;  // 1 MiB
  SectorBuffer buffer(kBlockSectors * kDefaultSectorSize);
  if (!buffer.data()) {
    search.report.error = "no memory for the 10 MiB read buffer";
    return false;
  }
  const uint64_t sizeMiB = search.diskSectors * kDefaultSectorSize >> 20;
  search.progress.Range(sizeMiB / 10, 1);
  search.progress.BytesPerUnit(10ull << 20);
  for (uint64_t block = 0, base = 0; base < search.diskSectors; ++block, base += kBlockSectors) {
    search.progress.Pos(block);
    if (search.Stopped()) return false;
    const uint64_t sectors = std::min(kBlockSectors, search.diskSectors - base);
    // Read in pieces, each tested while it is still in the processor's cache.
    for (uint64_t piece = 0; piece < sectors; piece += kPieceSectors) {
      const uint64_t count = std::min(kPieceSectors, sectors - piece);
      uint8_t* const at = buffer.data() + piece * kDefaultSectorSize;
      search.Read(base + piece, std::span<uint8_t>(at, count * kDefaultSectorSize));
      const uint8_t* s = at;
      for (uint64_t i = piece; i < piece + count; ++i, s += kDefaultSectorSize) {
        // Every boot sector ends with 0x55 0xAA: most sectors go no further.
        if (s[510] != 0x55 || s[511] != 0xAA) continue;
        TestPreciseSector(search, base + i, ByteView(s, kDefaultSectorSize));
      }
    }
  }
  return true;
}

}  // namespace quorvel
