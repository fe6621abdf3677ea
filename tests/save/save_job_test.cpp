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

NtfsFileEntry NtfsEntry(const std::string& name, uint8_t state, uint64_t number, uint64_t size) {
  NtfsFileEntry entry;
  entry.name = name;
  SetEntryState(entry.flags, state);
  entry.recordNumber = number;
  entry.size = size;
  return entry;
}

TEST(SaveTextsTest, RunningTotalSwitchesUnits) {
  EXPECT_EQ(SavedTotalText(1023), "1023 BYTE被保存");
  EXPECT_EQ(SavedTotalText(1024), "1.00 KB被保存");
  EXPECT_EQ(SavedTotalText(3u << 20), "3.00 MB被保存");
  EXPECT_EQ(SavedTotalText(5ull << 30), "5.00 GB被保存");
  EXPECT_EQ(SavedBytesText(5000000000ull), "5000000000 BYTE被保存");  // no 32-bit wrap
}

// The refusals the faces word: nothing selected, no target, and the two
// space rules (a multi-select total must fit; one row must stay below the
// free space).
TEST(CheckSaveSelectionTest, RefusalsAndSpaceRules) {
  PartitionRecord partition;
  partition.fsKind = FsKind::kNtfs;
  NtfsFileEntry file = NtfsEntry("f", kFile, 30, 4096);
  DiskRecord disk;
  SaveSelection selection;
  EXPECT_EQ(CheckSaveSelection(selection, disk, partition, 1 << 20).refusal, SaveRefusal::kNoSelection);
  SelectedEntry entry;
  entry.ntfs = &file;
  selection.entries.push_back(entry);
  EXPECT_EQ(CheckSaveSelection(selection, disk, partition, 1 << 20).refusal, SaveRefusal::kNoTarget);
  selection.options.targetFolder = "/out";
  EXPECT_EQ(CheckSaveSelection(selection, disk, partition, 1 << 20).refusal, SaveRefusal::kNone);
  selection.multiSelect = true;
  SaveCheck exact = CheckSaveSelection(selection, disk, partition, 4096);
  EXPECT_EQ(exact.refusal, SaveRefusal::kNone);
  EXPECT_EQ(exact.bytesToSave, 4096u);
  selection.multiSelect = false;
  EXPECT_EQ(CheckSaveSelection(selection, disk, partition, 4096).refusal, SaveRefusal::kSpaceShort);
  // Files the options leave out take no room.
  selection.options.recoverNormal = false;
  EXPECT_EQ(CheckSaveSelection(selection, disk, partition, 4096).bytesToSave, 0u);
}

// The entries of a selection as the faces pick them (here by check marks):
// a whole folder stands for its subtree, a partly picked one is descended
// into, and the folders above each element are kept for its target path.
TEST(SelectEntriesTest, PickedRowsAndTheirFolders) {
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

  std::vector<SelectedEntry> selected = SelectEntries(partition, [](FileEntryRef entry) {
    const uint8_t check = GetCheckState(std::get<NtfsFileEntry*>(entry)->flags);
    return check == kChecked ? Pick::kWhole : check == kPartlyChecked ? Pick::kPart : Pick::kNone;
  });
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
  EXPECT_EQ(job.options.targetFolder, "/out/根目录/part");
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
  SaveJob job;
  job.source = FileSource::Open(image);
  ASSERT_TRUE(job.source);
  job.partition = &partition;
  job.engineMode = kRecordMode;
  job.ntfsRoot = &folder;
  job.recordDecoding = false;
  job.options.targetFolder = dir + "/t";
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
  ScanProgress progress;
  SaveRun run;
  PartitionRecord partition;
  SaveJob job;
  job.source = FileSource::Open(image);
  ASSERT_TRUE(job.source);
  job.partition = &partition;
  job.progress = &progress;
  job.options.targetFolder = dir + "/t";
  job.extentRoot = &root;
  job.extentMap = &map;
  job.extentStartSector = 100;
  job.extentSectorCount = 150;
  ASSERT_TRUE(SaveExtentTree(job, run));
  std::string saved = Slurp(dir + "/t/Extra Found Files/b.pdf");
  EXPECT_EQ(saved, std::string(1000, 'e'));
  EXPECT_EQ(access((dir + "/t/Extra Found Files/a.jpg").c_str(), F_OK), -1);
  EXPECT_EQ(access((dir + "/t/Extra Found Files/c.zip").c_str(), F_OK), -1);
}

// One carved file selected alone is saved from its own start sector, without
// its neighbours.
TEST(SaveExtentTreeTest, SingleTickedCarvedFile) {
  std::string dir = test::SaveTempDir("extent-one");
  std::string image = MakeImage(dir, {{150, "first file"}, {160, "second file"}});
  DiskRecord disk;
  disk.devicePath = image;
  disk.extraFoundFiles.name = "Extra Found Files";
  disk.carvedFiles[150] = CarvedFile{0, 10, "150.jpg", "jpg"};
  disk.carvedFiles[160] = CarvedFile{0, 11, "160.jpg", "jpg"};
  PartitionRecord partition;
  partition.fsKind = FsKind::kFat32;
  partition.startSector = 100;
  partition.sectorCount = 100;
  const std::vector<SelectedEntry> selected{CarvedFileEntry(150)};
  SaveOptions options;
  options.targetFolder = dir + "/t";
  EXPECT_EQ(SelectedBytes(selected[0], options, &disk, partition), 10u);
  SaveJob job;
  ScanProgress progress;
  ASSERT_TRUE(PrepareSaveJob(disk, partition, selected[0], options, OpenSaveSource(disk, partition), &progress, job));
  SaveRun run;
  SaveThreadMain(job, run);
  EXPECT_EQ(Slurp(dir + "/t/Extra Found Files/150.jpg"), "first file");
  EXPECT_EQ(access((dir + "/t/Extra Found Files/160.jpg").c_str(), F_OK), -1);
  EXPECT_EQ(run.summary.filesWritten, 1u);
}

}  // namespace
}  // namespace quorvel
