#pragma once
// What the NTFS reader takes from a volume's boot sector: cluster size and
// file-record size, and the boot-sector test with the sector sizes the
// reader accepts.
#include <cstdint>

#include "core/byte_view.h"

namespace quorvel {

// Byte 0x0D: sectors per cluster, or for clusters above 64 KiB the negated
// power of two; 0 when it names no usable size.
uint32_t NtfsSectorsPerCluster(ByteView boot);

// Bytes of a file record from the signed byte 0x40: a positive value counts
// clusters, a negative one n gives 2^-n bytes. 0 when it names no size the
// reader can use (a power of two from 1024 to 65536 bytes).
uint32_t NtfsFileRecordSize(ByteView boot, uint64_t bytesPerSector, uint32_t sectorsPerCluster);

// IsNtfsBootSector with any sector size of 512, 1024, 2048 or 4096 bytes.
// The walk and the scans recognise NTFS by the 512-byte test alone; the
// reader of a partition its table already calls NTFS also reads 4Kn volumes.
bool IsNtfsBootSectorOfAnySectorSize(ByteView sector);

}  // namespace quorvel
