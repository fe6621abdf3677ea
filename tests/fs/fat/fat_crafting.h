#pragma once
// Hand-made FAT volumes for the cases real tools cannot make: a sparse image
// file with a geometry set directly in the PartitionRecord, clusters written
// entry by entry, and the in-memory FAT filled by the test.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/scan_progress.h"
#include "fs/fat/fat_rebuild.h"
#include "io/byte_source.h"
#include "model/disk_records.h"
#include "platform/text.h"
#include "support/fat_entry_bytes.h"
#include "support/test_support.h"

namespace quorvel::test {

// name11: the 11 short-name bytes (8 + 3, space padded).
inline Entry ShortEntry(const std::string& name11, uint8_t attribute, uint32_t cluster, uint32_t size = 0,
                        uint16_t date = kDate, uint16_t time = kTime) {
  Entry e{};
  std::memcpy(e.data(), name11.data(), std::min<size_t>(11, name11.size()));
  e[11] = attribute;
  PutLe16(&e[14], time);
  PutLe16(&e[16], date);
  PutLe16(&e[20], cluster >> 16);
  PutLe16(&e[22], time);
  PutLe16(&e[24], date);
  PutLe16(&e[26], cluster & 0xFFFF);
  PutLe32(&e[28], size);
  return e;
}

inline Entry Deleted(Entry e) {
  e[0] = 0xE5;
  return e;
}

// Long-name entries of a UTF-8 name for short entry s, in on-disk order.
inline std::vector<Entry> LongEntries(const std::string& name, const Entry& s) {
  std::u16string units = Utf8ToUtf16(name);
  if (units.size() % 13) units.push_back(0);
  while (units.size() % 13) units.push_back(0xFFFF);
  return LongEntriesOfUnits(units, ShortChecksum(s.data()));
}

// Directory data built entry by entry.
struct DirData {
  std::vector<uint8_t> bytes;
  DirData& Add(const Entry& e) {
    bytes.insert(bytes.end(), e.begin(), e.end());
    return *this;
  }
  DirData& AddNamed(const std::string& longName, const Entry& s, bool deleted = false) {
    for (Entry e : LongEntries(longName, s)) Add(deleted ? Deleted(e) : e);
    return Add(deleted ? Deleted(s) : s);
  }
  // "." and ".." of a subfolder at `self` whose parent is at `parent`.
  DirData& AddDots(uint32_t self, uint32_t parent) {
    Add(ShortEntry(".          ", 0x10, self));
    return Add(ShortEntry("..         ", 0x10, parent));
  }
};

// A sparse image: cluster c lives at sector kOrigin + c x spc.
class CraftedFat {
 public:
  static constexpr uint64_t kOrigin = 64;

  explicit CraftedFat(bool fat32, uint32_t fatSectors = 8, uint64_t sectors = 1 << 20, uint32_t spc = 1)
      : fat32_(fat32), spc_(spc) {
    dir_ = MakeTempDir("fatcraft");
    disk.devicePath = dir_ + "/volume.img";
    fd_ = ::open(disk.devicePath.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
    EXPECT_EQ(::ftruncate(fd_, static_cast<off_t>(sectors * 512)), 0);
    PartitionRecord p;
    p.name = "Partition0";
    p.fsKind = fat32 ? FsKind::kFat32Lba : FsKind::kFat16;
    p.sectorCount = sectors;
    p.sectorsPerCluster = spc;
    p.dataOrigin = kOrigin;
    p.fat.sizeSectors = fatSectors;
    p.fat.table.assign(static_cast<size_t>(fatSectors) * 512, 0);
    disk.partitions.push_back(std::move(p));
    device = FileSource::Open(disk.devicePath);
  }
  ~CraftedFat() {
    ::close(fd_);
    ::unlink(disk.devicePath.c_str());
    ::rmdir(dir_.c_str());
  }

  PartitionRecord& partition() { return disk.partitions.front(); }
  FileTree& tree() { return *partition().tree; }

  void WriteBytes(uint64_t offset, const std::vector<uint8_t>& data) {
    ASSERT_EQ(::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(data.size()));
  }
  // Writes one cluster (padded with zeros; longer data spills into the
  // following clusters).
  void WriteCluster(uint32_t cluster, std::vector<uint8_t> data) {
    const size_t bytes = spc_ * 512;
    data.resize(std::max<size_t>(bytes, (data.size() + bytes - 1) / bytes * bytes), 0);
    WriteBytes(SectorOf(cluster) * 512, data);
  }
  uint64_t SectorOf(uint32_t cluster) const { return kOrigin + static_cast<uint64_t>(cluster) * spc_; }
  void WriteCluster(uint32_t cluster, const DirData& d) { WriteCluster(cluster, d.bytes); }
  void SetFat(uint32_t cluster, uint32_t next) {
    auto& fat = partition().fat.table;
    if (fat32_)
      PutLe32(&fat[cluster * 4], next);
    else
      PutLe16(&fat[cluster * 2], next);
  }
  void EndChain(uint32_t cluster) { SetFat(cluster, fat32_ ? 0x0FFFFFFF : 0xFFFF); }

  // Marks the root like the volume reader does and parses `root` into it.
  bool ParseRoot(const DirData& root, uint32_t rootCluster) {
    MarkFatSpecialFolders(partition(), rootCluster, false);
    std::vector<uint8_t> data = root.bytes;
    data.resize(std::max<size_t>(data.size(), 512 * spc_), 0);
    return fat32_ ? ParseFat32Directory(*device, data, tree().fatRoot, partition(), visited, progress, counter)
                  : ParseFat16Directory(*device, data, tree().fatRoot, partition(), visited, progress, counter);
  }

  DiskRecord disk;
  std::unique_ptr<ByteSource> device;  // the image, read-only
  VisitedClusterSet visited;
  ScanProgress progress;
  uint32_t counter = 0;

 private:
  bool fat32_;
  uint32_t spc_;
  std::string dir_;
  int fd_ = -1;
};

// The child of `folder` with this name, or null.
inline const FatFileEntry* Child(const FatFileEntry& folder, const std::string& name) {
  for (const FatFileEntry& c : folder.children)
    if (c.name == name) return &c;
  return nullptr;
}

inline size_t CountEntries(const FatFileEntry& folder) {
  size_t n = 0;
  for (const FatFileEntry& c : folder.children) n += 1 + CountEntries(c);
  return n;
}

}  // namespace quorvel::test
