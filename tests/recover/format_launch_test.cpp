// The worker launch both faces use: OperationBusy must be held for the whole
// run and released on every path, or the application locks up (never
// released) or runs two workers on one tree (released early).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/operation_busy.h"
#include "core/recording_sink.h"
#include "recover/format_info_scan.h"
#include "recover/partition_launch.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

// A FAT32 partition record over a sparse image: a boot sector, then zeros
// (the sweep records nothing; the volume lists empty).
struct SparseFatDisk {
  SparseFatDisk(uint64_t sectors = 4096) {
    dir = MakeTempDir("launch");
    std::string path = dir + "/disk.img";
    int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
    EXPECT_EQ(::ftruncate(fd, static_cast<off_t>(sectors * 512)), 0);
    uint8_t boot[512] = {0xEB, 0x58, 0x90};
    boot[11] = 0x00, boot[12] = 0x02;  // 512 bytes per sector
    boot[13] = 1;                      // one sector per cluster
    boot[14] = 32;                     // reserved sectors
    boot[16] = 2;                      // FATs
    boot[36] = 32;                     // sectors per FAT
    boot[44] = 2;                      // root cluster
    boot[50] = 6;                      // backup boot sector
    std::memcpy(&boot[0x52], "FAT32   ", 8);
    boot[510] = 0x55, boot[511] = 0xAA;
    EXPECT_EQ(::pwrite(fd, boot, sizeof boot, 0), static_cast<ssize_t>(sizeof boot));
    ::close(fd);
    disk.devicePath = path;
    PartitionRecord p;
    p.name = "Partition1";
    p.fsKind = FsKind::kFat32Lba;
    p.startSector = 0;
    p.sectorCount = sectors;
    disk.partitions.push_back(p);
  }
  ~SparseFatDisk() {
    ::unlink(disk.devicePath.c_str());
    ::rmdir(dir.c_str());
  }
  PartitionRecord& partition() { return disk.partitions.front(); }
  std::string dir;
  DiskRecord disk;
};

// Holds the worker inside its first progress report until released.
class GateSink : public RecordingSink {
 public:
  void Pos(uint64_t position) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    RecordingSink::Pos(position);
  }
  void WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return entered_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false, open_ = false;
};

PartitionLaunchRequest FormatRequest(DiskRecord& disk, PartitionRecord& partition, ScanProgress& progress) {
  PartitionLaunchRequest request;
  request.command = PartitionCommand::kFormatInfo;
  request.disk = &disk;
  request.partition = &partition;
  request.progress = &progress;
  return request;
}

class FormatLaunch : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(OperationBusy().load()) << "a previous test leaked the busy flag"; }
  void TearDown() override { OperationBusy().store(false); }
};

// Catches: a second worker started on the same records while one runs, and
// the flag being released before the worker's end.
TEST_F(FormatLaunch, SecondLaunchWhileBusyIsRefused) {
  SparseFatDisk fat;
  ScanProgress progress;
  GateSink gate;
  progress.sink = &gate;
  std::string refusal;
  auto run = LaunchPartitionRun(FormatRequest(fat.disk, fat.partition(), progress), refusal);
  ASSERT_TRUE(run) << refusal;
  gate.WaitEntered();
  EXPECT_TRUE(OperationBusy().load());

  ScanProgress other;
  for (PartitionCommand command : {PartitionCommand::kFormatInfo, PartitionCommand::kExpand}) {
    PartitionLaunchRequest second = FormatRequest(fat.disk, fat.partition(), other);
    second.command = command;
    EXPECT_EQ(LaunchPartitionRun(second, refusal), nullptr);
    EXPECT_EQ(refusal, kBusyRefusalText);
  }
  EXPECT_TRUE(OperationBusy().load()) << "a refused launch must not release the running worker's flag";
  EXPECT_FALSE(run->Finished());

  gate.Open();
  const PartitionRunResult& result = run->Wait();
  EXPECT_TRUE(result.completed) << result.error;
  EXPECT_FALSE(OperationBusy().load());
  EXPECT_TRUE(gate.closed());
}

// Catches: the flag left set after a failed, stopped or crashed run, and a
// stale stop request from the previous run ending the next one at once.
TEST_F(FormatLaunch, BusyFlagClearedOnEveryPath) {
  {  // device cannot be opened
    SparseFatDisk fat;
    fat.disk.devicePath = "/nonexistent/quorvel.img";
    ScanProgress progress;
    std::string refusal;
    auto run = LaunchPartitionRun(FormatRequest(fat.disk, fat.partition(), progress), refusal);
    ASSERT_TRUE(run);
    const PartitionRunResult& result = run->Wait();
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(result.error.empty());
    EXPECT_FALSE(OperationBusy().load());
  }
  {  // stopped by the user during the run
    SparseFatDisk fat(3 * 20480);
    ScanProgress progress;
    GateSink gate;
    progress.sink = &gate;
    std::string refusal;
    auto run = LaunchPartitionRun(FormatRequest(fat.disk, fat.partition(), progress), refusal);
    ASSERT_TRUE(run);
    gate.WaitEntered();
    progress.RequestStop();
    gate.Open();
    const PartitionRunResult& result = run->Wait();
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(result.completed);
    EXPECT_FALSE(OperationBusy().load());
  }
  {  // the face's completion handler throws
    SparseFatDisk fat;
    ScanProgress progress;
    progress.RequestStop();  // left over from an earlier run: cleared at launch
    bool busyInside = false;
    PartitionLaunchRequest request = FormatRequest(fat.disk, fat.partition(), progress);
    request.onFinished = [&](const PartitionRunResult& r) {
      busyInside = OperationBusy().load();
      EXPECT_TRUE(r.completed);
      throw std::runtime_error("face failed");
    };
    std::string refusal;
    auto run = LaunchPartitionRun(request, refusal);
    ASSERT_TRUE(run);
    const PartitionRunResult& result = run->Wait();
    EXPECT_TRUE(busyInside) << "the tree is handed over while the worker still owns it";
    EXPECT_FALSE(result.error.empty());
    EXPECT_FALSE(OperationBusy().load());
  }
}

