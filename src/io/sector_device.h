#pragma once
// The named read entry points of the disk layer, over ByteSource. Readers
// open a source once per operation (io/volume_source.h) and read it with
// ReadAt; these remain for callers that want the operations by their names.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Opens a device or image file read-only; null (error set) when it cannot be.
std::unique_ptr<ByteSource> OpenDevice(const std::string& path, std::string* error = nullptr);

// Reads buffer at a byte position of a partition's source (what its sectors
// count in: the disk for a plain partition, the volume for a composite one).
// bytesRead receives the bytes read; the rest of buffer is zero. True when
// all of buffer was read.
bool ReadPartitionData(const ByteSource& source, uint64_t position, std::span<uint8_t> buffer, size_t& bytesRead);

// A composite volume read by volume-relative position, its members opened
// for this one read (readers that read a volume many times open it once with
// OpenVolumeSource). The layout-specific forms refuse a partition of another
// layout. True when all of buffer was read, or a spanned volume ran out of
// members exactly at bytesRead.
bool ReadCompositeVolume(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                         size_t& bytesRead);
bool ReadVolumeStriped(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                       size_t& bytesRead);
bool ReadVolumeSpanned(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                       size_t& bytesRead);
bool ReadVolumeParity(const PartitionRecord& partition, uint64_t position, std::span<uint8_t> buffer,
                      size_t& bytesRead);
// The bytes [memberOffset, memberOffset + output.size()) of the member with
// missingOrdinal, rebuilt from the others' bytes and the parity. False
// (output zeroed) when another member cannot be read.
bool RebuildFromParity(const PartitionRecord& partition, uint8_t missingOrdinal, uint64_t memberOffset,
                       std::span<uint8_t> output);

}  // namespace quorvel
