// Reading and decoding single NTFS file records.
#include "fs/ntfs/mft_record.h"

#include <algorithm>
#include <unordered_set>

#include "fs/fs_recognition.h"
#include "fs/ntfs/attribute_layout.h"
#include "platform/text.h"

namespace quorvel {

namespace {

using namespace NtfsAttribute;

constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;
constexpr size_t kMaxAttributeList = 4u << 20;  // far above anything NTFS writes

// The bytes of an attribute that lie inside both its stated length and the
// record (`attribute` runs to the end of the record).
ByteView AttributeWindow(ByteView attribute) {
  if (attribute.size() < 8) return {};
  return attribute.Sub(0, attribute.Le32(kLength));
}

// A resident attribute's value, cut to what lies inside the attribute.
bool ResidentValue(ByteView attribute, ByteView& value) {
  if (attribute.size() < kResidentHeaderSize || attribute.U8(kNonResident) != 0) return false;
  const uint32_t valueLength = attribute.Le32(kValueLength);
  const uint16_t valueOffset = attribute.Le16(kValueOffset);
  if (valueOffset > attribute.size()) return false;
  value = attribute.Sub(valueOffset, valueLength);
  return true;
}

// A $FILE_NAME value (also the key of an index entry); false when it does not fit.
bool ParseFileName(ByteView value, FileNameInfo& out) {
  namespace F = FileNameValue;
  if (value.size() < F::kName) return false;
  const uint8_t units = value.U8(F::kNameLength);
  if (!value.Has(F::kName, 2u * units)) return false;
  out.parentReference = value.Le64(F::kParentReference);
  out.creationTime = value.Le64(F::kCreationTime);
  out.modificationTime = value.Le64(F::kModificationTime);
  out.mftChangeTime = value.Le64(F::kMftChangeTime);
  out.accessTime = value.Le64(F::kAccessTime);
  out.allocatedSize = value.Le64(F::kAllocatedSize);
  out.realSize = value.Le64(F::kRealSize);
  out.flags = value.Le32(F::kFlags);
  out.nameLength = units;
  out.nameSpace = value.U8(F::kNameSpace);
  out.name = Utf16LeToUtf8(value.Sub(F::kName, 2u * units));
  return true;
}

// First name always; a later one only when it is not POSIX-only or DOS-only,
// so a Win32 name wins over its 8.3 twin whatever their order.
void TakeFileName(RecordDetails& details, const FileNameInfo& name) {
  details.fileNameMaxSize = std::max(details.fileNameMaxSize, name.realSize);
  if (!details.hasFileName || (name.nameSpace != 0 && name.nameSpace != 2)) {
    details.fileName = name;
    details.hasFileName = true;
  }
}

void DecodeStandardInformation(ByteView attribute, RecordDetails& details) {
  namespace S = StandardInformation;
  ByteView value;
  if (!ResidentValue(attribute, value) || value.size() < S::kTimesSize) return;
  details.creationTime = value.Le64(S::kCreationTime);
  details.modificationTime = value.Le64(S::kModificationTime);
  details.mftChangeTime = value.Le64(S::kMftChangeTime);
  details.accessTime = value.Le64(S::kAccessTime);
}

void DecodeFileNameAttribute(ByteView attribute, RecordDetails& details) {
  ByteView value;
  FileNameInfo name;
  if (ResidentValue(attribute, value) && ParseFileName(value, name)) TakeFileName(details, name);
}

void DecodeIndexRoot(ByteView attribute, RecordDetails& details) {
  ByteView value;
  if (!ResidentValue(attribute, value) || value.size() < IndexRoot::kMinimumSize) return;
  const size_t length = value.size();
  const ByteView header = value.Sub(IndexRoot::kNodeHeader);
  size_t pos = IndexRoot::kNodeHeader + static_cast<size_t>(header.Le32(IndexRoot::kEntriesOffset));
  details.largeIndex = header.U8(IndexRoot::kLargeIndexFlag) != 0;
  if (details.largeIndex && attribute.size() >= 8) {
    const ByteView tail = attribute.Sub(attribute.size() - 8);
    details.indexRootTail.assign(tail.data(), tail.data() + tail.size());
  }
  while (pos < length && length - pos >= IndexEntry::kHeaderSize) {
    if (details.largeIndex && length - pos < 24 + 16) break;
    const ByteView entry = value.Sub(pos);
    IndexEntryInfo info;
    info.fileReference = entry.Le64(IndexEntry::kFileReference);
    info.entryLength = entry.Le16(IndexEntry::kLength);
    info.keyLength = entry.Le16(IndexEntry::kKeyLength);
    info.entryFlags = entry.Le32(IndexEntry::kFlags);
    if (info.entryFlags & IndexEntry::kLastEntry) break;  // the last entry carries no key
    if (info.entryLength < IndexEntry::kHeaderSize || info.entryLength > length - pos) break;
    const size_t keyRoom = std::min<size_t>(info.keyLength, info.entryLength - IndexEntry::kHeaderSize);
    if (ParseFileName(entry.Sub(IndexEntry::kKey, keyRoom), info.key)) {
      const uint8_t ns = info.key.nameSpace;
      const bool keep = details.largeIndex ? (ns >= 1 && ns <= 3) : (ns == 1 || ns == 3);
      if (keep) details.indexEntries.push_back(info);
    }
    pos += info.entryLength;
  }
}

// The bytes of an attribute list, resident or read through its own run list
// (readShort is set when some of its clusters could not be read).
std::vector<uint8_t> AttributeListBytes(ByteView attribute, const ByteSource& source, const PartitionRecord& partition,
                                        bool& readShort) {
  std::vector<uint8_t> bytes;
  ByteView value;
  if (attribute.U8(kNonResident) == 0) {
    if (ResidentValue(attribute, value)) bytes.assign(value.data(), value.data() + value.size());
    return bytes;
  }
  if (attribute.size() < kNonResidentHeaderSize) return bytes;
  const uint64_t size = std::min<uint64_t>(attribute.Le64(kRealSize), kMaxAttributeList);
  const uint16_t runOffset = attribute.Le16(kRunListOffset);
  if (runOffset == 0 || runOffset >= attribute.size() || partition.sectorsPerCluster == 0) return bytes;
  std::vector<DataRun> runs;
  DecodeRunList(attribute.Sub(runOffset), 0, runs);
  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  const uint64_t clusterBytes = uint64_t{partition.sectorsPerCluster} * bytesPerSector;
  std::vector<uint8_t> cluster(static_cast<size_t>(clusterBytes));
  for (const DataRun& run : runs) {
    if (run.sparse || run.startCluster == 0) continue;
    for (uint64_t c = 0; c < run.clusterCount && bytes.size() < size; ++c) {
      const size_t take = static_cast<size_t>(std::min<uint64_t>(clusterBytes, size - bytes.size()));
      if (ReadSectors(source, partition.startSector + (run.startCluster + c) * partition.sectorsPerCluster,
                      bytesPerSector, cluster) < take)
        readShort = true;
      bytes.insert(bytes.end(), cluster.begin(), cluster.begin() + static_cast<std::ptrdiff_t>(take));
    }
  }
  return bytes;
}

// Records an MFT of these runs can hold (from the boot sector's MFT start to
// the source's end when no runs are known).
uint64_t MftRecordCapacity(const ByteSource& source, const PartitionRecord& partition,
                           const std::vector<MftRun>& runs) {
  const uint64_t recordBytes = MftRecordBytes(partition);
  const uint64_t clusterBytes = uint64_t{partition.sectorsPerCluster} * NtfsSectorBytes(partition);
  uint64_t records = 0;
  for (const MftRun& run : runs)
    records += clusterBytes && run.clusterCount <= UINT64_MAX / clusterBytes
                   ? run.clusterCount * clusterBytes / recordBytes
                   : UINT64_MAX / 2;
  if (!runs.empty()) return records;
  const uint64_t start = partition.ntfs.mftStartSector * NtfsSectorBytes(partition);
  return source.Size() > start ? (source.Size() - start) / recordBytes : UINT64_MAX;
}

// Reads the extension records an attribute list names for names, data and
// index attributes, each once, and merges them. Names count: a record whose
// only $FILE_NAME moved to an extension record would otherwise lose its name
// and its place in the tree. The work is bounded by the list's length: each
// reference is looked up in a set, and numbers past what the MFT can hold
// are not read.
void FollowAttributeList(ByteView list, uint64_t ownNumber, uint64_t numberAsked, RecordDetails& details,
                         const ByteSource& source, const PartitionRecord& partition, const std::vector<MftRun>& runs) {
  const uint64_t capacity = MftRecordCapacity(source, partition, runs);
  std::unordered_set<uint64_t> seen;
  std::vector<uint64_t> extensions;  // in list order
  size_t pos = 0;
  while (list.Has(pos, AttributeListEntry::kMinimumSize)) {
    const ByteView entry = list.Sub(pos);
    const uint16_t entryLength = entry.Le16(AttributeListEntry::kLength);
    if (entryLength == 0 || entryLength > entry.size()) break;
    const uint32_t type = entry.Le32(AttributeListEntry::kType);
    const uint64_t reference = entry.Le64(AttributeListEntry::kReference) & kReferenceMask;
    if ((type == NtfsAttr::kFileName || type == NtfsAttr::kData || type == NtfsAttr::kIndexRoot ||
         type == NtfsAttr::kIndexAllocation) &&
        reference != ownNumber && reference != numberAsked && reference < capacity && seen.insert(reference).second)
      extensions.push_back(reference);
    pos += entryLength;
  }
  // An extension record that cannot be read (rather than one overwritten
  // since) sets readShort: the record is incomplete.
  for (uint64_t number : extensions) ReadMftRecord(source, number, details, partition, runs, kExtensionRecord);
}

// Size shown and saved: the stream's own size when the record has one (a
// $FILE_NAME size can be stale), else what the names say.
void SettleSize(RecordDetails& details) {
  if (details.hasData)
    details.size = details.dataRealSize;
  else
    details.size = details.fileNameMaxSize != 0 ? details.fileNameMaxSize : details.fileName.allocatedSize;
}

}  // namespace

size_t MftRecordBytes(const PartitionRecord& partition) {
  const uint32_t size = partition.ntfs.recordSize;
  const bool usable = size >= 1024 && size <= 65536 && (size & (size - 1)) == 0;
  return usable ? size : kMftRecordSize;
}

uint64_t NtfsSectorBytes(const PartitionRecord& partition) {
  return partition.bytesPerSector ? partition.bytesPerSector : kDefaultSectorSize;
}

uint8_t EntryStateFromRecordFlags(uint16_t flagsWord) {
  switch (flagsWord) {
    case 0:
      return kDeletedFile;
    case 1:
      return kFile;
    case 2:
      return kDeletedFolder;
    case 3:
    case 7:
      return kFolder;
    default:
      return kNoState;
  }
}

uint64_t MftRecordOffset(const PartitionRecord& partition, const std::vector<MftRun>& runs, uint64_t number) {
  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  const uint64_t recordBytes = MftRecordBytes(partition);
  const uint64_t spc = partition.sectorsPerCluster;
  for (const MftRun& run : runs) {
    const uint64_t records = spc * run.clusterCount * bytesPerSector / recordBytes;
    if (number < records)
      return (partition.startSector + spc * run.startCluster) * bytesPerSector + number * recordBytes;
    number -= records;
  }
  return partition.ntfs.mftStartSector * bytesPerSector + number * recordBytes;
}

uint64_t MftRecordSector(const PartitionRecord& partition, const std::vector<MftRun>& runs, uint64_t number) {
  return MftRecordOffset(partition, runs, number) / NtfsSectorBytes(partition);
}

bool ListAttributes(ByteView record, std::vector<std::pair<uint32_t, uint32_t>>& attributes) {
  attributes.clear();
  size_t offset = record.Le16(MftRecord::kFirstAttribute);
  while (true) {
    if (!record.Has(offset, 4)) return false;
    const uint32_t type = record.Le32(offset + kType);
    if (type == NtfsAttr::kEnd) return true;
    if (!record.Has(offset, 8)) return false;
    const uint32_t length = record.Le32(offset + kLength);
    // A header that does not even hold itself, or reaches past the record, lies.
    if (length < kResidentHeaderSize || !record.Has(offset, length)) return false;
    attributes.emplace_back(type, static_cast<uint32_t>(offset));
    offset += length;
  }
}

void DecodeAttributeValue(ByteView attributeToEnd, RecordDetails& details) {
  const ByteView attribute = AttributeWindow(attributeToEnd);
  if (attribute.size() < kResidentHeaderSize) return;
  if (attribute.Le32(kType) != NtfsAttr::kData) return;  // index allocations are always named
  if (attribute.U8(kNameLength) != 0) return;            // named streams are not the file's data
  if (attribute.U8(kNonResident) == 0) {
    ByteView value;
    if (!ResidentValue(attribute, value)) return;
    details.hasData = true;
    details.nonResident = false;
    details.attributeFlags = attribute.Le16(kFlags);
    details.residentData.assign(value.data(), value.data() + value.size());
    details.dataRealSize = value.size();
    details.allocatedSize = value.size();
    details.initializedSize = value.size();
    return;
  }
  if (attribute.size() < kNonResidentHeaderSize) return;
  const uint64_t lowestVcn = attribute.Le64(kLowestVcn);
  if (!details.dataPieceVcns.insert(lowestVcn).second) return;
  if (lowestVcn == 0) {
    // Sizes and flags are only valid in the first piece of a split attribute.
    details.hasData = true;
    details.nonResident = true;
    details.attributeFlags = attribute.Le16(kFlags);
    details.compressionUnitShift = attribute.U8(kCompressionUnit);
    details.allocatedSize = attribute.Le64(kAllocatedSize);
    details.dataRealSize = attribute.Le64(kRealSize);
    details.initializedSize = attribute.Le64(kInitializedSize);
    details.residentData.clear();
  }
  const uint16_t runOffset = attribute.Le16(kRunListOffset);
  if (runOffset == 0 || runOffset == 0xFFFF || runOffset >= attribute.size()) return;
  DecodeRunList(attribute.Sub(runOffset), lowestVcn, details.dataRuns);
  std::stable_sort(details.dataRuns.begin(), details.dataRuns.end(),
                   [](const DataRun& a, const DataRun& b) { return a.vcn < b.vcn; });
}

bool DecodeMftRecord(ByteView record, uint64_t numberAsked, RecordDetails& details, const ByteSource& source,
                     const PartitionRecord& partition, const std::vector<MftRun>& runs, int mode) {
  const bool olderLayout = record.Le16(MftRecord::kUpdateSequenceOffset) == MftRecord::kOlderLayoutUsaOffset;
  const uint32_t storedNumber =
      olderLayout ? static_cast<uint32_t>(numberAsked) : record.Le32(MftRecord::kRecordNumber);
  if (storedNumber != static_cast<uint32_t>(numberAsked)) return false;
  const uint16_t flagsWord = record.Le16(MftRecord::kFlags);
  if (mode == kMainRecord) {
    details.recordNumber = storedNumber;
    details.baseReference = record.Le64(MftRecord::kBaseReference);
    details.sequenceNumber = record.Le16(MftRecord::kSequenceNumber);
    details.flagsWord = flagsWord;
    if (uint8_t state = EntryStateFromRecordFlags(flagsWord)) details.state = state;
  } else if ((record.Le64(MftRecord::kBaseReference) & kReferenceMask) != details.recordNumber) {
    return false;  // the slot now holds a piece of another file
  }

  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  ListAttributes(record, attributes);  // a walk that ran off keeps the attributes before the fault
  for (const auto& [type, offset] : attributes) {
    const ByteView attribute = AttributeWindow(record.Sub(offset));
    switch (type) {
      case NtfsAttr::kStandardInformation:
        DecodeStandardInformation(attribute, details);
        break;
      case NtfsAttr::kAttributeList:
        // Extension records never carry a list; following one from there
        // could loop between corrupt records.
        if (mode == kMainRecord)
          FollowAttributeList(AttributeListBytes(attribute, source, partition, details.readShort), storedNumber,
                              numberAsked, details, source, partition, runs);
        break;
      case NtfsAttr::kFileName:
        DecodeFileNameAttribute(attribute, details);
        break;
      case NtfsAttr::kData:
      case NtfsAttr::kIndexAllocation:
        DecodeAttributeValue(attribute, details);
        break;
      case NtfsAttr::kIndexRoot:
        DecodeIndexRoot(attribute, details);
        break;
      default:
        break;
    }
  }
  if (details.recordNumber == 5) details.fileName.name = "根目录";
  SettleSize(details);
  return true;
}

namespace {

// Reads, fixes up and decodes the record at a byte offset of the source.
bool ReadRecordAt(const ByteSource& source, uint64_t offset, uint64_t number, RecordDetails& details,
                  const PartitionRecord& partition, const std::vector<MftRun>& runs, int mode) {
  std::vector<uint8_t> record(MftRecordBytes(partition));
  if (source.ReadAt(offset, record) < record.size()) {
    details.readShort = true;  // told apart from a slot that holds no record
    return false;
  }
  if (!FixUpFileRecord(record)) return false;
  return DecodeMftRecord(record, number, details, source, partition, runs, mode);
}

}  // namespace

bool ReadMftRecord(const ByteSource& source, uint64_t number, RecordDetails& details, const PartitionRecord& partition,
                   const std::vector<MftRun>& runs, int mode) {
  const uint64_t offset = MftRecordOffset(partition, runs, number);
  if (offset / NtfsSectorBytes(partition) < partition.startSector) return false;
  return ReadRecordAt(source, offset, number, details, partition, runs, mode);
}

RecordByPositionResult ReadMftRecordByPosition(const ByteSource& source, uint64_t number, RecordDetails& details,
                                               const PartitionRecord& partition, const std::vector<MftRun>& runs,
                                               const NtfsFileEntry& entry) {
  std::vector<uint64_t> sectors;
  if (auto it = partition.ntfs.recordSectors.find(number); it != partition.ntfs.recordSectors.end())
    sectors.push_back(it->second);
  auto [first, last] = partition.ntfs.extraRecordSectors.equal_range(number);
  for (auto it = first; it != last; ++it) sectors.push_back(it->second);
  const uint64_t bytesPerSector = NtfsSectorBytes(partition);
  for (uint64_t sector : sectors) {
    details = RecordDetails{};
    if (sector < partition.startSector || sector > UINT64_MAX / bytesPerSector) continue;
    if (!ReadRecordAt(source, sector * bytesPerSector, number, details, partition, runs, kMainRecord)) continue;
    if (details.fileName.name == entry.name && details.size == entry.size) return RecordByPositionResult::kRead;
  }
  details = RecordDetails{};
  return RecordByPositionResult::kMftError;
}

}  // namespace quorvel
