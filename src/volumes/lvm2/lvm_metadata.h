#pragma once
// The volume group described by an LVM2 metadata text: its identity and
// extent size, its physical volumes and its logical volumes with their
// segments.
#include <string>
#include <string_view>

#include "model/volume_manager_records.h"

namespace quorvel {

// True when a metadata id (written with dashes) names the label's UUID
// (written without them); exact matches count too.
bool LvmIdsMatch(std::string_view metadataId, std::string_view labelUuid);

// Fills lvm from the text. groupIdText receives the group's id; pvUuid is
// the label's UUID, whose physical volume gives dev_size, pe_start and
// pe_count.
void ParseLvmMetadata(std::string_view text, std::string_view pvUuid, LvmValues& lvm, std::string& groupIdText);

}  // namespace quorvel
