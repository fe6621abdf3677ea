#pragma once
// Recognising the file system inside a volume that a volume manager made
// (a dynamic-disk volume, an LVM2 logical volume), read as a source of its
// own.
#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Tests the volume's first sectors for NTFS, FAT32, FAT16, exFAT, EXT and
// the HFS family and reads the label. With setKind the FsKind (and the EXT
// and HFS sub-kinds) come from what is found; without it the record keeps
// the FsKind its volume manager gave it and only the label is read (exFAT
// in a type-0x07 volume is still corrected). Returns true when a file
// system was recognised.
bool RecogniseVolume(const ByteSource& volume, PartitionRecord& record, bool setKind);

// Makes record an HFS-family volume of the given variant (1 HFS, 2 HFS+,
// 3 HFSX, 4 HFS+ in HFS): FsKind 0x19, sub-kind code and text, and the label
// ("only hfs+" for HFS+, the HFS volume name for HFS and the wrapper).
// header is the volume header, 1024 bytes into the volume.
void ApplyHfsVariant(PartitionRecord& record, int variant, ByteView header);

}  // namespace quorvel
