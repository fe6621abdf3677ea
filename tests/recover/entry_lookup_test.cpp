// The entry behind a file-list row: a deleted file and the live file that
// reuses its cluster share the number, so the name and the creation-time
// text must tell them apart, and the right index must be asked first.
#include <gtest/gtest.h>

#include "fs/fat/fat_directory_parser.h"
#include "recover/entry_lookup.h"

namespace quorvel {
namespace {

DiskList MakeList() {
  DiskList list;
  DiskRecord disk;
  disk.vendor = "disk.img";
  PartitionRecord fat;
  fat.name = "Partition1";
  fat.driveLetter = "/mnt/usb";
  fat.fsKind = FsKind::kFat32Lba;
  PartitionRecord ntfs;
  ntfs.name = "Partition2";
  ntfs.fsKind = FsKind::kNtfs;
  disk.partitions.push_back(std::move(fat));
  disk.partitions.push_back(std::move(ntfs));
  list.push_back(std::move(disk));
  DiskRecord other;
  other.vendor = "other.img";
  list.push_back(std::move(other));

  PartitionRecord& f = list.front().partitions.front();
  FileTree& t = *f.tree;
  FatFileEntry live;
  live.name = "a.txt";
  live.firstCluster = 7;
  live.creationDate = (44 << 9) | (1 << 5) | 1;
  SetEntryState(live.flags, kFile);
  FatFileEntry gone = live;
  gone.creationDate = (43 << 9) | (1 << 5) | 1;
  SetEntryState(gone.flags, kDeletedFile);
  FatFileEntry sameName = gone;
  sameName.creationDate = (42 << 9) | (1 << 5) | 1;
  PlaceFatEntry(t, t.fatRoot, live);
  PlaceFatEntry(t, t.fatRoot, gone);
  PlaceFatEntry(t, t.fatRoot, sameName);

  PartitionRecord& n = list.front().partitions.back();
  FileTree& nt = *n.tree;
  NtfsFileEntry record;
  record.recordNumber = 40;
  record.name = "report.doc";
  record.creationTime = 133000000000000000ull;
  NtfsFileEntry* placed = AddNtfsChild(nt.ntfsRoot, record, false);
  nt.EntryByNumber.emplace(40, placed);
  NtfsFileEntry placeholder = record;
  placeholder.name = "folder";
  NtfsFileEntry* ph = AddNtfsChild(nt.ntfsRoot, placeholder, true);
  nt.PlaceholderByNumber.emplace(40, ph);
  return list;
}

TEST(EntryLookup, FatRowsByNameAndCreationTime) {
  DiskList list = MakeList();
  EntryRowKey key{"disk.img", "Partition1", 7, "a.txt", "2024-01-01 00:00:00"};
  auto found = FindEntryForRow(list, key);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(std::get<FatFileEntry*>(*found)->state(), kFile);
  key.creationText = "2023-01-01 00:00:00";
  found = FindEntryForRow(list, key);
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(std::get<FatFileEntry*>(*found)->state(), kDeletedFile);
  EXPECT_EQ(std::get<FatFileEntry*>(*found)->creationDate, (43 << 9) | (1 << 5) | 1);
  // The drive text names the partition too.
  key.partitionName = "/mnt/usb";
  EXPECT_TRUE(FindEntryForRow(list, key).has_value());
  key.creationText = "2020-01-01 00:00:00";
  EXPECT_FALSE(FindEntryForRow(list, key).has_value());
  key.creationText = "2023-01-01 00:00:00";
  key.number = 8;
  EXPECT_FALSE(FindEntryForRow(list, key).has_value());
  key.number = 0x100000007ull;  // not a 32-bit cluster number
  EXPECT_FALSE(FindEntryForRow(list, key).has_value());
}

TEST(EntryLookup, NtfsRowsByRecordThenPlaceholder) {
  DiskList list = MakeList();
  const std::string created = FormatFileTime(133000000000000000ull);
  auto found = FindEntryForRow(list, EntryRowKey{"disk.img", "Partition2", 40, "report.doc", created});
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(std::get<NtfsFileEntry*>(*found)->name, "report.doc");
  found = FindEntryForRow(list, EntryRowKey{"disk.img", "Partition2", 40, "folder", created});
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(std::get<NtfsFileEntry*>(*found)->name, "folder");
}

TEST(EntryLookup, UnknownDiskOrPartitionFindsNothing) {
  DiskList list = MakeList();
  EXPECT_FALSE(FindEntryForRow(list, EntryRowKey{"nope", "Partition1", 7, "a.txt", "2024-01-01 00:00:00"}));
  EXPECT_FALSE(FindEntryForRow(list, EntryRowKey{"disk.img", "Partition9", 7, "a.txt", "2024-01-01 00:00:00"}));
  EXPECT_FALSE(FindEntryForRow(list, EntryRowKey{"other.img", "Partition1", 7, "a.txt", "2024-01-01 00:00:00"}));
}

}  // namespace
}  // namespace quorvel
