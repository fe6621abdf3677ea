// Cluster mode on crafted FAT volumes: chain walks, the signature search over
// candidate clusters, and names that try to leave the target.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <set>

#include "core/recording_sink.h"
#include "save/save_engines.h"
#include "save_test_util.h"

namespace quorvel {
namespace {

constexpr uint64_t kDataOrigin = 100;  // absolute sector of cluster 0

// A crafted volume: an image file (sparse) and the partition record that
// describes it, one sector per cluster.
struct CraftedFat {
  std::string dir;
  std::string imagePath;
  PartitionRecord partition;
  SharedSource source;

  CraftedFat(uint8_t fsKind, uint32_t fatSectors) {
    dir = test::SaveTempDir("cluster");
    imagePath = dir + "/volume.img";
    int fd = open(imagePath.c_str(), O_CREAT | O_WRONLY, 0644);
    EXPECT_EQ(ftruncate(fd, 40 << 20), 0);
    close(fd);
    partition.fsKind = fsKind;
    partition.sectorsPerCluster = 1;
    partition.bytesPerSector = 512;
    partition.dataOrigin = kDataOrigin;
    partition.fat.sizeSectors = fatSectors;
    partition.fat.table.assign(static_cast<size_t>(fatSectors) * 512, 0);
    partition.tree->fatRoot.firstCluster = IsFat32Kind(fsKind) ? 2 : 0;
  }
  void Open() {
    source = FileSource::Open(imagePath);
    ASSERT_TRUE(source);
  }
  // A job over this volume with the given choices.
  SaveJob Job(ScanProgress& progress, const SaveOptions& options = {}) {
    SaveJob job;
    job.source = source;
    job.partition = &partition;
    job.progress = &progress;
    job.options = options;
    return job;
  }

  void PutCluster(uint64_t cluster, const std::string& bytes) {
    int fd = open(imagePath.c_str(), O_WRONLY);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>((kDataOrigin + cluster) * 512)),
              static_cast<ssize_t>(bytes.size()));
    close(fd);
  }
  void Link(uint32_t cluster, uint32_t next) {
    if (IsFat16Kind(partition.fsKind)) {
      partition.fat.table[cluster * 2] = next & 0xFF;
      partition.fat.table[cluster * 2 + 1] = (next >> 8) & 0xFF;
    } else {
      for (int i = 0; i < 4; ++i) partition.fat.table[cluster * 4 + i] = (next >> (8 * i)) & 0xFF;
    }
  }
};

FatFileEntry FatFile(const std::string& name, uint8_t state, uint32_t size, uint32_t firstCluster) {
  FatFileEntry entry;
  entry.name = name;
  SetEntryState(entry.flags, state);
  entry.size = size;
  entry.firstCluster = firstCluster;
  return entry;
}

std::string Fill(char c, size_t n) { return std::string(n, c); }

std::string Slurp(const std::string& path) {
  auto bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

using test::Listing;

// A fragmented file is put together in chain order, and the last cluster is
// cut at the size.
TEST(ClusterChainTest, FragmentedChainInChainOrder) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(5, Fill('a', 512));
  fat.PutCluster(9, Fill('b', 512));
  fat.PutCluster(6, Fill('c', 512));
  fat.Link(5, 9);
  fat.Link(9, 6);
  fat.Link(6, 0xFFFF);
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry entry = FatFile("f.bin", kFile, 1300, 5);
  ASSERT_TRUE(SaveByClusterChain(fat.Job(progress), entry, fat.dir + "/out/f.bin", run));
  EXPECT_EQ(Slurp(fat.dir + "/out/f.bin"), Fill('a', 512) + Fill('b', 512) + Fill('c', 276));
  EXPECT_EQ(run.summary.filesWritten, 1u);
  EXPECT_EQ(run.summary.bytesWritten, 1300u);
}

