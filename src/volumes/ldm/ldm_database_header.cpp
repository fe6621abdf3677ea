#include "volumes/ldm/ldm_database_header.h"

#include "volumes/ldm/ldm_database_header_layout.h"

namespace quorvel {

bool ParseLdmDatabaseHeader(ByteView v, LdmDatabaseValues& out) {
  namespace L = LdmDatabaseHeader;
  if (!v.Matches(L::kMagic, "VMDB") || !v.Has(0, L::kMinimumSize)) return false;
  LdmDatabaseValues h;
  h.lastSequence = v.Be32(L::kLastSequence);
  h.recordSize = v.Be32(L::kRecordSize);
  h.firstRecordOffset = v.Be32(L::kFirstRecordOffset);
  h.versionMajor = v.Be16(L::kVersionMajor);
  h.versionMinor = v.Be16(L::kVersionMinor);
  if (h.versionMajor != 4 || h.versionMinor != 10) return false;
  for (size_t i = 0; i < h.committed.size(); ++i) h.committed[i] = v.Be32(L::kCommittedCounts + L::kCountWidth * i);
  out = h;
  return true;
}

}  // namespace quorvel
