#pragma once
// One record slot of the dynamic-disk database ("VBLK", big-endian): the
// slot's own head (magic to kPartCount), then the record: its head (status,
// flags, type, data size) and its data. A record too long for one slot is
// split over several slots that share kGroup and are numbered by kPartNumber;
// in the parts after the first the record goes on right after the slot head,
// at kContinuation (Windows Server 2003 writes its disk records so).
#include <cstddef>
#include <cstdint>

namespace quorvel::LdmVblk {

constexpr size_t kMagic = 0x00;         // "VBLK" ("KLOG" slots read the same way)
constexpr size_t kSequence = 0x04;      // 32-bit
constexpr size_t kGroup = 0x08;         // 32-bit: the parts of one record share it
constexpr size_t kPartNumber = 0x0C;    // 16-bit, from 0
constexpr size_t kPartCount = 0x0E;     // 16-bit: parts the record is split into
constexpr size_t kStatus = 0x10;        // 16-bit
constexpr size_t kContinuation = 0x10;  // parts after the first: more of the record
constexpr size_t kRecordFlags = 0x12;   // 8-bit: which optional fields the record holds
constexpr size_t kRecordType = 0x13;    // 8-bit: 0x32 component, 0x33 partition, ...
constexpr size_t kDataSize = 0x14;      // 32-bit bytes of data
constexpr size_t kData = 0x18;          // object id, name, the type's fields

}  // namespace quorvel::LdmVblk

// Bits of kRecordFlags: optional fields a record of a type carries, in the
// order its fields are read.
namespace quorvel::LdmRecordFlag {

constexpr uint8_t kComponentStripe = 0x10;   // a component's stripe size (after one byte)
constexpr uint8_t kVolumeDriveHint = 0x02;   // a volume's drive hint, last
constexpr uint8_t kVolumeFirstId = 0x08;     // length-prefixed, skipped
constexpr uint8_t kVolumeSecondId = 0x20;    // length-prefixed, skipped
constexpr uint8_t kVolumeSecondSize = 0x80;  // length-prefixed, skipped

}  // namespace quorvel::LdmRecordFlag