// Consecutive clusters are read together; the bytes must not change.
TEST(ClusterChainTest, ConsecutiveRunsAndSmallSizes) {
  CraftedFat fat(FsKind::kFat32, 8);
  for (uint32_t c = 10; c < 14; ++c) {
    fat.PutCluster(c, Fill(static_cast<char>('k' + c - 10), 512));
    fat.Link(c, c + 1);
  }
  fat.Link(13, 0x0FFFFFFF);
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry whole = FatFile("w", kFile, 2048, 10);
  FatFileEntry one = FatFile("one", kFile, 1, 10);
  FatFileEntry cluster = FatFile("c", kFile, 512, 10);
  SaveByClusterChain(fat.Job(progress), whole, fat.dir + "/w", run);
  SaveByClusterChain(fat.Job(progress), one, fat.dir + "/one", run);
  SaveByClusterChain(fat.Job(progress), cluster, fat.dir + "/c", run);
  EXPECT_EQ(Slurp(fat.dir + "/w"), Fill('k', 512) + Fill('l', 512) + Fill('m', 512) + Fill('n', 512));
  EXPECT_EQ(Slurp(fat.dir + "/one"), "k");
  EXPECT_EQ(Slurp(fat.dir + "/c"), Fill('k', 512));
}

// A chain that ends early (free entry) or loops must end the file, shorter
// or at its size, never hang.
TEST(ClusterChainTest, BrokenAndLoopingChainsEnd) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(5, Fill('x', 512));
  fat.PutCluster(6, Fill('y', 512));
  fat.Link(5, 6);
  fat.Link(6, 5);   // loop
  fat.Link(20, 0);  // free
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry looping = FatFile("loop", kFile, 3000, 5);
  FatFileEntry broken = FatFile("broken", kFile, 2000, 20);
  SaveByClusterChain(fat.Job(progress), looping, fat.dir + "/loop", run);
  SaveByClusterChain(fat.Job(progress), broken, fat.dir + "/broken", run);
  EXPECT_EQ(Slurp(fat.dir + "/loop").size(), 3000u);
  EXPECT_EQ(Slurp(fat.dir + "/broken").size(), 512u);
  // The short one is reported incomplete, with what is missing and why.
  ASSERT_EQ(run.summary.filesIncomplete, 1u);
  EXPECT_EQ(run.summary.incomplete[0].missing, 1488u);
  EXPECT_EQ(run.summary.incomplete[0].why, SaveNoteKind::kChainEndedEarly);
}

// A FAT16 end marker in the 0xFFF8-0xFFFE range ends the chain even when the
// FAT is large enough to hold such a cluster number.
TEST(ClusterChainTest, AnyEndMarkerEndsTheChain) {
  CraftedFat fat(FsKind::kFat16, 256);  // 65536 entries
  fat.PutCluster(5, Fill('x', 512));
  fat.Link(5, 0xFFF8);
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry entry = FatFile("e", kFile, 4000, 5);
  SaveByClusterChain(fat.Job(progress), entry, fat.dir + "/e", run);
  EXPECT_EQ(Slurp(fat.dir + "/e"), Fill('x', 512));
}

std::string Jpeg(char fill, size_t size) {
  std::string data = std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11);
  data += Fill(fill, size - data.size());
  return data;
}

// FAT32: the deleted entry lost the high word of its first cluster (5 instead
// of 0x10005); the signature search finds the JPEG there.
TEST(SignatureSearchTest, FindsFileWhoseHighWordWasCleared) {
  CraftedFat fat(FsKind::kFat32, 1024);  // FAT of 128 Ki entries: high words 0..2
  std::string jpeg = Jpeg('j', 3000);
  fat.PutCluster(0x10005, jpeg);
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry entry = FatFile("photo.jpg", kDeletedFile, 3000, 5);
  SaveBySignature(fat.Job(progress), entry, fat.dir + "/photo.jpg", run);
  EXPECT_EQ(Slurp(fat.dir + "/photo.jpg"), jpeg);
  EXPECT_FALSE(Exists(fat.dir + "/photo.jpg0.jpg"));
  EXPECT_TRUE(run.usedClusters.count(0x10005));
}

// Two candidates that both pass give two files, the second with the counter.
TEST(SignatureSearchTest, EveryMatchingCandidateGetsItsOwnFile) {
  CraftedFat fat(FsKind::kFat32, 1024);
  fat.PutCluster(5, Jpeg('p', 1500));
  fat.PutCluster(0x10005, Jpeg('q', 1500));
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry entry = FatFile("x.jpg", kDeletedFile, 1500, 0x10005);
  SaveBySignature(fat.Job(progress), entry, fat.dir + "/x.jpg", run);
  EXPECT_EQ(Slurp(fat.dir + "/x.jpg"), Jpeg('p', 1500));
  EXPECT_EQ(Slurp(fat.dir + "/x.jpg0.jpg"), Jpeg('q', 1500));
  EXPECT_EQ(run.summary.filesWritten, 2u);
}

