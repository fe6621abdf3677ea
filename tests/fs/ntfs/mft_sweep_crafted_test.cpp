// The record sweep on crafted volumes: parent chains that loop, parents that
// are gone, files or reused slots, records that are not listed, progress and
// stopping.
#include <gtest/gtest.h>

#include "core/recording_sink.h"
#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/mft_scan.h"
#include "fs/ntfs/ntfs_craft.h"
#include "io/byte_source.h"
#include "support/faulty_source.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Bytes;
using test::RecordBuilder;
using test::Ref;

Bytes Folder(uint32_t number, uint64_t parent, const std::string& name, uint16_t sequence = 1, uint16_t flags = 3) {
  return RecordBuilder(number, flags, sequence).StandardInformation(1, 2, 3).FileName(parent, name).Finish();
}
Bytes File(uint32_t number, uint64_t parent, const std::string& name, size_t size = 10, uint16_t flags = 1,
           uint16_t sequence = 1) {
  return RecordBuilder(number, flags, sequence)
      .StandardInformation(1, 2, 3)
      .FileName(parent, name)
      .ResidentData(Bytes(size, 'd'))
      .Finish();
}

class CraftedSweep : public ::testing::Test {
 protected:
  // Scans the volume; paths_ holds what was listed.
  bool Scan(const test::VolumeBuilder& volume, ProgressSink* sink = nullptr) {
    path_ = volume.Write(test::MakeTempDir("mft_sweep") + "/volume.img");
    disk_ = test::WholeVolumeDisk(path_);
    ScanProgress progress;
    progress.sink = sink ? sink : &sink_;
    bool ok = ScanMftRecords(progress, disk_.partitions.front(), disk_);
    paths_ = test::TreePaths(*disk_.partitions.front().tree);
    return ok;
  }
  size_t CountNumber(uint64_t number) const {
    size_t n = 0;
    for (const auto& [path, entry] : paths_)
      if (entry->recordNumber == number && entry->name.rfind("$$$Folder", 0) != 0) ++n;
    return n;
  }
  bool Has(const std::string& path) const { return paths_.count(path) > 0; }

  std::string path_;
  DiskRecord disk_;
  RecordingSink sink_;
  std::map<std::string, const NtfsFileEntry*> paths_;
};

// Faults caught: a parent walk that never ends on A<->B, on longer loops or on
// a record naming itself; entries lost or listed twice when a loop is cut.
TEST_F(CraftedSweep, ParentLoopsEndUnderPlaceholders) {
  test::VolumeBuilder volume;
  volume.Put(64, Folder(64, Ref(65, 1), "A"));
  volume.Put(65, Folder(65, Ref(64, 1), "B"));
  volume.Put(66, File(66, Ref(64, 1), "in_a.txt"));
  volume.Put(67, Folder(67, Ref(67, 1), "self"));
  volume.Put(68, File(68, Ref(67, 1), "in_self.txt"));
  volume.Put(69, Folder(69, Ref(70, 1), "F"));
  volume.Put(70, Folder(70, Ref(71, 1), "G"));
  volume.Put(71, Folder(71, Ref(69, 1), "H"));
  volume.Put(72, File(72, Ref(70, 1), "in_g.txt"));
  ASSERT_TRUE(Scan(volume));

  for (uint64_t n = 64; n <= 72; ++n) EXPECT_EQ(CountNumber(n), 1u) << "record " << n;
  EXPECT_TRUE(Has("零散目录/$$$Folder64/B/A/in_a.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder67/self/in_self.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder69/H/G/F"));
  EXPECT_TRUE(Has("零散目录/$$$Folder69/H/G/in_g.txt"));
  for (const auto& [path, entry] : paths_) EXPECT_EQ(path.rfind("根目录/", 0), std::string::npos) << path;
}

