// The update-sequence fix-up of NTFS file records.
#include <cstring>

#include "core/byte_view.h"
#include "fs/fs_recognition.h"
#include "fs/ntfs/mft_record_layout.h"

namespace quorvel {

bool FixUpFileRecord(std::span<uint8_t> record) {
  const ByteView r(record);
  const size_t strides = record.size() / MftRecord::kStride;
  if (strides < 2 || record.size() % MftRecord::kStride != 0) return false;
  if (!r.Matches(MftRecord::kMagic, "FILE") && !r.Matches(MftRecord::kMagic, "FHLD")) return false;
  const uint8_t usaOffset = r.U8(MftRecord::kUpdateSequenceOffset);
  if (usaOffset != MftRecord::kUsaOffset && usaOffset != MftRecord::kOlderLayoutUsaOffset) return false;
  // The number, then one saved word per stride.
  if (!r.Has(usaOffset, 2 * (strides + 1))) return false;
  const uint16_t usn = r.Le16(usaOffset);
  for (size_t i = 0; i < strides; ++i)
    if (r.Le16((i + 1) * MftRecord::kStride - 2) != usn) return false;
  for (size_t i = 0; i < strides; ++i)
    std::memcpy(record.data() + (i + 1) * MftRecord::kStride - 2, record.data() + usaOffset + 2 * (i + 1), 2);
  return true;
}

}  // namespace quorvel
