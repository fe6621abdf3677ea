#pragma once
// The system's picture of storage: disks, their partitions and volumes, and the
// disk-wide collections that scans hand to the readers.
#include <array>
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "model/file_tree.h"
#include "model/volume_manager_records.h"

namespace quorvel {

// File-system kind codes (MBR type byte, corrected; other sources use the same).
namespace FsKind {
constexpr uint8_t kNone = 0x00;
constexpr uint8_t kFat16Small = 0x04;
constexpr uint8_t kExfat = 0x05;
constexpr uint8_t kFat16 = 0x06;
constexpr uint8_t kNtfs = 0x07;
constexpr uint8_t kFat32 = 0x0B;
constexpr uint8_t kFat32Lba = 0x0C;
constexpr uint8_t kNtfsAlt = 0x0D;
constexpr uint8_t kFat16Lba = 0x0E;
constexpr uint8_t kHfsFamily = 0x19;
constexpr uint8_t kDynamicContainer = 0x42;
constexpr uint8_t kLinuxExt = 0x83;
constexpr uint8_t kGptProtective = 0xEE;
}  // namespace FsKind

inline bool IsFat16Kind(uint8_t k) { return k == 0x04 || k == 0x06 || k == 0x0E; }
inline bool IsFat32Kind(uint8_t k) { return k == 0x0B || k == 0x0C; }
inline bool IsNtfsKind(uint8_t k) { return k == 0x07 || k == 0x0D; }

// How a partition's bytes are found.
enum VolumeKind : uint8_t {
  kPlainVolume = 0,
  kStripedVolume = 1,
  kSpannedVolume = 2,
  kParityVolume = 3,
};

struct VolumeMember {
  uint8_t ordinal = 0;
  std::array<uint8_t, 16> memberDiskId{};
  std::string path;  // empty when the member's disk was not found
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  uint64_t dataAreaOffset = 0;  // dynamic disks: start relative to its disk's data area
};

// One run of the MFT, in clusters relative to the partition.
struct MftRun {
  uint64_t startCluster = 0;
  uint64_t clusterCount = 0;
};

// A stretch of MFT records the deep scan saw.
struct MftFragment {
  uint64_t startSector = 0;  // absolute on the disk
  uint32_t sectorCount = 0;
};
using MftFragmentList = std::list<MftFragment>;

// What the FAT reader keeps of a volume between runs.
struct FatVolumeState {
  uint32_t sizeSectors = 0;      // sectors of one FAT
  std::vector<uint8_t> table;    // the first FAT; freed when the tree is emptied
  uint64_t unreadableBytes = 0;  // bytes of it the last read could not read
};

// What the NTFS record sweep finds out about a volume and the save engine and
// hex viewer read records by.
struct NtfsVolumeState {
  uint64_t mftStartSector = 0;  // absolute
  uint32_t recordSize = 1024;   // bytes of a file record, from the boot sector (4096 on 4Kn volumes)
  uint32_t clustersPerIndexRecord = 0;
  std::vector<MftRun> mftRuns;
  std::map<uint64_t, uint64_t> recordSectors;            // record -> absolute sector (fragment path)
  std::multimap<uint64_t, uint64_t> extraRecordSectors;  // further sectors of a number
  uint64_t unreadableRecords = 0;                        // records the last sweep could not read
};

// One partition or volume: where it lies and what it holds (location and
// geometry at the top, each reader's state in its own part).
struct PartitionRecord {
  std::string devicePath;
  std::string subKindText;  // "HFS", "HFS+", "HFS+ in HFS", "HFSX"
  int32_t subKindCode = 0;  // 1 HFS, 2 HFS+, 3 HFSX, 4 HFS+ in HFS
  std::string volumeLabel;
  std::string driveLetter;   // mount point on Linux
  std::string name;          // "Partition%d", GPT name with suffix, volume name
  std::string linuxSubKind;  // "EXT2", "EXT3", "EXT4"
  uint64_t sectorCount = 0;
  uint64_t startSector = 0;  // absolute; 0 for composite volumes
  uint8_t role = 1;          // 1 primary/whole-disk/GPT, 2 logical
  uint32_t sectorsPerCluster = 8;
  uint64_t dataOrigin = 0;  // FAT: absolute sector of (virtual) cluster 0
  uint8_t fsKind = 0;
  uint32_t bytesPerSector = 512;
  int32_t originCode = 0;  // 0 table, 1 rebuilt from traces, 2 boot sector found by a scan

  FatVolumeState fat;
  NtfsVolumeState ntfs;

  // The file tree and its indexes.
  FileTreeBox tree;

  // Composite volumes.
  uint8_t volumeKind = kPlainVolume;
  uint16_t stripeSize = 128;  // sectors
  std::map<uint8_t, VolumeMember> members;

  // Volume-manager details (dynamic disks, LVM2), filled by those readers.
  std::string volumeId;          // the volume manager's identifier text
  std::string volumeManager;     // "LDM", "LVM2" or empty
  std::string unreadableReason;  // set when the volume is listed but cannot be read
};

struct DiskRecord {
  std::string devicePath;  // /dev/sdX or the image file's path
  std::string diskNumber;  // "%d"; empty for an image
  std::string product;
  std::string vendor;  // for an image: the file name
  std::string revision;
  uint64_t sizeBytes = 0;
  uint32_t cylinders = 0;
  uint32_t tracksPerCylinder = 0;
  uint32_t sectorsPerTrack = 0;
  uint8_t fixedMedia = 0;
  std::list<PartitionRecord> partitions;

  // Filled by the sweeps and the deep scan; saved in scan-result files.
  DirectorySectorSet directorySectors;
  MftFragmentList mftFragments;
  CarvedFile extraFoundFiles;  // "Extra Found Files"
  CarvedFileMap carvedFiles;

  // Volume managers.
  uint32_t bytesPerSector = 512;
  uint32_t diskKind = 0;  // 0 physical disk or image, 2 dynamic-disk group
  std::string diskIdText;
  std::string groupIdText;
  LdmDiskValues ldm;
  LdmDatabaseValues ldmDatabase;
  LvmValues lvm;
  uint32_t mapEntryCount = 0;  // Apple partition map
  // Values scan-result files carry that nothing here sets; kept so that a
  // loaded file is written back as it was read.
  uint64_t scanFileReserved64 = 0;
  uint32_t scanFileReserved32a = 0;
  uint32_t scanFileReserved32b = 0;

  // vendor + product + disk number + revision: names the disk everywhere.
  std::string Identity() const { return vendor + product + diskNumber + revision; }
};

using DiskList = std::list<DiskRecord>;

}  // namespace quorvel
