#pragma once
// A dynamic disk's private header ("PRIVHEAD"): which disk and group it is,
// where its data area and the group's database lie. Three copies are kept;
// all must agree before the disk is taken as dynamic.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/byte_view.h"
#include "io/byte_source.h"
#include "model/volume_manager_records.h"

namespace quorvel {

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" -> its 16 bytes in written order.
bool ParseGuidText(std::string_view text, std::array<uint8_t, 16>& out);
// The 16 bytes as "%d" numbers run together: the identity texts of dynamic
// disks and groups.
std::string GuidBytesText(const std::array<uint8_t, 16>& bytes);

// Where a disk keeps its private header: at sector 6 behind an MBR entry of
// type 0x42, or in the last sector of the GPT "LDM metadata partition".
enum class LdmHeaderPlace { kMbr, kGpt };

// One 512-byte copy. Checks the magic, version 2.11/2.12, a non-empty
// database area that the data area does not overlap, and both GUID texts.
bool ParseLdmPrivateHeader(ByteView sector, LdmHeaderPlace place, LdmDiskValues& out);

// Reads the first copy at firstSector, then the two copies at the end of the
// database area (its last sector and 192 sectors before its end). True when
// all three parse and the two end copies agree; out then holds the last
// sector's values.
bool ReadLdmPrivateHeaders(const ByteSource& disk, uint64_t firstSector, LdmHeaderPlace place, LdmDiskValues& out);

}  // namespace quorvel
