#pragma once
// What the searches of one lost-partition scan share: the disk and its
// source, counted reads, and the tests that turn a boot sector into a volume.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/byte_view.h"
#include "core/scan_progress.h"
#include "io/byte_source.h"
#include "model/disk_records.h"
#include "scan/lost_partitions.h"

namespace quorvel {

using BootSectorBytes = std::array<uint8_t, 512>;

struct LostSearch {
  DiskRecord& disk;
  const ByteSource& source;
  ScanProgress& progress;
  LostScanReport& report;
  uint64_t diskSectors = 0;

  // Reads buffer.size() bytes from an absolute sector (zeros where nothing
  // could be read) and counts the read.
  void Read(uint64_t sector, std::span<uint8_t> buffer);
  BootSectorBytes ReadSector(uint64_t sector);
  bool Stopped() const { return progress.StopRequested(); }
};

// A volume a search has proved, before it is added.
struct FoundVolume {
  uint8_t fsKind = 0;
  uint64_t start = 0;
  uint64_t count = 0;
  uint8_t role = 0;        // 1 primary, 2 logical; 0: decided by RoleFromExtendedBootRecord
  BootSectorBytes boot{};  // the boot sector its values come from (a backup copy when the first is damaged)
};

// NTFS: the boot sector's MFT cluster × sectors per cluster from start must
// hold a valid file record.
bool NtfsMftCheck(LostSearch& search, uint64_t start, ByteView boot);
// An NTFS boot sector at `sector` whose MFT check passes.
std::optional<FoundVolume> NtfsAt(LostSearch& search, uint64_t sector, ByteView boot);
// The NTFS volume whose backup boot sector (its last sector) is at `sector`:
// start = sector - total sectors, proved by the MFT check with the backup's
// fields. The volume's own first sector is not needed.
std::optional<FoundVolume> NtfsFromBackup(LostSearch& search, uint64_t sector, ByteView backup);
// A FAT32 volume at start described by boot (its own or its backup). Refused
// when boot is the backup copy that lies a few sectors into a volume.
std::optional<FoundVolume> Fat32At(LostSearch& search, uint64_t start, ByteView boot);
std::optional<FoundVolume> Fat16At(uint64_t start, ByteView boot);
// The first 32-bit value of the FAT at `sector` marks a FAT16 FAT start.
bool Fat16TableStartsAt(LostSearch& search, uint64_t sector);

// 2 when an extended boot record 1, 63 or 2048 sectors before start points at
// it (a logical partition), else 1.
uint8_t RoleFromExtendedBootRecord(LostSearch& search, uint64_t start);

// True when a plain partition of the same file-system family starts at start.
bool ListsPartition(const DiskRecord& disk, uint64_t start, uint8_t fsKind);

// Adds the volume (label from its boot sector's fields; role from the
// extended boot records when not set), puts its description
// line into the progress text and the report. placeText is the description's
// position field, e.g. "3,1,1;" or "0,0,1;2048;". Null when it was already
// listed.
PartitionRecord* AddVolume(LostSearch& search, const FoundVolume& volume, const std::string& placeText);
// The description's position field of the searches without cylinders.
std::string SectorPlaceText(uint64_t start);

// The searches, in the order the scan runs them.
void ForwardChainSearch(LostSearch& search);
void BackwardChainSearch(LostSearch& search);
void DefaultMftProbeSearch(LostSearch& search);
void QuickPass(LostSearch& search, uint32_t tracksPerCylinder);
// False when stopped.
bool PrecisePass(LostSearch& search);

}  // namespace quorvel
