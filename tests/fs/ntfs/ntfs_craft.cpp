#include "fs/ntfs/ntfs_craft.h"

#include <sys/stat.h>
#include <cstring>
#include <fstream>

#include "platform/text.h"

namespace quorvel::test {

namespace {

void Put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void Put64(Bytes& b, size_t at, uint64_t v) {
  for (int i = 0; i < 8; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void CopyInto(Bytes& to, size_t at, const Bytes& from) {
  if (!from.empty()) std::memcpy(to.data() + at, from.data(), from.size());
}

Bytes Utf16(const std::string& text) {
  std::u16string units = Utf8ToUtf16(text);
  Bytes out;
  for (char16_t u : units) {
    out.push_back(static_cast<uint8_t>(u));
    out.push_back(static_cast<uint8_t>(u >> 8));
  }
  return out;
}

Bytes FileNameValue(uint64_t parent, const std::string& name, uint8_t nameSpace, uint64_t realSize,
                    uint64_t allocatedSize) {
  Bytes name16 = Utf16(name);
  Bytes v(0x42 + name16.size());
  Put64(v, 0, parent);
  for (int i = 0; i < 4; ++i) Put64(v, 8 + 8 * i, 0x01D0000000000000ull + i);
  Put64(v, 0x28, allocatedSize);
  Put64(v, 0x30, realSize);
  v[0x40] = static_cast<uint8_t>(name16.size() / 2);
  v[0x41] = nameSpace;
  CopyInto(v, 0x42, name16);
  return v;
}

size_t Align8(size_t n) { return (n + 7) & ~size_t{7}; }

}  // namespace

RecordBuilder::RecordBuilder(uint32_t number, uint16_t flags, uint16_t sequence, bool olderLayout, size_t recordSize)
    : bytes_(recordSize, 0) {
  std::memcpy(bytes_.data(), "FILE", 4);
  uint16_t usaOffset = olderLayout ? 0x2A : 0x30;
  const size_t strides = recordSize / 512;
  Put16(bytes_, 4, usaOffset);
  Put16(bytes_, 6, static_cast<uint16_t>(strides + 1));
  Put16(bytes_, 0x10, sequence);
  Put16(bytes_, 0x12, 1);
  // The first attribute follows the update-sequence array.
  next_ = Align8(usaOffset + 2 * (strides + 1));
  Put16(bytes_, 0x14, static_cast<uint16_t>(next_));
  Put16(bytes_, 0x16, flags);
  Put32(bytes_, 0x1C, static_cast<uint32_t>(recordSize));
  if (!olderLayout) Put32(bytes_, 0x2C, number);
}

RecordBuilder& RecordBuilder::BaseReference(uint64_t reference) {
  Put64(bytes_, 0x20, reference);
  return *this;
}

RecordBuilder& RecordBuilder::Resident(uint32_t type, const Bytes& value, const std::string& name) {
  Bytes name16 = Utf16(name);
  size_t nameOffset = 0x18;
  size_t valueOffset = Align8(nameOffset + name16.size());
  size_t length = Align8(valueOffset + value.size());
  Bytes a(length, 0);
  Put32(a, 0, type);
  Put32(a, 4, static_cast<uint32_t>(length));
  a[8] = 0;
  a[9] = static_cast<uint8_t>(name16.size() / 2);
  Put16(a, 0x0A, static_cast<uint16_t>(nameOffset));
  Put16(a, 0x0E, attributeId_++);
  Put32(a, 0x10, static_cast<uint32_t>(value.size()));
  Put16(a, 0x14, static_cast<uint16_t>(valueOffset));
  CopyInto(a, nameOffset, name16);
  CopyInto(a, valueOffset, value);
  return RawAttribute(a);
}

RecordBuilder& RecordBuilder::StandardInformation(uint64_t created, uint64_t modified, uint64_t accessed) {
  Bytes v(0x30, 0);
  Put64(v, 0, created);
  Put64(v, 8, modified);
  Put64(v, 0x10, modified);
  Put64(v, 0x18, accessed);
  return Resident(0x10, v, "");
}

RecordBuilder& RecordBuilder::FileName(uint64_t parentReference, const std::string& name, uint8_t nameSpace,
                                       uint64_t realSize, uint64_t allocatedSize) {
  return Resident(0x30, FileNameValue(parentReference, name, nameSpace, realSize, allocatedSize), "");
}

RecordBuilder& RecordBuilder::ResidentData(const Bytes& value, const std::string& name) {
  return Resident(0x80, value, name);
}

RecordBuilder& RecordBuilder::NonResidentData(const Bytes& runList, uint64_t realSize, uint64_t lowestVcn,
                                              uint16_t flags, uint8_t unitShift, const std::string& name) {
  Bytes name16 = Utf16(name);
  size_t nameOffset = 0x40;
  size_t runOffset = Align8(nameOffset + name16.size());
  size_t length = Align8(runOffset + runList.size() + 1);
  Bytes a(length, 0);
  Put32(a, 0, 0x80);
  Put32(a, 4, static_cast<uint32_t>(length));
  a[8] = 1;
  a[9] = static_cast<uint8_t>(name16.size() / 2);
  Put16(a, 0x0A, static_cast<uint16_t>(nameOffset));
  Put16(a, 0x0C, flags);
  Put16(a, 0x0E, attributeId_++);
  Put64(a, 0x10, lowestVcn);
  Put16(a, 0x20, static_cast<uint16_t>(runOffset));
  a[0x22] = unitShift;
  uint64_t allocated = (realSize + 4095) & ~uint64_t{4095};
  if (lowestVcn == 0) {
    Put64(a, 0x28, allocated);
    Put64(a, 0x30, realSize);
    Put64(a, 0x38, realSize);
  }
  CopyInto(a, nameOffset, name16);
  CopyInto(a, runOffset, runList);
  return RawAttribute(a);
}

RecordBuilder& RecordBuilder::AttributeList(const std::vector<AttributeListItem>& items) {
  Bytes v;
  for (const AttributeListItem& item : items) {
    Bytes e(0x20, 0);
    Put32(e, 0, item.type);
    Put16(e, 4, 0x20);
    e[7] = 0x1A;
    Put64(e, 8, item.lowestVcn);
    Put64(e, 0x10, item.reference);
    v.insert(v.end(), e.begin(), e.end());
  }
  return Resident(0x20, v, "");
}

RecordBuilder& RecordBuilder::IndexRoot(const std::vector<IndexItem>& items, bool largeIndex) {
  Bytes entries;
  for (const IndexItem& item : items) {
    Bytes key = FileNameValue(item.parent, item.name, item.nameSpace, 0, 0);
    size_t length = Align8(0x10 + key.size());
    Bytes e(length, 0);
    Put64(e, 0, item.reference);
    Put16(e, 8, static_cast<uint16_t>(length));
    Put16(e, 10, static_cast<uint16_t>(key.size()));
    CopyInto(e, 0x10, key);
    entries.insert(entries.end(), e.begin(), e.end());
  }
  Bytes last(0x10, 0);
  Put16(last, 8, 0x10);
  Put32(last, 12, 2);
  entries.insert(entries.end(), last.begin(), last.end());
  Bytes v(0x20, 0);
  Put32(v, 0, 0x30);
  Put32(v, 8, 4096);
  Put32(v, 0x10, 0x10);  // entries right after the index header
  Put32(v, 0x14, static_cast<uint32_t>(0x10 + entries.size()));
  Put32(v, 0x18, static_cast<uint32_t>(0x10 + entries.size()));
  v[0x1C] = largeIndex ? 1 : 0;
  v.insert(v.end(), entries.begin(), entries.end());
  return Resident(0x90, v, "$I30");
}

RecordBuilder& RecordBuilder::RawAttribute(const Bytes& attribute) {
  size_t room = bytes_.size() - 8 - next_;
  size_t take = std::min(attribute.size(), room);
  std::memcpy(bytes_.data() + next_, attribute.data(), take);
  next_ += take;
  return *this;
}

Bytes RecordBuilder::Finish(bool endMarker) const {
  Bytes b = bytes_;
  if (endMarker && next_ + 4 <= b.size()) Put32(b, next_, 0xFFFFFFFF);
  Put32(b, 0x18, static_cast<uint32_t>(next_ + 8));
  // Update sequence: the value goes to every 512-byte stride's end, the real
  // bytes into the array.
  uint16_t usaOffset = static_cast<uint16_t>(b[4] | (b[5] << 8));
  const uint16_t usn = 0x0042;
  Put16(b, usaOffset, usn);
  for (size_t end = 510, slot = usaOffset + 2u; end < b.size(); end += 512, slot += 2) {
    b[slot] = b[end];
    b[slot + 1] = b[end + 1];
    Put16(b, end, usn);
  }
  return b;
}

Bytes RecordBuilder::FinishFixedUp() const {
  Bytes b = Finish();
  uint16_t usaOffset = static_cast<uint16_t>(b[4] | (b[5] << 8));
  for (size_t end = 510, slot = usaOffset + 2u; end < b.size(); end += 512, slot += 2) {
    b[end] = b[slot];
    b[end + 1] = b[slot + 1];
  }
  return b;
}

VolumeBuilder::VolumeBuilder(uint32_t mftRecords, uint64_t sectors, NtfsGeometry geometry)
    : geometry_(geometry), image_(sectors * geometry.sectorSize, 0) {
  const uint32_t sectorSize = geometry.sectorSize;
  Bytes boot(512, 0);
  boot[0] = 0xEB;
  boot[1] = 0x52;
  boot[2] = 0x90;
  std::memcpy(boot.data() + 3, "NTFS    ", 8);
  Put16(boot, 0x0B, static_cast<uint16_t>(sectorSize));
  boot[0x0D] = static_cast<uint8_t>(4096 / sectorSize);  // 4 KiB clusters
  boot[0x15] = 0xF8;
  Put64(boot, 0x28, sectors - 1);
  Put64(boot, 0x30, 4);   // MFT cluster
  Put64(boot, 0x38, 16);  // mirror
  // Records of 2^n bytes are named by -n.
  int shift = 0;
  while ((1u << shift) < geometry.recordSize) ++shift;
  boot[0x40] = static_cast<uint8_t>(-shift);
  Put32(boot, 0x44, 1);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  std::memcpy(image_.data(), boot.data(), 512);
  std::memcpy(image_.data() + (sectors - 1) * sectorSize, boot.data(), 512);

  const uint64_t clusters = (uint64_t{mftRecords} * geometry.recordSize + 4095) / 4096;
  Bytes runs = {0x11, static_cast<uint8_t>(clusters), 0x04, 0x00};
  // The header's low nibble counts the length's bytes, the high one the offset's.
  if (clusters > 0x7F) runs = {0x12, static_cast<uint8_t>(clusters), static_cast<uint8_t>(clusters >> 8), 0x04, 0x00};
  const size_t recordSize = geometry.recordSize;
  Put(0, RecordBuilder(0, 1, 1, false, recordSize)
             .StandardInformation(1, 1, 1)
             .FileName(Ref(5, 5), "$MFT", 3)
             .NonResidentData(runs, clusters * 4096)
             .Finish());
  Put(5, RecordBuilder(5, 3, 5, false, recordSize).StandardInformation(1, 1, 1).FileName(Ref(5, 5), ".", 3).Finish());
}

void VolumeBuilder::Put(uint32_t number, const Bytes& record) { PutAtSector(MftSector(number), record); }

void VolumeBuilder::PutAtSector(uint64_t sector, const Bytes& record) {
  std::memcpy(image_.data() + sector * geometry_.sectorSize, record.data(),
              std::min<size_t>(record.size(), geometry_.recordSize));
}

void VolumeBuilder::ZeroBootSector() { std::memset(image_.data(), 0, 512); }

std::string VolumeBuilder::Write(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
  return path;
}

namespace {
void CollectPaths(const NtfsFileEntry& folder, const std::string& path,
                  std::map<std::string, const NtfsFileEntry*>& out) {
  for (const NtfsFileEntry& child : folder.children) {
    std::string childPath = path + "/" + child.name;
    std::string key = childPath;
    for (int n = 2; out.count(key); ++n) key = childPath + " #" + std::to_string(n);
    out[key] = &child;
    CollectPaths(child, childPath, out);
  }
}
}  // namespace

std::map<std::string, const NtfsFileEntry*> TreePaths(const FileTree& tree) {
  std::map<std::string, const NtfsFileEntry*> out;
  CollectPaths(tree.ntfsRoot, tree.ntfsRoot.name, out);
  CollectPaths(tree.ntfsLost, tree.ntfsLost.name, out);
  CollectPaths(tree.ntfsExtension, tree.ntfsExtension.name, out);
  return out;
}

DiskRecord WholeVolumeDisk(const std::string& imagePath) {
  struct stat st {};
  stat(imagePath.c_str(), &st);
  DiskRecord disk;
  disk.devicePath = imagePath;
  disk.sizeBytes = static_cast<uint64_t>(st.st_size);
  PartitionRecord partition;
  partition.name = "Partition1";
  partition.startSector = 0;
  partition.sectorCount = disk.sizeBytes / 512;
  partition.fsKind = 0x07;
  disk.partitions.push_back(partition);
  return disk;
}

}  // namespace quorvel::test