// A live JPEG saved through the FAT owns its first cluster: a deleted JPEG
// pointing at the same cluster is not written from it.
TEST(SignatureSearchTest, LiveFileClusterIsNotReusedForDeletedOne) {
  CraftedFat fat(FsKind::kFat32, 1024);
  fat.PutCluster(5, Jpeg('L', 1000));
  fat.PutCluster(0x10005, Jpeg('D', 1000));
  fat.Link(5, 6);
  fat.Link(6, 0x0FFFFFFF);
  fat.Open();
  FatFileEntry root = FatFile("根目录", kFolder, 0, 2);
  root.children.push_back(FatFile("live.jpg", kFile, 1000, 5));
  root.children.push_back(FatFile("gone.jpg", kDeletedFile, 1000, 5));
  ScanProgress progress;
  SaveRun run;
  SaveTreeClusterMode(fat.Job(progress), root, fat.dir + "/out", run);
  EXPECT_EQ(Slurp(fat.dir + "/out/根目录/live.jpg"), Jpeg('L', 1000));
  EXPECT_EQ(Slurp(fat.dir + "/out/根目录/gone.jpg"), Jpeg('D', 1000));
  EXPECT_FALSE(Exists(fat.dir + "/out/根目录/gone.jpg0.jpg"));
}

// Nothing passes: the target stays as an empty file and the summary says so.
TEST(SignatureSearchTest, NoMatchLeavesEmptyFile) {
  CraftedFat fat(FsKind::kFat32, 1024);
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  FatFileEntry entry = FatFile("lost.doc", kDeletedFile, 5000, 7);
  SaveBySignature(fat.Job(progress), entry, fat.dir + "/lost.doc", run);
  EXPECT_TRUE(Exists(fat.dir + "/lost.doc"));
  EXPECT_EQ(Slurp(fat.dir + "/lost.doc").size(), 0u);
  EXPECT_EQ(run.summary.emptyNoSignature, 1u);
}

// Untyped deleted files (and, in a multi-select run, types outside its five)
// are copied contiguously from the first cluster.
TEST(SignatureSearchTest, UntypedAndMultiSelectFilesCopyContiguously) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(30, Fill('t', 512) + Fill('u', 512));
  fat.PutCluster(40, "%PDF-1.4" + Fill('v', 600));
  fat.Open();
  ScanProgress progress;
  SaveRun run;
  run.multiSelect = true;
  FatFileEntry text = FatFile("a.txt", kDeletedFile, 700, 30);
  FatFileEntry pdf = FatFile("b.pdf", kDeletedFile, 608, 40);
  SaveBySignature(fat.Job(progress), text, fat.dir + "/a.txt", run);
  SaveBySignature(fat.Job(progress), pdf, fat.dir + "/b.pdf", run);
  EXPECT_EQ(Slurp(fat.dir + "/a.txt"), Fill('t', 512) + Fill('u', 188));
  EXPECT_EQ(Slurp(fat.dir + "/b.pdf"), "%PDF-1.4" + Fill('v', 600));
}

TEST(SignatureTest, OfficeZipAndPlainZipAreTold) {
  std::string local = std::string("PK\x03\x04", 4) + Fill('\0', 26);
  std::string office = local + "[Content_Types].xml" + Fill('z', 100);
  std::string plain = local + "word/document.xml.." + Fill('z', 100);
  auto bytes = [](const std::string& s) { return ByteView(reinterpret_cast<const uint8_t*>(s.data()), s.size()); };
  EXPECT_TRUE(MatchesSignature("docx", bytes(office), 1000));
  EXPECT_FALSE(MatchesSignature("zip", bytes(office), 1000));
  EXPECT_TRUE(MatchesSignature("zip", bytes(plain), 1000));
  EXPECT_FALSE(MatchesSignature("docx", bytes(plain), 1000));
  // Compound document: 2 allocation sectors cover 64 KiB < size <= 128 KiB.
  std::string cfb = std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + Fill('\0', 36) + std::string("\x02\0\0\0", 4);
  EXPECT_TRUE(MatchesSignature("doc", bytes(cfb), 100000));
  EXPECT_FALSE(MatchesSignature("doc", bytes(cfb), 60000));
  std::string rar = std::string("Rar!\x1A\x07\x00", 7);
  EXPECT_TRUE(MatchesSignature("rar", bytes(rar), 10));
}

