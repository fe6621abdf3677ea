// Reading and decoding single NTFS file records.
#include "fs/ntfs/mft_record.h"

#include <algorithm>
#include <cstring>

#include "core/byte_order.h"
#include "fs/fs_recognition.h"
#include "platform/text.h"

namespace quorvel {

namespace {

constexpr size_t kFileNameFixed = 0x42;  // $FILE_NAME value before the name
constexpr size_t kResidentHeader = 0x18;
constexpr size_t kNonResidentHeader = 0x40;
constexpr uint64_t kReferenceMask = 0x0000FFFFFFFFFFFFull;
constexpr size_t kMaxAttributeList = 4u << 20;  // far above anything NTFS writes

// The bytes of an attribute that lie inside both its stated length and the record.
size_t AttributeWindow(const uint8_t* attribute, size_t bytesLeft) {
  if (bytesLeft < 8) return 0;
  return std::min<size_t>(LoadLe32(attribute + 4), bytesLeft);
}

// A resident attribute's value, cut to what lies inside the attribute.
bool ResidentValue(const uint8_t* attribute, size_t window, const uint8_t*& value, size_t& length) {
  if (window < kResidentHeader || attribute[8] != 0) return false;
  uint32_t valueLength = LoadLe32(attribute + 0x10);
  uint16_t valueOffset = LoadLe16(attribute + 0x14);
  if (valueOffset > window) return false;
  value = attribute + valueOffset;
  length = std::min<size_t>(valueLength, window - valueOffset);
  return true;
}

// A $FILE_NAME value (also the key of an index entry); false when it does not fit.
bool ParseFileName(const uint8_t* value, size_t length, FileNameInfo& out) {
  if (length < kFileNameFixed) return false;
  uint8_t units = value[0x40];
  if (kFileNameFixed + 2u * units > length) return false;
  out.parentReference = LoadLe64(value);
  out.creationTime = LoadLe64(value + 0x08);
  out.modificationTime = LoadLe64(value + 0x10);
  out.mftChangeTime = LoadLe64(value + 0x18);
  out.accessTime = LoadLe64(value + 0x20);
  out.allocatedSize = LoadLe64(value + 0x28);
  out.realSize = LoadLe64(value + 0x30);
  out.flags = LoadLe32(value + 0x38);
  out.nameLength = units;
  out.nameSpace = value[0x41];
  out.name = Utf16LeToUtf8(value + kFileNameFixed, units);
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

void DecodeStandardInformation(const uint8_t* attribute, size_t window, RecordDetails& details) {
  const uint8_t* value;
  size_t length;
  if (!ResidentValue(attribute, window, value, length) || length < 0x20) return;
  details.creationTime = LoadLe64(value);
  details.modificationTime = LoadLe64(value + 0x08);
  details.mftChangeTime = LoadLe64(value + 0x10);
  details.accessTime = LoadLe64(value + 0x18);
}

void DecodeFileNameAttribute(const uint8_t* attribute, size_t window, RecordDetails& details) {
  const uint8_t* value;
  size_t length;
  FileNameInfo name;
  if (ResidentValue(attribute, window, value, length) && ParseFileName(value, length, name))
    TakeFileName(details, name);
}

void DecodeIndexRoot(const uint8_t* attribute, size_t window, RecordDetails& details) {
  const uint8_t* value;
  size_t length;
  if (!ResidentValue(attribute, window, value, length) || length < 0x20) return;
  const uint8_t* header = value + 0x10;
  size_t pos = 0x10 + static_cast<size_t>(LoadLe32(header));
  details.largeIndex = header[0x0C] != 0;
  if (details.largeIndex && window >= 8) details.indexRootTail.assign(attribute + window - 8, attribute + window);
  while (pos < length && length - pos >= 0x10) {
    if (details.largeIndex && length - pos < 24 + 16) break;
    const uint8_t* entry = value + pos;
    IndexEntryInfo info;
    info.fileReference = LoadLe64(entry);
    info.entryLength = LoadLe16(entry + 8);
    info.keyLength = LoadLe16(entry + 10);
    info.entryFlags = LoadLe32(entry + 12);
    if (info.entryFlags & 2) break;  // the last entry carries no key
    if (info.entryLength < 0x10 || info.entryLength > length - pos) break;
    size_t keyRoom = std::min<size_t>(info.keyLength, info.entryLength - 0x10u);
    if (ParseFileName(entry + 0x10, keyRoom, info.key)) {
      uint8_t ns = info.key.nameSpace;
      bool keep = details.largeIndex ? (ns >= 1 && ns <= 3) : (ns == 1 || ns == 3);
      if (keep) details.indexEntries.push_back(info);
    }
    pos += info.entryLength;
  }
}

// The bytes of an attribute list, resident or read through its own run list.
std::vector<uint8_t> AttributeListBytes(const uint8_t* attribute, size_t window, SectorDevice* device,
                                        const PartitionRecord& partition) {
  std::vector<uint8_t> bytes;
  const uint8_t* value;
  size_t length;
  if (attribute[8] == 0) {
    if (ResidentValue(attribute, window, value, length)) bytes.assign(value, value + length);
    return bytes;
  }
  if (window < kNonResidentHeader) return bytes;
  uint64_t size = std::min<uint64_t>(LoadLe64(attribute + 0x30), kMaxAttributeList);
  uint16_t runOffset = LoadLe16(attribute + 0x20);
  if (runOffset == 0 || runOffset >= window || partition.sectorsPerCluster == 0) return bytes;
  std::vector<DataRun> runs;
  DecodeRunList(attribute + runOffset, window - runOffset, 0, runs);
  const uint64_t clusterBytes = uint64_t{partition.sectorsPerCluster} * kSectorSize;
  std::vector<uint8_t> cluster(static_cast<size_t>(clusterBytes));
  for (const DataRun& run : runs) {
    if (run.sparse || run.startCluster == 0) continue;
    for (uint64_t c = 0; c < run.clusterCount && bytes.size() < size; ++c) {
      ReadVolumeBytes(partition, device, (run.startCluster + c) * partition.sectorsPerCluster, cluster.data(),
                      cluster.size());
      size_t take = static_cast<size_t>(std::min<uint64_t>(clusterBytes, size - bytes.size()));
      bytes.insert(bytes.end(), cluster.begin(), cluster.begin() + static_cast<std::ptrdiff_t>(take));
    }
  }
  return bytes;
}

// Reads the extension records an attribute list names for names, data and
// index attributes, each once, and merges them. Names count: a record whose
// only $FILE_NAME moved to an extension record would otherwise lose its name
// and its place in the tree.
void FollowAttributeList(const std::vector<uint8_t>& list, uint64_t ownNumber, uint64_t numberAsked,
                         RecordDetails& details, SectorDevice* device, const PartitionRecord& partition,
                         const std::vector<MftRun>& runs) {
  std::vector<uint64_t> extensions;
  size_t pos = 0;
  while (pos < list.size() && list.size() - pos >= 0x1A) {
    const uint8_t* entry = list.data() + pos;
    uint16_t entryLength = LoadLe16(entry + 4);
    if (entryLength == 0 || entryLength > list.size() - pos) break;
    uint32_t type = LoadLe32(entry);
    uint64_t reference = LoadLe64(entry + 0x10) & kReferenceMask;
    if ((type == NtfsAttr::kFileName || type == NtfsAttr::kData || type == NtfsAttr::kIndexRoot ||
         type == NtfsAttr::kIndexAllocation) &&
        reference != ownNumber && reference != numberAsked &&
        std::find(extensions.begin(), extensions.end(), reference) == extensions.end())
      extensions.push_back(reference);
    pos += entryLength;
  }
  for (uint64_t number : extensions) ReadMftRecord(device, number, details, partition, runs, kExtensionRecord);
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

uint64_t MftRecordSector(const PartitionRecord& partition, const std::vector<MftRun>& runs, uint64_t number) {
  const uint64_t spc = partition.sectorsPerCluster;
  for (const MftRun& run : runs) {
    uint64_t records = spc * run.clusterCount / 2;
    if (number < records) return partition.startSector + spc * run.startCluster + 2 * number;
    number -= records;
  }
  return partition.ntfs.mftStartSector + 2 * number;
}

bool ListAttributes(const uint8_t* record, std::vector<std::pair<uint32_t, uint32_t>>& attributes) {
  attributes.clear();
  size_t offset = LoadLe16(record + 0x14);
  while (true) {
    if (offset + 4 > kMftRecordSize) return false;
    uint32_t type = LoadLe32(record + offset);
    if (type == NtfsAttr::kEnd) return true;
    if (offset + 8 > kMftRecordSize) return false;
    uint32_t length = LoadLe32(record + offset + 4);
    // A header that does not even hold itself, or reaches past the record, lies.
    if (length < kResidentHeader || length > kMftRecordSize - offset) return false;
    attributes.emplace_back(type, static_cast<uint32_t>(offset));
    offset += length;
  }
}

void DecodeAttributeValue(const uint8_t* attribute, size_t bytesLeft, RecordDetails& details) {
  size_t window = AttributeWindow(attribute, bytesLeft);
  if (window < kResidentHeader) return;
  if (LoadLe32(attribute) != NtfsAttr::kData) return;  // index allocations are always named
  if (attribute[9] != 0) return;                       // named streams are not the file's data
  if (attribute[8] == 0) {
    const uint8_t* value;
    size_t length;
    if (!ResidentValue(attribute, window, value, length)) return;
    details.hasData = true;
    details.nonResident = false;
    details.attributeFlags = LoadLe16(attribute + 0x0C);
    details.residentData.assign(value, value + length);
    details.dataRealSize = length;
    details.allocatedSize = length;
    details.initializedSize = length;
    return;
  }
  if (window < kNonResidentHeader) return;
  uint64_t lowestVcn = LoadLe64(attribute + 0x10);
  auto& seen = details.dataPieceVcns;
  if (std::find(seen.begin(), seen.end(), lowestVcn) != seen.end()) return;
  seen.push_back(lowestVcn);
  if (lowestVcn == 0) {
    // Sizes and flags are only valid in the first piece of a split attribute.
    details.hasData = true;
    details.nonResident = true;
    details.attributeFlags = LoadLe16(attribute + 0x0C);
    details.compressionUnitShift = attribute[0x22];
    details.allocatedSize = LoadLe64(attribute + 0x28);
    details.dataRealSize = LoadLe64(attribute + 0x30);
    details.initializedSize = LoadLe64(attribute + 0x38);
    details.residentData.clear();
  }
  uint16_t runOffset = LoadLe16(attribute + 0x20);
  if (runOffset == 0 || runOffset == 0xFFFF || runOffset >= window) return;
  DecodeRunList(attribute + runOffset, window - runOffset, lowestVcn, details.dataRuns);
  std::stable_sort(details.dataRuns.begin(), details.dataRuns.end(),
                   [](const DataRun& a, const DataRun& b) { return a.vcn < b.vcn; });
}

bool DecodeMftRecord(const uint8_t* record, uint64_t numberAsked, RecordDetails& details, SectorDevice* device,
                     const PartitionRecord& partition, const std::vector<MftRun>& runs, int mode) {
  const bool olderLayout = LoadLe16(record + 4) == 0x2A;  // no stored number
  uint32_t storedNumber = olderLayout ? static_cast<uint32_t>(numberAsked) : LoadLe32(record + 0x2C);
  if (storedNumber != static_cast<uint32_t>(numberAsked)) return false;
  uint16_t flagsWord = LoadLe16(record + 0x16);
  if (mode == kMainRecord) {
    details.recordNumber = storedNumber;
    details.baseReference = LoadLe64(record + 0x20);
    details.sequenceNumber = LoadLe16(record + 0x10);
    details.flagsWord = flagsWord;
    if (uint8_t state = EntryStateFromRecordFlags(flagsWord)) details.state = state;
  } else if ((LoadLe64(record + 0x20) & kReferenceMask) != details.recordNumber) {
    return false;  // the slot now holds a piece of another file
  }

  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  ListAttributes(record, attributes);  // a walk that ran off keeps the attributes before the fault
  for (const auto& [type, offset] : attributes) {
    const uint8_t* attribute = record + offset;
    size_t window = AttributeWindow(attribute, kMftRecordSize - offset);
    switch (type) {
      case NtfsAttr::kStandardInformation:
        DecodeStandardInformation(attribute, window, details);
        break;
      case NtfsAttr::kAttributeList:
        // Extension records never carry a list; following one from there
        // could loop between corrupt records.
        if (mode == kMainRecord)
          FollowAttributeList(AttributeListBytes(attribute, window, device, partition), storedNumber, numberAsked,
                              details, device, partition, runs);
        break;
      case NtfsAttr::kFileName:
        DecodeFileNameAttribute(attribute, window, details);
        break;
      case NtfsAttr::kData:
      case NtfsAttr::kIndexAllocation:
        DecodeAttributeValue(attribute, window, details);
        break;
      case NtfsAttr::kIndexRoot:
        DecodeIndexRoot(attribute, window, details);
        break;
      default:
        break;
    }
  }
  if (details.recordNumber == 5) details.fileName.name = "根目录";
  SettleSize(details);
  return true;
}

bool ReadMftRecord(SectorDevice* device, uint64_t number, RecordDetails& details, const PartitionRecord& partition,
                   const std::vector<MftRun>& runs, int mode) {
  uint8_t record[kMftRecordSize] = {};
  uint64_t sector = MftRecordSector(partition, runs, number);
  if (sector < partition.startSector) return false;
  ReadVolumeBytes(partition, device, sector - partition.startSector, record, sizeof record);
  if (!FixUpFileRecord(record)) return false;
  return DecodeMftRecord(record, number, details, device, partition, runs, mode);
}

RecordByPositionResult ReadMftRecordByPosition(SectorDevice* device, uint64_t number, RecordDetails& details,
                                               const PartitionRecord& partition, const std::vector<MftRun>& runs,
                                               const NtfsFileEntry& entry) {
  std::vector<uint64_t> sectors;
  if (auto it = partition.ntfs.recordSectors.find(number); it != partition.ntfs.recordSectors.end())
    sectors.push_back(it->second);
  auto [first, last] = partition.ntfs.extraRecordSectors.equal_range(number);
  for (auto it = first; it != last; ++it) sectors.push_back(it->second);
  for (uint64_t sector : sectors) {
    details = RecordDetails{};
    if (sector < partition.startSector) continue;
    uint8_t record[kMftRecordSize] = {};
    ReadVolumeBytes(partition, device, sector - partition.startSector, record, sizeof record);
    if (!FixUpFileRecord(record)) continue;
    if (!DecodeMftRecord(record, number, details, device, partition, runs, kMainRecord)) continue;
    if (details.fileName.name == entry.name && details.size == entry.size) return RecordByPositionResult::kRead;
  }
  details = RecordDetails{};
  return RecordByPositionResult::kMftError;
}

}  // namespace quorvel
