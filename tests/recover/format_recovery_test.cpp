// Format recovery end to end on volumes filled by real tools and quick-
// formatted again with the same geometry (tests/fixtures/build_format.sh):
// `quorvel ls --format-scan` must bring back the old folders and files.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "recover/format_info_scan.h"
#include "recover/partition_launch.h"
#include "support/test_support.h"
#include "volumes/disk_enumeration.h"

namespace quorvel::test {
namespace {

struct ListedEntry {
  std::string path, name;
  int state = 0;
  uint64_t id = 0;
};

// Reads a JSON string starting at the opening quote; enough for `ls --json`.
std::string JsonString(const std::string& text, size_t& pos) {
  std::string out;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    if (text[pos] == '\\' && pos + 1 < text.size()) {
      char c = text[++pos];
      if (c == 'u') {
        out += static_cast<char>(std::stoi(text.substr(pos + 1, 4), nullptr, 16));
        pos += 4;
      } else {
        out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
      }
    } else {
      out += text[pos];
    }
  }
  ++pos;
  return out;
}

uint64_t JsonNumberAfter(const std::string& text, const std::string& key, size_t from, size_t to) {
  size_t at = text.find("\"" + key + "\":", from);
  if (at == std::string::npos || at >= to) return 0;
  return std::stoull(text.substr(at + key.size() + 3));
}

std::vector<ListedEntry> ParseEntries(const std::string& json) {
  std::vector<ListedEntry> entries;
  const std::string key = "\"path\":";
  size_t at = json.find(key);
  while (at != std::string::npos) {
    size_t pos = at + key.size();
    ListedEntry e;
    e.path = JsonString(json, pos);
    size_t next = json.find(key, pos);
    size_t end = next == std::string::npos ? json.size() : next;
    size_t nameAt = json.find("\"name\":", pos);
    if (nameAt < end) {
      size_t p = nameAt + 7;
      e.name = JsonString(json, p);
    }
    e.state = static_cast<int>(JsonNumberAfter(json, "state", pos, end));
    e.id = JsonNumberAfter(json, "id", pos, end);
    entries.push_back(e);
    at = next;
  }
  return entries;
}

struct ManifestLine {
  bool folder = false;
  std::string path;
};

std::vector<ManifestLine> ReadManifest(const std::string& name) {
  std::vector<ManifestLine> lines;
  std::ifstream in(FixturePath(name));
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 3) continue;
    ManifestLine m;
    m.folder = line[0] == 'D';
    m.path = line.substr(2);
    if (!m.folder) m.path = m.path.substr(0, m.path.rfind(' '));  // drop the size
    lines.push_back(m);
  }
  return lines;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsNumber(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

// The listed entry whose path ends with "/" + tail.
const ListedEntry* FindBySuffix(const std::vector<ListedEntry>& entries, const std::string& tail) {
  for (const ListedEntry& e : entries)
    if (e.path.size() > tail.size() && e.path.compare(e.path.size() - tail.size(), tail.size(), tail) == 0 &&
        e.path[e.path.size() - tail.size() - 1] == '/')
      return &e;
  return nullptr;
}

struct FatCase {
  const char* image;
  const char* manifest;
};

void PrintTo(const FatCase& c, std::ostream* out) { *out << c.image; }

class FatFormatRecovery : public ::testing::TestWithParam<FatCase> {};

// Catches: directory sectors missed by the sweep (old folders not rebuilt),
// folders not numbered by their first cluster, subfolders duplicated as
// top-level numbers, continuation clusters dropped instead of shown under
// "零散目录", and long or Chinese names lost.
TEST_P(FatFormatRecovery, OldFoldersComeBackNumberedByFirstCluster) {
  const FatCase& c = GetParam();
  if (!HaveFixture(c.image)) GTEST_SKIP() << "fixture missing (mkfs.fat or mtools absent)";
  const std::string image = FixturePath(c.image);
  const std::string before = FileSha256(image);

  // Without the format scan the new volume is empty.
  CommandResult plain = RunQuorvel("ls " + ShellQuote(image) + " 0 --json --quiet");
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  for (const ListedEntry& e : ParseEntries(plain.out)) EXPECT_EQ(e.path.find('/'), std::string::npos) << e.path;

  CommandResult r = RunQuorvel("ls " + ShellQuote(image) + " 0 --format-scan --json --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<ListedEntry> entries = ParseEntries(r.out);
  ASSERT_FALSE(entries.empty()) << r.out;

  std::set<std::string> names;
  std::map<std::string, const ListedEntry*> byPath;
  for (const ListedEntry& e : entries) {
    names.insert(e.name);
    byPath[e.path] = &e;
    ASSERT_TRUE(e.path.rfind("根目录", 0) == 0 || e.path.rfind("零散目录", 0) == 0) << e.path;
  }

  // Every folder directly below the special folders is named by its first cluster.
  size_t numberedRoots = 0, lostClusters = 0;
  for (const ListedEntry& e : entries) {
    size_t slash = e.path.find('/');
    if (slash == std::string::npos || e.path.find('/', slash + 1) != std::string::npos) continue;
    if (e.state != 3) continue;
    EXPECT_TRUE(IsNumber(e.name)) << e.path;
    EXPECT_EQ(e.name, std::to_string(e.id)) << e.path;
    (e.path.rfind("根目录", 0) == 0 ? numberedRoots : lostClusters)++;
  }
  EXPECT_GE(numberedRoots, 4u);  // docs, 照片, the project folder, the empty folder
  EXPECT_GE(lostClusters, 1u);   // later clusters of docs/reports

  // Old top-level folders: their contents keep their names below the number.
  for (const char* tail : {"Meeting notes for the spring planning.txt", "家庭聚会/生日快乐.jpg",
                           "notes about the project.md", "reports/Quarterly report number 01.txt"}) {
    const ListedEntry* found = FindBySuffix(entries, tail);
    ASSERT_NE(found, nullptr) << tail;
    std::string top = found->path.substr(0, found->path.size() - std::string(tail).size() - 1);
    EXPECT_EQ(top.rfind("根目录/", 0), 0u) << found->path;
    EXPECT_TRUE(IsNumber(BaseName(top))) << found->path;
  }
  // A subfolder reached through its parent is not repeated as a number.
  const ListedEntry* reports = FindBySuffix(entries, "reports");
  ASSERT_NE(reports, nullptr);
  for (const ListedEntry& e : entries) EXPECT_NE(e.path, "根目录/" + std::to_string(reports->id)) << e.path;
  // Chinese long names in folders that start a cluster survive whole.
  EXPECT_TRUE(names.count("风景照片.jpg"));
  EXPECT_TRUE(names.count("年度总结报告.doc"));
  // Later clusters of the reports folder hold report files.
  bool reportInLost = false;
  for (const ListedEntry& e : entries)
    reportInLost |= e.path.rfind("零散目录/", 0) == 0 && e.name.rfind("Quarterly report number", 0) == 0;
  EXPECT_TRUE(reportInLost);

  // How much of the old volume comes back (old root entries excepted: the
  // format overwrote that folder).
  size_t below = 0, listed = 0;
  for (const ManifestLine& m : ReadManifest(c.manifest)) {
    if (m.path.find('/') == std::string::npos) continue;
    ++below;
    listed += names.count(BaseName(m.path));
  }
  std::printf("[ figure ] %s: %zu of %zu old entries below the old root listed by name\n", c.image, listed, below);
  EXPECT_GE(listed * 10, below * 8);

  EXPECT_EQ(FileSha256(image), before) << "the source image was written";
}

INSTANTIATE_TEST_SUITE_P(Images, FatFormatRecovery,
                         ::testing::Values(FatCase{"format_fat32.img", "format_fat32.manifest"},
                                           FatCase{"format_fat16.img", "format_fat16.manifest"}),
                         [](const ::testing::TestParamInfo<FatCase>& test) {
                           return std::string(test.param.image).find("32") != std::string::npos ? "Fat32" : "Fat16";
                         });

// The GUI's route. Format recovery ends with the rebuilt folders (the page
// shows them when the sweep ends); a following plain expansion shows the
// volume as it stands, however many directory sectors are recorded; an
// expansion that asks for the recorded sectors (deep-scan results, loaded
// scan files) rebuilds again. Catches: a format scan whose page stays empty,
// recorded sectors replacing a readable volume's own tree, and recorded
// sectors not reaching the expansion that asks for them.
TEST(FatFormatRecoveryLaunch, FormatScanShowsTheRebuiltTreeAndExpansionTheVolumeAsItStands) {
  if (!HaveFixture("format_fat32.img")) GTEST_SKIP() << "fixture missing";
  DiskList list;
  ASSERT_TRUE(OpenImageFile(list, FixturePath("format_fat32.img")));
  DiskRecord& disk = list.back();
  ASSERT_FALSE(disk.partitions.empty());
  PartitionRecord& partition = disk.partitions.front();

  auto run = [&](PartitionCommand command) {
    ScanProgress progress;
    PartitionLaunchRequest request;
    request.command = command;
    request.disk = &disk;
    request.partition = &partition;
    request.progress = &progress;
    std::string refusal;
    std::unique_ptr<PartitionRun> started = LaunchPartitionRun(request, refusal);
    EXPECT_TRUE(started) << refusal;
    return started ? started->Wait() : PartitionRunResult{};
  };
  auto expectRebuilt = [](const PartitionRunResult& result) {
    std::vector<std::string> top;
    bool reports = false, numbered = false;
    for (const FolderRow& row : result.view.rows) {
      if (row.depth == 1) top.push_back(row.name);
      if (row.depth == 2 && row.name != "Extra Found Files") {
        EXPECT_TRUE(IsNumber(row.name) && row.name == row.fileId) << row.name;
        numbered = true;
      }
      reports |= row.depth == 3 && row.name == "reports";
    }
    EXPECT_EQ(top, (std::vector<std::string>{"根目录", "零散目录"}));
    EXPECT_TRUE(numbered);
    EXPECT_TRUE(reports);
  };

  PartitionRunResult scan = run(PartitionCommand::kFormatInfo);
  ASSERT_TRUE(scan.completed) << scan.error;
  EXPECT_EQ(scan.mode, kExpandFat32);
  EXPECT_GT(scan.directorySectors, 0u);
  expectRebuilt(scan);

  PartitionRunResult live = run(PartitionCommand::kExpand);
  ASSERT_TRUE(live.completed) << live.error;
  EXPECT_GT(CountDirectorySectors(disk, partition.startSector, partition.sectorCount), 0u);
  for (const FolderRow& row : live.view.rows) {
    EXPECT_EQ(row.depth, 1) << row.name;  // the new, empty volume
    EXPECT_NE(row.name, "零散目录");
  }

  PartitionRunResult recorded = run(PartitionCommand::kExpandRecorded);
  ASSERT_TRUE(recorded.completed) << recorded.error;
  expectRebuilt(recorded);
}

// Catches: the NTFS side of format recovery missing the old records behind
// the new, short MFT, or losing their folder chains.
TEST(NtfsFormatRecovery, OldFilesListedWithTheirPaths) {
  if (!HaveFixture("format_ntfs.img")) GTEST_SKIP() << "fixture missing (mkntfs, ntfs-3g or FUSE absent)";
  const std::string image = FixturePath("format_ntfs.img");
  CommandResult r = RunQuorvel("ls " + ShellQuote(image) + " 0 --format-scan --json --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::set<std::string> paths;
  for (const ListedEntry& e : ParseEntries(r.out)) paths.insert(e.path);
  size_t total = 0, listed = 0;
  for (const ManifestLine& m : ReadManifest("format_ntfs.manifest")) {
    ++total;
    bool found = paths.count("根目录/" + m.path) > 0;
    listed += found;
    EXPECT_TRUE(found) << m.path;
  }
  std::printf("[ figure ] format_ntfs.img: %zu of %zu old entries listed at their old paths\n", listed, total);

  // format-scan alone prints the same tree.
  CommandResult scan = RunQuorvel("format-scan " + ShellQuote(image) + " 0 --json --quiet");
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::set<std::string> scanPaths;
  for (const ListedEntry& e : ParseEntries(scan.out)) scanPaths.insert(e.path);
  EXPECT_EQ(scanPaths, paths);
}

// Catches: format-scan reporting sectors outside the partition or a count
// that disagrees with its own list.
TEST(FormatScanCommand, ListsDirectorySectorsInsideThePartition) {
  if (!HaveFixture("format_fat32.img")) GTEST_SKIP() << "fixture missing";
  CommandResult r = RunQuorvel("format-scan " + ShellQuote(FixturePath("format_fat32.img")) + " 0 --json --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  uint64_t start = JsonNumberAfter(r.out, "start_sector", 0, r.out.size());
  uint64_t count = JsonNumberAfter(r.out, "sector_count", 0, r.out.size());
  uint64_t recorded = JsonNumberAfter(r.out, "directory_sector_count", 0, r.out.size());
  EXPECT_EQ(start, 2048u);
  size_t open = r.out.find('[', r.out.find("\"directory_sectors\""));
  size_t close = r.out.find(']', open);
  ASSERT_NE(open, std::string::npos);
  std::stringstream list(r.out.substr(open + 1, close - open - 1));
  std::string item;
  uint64_t n = 0;
  while (std::getline(list, item, ',')) {
    uint64_t sector = std::stoull(item);
    EXPECT_GE(sector, start);
    EXPECT_LE(sector, start + count);
    ++n;
  }
  EXPECT_EQ(n, recorded);
  EXPECT_GE(recorded, 10u);

  CommandResult text = RunQuorvel("format-scan " + ShellQuote(FixturePath("format_fat32.img")) + " 0 --quiet");
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("目录扇区: " + std::to_string(recorded)), std::string::npos) << text.out;
}

// Catches: a FAT or NTFS reader run on a volume it cannot read (garbage
// listed as recovered files) instead of a clear refusal.
TEST(FormatScanCommand, RefusesFileSystemsWithoutReader) {
  for (const char* image : {"exfat.img", "ext4.img"}) {
    if (!HaveFixture(image)) GTEST_SKIP() << "fixture missing: " << image;
    for (const char* command : {"format-scan ", "ls "}) {
      std::string args = std::string(command) + ShellQuote(FixturePath(image)) + " 0 --quiet";
      if (std::string(command) == "ls ") args += " --format-scan";
      CommandResult r = RunQuorvel(args);
      EXPECT_EQ(r.exitCode, 2) << args;
      EXPECT_NE(r.err.find("不受支持"), std::string::npos) << r.err;
      EXPECT_TRUE(r.out.empty()) << r.out;
    }
  }
}

// Catches: Ctrl-C killing the run without output, or ignored until the end of
// a long sweep, and a wrong exit status.
TEST(FormatScanCommand, CtrlCStopsPromptlyPrintsWhatWasFoundAndExitsWith3) {
  const std::string dir = MakeTempDir("format-stop");
  const std::string image = dir + "/big.img";
  // 64 GiB, sparse: the sweep would read zeros for many seconds.
  CommandResult made = RunCommand("truncate -s 64G " + ShellQuote(image) +
                                  " && printf 'label: dos\\nstart=2048, type=c\\n' | sfdisk -q " + ShellQuote(image) +
                                  " && mkfs.fat -F 32 -s 64 --offset=2048 " + ShellQuote(image) + " " +
                                  std::to_string((64ull << 20) - 1024));
  if (made.exitCode != 0) {
    RunCommand("rm -rf " + ShellQuote(dir));
    GTEST_SKIP() << "cannot build the sparse image: " << made.err;
  }
  for (const char* command : {"format-scan", "ls"}) {
    std::string args = std::string(command) + " " + ShellQuote(image) + " 0 --quiet";
    if (std::string(command) == "ls") args += " --format-scan";
    auto begin = std::chrono::steady_clock::now();
    // --foreground: one SIGINT to quorvel alone, as a terminal's Ctrl-C gives.
    // Without it timeout signals the child and then its whole process group,
    // and that second SIGINT is the "end at once" Ctrl-C.
    CommandResult r =
        RunCommand("timeout --foreground --preserve-status -s INT 1 " + ShellQuote(QUORVEL_CLI) + " " + args);
    auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_EQ(r.exitCode, 3) << command << ": " << r.err;
    EXPECT_LT(elapsed, std::chrono::seconds(8)) << command;
    if (std::string(command) == "format-scan") {
      EXPECT_NE(r.out.find("目录扇区: "), std::string::npos) << r.out;
    } else {
      EXPECT_NE(r.out.find("根目录"), std::string::npos) << r.out;
    }
  }
  RunCommand("rm -rf " + ShellQuote(dir));
}

}  // namespace
}  // namespace quorvel::test
