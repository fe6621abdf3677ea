#pragma once
// Reading single NTFS file records by number and decoding them: names, times,
// sizes, the unnamed data stream (resident bytes or run list), the resident
// index root; and turning LZNT1-compressed data back into plain bytes.
//
// Every offset and length taken from a record is checked against the record's
// size (1024 bytes, 4096 on 4Kn volumes): an attribute that claims to reach
// past the record ends the walk, a value that would reach past it is cut or
// ignored, never read beyond. Records are read from `source`, what the
// partition's sectors count in (io/volume_source.h).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/byte_view.h"
#include "fs/ntfs/mft_record_layout.h"
#include "io/byte_source.h"
#include "model/disk_records.h"

namespace quorvel {

// The record size of volumes whose boot sector says nothing else.
constexpr size_t kMftRecordSize = MftRecord::kDefaultSize;

// Attribute type codes the reader uses.
namespace NtfsAttr {
constexpr uint32_t kStandardInformation = 0x10;
constexpr uint32_t kAttributeList = 0x20;
constexpr uint32_t kFileName = 0x30;
constexpr uint32_t kData = 0x80;
constexpr uint32_t kIndexRoot = 0x90;
constexpr uint32_t kIndexAllocation = 0xA0;
constexpr uint32_t kEnd = 0xFFFFFFFF;
}  // namespace NtfsAttr

// Attribute flags word (offset 0x0C of an attribute header).
constexpr uint16_t kAttrCompressed = 0x0001;
constexpr uint16_t kAttrEncrypted = 0x4000;
constexpr uint16_t kAttrSparse = 0x8000;

// Record modes of ReadMftRecord.
constexpr int kMainRecord = 0;
constexpr int kExtensionRecord = 32;

// One run of a file's data. vcn is the first cluster of the file the run
// covers; startCluster is relative to the partition (0 and sparse set for a
// run with no clusters on disk, which reads as zeros).
struct DataRun {
  uint64_t vcn = 0;
  uint64_t startCluster = 0;
  uint64_t clusterCount = 0;
  bool sparse = false;
};

// The key of a $FILE_NAME attribute, either in the record or in an index entry.
struct FileNameInfo {
  uint64_t parentReference = 0;  // low 48 bits record number, high 16 sequence
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;
  uint64_t allocatedSize = 0;
  uint64_t realSize = 0;
  uint32_t flags = 0;
  uint8_t nameLength = 0;  // UTF-16 units
  uint8_t nameSpace = 0;   // 0 POSIX, 1 Win32, 2 DOS, 3 Win32 and DOS
  std::string name;        // UTF-8, nothing dropped

  uint32_t ParentNumber() const { return static_cast<uint32_t>(parentReference); }
};

struct IndexEntryInfo {
  uint64_t fileReference = 0;
  uint16_t entryLength = 0;
  uint16_t keyLength = 0;
  uint32_t entryFlags = 0;
  FileNameInfo key;
};

struct RecordDetails {
  uint32_t recordNumber = 0;
  uint64_t baseReference = 0;  // offset 0x20; non-zero in extension records
  uint16_t sequenceNumber = 0;
  uint16_t flagsWord = 0;  // offset 0x16 as stored
  uint8_t state = 0;       // EntryState; 0 when the flags word is not a known one

  // $STANDARD_INFORMATION.
  uint64_t creationTime = 0;
  uint64_t modificationTime = 0;
  uint64_t mftChangeTime = 0;
  uint64_t accessTime = 0;

  // The chosen $FILE_NAME (a Win32 name is preferred over DOS and POSIX ones).
  bool hasFileName = false;
  FileNameInfo fileName;
  uint64_t fileNameMaxSize = 0;  // largest real size among all $FILE_NAMEs

  // File size: the unnamed $DATA's real size when the record has one, else
  // the largest $FILE_NAME real size, else the chosen name's allocated size.
  uint64_t size = 0;

  // The unnamed $DATA attribute.
  bool hasData = false;
  bool nonResident = false;
  uint16_t attributeFlags = 0;        // compressed / encrypted / sparse bits
  uint64_t dataRealSize = 0;          // bytes of the stream
  uint64_t allocatedSize = 0;         // non-resident: clusters reserved × cluster size
  uint64_t initializedSize = 0;       // bytes past this read as zeros
  uint8_t compressionUnitShift = 0;   // log2 of clusters per compression unit (4 → 16)
  std::vector<DataRun> dataRuns;      // in file order (by vcn)
  std::vector<uint8_t> residentData;  // value bytes of a resident $DATA

  // $INDEX_ROOT.
  bool largeIndex = false;
  std::vector<IndexEntryInfo> indexEntries;
  std::vector<uint8_t> indexRootTail;  // last 8 bytes of the attribute (large index)

  // Lowest VCNs of the $DATA pieces merged so far (one attribute may be split
  // over extension records); a piece met twice is not decoded twice.
  std::set<uint64_t> dataPieceVcns;

  // Some of the record could not be read: its own bytes (the read then
  // fails), its attribute list, or an extension record it continues in.
  bool readShort = false;

