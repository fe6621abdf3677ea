// Files whose data cannot all be read: a failing sector, an image cut short,
// an entry claiming more than its volume holds. They are written as far as
// their data exists and reported, never saved as zeros in silence; a write
// that fails or a stop mid-file leaves no partial file under the real name.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "save/save_engines.h"
#include "save/save_job.h"
#include "save_test_util.h"
#include "support/faulty_source.h"

namespace quorvel {
namespace {

constexpr uint64_t kOrigin = 64;  // sector of cluster 0

// A FAT16 volume in memory, one 512-byte sector per cluster; cluster c holds
// 512 bytes of the letter 'a' + c % 26.
struct MemoryFat {
  std::vector<uint8_t> image;
  PartitionRecord partition;
  SharedSource source;
  ScanProgress progress;
  std::string dir = test::SaveTempDir("incomplete");

  explicit MemoryFat(uint64_t sectors = 256) : image(sectors * 512, 0) {
    for (uint64_t c = 2; kOrigin + c < sectors; ++c)
      std::memset(image.data() + (kOrigin + c) * 512, 'a' + static_cast<int>(c % 26), 512);
    partition.fsKind = FsKind::kFat16;
    partition.sectorCount = sectors;
    partition.sectorsPerCluster = 1;
    partition.dataOrigin = kOrigin;
    partition.fat.sizeSectors = 1;
    partition.fat.table.assign(512, 0);
  }
  // The image as it stands, read through a source failing at badSectors.
  void Open(std::set<uint64_t> badSectors = {}) {
    source = std::make_shared<test::FaultySource>(std::make_shared<MemorySource>(image), std::move(badSectors));
  }
  void Chain(std::initializer_list<uint16_t> clusters) {
    uint16_t previous = 0;
    for (uint16_t c : clusters) {
      if (previous) PutLe16(previous, c);
      previous = c;
    }
    PutLe16(previous, 0xFFFF);
  }
  void PutLe16(uint16_t at, uint16_t value) {
    partition.fat.table[at * 2u] = static_cast<uint8_t>(value);
    partition.fat.table[at * 2u + 1] = static_cast<uint8_t>(value >> 8);
  }
  SaveJob Job() {
    SaveJob job;
    job.source = source;
    job.partition = &partition;
    job.progress = &progress;
    job.options.targetFolder = dir;
    return job;
  }
  std::string Bytes(const std::string& name) const {
    auto bytes = test::ReadWholeFile(dir + "/" + name);
    return std::string(bytes.begin(), bytes.end());
  }
};

FatFileEntry File(const std::string& name, uint8_t state, uint32_t size, uint32_t firstCluster) {
  FatFileEntry entry;
  entry.name = name;
  SetEntryState(entry.flags, state);
  entry.size = size;
  entry.firstCluster = firstCluster;
  return entry;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// Catches: zeros saved where a sector failed with no word of it; the block
// read that failed taking the readable clusters after the bad one with it.
TEST(IncompleteFiles, FailingSectorLeavesAZeroGapAndIsReported) {
  MemoryFat fat;
  fat.Chain({10, 11, 12, 13});  // one run: read as one block
  fat.Open({kOrigin + 11});
  SaveRun run;
  ASSERT_TRUE(SaveByClusterChain(fat.Job(), File("f", kFile, 2048, 10), fat.dir + "/f", run));
  // Later clusters keep their offsets: the sector after the bad one was read.
  EXPECT_EQ(fat.Bytes("f"), Repeat('k', 512) + Repeat('\0', 512) + Repeat('m', 512) + Repeat('n', 512));
  const SaveSummary& s = run.summary;
  EXPECT_EQ(s.filesWritten, 1u);
  ASSERT_EQ(s.filesIncomplete, 1u);
  EXPECT_EQ(s.incomplete[0].missing, 512u);
  EXPECT_EQ(s.incomplete[0].id, 10u);
  EXPECT_EQ(s.incomplete[0].why, SaveNoteKind::kSourceUnreadable);
  EXPECT_FALSE(s.AllComplete());
}

// Catches: the part of a file past the end of a cut image written as zeros
// (a file that looks whole and is not).
TEST(IncompleteFiles, FileCutAtTheSourcesEndIsWrittenAsFarAsDataExists) {
  MemoryFat fat(kOrigin + 12);                   // the image ends after cluster 11
  fat.image.resize((kOrigin + 11) * 512 + 100);  // ... 100 bytes into it
  fat.Chain({9, 10, 11, 12});
  fat.Open();
  SaveRun run;
  SaveByClusterChain(fat.Job(), File("cut", kFile, 2000, 9), fat.dir + "/cut", run);
  EXPECT_EQ(fat.Bytes("cut"), Repeat('j', 512) + Repeat('k', 512) + Repeat('l', 100));
  ASSERT_EQ(run.summary.filesIncomplete, 1u);
  EXPECT_EQ(run.summary.incomplete[0].missing, 2000u - 1124u);
  EXPECT_EQ(run.summary.incomplete[0].written, 1124u);
}

// Catches: a deleted entry claiming 4 GiB on a 128 KiB volume writing 4 GiB
// of zeros (and N such entries filling the target); the space check
// refusing a save whose data cannot exceed the volume.
TEST(IncompleteFiles, HugeClaimedSizeWritesOnlyWhatTheVolumeHolds) {
  MemoryFat fat(256);  // 128 KiB
  fat.Open();
  FatFileEntry root = File("根目录", kFolder, 0, 0);
  for (int i = 0; i < 3; ++i)
    AddFatChild(root, File("big" + std::to_string(i) + ".bin", kDeletedFile, 0xFFFFFFFF, 10), false);
  SaveRun run;
  SaveTreeClusterMode(fat.Job(), root, fat.dir, run);
  const SaveSummary& s = run.summary;
  EXPECT_EQ(s.filesWritten, 3u);
  EXPECT_EQ(s.filesIncomplete, 3u);
  EXPECT_LE(s.bytesWritten, 3u * 256 * 512);
  for (const IncompleteFile& f : s.incomplete) EXPECT_EQ(f.written + f.missing, 0xFFFFFFFFull) << f.path;

  // The free-space check counts what such entries can hold, not what they claim.
  SaveSelection selection;
  selection.options.targetFolder = fat.dir;
  selection.entries.push_back(SelectedEntry{});
  selection.entries.back().fat = &root;
  DiskRecord disk;
  disk.sizeBytes = fat.image.size();
  EXPECT_EQ(CheckSaveSelection(selection, disk, fat.partition, 1 << 20).refusal, SaveRefusal::kNone);
}

// Catches: a full target leaving a truncated file under the real name, and
// the reason not reaching the user.
TEST(IncompleteFiles, FailedWriteRemovesTheFileAndKeepsTheSystemsReason) {
  MemoryFat fat;
  fat.Chain({20, 21, 22, 23, 24, 25, 26, 27});
  fat.Open();
  SaveRun run;
  // A file-size limit makes the write fail as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit previous{};
  getrlimit(RLIMIT_FSIZE, &previous);
  rlimit small = previous;
  small.rlim_cur = 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool saved = SaveByClusterChain(fat.Job(), File("big", kFile, 4096, 20), fat.dir + "/big", run);
  setrlimit(RLIMIT_FSIZE, &previous);
  EXPECT_FALSE(saved);
  EXPECT_NE(access((fat.dir + "/big").c_str(), F_OK), 0) << "a partial file stayed under its name";
  const SaveSummary& s = run.summary;
  EXPECT_EQ(s.filesWritten, 0u);
  EXPECT_EQ(s.skippedWriteFailed, 1u);
  ASSERT_EQ(s.notes.size(), 1u);
  EXPECT_EQ(s.notes[0].error, std::strerror(EFBIG));
  EXPECT_FALSE(s.AllComplete());
}

// Stops the run when the progress reaches a position for the nth time.
class StopAtPosition : public ProgressSink {
 public:
  StopAtPosition(ScanProgress& progress, int nth) : progress_(progress), left_(nth) {}
  void Range(uint64_t, uint64_t) override {}
  void Step() override {}
  void Pos(uint64_t) override {
    if (--left_ == 0) progress_.RequestStop();
  }
  void Text(const std::string&) override {}
  void Close() override {}

 private:
  ScanProgress& progress_;
  int left_;
};

// Catches: Ctrl-C leaving a truncated file under its real name and counted as
// written (and the summary blaming the disk for it).
TEST(IncompleteFiles, StopMidFileRemovesThatFileOnly) {
  MemoryFat fat;
  fat.Chain({30});
  fat.Chain({40, 42, 44, 46});  // four runs: four progress positions
  fat.Open();
  FatFileEntry root = File("根目录", kFolder, 0, 0);
  AddFatChild(root, File("first.txt", kFile, 512, 30), false);
  AddFatChild(root, File("second.txt", kFile, 2048, 40), false);
  AddFatChild(root, File("third.txt", kFile, 512, 30), false);
  StopAtPosition stopper(fat.progress, 3);  // first.txt's position, then second.txt's first run
  fat.progress.sink = &stopper;
  SaveRun run;
  SaveTreeClusterMode(fat.Job(), root, fat.dir, run);
  EXPECT_TRUE(run.summary.stopped);
  EXPECT_EQ(test::Listing(fat.dir + "/根目录"), (std::set<std::string>{".", "..", "first.txt"}));
  EXPECT_EQ(run.summary.filesWritten, 1u);
  EXPECT_EQ(run.summary.FilesComplete(), 1u);
  EXPECT_EQ(run.summary.filesIncomplete, 0u);
}

}  // namespace
}  // namespace quorvel