// Crafted entries named "..", "/", "../../x" and with control characters are
// written inside the target, under repaired names.
TEST(ClusterModeNamesTest, HostileNamesStayInsideTarget) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(8, Fill('h', 512));
  fat.Link(8, 0xFFFF);
  fat.Open();
  FatFileEntry root = FatFile("根目录", kFolder, 0, 0);
  FatFileEntry dots = FatFile("..", kFolder, 0, 3);
  dots.children.push_back(FatFile("../../escape.txt", kFile, 10, 8));
  dots.children.push_back(FatFile("..", kFile, 10, 8));
  root.children.push_back(dots);
  root.children.push_back(FatFile("/etc/evil", kFile, 10, 8));
  root.children.push_back(FatFile("", kFile, 10, 8));
  root.children.push_back(FatFile("bell\x07.txt", kFile, 10, 8));
  std::string target = fat.dir + "/target";
  ASSERT_TRUE(CreateFolderChain(target));
  std::set<std::string> before = Listing(fat.dir);
  ScanProgress progress;
  SaveRun run;
  SaveTreeClusterMode(fat.Job(progress), root, target, run);
  EXPECT_EQ(Listing(fat.dir), before);  // nothing appeared beside the target
  EXPECT_EQ(Slurp(target + "/根目录/$$/..$..$escape.txt"), Fill('h', 10));
  EXPECT_EQ(Slurp(target + "/根目录/$$/$$"), Fill('h', 10));
  EXPECT_EQ(Slurp(target + "/根目录/$etc$evil"), Fill('h', 10));
  EXPECT_EQ(Slurp(target + "/根目录/$"), Fill('h', 10));
  EXPECT_EQ(Slurp(target + "/根目录/bell$.txt"), Fill('h', 10));
  EXPECT_EQ(run.summary.filesWritten, 5u);
}

// The name filter and the deleted / normal switches pick what is written.
TEST(ClusterModeFilterTest, FilterAndKindSwitches) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(8, Fill('f', 512));
  fat.Link(8, 0xFFFF);
  fat.Open();
  FatFileEntry root = FatFile("根目录", kFolder, 0, 0);
  root.children.push_back(FatFile("keep.TXT", kFile, 5, 8));
  root.children.push_back(FatFile("skip.bin", kFile, 5, 8));
  root.children.push_back(FatFile("gone.txt", kDeletedFile, 5, 8));
  ScanProgress progress;
  SaveRun run;
  SaveTreeClusterMode(fat.Job(progress, SaveOptions{"", "*.txt", true, false, true}), root, fat.dir + "/o", run);
  EXPECT_TRUE(Exists(fat.dir + "/o/根目录/keep.TXT"));
  EXPECT_FALSE(Exists(fat.dir + "/o/根目录/skip.bin"));
  EXPECT_FALSE(Exists(fat.dir + "/o/根目录/gone.txt"));
}

// A stop between files ends the walk; the progress texts name the bytes.
TEST(ClusterModeProgressTest, StopEndsTheWalkAndTextsCountBytes) {
  CraftedFat fat(FsKind::kFat16, 1);
  fat.PutCluster(8, Fill('s', 512));
  fat.Link(8, 0xFFFF);
  fat.Open();
  FatFileEntry root = FatFile("根目录", kFolder, 0, 0);
  root.children.push_back(FatFile("a", kFile, 300, 8));
  RecordingSink sink;
  ScanProgress progress;
  progress.sink = &sink;
  SaveRun run;
  SaveTreeClusterMode(fat.Job(progress), root, fat.dir + "/p", run);
  EXPECT_EQ(sink.lastText(), "300 BYTE被保存");
  progress.RequestStop();
  SaveRun stopped;
  SaveTreeClusterMode(fat.Job(progress), root, fat.dir + "/q", stopped);
  EXPECT_FALSE(Exists(fat.dir + "/q"));
  EXPECT_TRUE(stopped.summary.stopped);
}

}  // namespace
}  // namespace quorvel
