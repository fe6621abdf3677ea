#pragma once
// The dynamic-disk database header ("VMDB"), 17 sectors into the database
// area: how many records there are, how large each is and where they start.
#include "core/byte_view.h"
#include "model/volume_manager_records.h"

namespace quorvel {

// Sectors from the start of the database area to the database header.
constexpr uint64_t kLdmDatabaseHeaderSector = 17;

// Checks the magic and version 4.10; false leaves out unchanged.
bool ParseLdmDatabaseHeader(ByteView sector, LdmDatabaseValues& out);

}  // namespace quorvel