// Faults caught: an entry placed under a file, under a slot that now holds an
// unrelated folder, or dropped when its parent record is gone; a deleted
// child not found in its deleted folder (whose sequence number moved on).
TEST_F(CraftedSweep, UnusableParentsGiveNumberedPlaceholders) {
  test::VolumeBuilder volume;
  volume.Put(80, File(80, Ref(5, 5), "plain.txt"));
  volume.Put(81, File(81, Ref(80, 1), "under_file.txt"));
  volume.Put(82, File(82, Ref(90, 1), "parent_gone.txt", 10, 0));
  volume.Put(83, File(83, Ref(84, 3), "old_child.txt", 10, 0));
  volume.Put(84, Folder(84, Ref(5, 5), "new_folder", 5));
  volume.Put(85, File(85, Ref(86, 1), "deleted_child.txt", 10, 0, 2));
  volume.Put(86, Folder(86, Ref(5, 5), "deleted_folder", 2, 2));
  ASSERT_TRUE(Scan(volume));

  EXPECT_TRUE(Has("根目录/plain.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder80/under_file.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder90/parent_gone.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder84/old_child.txt"));
  EXPECT_TRUE(Has("根目录/new_folder"));
  EXPECT_FALSE(Has("根目录/new_folder/old_child.txt"));
  EXPECT_TRUE(Has("根目录/deleted_folder/deleted_child.txt"));
  EXPECT_EQ(paths_.at("零散目录/$$$Folder90")->state(), kDeletedFolder);
  EXPECT_EQ(paths_.at("零散目录/$$$Folder90/parent_gone.txt")->state(), kDeletedFile);
  const FileTree& tree = *disk_.partitions.front().tree;
  EXPECT_EQ(tree.PlaceholderByNumber.count(90), 1u);
  ASSERT_NE(tree.EntryByNumber.Find(84), nullptr);
  EXPECT_EQ(tree.EntryByNumber.Find(84)->name, "new_folder");
}

// Faults caught: ancestors read for a child listed a second time when the
// sweep reaches them; metafiles, nameless records and odd flag words listed.
TEST_F(CraftedSweep, AncestorsOnceMetafilesAndOddFlagsNotListed) {
  test::VolumeBuilder volume;
  volume.Put(64, File(64, Ref(100, 1), "early.txt"));  // swept before its ancestors
  volume.Put(100, Folder(100, Ref(101, 1), "inner"));
  volume.Put(101, Folder(101, Ref(5, 5), "outer"));
  volume.Put(3, File(3, Ref(5, 5), "$Volume"));
  volume.Put(102, File(102, Ref(5, 5), "view_index", 10, 5));
  volume.Put(103, File(103, Ref(5, 5), "flags4", 10, 4));
  volume.Put(104, RecordBuilder(104, 1).StandardInformation(1, 2, 3).Finish());  // no name
  Bytes lying = RecordBuilder(105, 1).FileName(Ref(5, 5), "lying.bin").Finish();
  lying[0x38 + 4] = 0xFF;  // its only attribute claims to run far past the record
  lying[0x38 + 5] = 0xFF;
  volume.Put(105, lying);
  ASSERT_TRUE(Scan(volume));

  EXPECT_TRUE(Has("根目录/outer/inner/early.txt"));
  EXPECT_EQ(CountNumber(100), 1u);
  EXPECT_EQ(CountNumber(101), 1u);
  EXPECT_EQ(disk_.partitions.front().tree->skipSet.count(100), 1u);
  for (const auto& [path, entry] : paths_) {
    EXPECT_NE(entry->recordNumber, 3u) << path;
    EXPECT_NE(entry->recordNumber, 102u) << path;
    EXPECT_NE(entry->recordNumber, 103u) << path;
    EXPECT_NE(entry->recordNumber, 104u) << path;
    EXPECT_NE(entry->recordNumber, 105u) << path;
  }
  // Every slot is examined and reported, listed or not; the display moves
  // in batches, not once per record.
  EXPECT_EQ(sink_.upper(), 256u);
  EXPECT_EQ(sink_.position(), 256u);
  EXPECT_EQ(sink_.lastText(), "256 项被找到");
  EXPECT_LT(sink_.texts().size(), 10u);
}

