#pragma once
// The dynamic-disk database's records (VBLKs): components, partitions (the
// extents of components on disks), disks, disk groups and volumes. Numbers in
// records are big-endian; most are "variable numbers": a length byte and that
// many bytes.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/volume_manager_records.h"

namespace quorvel {

struct LdmComponent {
  uint64_t id = 0;
  std::string name;
  uint8_t type = 0;  // 1 striped, 2 concatenated (simple or spanned), 3 striped with parity
  uint64_t children = 0;
  uint64_t parentId = 0;    // the volume
  uint64_t stripeSize = 0;  // sectors; 0 when the record has none
};

struct LdmPartition {
  uint64_t id = 0;
  std::string name;
  uint64_t start = 0;         // sectors from the disk's data area
  uint64_t volumeOffset = 0;  // sectors into the component
  uint64_t size = 0;
  uint64_t parentId = 0;  // the component
  uint64_t diskId = 0;
};

struct LdmDisk {
  uint64_t id = 0;
  std::string name;  // "Disk1", ...
  std::array<uint8_t, 16> guid{};
};

struct LdmGroup {
  uint64_t id = 0;
  std::string name;
};

struct LdmVolume {
  uint64_t id = 0;
  std::string name;
  std::string typeText;  // "gen", "raid5", ...
  uint64_t children = 0;
  uint64_t size = 0;  // sectors
  uint8_t partitionType = 0;
  std::string driveHint;  // "E:" style, empty when none
};

// The records of one database, each kind in database order.
struct LdmDatabase {
  std::vector<LdmComponent> components;
  std::vector<LdmPartition> partitions;
  std::vector<LdmDisk> disks;
  std::vector<LdmGroup> groups;
  std::vector<LdmVolume> volumes;
  uint32_t newerRevisionRecords = 0;  // disks and groups of record types 0x44/0x45
  uint32_t multiPartRecords = 0;      // records spread over several VBLKs, not read
};

// Decodes one VBLK slot (recordSize bytes) and files it in db. Slots that
// are empty, of an unknown type, parts of a multi-part record or damaged are
// passed over.
void ParseLdmRecord(ByteView slot, LdmDatabase& db);

// Reads the database header at the database area of header and every record
// it counts. False when the header is invalid or its counts do not fit the
// area.
bool ReadLdmDatabase(const ByteSource& disk, const LdmDiskValues& header, LdmDatabaseValues& values, LdmDatabase& db);

}  // namespace quorvel
