#include "volumes/ldm/ldm_database_header.h"

namespace quorvel {

bool ParseLdmDatabaseHeader(ByteView v, LdmDatabaseValues& out) {
  if (!v.Matches(0, "VMDB") || !v.Has(0, 0x95)) return false;
  LdmDatabaseValues h;
  h.lastSequence = v.Be32(0x04);
  h.recordSize = v.Be32(0x08);
  h.firstRecordOffset = v.Be32(0x0C);
  h.versionMajor = v.Be16(0x12);
  h.versionMinor = v.Be16(0x14);
  if (h.versionMajor != 4 || h.versionMinor != 10) return false;
  for (size_t i = 0; i < h.committed.size(); ++i) h.committed[i] = v.Be32(0x85 + 4 * i);
  out = h;
  return true;
}

}  // namespace quorvel