// Requests a stop as the record sweep sets its range (the first range with
// more than one unit).
class StopAtSweepStart : public RecordingSink {
 public:
  explicit StopAtSweepStart(ScanProgress*& progress) : progress_(progress) {}
  void Range(uint64_t upper, uint64_t step) override {
    RecordingSink::Range(upper, step);
    if (upper > 1 && progress_) progress_->RequestStop();
  }

 private:
  ScanProgress*& progress_;
};

// Fault caught: a stop request ignored until the sweep ends.
TEST_F(CraftedSweep, StopEndsTheSweepWithinOneRecord) {
  test::VolumeBuilder volume;
  for (uint32_t n = 64; n < 200; ++n) volume.Put(n, File(n, Ref(5, 5), "f" + std::to_string(n)));
  path_ = volume.Write(test::MakeTempDir("mft_sweep_stop") + "/volume.img");
  disk_ = test::WholeVolumeDisk(path_);
  ScanProgress progress;
  ScanProgress* target = &progress;
  StopAtSweepStart sink(target);
  progress.sink = &sink;
  EXPECT_FALSE(ScanMftRecords(progress, disk_.partitions.front(), disk_));
  EXPECT_TRUE(disk_.partitions.front().tree->ntfsRoot.children.empty());
}

// Faults caught: a volume without its primary boot sector not read at all;
// a fragment list ignored; records of the fragment path not mapped to their
// sectors; waiting entries never moved to their parents.
TEST_F(CraftedSweep, BackupBootSectorAndFragmentPath) {
  test::VolumeBuilder volume;
  volume.Put(64, File(64, Ref(65, 1), "child.txt"));  // before its parent
  volume.Put(65, Folder(65, Ref(5, 5), "parent"));
  volume.Put(66, File(66, Ref(99, 1), "orphan.txt"));
  volume.ZeroBootSector();
  ASSERT_TRUE(Scan(volume));
  EXPECT_TRUE(Has("根目录/parent/child.txt"));
  EXPECT_EQ(disk_.partitions.front().ntfs.mftStartSector, 32u);  // geometry from the backup

  disk_.mftFragments.push_back({32, 512});
  ScanProgress progress;
  RecordingSink sink;
  progress.sink = &sink;
  PartitionRecord& partition = disk_.partitions.front();
  ASSERT_TRUE(ScanMftRecords(progress, partition, disk_));
  paths_ = test::TreePaths(*partition.tree);
  EXPECT_TRUE(Has("根目录/parent/child.txt"));
  EXPECT_TRUE(Has("零散目录/$$$Folder99/orphan.txt"));
  EXPECT_EQ(partition.tree->ntfsExtension.name, "扩展目录");
  EXPECT_EQ(partition.ntfs.recordSectors.at(64), 32u + 128);
  EXPECT_EQ(sink.upper(), 512u);
  EXPECT_EQ(sink.position(), 512u);
}

// Faults caught: file records taken as 1024 bytes (two 512-byte sectors)
// when the boot sector names 4096, as on 4Kn volumes and on volumes
// formatted with 4 KiB records: every record after the first misplaced, and
// attributes past the first kilobyte of a record lost. Both the sweep (in
// 10 MiB blocks) and the by-number reader take the size from the boot sector.
class BigRecords : public ::testing::TestWithParam<test::NtfsGeometry> {};

