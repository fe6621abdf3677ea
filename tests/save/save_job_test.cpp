// Save preparation and the other engines on crafted data: the check-mark
// collection, engine and record-decoding choice, space texts, progress texts,
// start-sector copies, carved extents, and the thread entries.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include "core/operation_busy.h"
#include "core/recording_sink.h"
#include "save/save_engines.h"
#include "save/save_job.h"
#include "save_test_util.h"

namespace quorvel {
namespace {

std::string Slurp(const std::string& path) {
  auto bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A sparse image with text written at given sectors.
std::string MakeImage(const std::string& dir, const std::vector<std::pair<uint64_t, std::string>>& pieces) {
  std::string path = dir + "/disk.img";
  int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  EXPECT_EQ(ftruncate(fd, 8 << 20), 0);
  for (const auto& [sector, bytes] : pieces)
    EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(sector * 512)),
              static_cast<ssize_t>(bytes.size()));
  close(fd);
  return path;
}

TEST(SaveTextsTest, RunningTotalSwitchesUnits) {
  EXPECT_EQ(SavedTotalText(1023), "1023 BYTE被保存");
  EXPECT_EQ(SavedTotalText(1024), "1.00 KB被保存");
  EXPECT_EQ(SavedTotalText(3u << 20), "3.00 MB被保存");
  EXPECT_EQ(SavedTotalText(5ull << 30), "5.00 GB被保存");
  EXPECT_EQ(SavedBytesText(5000000000ull), "5000000000 BYTE被保存");  // no 32-bit wrap
}

TEST(SaveTextsTest, SingleSaveSpaceMessage) {
  EXPECT_EQ(SingleSaveSpaceText(50ull << 20), "即将保存 50.0 MB,磁盘空间不够！");
  EXPECT_EQ(SingleSaveSpaceText(80ull << 10), "即将保存 80.0 KB,磁盘空间不够！");
  EXPECT_EQ(SingleSaveSpaceText(5ull << 30), "即将保存 5.0 GB,磁盘空间不够！");
  EXPECT_TRUE(MultiSelectSpaceShort(5ull << 30, 4ull << 30));
  EXPECT_FALSE(MultiSelectSpaceShort(4ull << 30, 4ull << 30));
  EXPECT_TRUE(SingleSelectSpaceShort(4ull << 30, 4ull << 30));
}

NtfsFileEntry NtfsEntry(const std::string& name, uint8_t state, uint64_t number, uint64_t size) {
  NtfsFileEntry entry;
  entry.name = name;
  SetEntryState(entry.flags, state);
  entry.recordNumber = number;
  entry.size = size;
  return entry;
}

// A ticked folder stands for its subtree; a partly ticked one is descended
// into; the folders above each element are kept for its target path.
TEST(CollectCheckedTest, TickedRowsAndTheirFolders) {
  PartitionRecord partition;
  partition.fsKind = FsKind::kNtfs;
  FileTree& tree = *partition.tree;
  tree.ntfsRoot = NtfsEntry("根目录", kFolder, 5, 0);
  SetCheckState(tree.ntfsRoot.flags, kPartlyChecked);
  NtfsFileEntry whole = NtfsEntry("whole", kFolder, 40, 0);
  SetCheckState(whole.flags, kChecked);
  whole.children.push_back(NtfsEntry("inside", kFile, 41, 10));
  NtfsFileEntry part = NtfsEntry("part", kFolder, 42, 0);
  SetCheckState(part.flags, kPartlyChecked);
  NtfsFileEntry picked = NtfsEntry("picked.txt", kFile, 43, 7);
  SetCheckState(picked.flags, kChecked);
  part.children.push_back(picked);
  part.children.push_back(NtfsEntry("left.txt", kFile, 44, 9));
  tree.ntfsRoot.children.push_back(whole);
  tree.ntfsRoot.children.push_back(part);
  tree.ntfsRoot.children.push_back(NtfsEntry("unticked", kFile, 45, 3));
  tree.ntfsExtension = NtfsEntry("扩展目录", kFolder, 1, 0);
  SetCheckState(tree.ntfsExtension.flags, kChecked);

  std::vector<SelectedEntry> selected = CollectCheckedEntries(partition, nullptr);
  ASSERT_EQ(selected.size(), 3u);
  EXPECT_EQ(selected[0].ntfs->name, "whole");
  EXPECT_EQ(selected[0].folderChain, std::vector<std::string>{"根目录"});
  EXPECT_EQ(selected[1].ntfs->name, "picked.txt");
  EXPECT_EQ(selected[1].folderChain, (std::vector<std::string>{"根目录", "part"}));
  EXPECT_EQ(selected[2].fileId, 1u);

  SaveOptions options;
  options.targetFolder = "/out";
  EXPECT_EQ(SelectedBytes(selected[0], options, nullptr, partition), 10u);
  DiskRecord disk;
  SaveJob job;
  ASSERT_TRUE(PrepareSaveJob(disk, partition, selected[1], options, nullptr, nullptr, job));
  EXPECT_EQ(job.engineMode, kRecordMode);
  EXPECT_EQ(job.targetFolder, "/out/根目录/part");
  EXPECT_TRUE(job.recordDecoding);
  // The extension folder's entries carry start sectors: no record decoding.
  ASSERT_TRUE(PrepareSaveJob(disk, partition, selected[2], options, nullptr, nullptr, job));
  EXPECT_FALSE(job.recordDecoding);
}

// Start-sector copies (record mode without decoding), with a hostile name.
TEST(SaveContiguousTest, CopiesFromStartSectorUnderSafeName) {
  std::string dir = test::SaveTempDir("contig");
  std::string data(3000, 'c');
  data[0] = 'S';
  std::string image = MakeImage(dir, {{200, data}});
  PartitionRecord partition;
  partition.fsKind = FsKind::kNtfs;
  NtfsFileEntry folder = NtfsEntry("扩展目录", kFolder, 1, 0);
  folder.children.push_back(NtfsEntry("..", kFile, 200, 3000));
  auto device = std::make_shared<SectorDevice>();
  ASSERT_TRUE(device->Open(image));
  SaveJob job;
  job.device = device;
  job.partition = &partition;
  job.engineMode = kRecordMode;
  job.ntfsRoot = &folder;
  job.recordDecoding = false;
  job.targetFolder = dir + "/t";
  RecordingSink sink;
  ScanProgress progress;
  progress.sink = &sink;
  job.progress = &progress;
  SaveRun run;
  SaveThreadMain(job, run);
  EXPECT_EQ(Slurp(dir + "/t/扩展目录/$$"), data);
  EXPECT_EQ(sink.lastText(), "2.93 KB被保存");
  EXPECT_TRUE(sink.closed());
  EXPECT_FALSE(OperationBusy().load());
}

// Carved files: one before the partition is skipped, one past its end ends
// the folder; a file is written at its own size, not to its sector's end.
TEST(SaveExtentTreeTest, RangeAndExactSize) {
  std::string dir = test::SaveTempDir("extent");
  std::string image = MakeImage(dir, {{50, "before"}, {120, std::string(1000, 'e')}, {300, "after"}});
  CarvedFile root;
  root.name = "Extra Found Files";
  CarvedFileMap map;
  map[50] = CarvedFile{0, 6, "a.jpg", "jpg"};
  map[120] = CarvedFile{0, 1000, "b.pdf", "pdf"};
  map[300] = CarvedFile{0, 5, "c.zip", "zip"};
  SectorDevice device;
  ASSERT_TRUE(device.Open(image));
  ScanProgress progress;
  SaveRun run;
  PartitionRecord partition;
  ASSERT_TRUE(SaveExtentTree(&device, dir + "/t", "", root, map, 100, 150, &partition, progress, run));
  std::string saved = Slurp(dir + "/t/Extra Found Files/b.pdf");
  EXPECT_EQ(saved, std::string(1000, 'e'));
  EXPECT_EQ(access((dir + "/t/Extra Found Files/a.jpg").c_str(), F_OK), -1);
  EXPECT_EQ(access((dir + "/t/Extra Found Files/c.zip").c_str(), F_OK), -1);
}

// A partly ticked "Extra Found Files" folder saves the ticked carved files
// alone, each from its own start sector.
TEST(SaveExtentTreeTest, SingleTickedCarvedFile) {
  std::string dir = test::SaveTempDir("extent-one");
  std::string image = MakeImage(dir, {{150, "first file"}, {160, "second file"}});
  DiskRecord disk;
  disk.devicePath = image;
  disk.extraFoundFiles.name = "Extra Found Files";
  disk.extraFoundFiles.state = kPartlyChecked;
  disk.carvedFiles[150] = CarvedFile{kChecked, 10, "150.jpg", "jpg"};
  disk.carvedFiles[160] = CarvedFile{kUnchecked, 11, "160.jpg", "jpg"};
  PartitionRecord partition;
  partition.fsKind = FsKind::kFat32;
  partition.startSector = 100;
  partition.sectorCount = 100;
  std::vector<SelectedEntry> selected = CollectCheckedEntries(partition, &disk);
  ASSERT_EQ(selected.size(), 1u);
  EXPECT_TRUE(selected[0].carvedFile);
  SaveOptions options;
  options.targetFolder = dir + "/t";
  EXPECT_EQ(SelectedBytes(selected[0], options, &disk, partition), 10u);
  SaveJob job;
  ScanProgress progress;
  ASSERT_TRUE(PrepareSaveJob(disk, partition, selected[0], options, OpenSaveDevice(disk, partition), &progress, job));
  SaveRun run;
  SaveThreadMain(job, run);
  EXPECT_EQ(Slurp(dir + "/t/Extra Found Files/150.jpg"), "first file");
  EXPECT_EQ(access((dir + "/t/Extra Found Files/160.jpg").c_str(), F_OK), -1);
  EXPECT_EQ(run.summary.filesWritten, 1u);
}

}  // namespace
}  // namespace quorvel
