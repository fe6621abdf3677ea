#pragma once
// An LVM2 physical volume: the label in sector 1 ("LABELONE") leads to the
// metadata area, whose header says where the volume group's text lies.
#include <string>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// The metadata area header: where the current metadata text lies, relative
// to the area. False when the magic is wrong.
struct LvmMetadataLocation {
  uint64_t areaStart = 0;  // from the area header
  uint64_t areaSize = 0;
  uint64_t textOffset = 0;  // relative to the area
  uint64_t textLength = 0;
};
bool ParseLvmMetadataHeader(ByteView sector, LvmMetadataLocation& out);

// Reads the metadata text of the area at areaOffset (bytes from the disk's
// start); empty when the header is not valid or the text does not fit the
// area. A text that runs past the area's end continues after its header, as
// LVM writes it.
std::string ReadLvmMetadataText(const ByteSource& disk, uint64_t areaOffset, uint64_t areaSize);

// sector1: the disk's second sector. Returns 1 when it is not an LVM2 label
// (the walk goes on), 0 when it was one and has been read into disk: the
// physical volume's UUID as disk identity, the group's id, extent geometry
// and logical volumes.
int ReadLvmLabel(ByteView sector1, const ByteSource& source, DiskRecord& disk);

}  // namespace quorvel