// Catches: running a FAT or NTFS reader on a volume it cannot read (a wrong
// result instead of a clear refusal), and a refusal leaving the flag set.
TEST_F(FormatLaunch, PartitionsWithoutReaderAreRefused) {
  struct Case {
    uint8_t kind;
    std::string sub, expect;
  };
  for (const Case& c : {Case{FsKind::kExfat, "", "exFAT"}, Case{FsKind::kLinuxExt, "EXT4", "EXT4"},
                        Case{FsKind::kHfsFamily, "", "HFS"}, Case{0x42, "", "0x42"}}) {
    SparseFatDisk fat;
    fat.partition().fsKind = c.kind;
    fat.partition().linuxSubKind = c.sub;
    if (c.kind == FsKind::kHfsFamily) fat.partition().subKindText = "HFS+";
    for (PartitionCommand command : {PartitionCommand::kExpand, PartitionCommand::kFormatInfo}) {
      ScanProgress progress;
      PartitionLaunchRequest request = FormatRequest(fat.disk, fat.partition(), progress);
      request.command = command;
      std::string refusal;
      EXPECT_EQ(LaunchPartitionRun(request, refusal), nullptr);
      EXPECT_NE(refusal.find(c.expect), std::string::npos) << refusal;
      EXPECT_NE(refusal.find("不受支持"), std::string::npos) << refusal;
      EXPECT_FALSE(OperationBusy().load());
    }
    std::string error;
    ScanProgress progress;
    EXPECT_FALSE(ScanFormatInfo(fat.disk, fat.partition(), progress, error));
    EXPECT_EQ(error, NoReaderMessage(fat.partition()));
  }
}

// Catches: file rows in the folder tree, unmarked special folders shown, the
// NTFS extension folder shown, deleted folders not marked, and the carved
// folder's range test off by one at either end.
TEST(FormatFolderTree, RowsFollowTheFillRules) {
  DiskRecord disk;
  PartitionRecord partition;
  partition.startSector = 1000;
  partition.sectorCount = 500;
  FileTree& tree = *partition.tree;
  tree.fatRoot.name = "根目录";
  SetEntryState(tree.fatRoot.flags, kFolder);
  tree.fatRoot.firstCluster = 2;
  FatFileEntry folder;
  folder.name = "docs";
  folder.firstCluster = 70000;
  SetEntryState(folder.flags, kFolder);
  FatFileEntry* docs = AddFatChild(tree.fatRoot, folder, true);
  FatFileEntry gone;
  gone.name = "old";
  gone.firstCluster = 9;
  gone.creationDate = (44 << 9) | (1 << 5) | 2;
  SetEntryState(gone.flags, kDeletedFolder);
  AddFatChild(*docs, gone, true);
  FatFileEntry file;
  file.name = "a.txt";
  SetEntryState(file.flags, kFile);
  AddFatChild(*docs, file, false);
  AddFatChild(tree.fatRoot, file, false);
  tree.fatLost.name = "零散目录";  // named but never marked by a reader

  FolderTreeView view = BuildFolderTreeView(disk, partition, kExpandFat32);
  ASSERT_EQ(view.rows.size(), 3u);
  EXPECT_EQ(view.rows[0].name, "根目录");
  EXPECT_EQ(view.rows[0].depth, 1);
  EXPECT_EQ(view.rows[1].name, "docs");
  EXPECT_EQ(view.rows[1].fileId, "70000");
  EXPECT_EQ(view.rows[2].depth, 3);
  EXPECT_TRUE(view.rows[2].red);
  EXPECT_EQ(view.rows[2].image, kDeletedFolderRowImage);
  EXPECT_EQ(view.rows[2].createTime, "2024-01-02 00:00:00");
  EXPECT_FALSE(view.showExtraFoundFiles);

  disk.carvedFiles[partition.startSector + partition.sectorCount] = CarvedFile{};
  disk.carvedFiles[partition.startSector - 1] = CarvedFile{};
  EXPECT_FALSE(BuildFolderTreeView(disk, partition, kExpandFat32).showExtraFoundFiles);
  disk.carvedFiles[partition.startSector] = CarvedFile{};
  disk.extraFoundFiles.name = "Extra Found Files";
  view = BuildFolderTreeView(disk, partition, kExpandFat32);
  EXPECT_TRUE(view.showExtraFoundFiles);
  EXPECT_EQ(view.rows.back().name, "Extra Found Files");
  EXPECT_EQ(view.rows.back().createTime, "Extra Found Files");
  EXPECT_EQ(view.rows.back().depth, 1);

  // NTFS form: root and lost folder rows, never the extension folder.
  for (NtfsFileEntry* special : {&tree.ntfsRoot, &tree.ntfsLost, &tree.ntfsExtension})
    SetEntryState(special->flags, kFolder);
  tree.ntfsExtension.name = "扩展目录";
  disk.carvedFiles.clear();
  view = BuildFolderTreeView(disk, partition, kExpandNtfs);
  ASSERT_EQ(view.rows.size(), 2u);
  for (const FolderRow& row : view.rows) EXPECT_NE(row.name, "扩展目录");
}

}  // namespace
}  // namespace quorvel::test