  // True when a record's $DATA is compressed and must go through
  // WriteCompressedRuns.
  bool IsCompressed() const { return nonResident && (attributeFlags & kAttrCompressed) != 0; }
  bool IsEncrypted() const { return (attributeFlags & kAttrEncrypted) != 0; }
  uint32_t CompressionUnitClusters() const {
    return compressionUnitShift > 0 && compressionUnitShift < 16 ? 1u << compressionUnitShift : 16;
  }
};

// Maps a record header's flags word to an EntryState: 0 → deleted file,
// 1 → file, 2 → deleted folder, 3 or 7 → folder; 0 for anything else.
uint8_t EntryStateFromRecordFlags(uint16_t flagsWord);

// Bytes of one file record of the partition (partition.ntfs.recordSize; 1024
// when it names no usable size), and bytes per sector (512 when unset).
size_t MftRecordBytes(const PartitionRecord& partition);
uint64_t NtfsSectorBytes(const PartitionRecord& partition);

// Byte offset in the source of record `number`, by walking runs (clusters
// relative to the partition); past their end the number is counted from
// partition.ntfs.mftStartSector.
uint64_t MftRecordOffset(const PartitionRecord& partition, const std::vector<MftRun>& runs, uint64_t number);
// The same as an absolute sector.
uint64_t MftRecordSector(const PartitionRecord& partition, const std::vector<MftRun>& runs, uint64_t number);

// Reads record `number` and decodes it into details. kMainRecord: the stored
// number must equal `number` (records in the older layout without a stored
// number take it), number and base reference are stored. kExtensionRecord:
// what the record adds ($DATA runs and sizes, index entries) is merged into
// details; number, state and names stay. True when a valid record with that
// number was decoded.
bool ReadMftRecord(const ByteSource& source, uint64_t number, RecordDetails& details, const PartitionRecord& partition,
                   const std::vector<MftRun>& runs, int mode = kMainRecord);

// Decodes a record already in memory (fixed up; the view holds the whole
// record) as ReadMftRecord does; extension records named in its attribute
// list are read from source. numberAsked is the number the caller expects
// (used for records in the older layout and to skip list entries that point
// back at the record itself).
bool DecodeMftRecord(ByteView record, uint64_t numberAsked, RecordDetails& details, const ByteSource& source,
                     const PartitionRecord& partition, const std::vector<MftRun>& runs, int mode = kMainRecord);

// Outcome of ReadMftRecordByPosition.
enum class RecordByPositionResult {
  kRead,      // a record matching the entry's name and size was decoded
  kMftError,  // no recorded position held it: the caller shows "mft错误"
};

// Like ReadMftRecord, but at the sectors the fragment sweep recorded for the
// number (partition.ntfs.recordSectors, then ntfs.extraRecordSectors in order), taking
// the first whose decoded name and size match the entry.
RecordByPositionResult ReadMftRecordByPosition(const ByteSource& source, uint64_t number, RecordDetails& details,
                                               const PartitionRecord& partition, const std::vector<MftRun>& runs,
                                               const NtfsFileEntry& entry);

// Walks the attribute headers of a record: (type, offset) of each. True when
// the end marker was reached; false when the walk ran off the record or met
// a header that does not fit in it (the list then holds the attributes
// before it).
bool ListAttributes(ByteView record, std::vector<std::pair<uint32_t, uint32_t>>& attributes);

// Decodes an unnamed $DATA (or $INDEX_ALLOCATION) attribute into details:
// resident bytes, or sizes and run list. The view runs from the attribute's
// first byte to the end of the record; nothing past it is read. Named
// attributes are ignored.
void DecodeAttributeValue(ByteView attribute, RecordDetails& details);

// Decodes a run list (the view ends where the attribute ends). Offsets are
// signed and accumulate from 0; a run with no offset field is sparse. Fields
// up to 8 bytes wide are decoded. False when the list is malformed (runs
// decoded so far are kept).
bool DecodeRunList(ByteView runList, uint64_t firstVcn, std::vector<DataRun>& runs);

// LZNT1: decompresses into out (at most out.size() bytes). Returns the bytes
// produced; an invalid token ends the decompression.
size_t DecompressLznt1(ByteView compressed, std::span<uint8_t> out);

// A run of a compressed file in sectors: absolute start sector on the disk
// (partition start + cluster × sectors per cluster) and count; sparse runs
// hold no sectors and read as zeros.
struct SectorRun {
  uint64_t startSector = 0;
  uint64_t sectorCount = 0;
  bool sparse = false;
};

// Where WriteCompressedRuns puts the plain bytes; false stops the writing.
using ByteWriter = std::function<bool(std::span<const uint8_t> bytes)>;

// The compressed file's runs (sparse ones included, in file order) in sectors.
std::vector<SectorRun> SectorRunsOf(const RecordDetails& details, const PartitionRecord& partition);

// Writes a compressed file's plain bytes, compression unit by unit: a unit
// stored in fewer clusters than its size is LZNT1-decompressed, a full unit is
// copied as stored, a sparse unit is written as zeros. At most fileSize bytes
// go to output. unitClusters is the compression unit (16 clusters normally).
// Nothing past the partition's or the source's end is read; the plain bytes
// of units whose stored clusters could not all be read are added to
// *unreadable (they are written as they decompress). False when output
// refused bytes or stop was requested.
bool WriteCompressedRuns(const ByteSource& source, const ByteWriter& output, const std::vector<SectorRun>& runs,
                         uint32_t sectorsPerCluster, uint64_t fileSize, const PartitionRecord& partition,
                         uint32_t unitClusters = 16, const std::atomic<int>* stopFlag = nullptr,
                         uint64_t* unreadable = nullptr);

// Decodes the entry's MFT record again: at the positions the fragment sweep
// recorded when there are any, else by number. mftError is set when recorded
// positions existed but none held the entry's record.
bool ReadEntryRecord(const ByteSource& source, const NtfsFileEntry& entry, const PartitionRecord& partition,
                     RecordDetails& details, bool& mftError);

}  // namespace quorvel