TEST_P(BigRecords, SweepAndRecordReaderUseTheBootSectorsRecordSize) {
  const test::NtfsGeometry geometry = GetParam();
  test::VolumeBuilder volume(64, 8192 * 512 / geometry.sectorSize, geometry);
  auto record = [&](uint32_t number, uint16_t flags) {
    return RecordBuilder(number, flags, 1, false, geometry.recordSize);
  };
  Bytes text(3000);
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<uint8_t>('a' + i % 26);
  volume.Put(40, record(40, 3).StandardInformation(1, 2, 3).FileName(Ref(5, 5), "docs").Finish());
  volume.Put(41,
             record(41, 1).StandardInformation(1, 2, 3).FileName(Ref(40, 1), "big.txt").ResidentData(text).Finish());
  volume.Put(63, record(63, 1).FileName(Ref(5, 5), "last.bin").ResidentData(Bytes(10, 't')).Finish());

  const MemorySource disk(volume.bytes(), geometry.sectorSize);
  DiskRecord diskRecord;
  PartitionRecord partition;
  partition.fsKind = FsKind::kNtfs;
  partition.sectorCount = volume.bytes().size() / geometry.sectorSize;
  ScanProgress progress;
  ASSERT_TRUE(ScanMftRecords(disk, progress, partition, diskRecord));
  EXPECT_EQ(partition.ntfs.recordSize, geometry.recordSize);
  EXPECT_EQ(partition.bytesPerSector, geometry.sectorSize);
  auto paths = test::TreePaths(*partition.tree);
  ASSERT_TRUE(paths.count("根目录/docs/big.txt"));
  EXPECT_EQ(paths.at("根目录/docs/big.txt")->size, text.size());
  EXPECT_TRUE(paths.count("根目录/last.bin"));

  RecordDetails details;
  ASSERT_TRUE(ReadMftRecord(disk, 41, details, partition, partition.ntfs.mftRuns));
  EXPECT_EQ(details.residentData, text);
  EXPECT_EQ(MftRecordSector(partition, partition.ntfs.mftRuns, 41), volume.MftSector(41));
}

INSTANTIATE_TEST_SUITE_P(FourKibRecords, BigRecords,
                         ::testing::Values(test::NtfsGeometry{4096, 4096}, test::NtfsGeometry{512, 4096}),
                         [](const auto& test) { return "sector" + std::to_string(test.param.sectorSize); });

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Catches: one failing sector in the MFT taking the rest of the 10 MiB block
// with it (records after it unlisted), the records that were lost not
// counted, and an entry whose parent record could not be read shown as if the
// parent were gone.
TEST(FailingMftSectors, RecordsAfterABadSectorAreStillListedAndTheLostOnesCounted) {
  test::VolumeBuilder volume(64, 8192);
  volume.Put(20, Folder(20, Ref(5, 5), "docs"));
  volume.Put(21, File(21, Ref(20, 1), "lost.txt"));
  volume.Put(22, File(22, Ref(20, 1), "after.txt"));
  volume.Put(30, File(30, Ref(40, 1), "orphan.txt"));
  volume.Put(40, Folder(40, Ref(5, 5), "unreadable parent"));
  auto image = std::make_shared<MemorySource>(volume.bytes());
  const test::FaultySource disk(image, {volume.MftSector(21), volume.MftSector(40) + 1});
  DiskRecord diskRecord;
  PartitionRecord partition;
  partition.fsKind = FsKind::kNtfs;
  partition.sectorCount = volume.bytes().size() / 512;
  ScanProgress progress;
  ASSERT_TRUE(ScanMftRecords(disk, progress, partition, diskRecord));
  auto paths = test::TreePaths(*partition.tree);
  EXPECT_TRUE(paths.count("根目录/docs/after.txt"));
  EXPECT_FALSE(paths.count("根目录/docs/lost.txt"));
  EXPECT_EQ(partition.ntfs.unreadableRecords, 2u);
  // The orphan's parent record could not be read: its placeholder says so.
  ASSERT_TRUE(paths.count("零散目录/$$$Folder40/orphan.txt"));
  EXPECT_TRUE(paths.at("零散目录/$$$Folder40")->unreadable);
  EXPECT_FALSE(paths.at("根目录/docs")->unreadable);
}

}  // namespace
}  // namespace quorvel
