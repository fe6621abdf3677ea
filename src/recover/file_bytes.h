#pragma once
// A file's bytes (or a stretch of sectors) read into memory for viewing. The
// source is only read; the bytes are a copy the viewer may change freely.
#include <cstdint>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// Files larger than this show their first bytes only.
constexpr uint64_t kMaxViewBytes = 0x25800000;  // 600 MiB

// Bytes a view of a `size`-byte file holds: the size rounded up to whole
// 512-byte sectors, or kMaxViewBytes for larger files.
uint64_t ViewLength(uint64_t size);

// Each loader has two forms: one that opens the partition's source
// (io/volume_source.h) and reports whether it could (and, through missing,
// how many bytes of the shown part of the file could not be read), and one
// that reads an opened source and returns how many of the file's bytes are
// known: read from it, or zeros by the file system's account (the rest of out
// reads as zeros). Nothing is read past the partition's or the source's end;
// a short read is retried sector by sector.

// FAT entry: follows the in-memory FAT from the first cluster when the file
// spans at least one cluster and the FAT is loaded, else reads contiguously;
// deleted files (whose chains are cleared) are always read contiguously.
// A size of 0 or a first cluster below the root folder's loads nothing.
// False (error set) only when the source cannot be opened.
bool LoadFatEntryBytes(const DiskRecord& disk, const PartitionRecord& partition, const FatFileEntry& entry,
                       std::vector<uint8_t>& out, std::string& error, uint64_t* missing = nullptr);
uint64_t LoadFatEntryBytes(const ByteSource& source, const PartitionRecord& partition, const FatFileEntry& entry,
                           std::vector<uint8_t>& out);

// NTFS entry: decodes its MFT record again (by the recorded positions after a
// format-recovery scan). Resident data is copied; each data run lands at its
// own place (sparse runs read as zeros); compressed data is decompressed.
// mftError is set when no recorded position held the record ("mft错误").
bool LoadNtfsEntryBytes(const DiskRecord& disk, PartitionRecord& partition, const NtfsFileEntry& entry,
                        std::vector<uint8_t>& out, std::string& error, bool* mftError = nullptr,
                        uint64_t* missing = nullptr);
// recordRead is false when the entry's MFT record could not be decoded again.
uint64_t LoadNtfsEntryBytes(const ByteSource& source, const PartitionRecord& partition, const NtfsFileEntry& entry,
                            std::vector<uint8_t>& out, bool& recordRead, bool& mftError);

// A carved file: its size in bytes from its start sector.
bool LoadCarvedFileBytes(const DiskRecord& disk, uint64_t startSector, const CarvedFile& file,
                         std::vector<uint8_t>& out, std::string& error);

// byteCount bytes from an absolute sector of a disk or image (whole sectors
// are read; out holds byteCount bytes, at most kMaxViewBytes); missing
// receives how many of them could not be read.
bool LoadSectorBytes(const std::string& devicePath, uint64_t startSector, uint64_t byteCount, std::vector<uint8_t>& out,
                     std::string& error, uint64_t* missing = nullptr);
uint64_t LoadSectorBytes(const ByteSource& source, uint64_t startSector, uint64_t byteCount, std::vector<uint8_t>& out);

}  // namespace quorvel
