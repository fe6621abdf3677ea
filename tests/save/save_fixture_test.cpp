// `quorvel save` on images made by real tools, checked against The Sleuth
// Kit's icat and the fixtures' own manifests of known contents. Every test
// also proves the source image was not changed.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/mount.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "save_test_util.h"

namespace quorvel {
namespace {

using test::CommandResult;
using test::FixturePath;
using test::HaveFixture;
using test::Listing;
using test::RunCommand;
using test::RunQuorvel;
using test::ShellQuote;

struct FlsEntry {
  bool folder = false;
  bool deleted = false;
  std::string inode;
  std::string path;
};

// Every file and folder TSK lists, without its virtual entries, metafiles,
// named streams and reallocated names.
std::vector<FlsEntry> Fls(const std::string& image, uint64_t offset) {
  CommandResult r = RunCommand("fls -r -p -o " + std::to_string(offset) + " " + ShellQuote(image));
  std::vector<FlsEntry> entries;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.find(":\t");
    if (tab == std::string::npos) continue;
    std::istringstream head(line.substr(0, tab));
    FlsEntry e;
    std::string type, word;
    head >> type >> word;
    if (word == "*") {
      e.deleted = true;
      head >> word;
    }
    e.inode = word;
    e.path = line.substr(tab + 2);
    if (type != "r/r" && type != "d/d") continue;
    if (e.inode.find("realloc") != std::string::npos) continue;
    if (e.path.empty() || e.path[0] == '$' || e.path.find(':') != std::string::npos) continue;
    if (e.path.find("(Volume Label Entry)") != std::string::npos) continue;
    e.folder = type == "d/d";
    entries.push_back(e);
  }
  return entries;
}

std::string IcatSha(const std::string& image, uint64_t offset, const std::string& inode) {
  // Grouped: RunCommand's redirections then apply to the whole pipeline.
  CommandResult r =
      RunCommand("(icat -o " + std::to_string(offset) + " " + ShellQuote(image) + " " + inode + " | sha256sum)");
  return r.out.substr(0, 64);
}

// Relative path -> SHA-256 of every file below dir ("cd -P": the fixture
// folder may be a link, and its ".." is the physical one).
std::map<std::string, std::string> HashTree(const std::string& dir) {
  CommandResult r = RunCommand("(cd -P " + ShellQuote(dir) + " && find . -type f -print0 | xargs -0 -r sha256sum)");
  std::map<std::string, std::string> out;
  std::istringstream lines(r.out);
  std::string line;
  while (std::getline(lines, line))
    if (line.size() > 66) out[line.substr(66)] = line.substr(0, 64);
  return out;
}

std::set<std::string> Hashes(const std::map<std::string, std::string>& tree) {
  std::set<std::string> out;
  for (const auto& [path, sha] : tree) out.insert(sha);
  return out;
}

// The content build_format.sh and build_fat.sh gave a file: its path and a fixed sentence,
// repeated and cut at the size.
std::string FormatFixtureContent(const std::string& path, size_t size) {
  std::string line = path + ": the quick brown fox jumps over the lazy dog 0123456789\n";
  std::string out;
  while (out.size() < size) out += line;
  return out.substr(0, size);
}

std::string Sha256Of(const std::string& bytes) {
  static const std::string dir = test::SaveTempDir("sha");
  std::string file = dir + "/bytes";
  std::ofstream(file, std::ios::binary) << bytes;
  return test::FileSha256(file);
}

// Manifest lines split at tabs.
std::vector<std::vector<std::string>> Manifest(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(FixturePath(name));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    std::string field;
    while (std::getline(parts, field, '\t')) fields.push_back(field);
    rows.push_back(fields);
  }
  return rows;
}

// The partition of a disk image that starts at a sector, as quorvel names it.
std::string PartitionAt(const std::string& image, uint64_t startSector) {
  CommandResult r = RunQuorvel("disks " + ShellQuote(image) + " --json");
  std::string key = "\"start_sector\":" + std::to_string(startSector);
  size_t at = r.out.find(key);
  if (at == std::string::npos) return "";
  size_t name = r.out.rfind("\"name\":\"", at);
  if (name == std::string::npos) return "";
  name += 8;
  return r.out.substr(name, r.out.find('"', name) - name);
}

CommandResult Save(const std::string& image, const std::string& partition, const std::string& target,
                   const std::string& more = "") {
  return RunQuorvel("save " + ShellQuote(image) + " " + ShellQuote(partition) + " --to " + ShellQuote(target) +
                    " --quiet " + more);
}

// Saves a whole partition and checks it against TSK: every live file at its
// path with icat's bytes, every deleted file's icat bytes somewhere in the
// output. Where TSK and the FAT reader name a live file differently (TSK shows
// GBK short names as "^"), its bytes must still be among the saved files.
// skipDeleted: deleted files whose clusters were reused (TSK then reads other
// clusters than the first-cluster copy does). Returns the files compared.
size_t CheckWholePartitionAgainstTsk(const std::string& image, const std::string& partition, uint64_t offset,
                                     const std::set<std::string>& skipDeleted = {}) {
  std::string before = test::FileSha256(image);
  std::string out = test::SaveTempDir("tsk");
  CommandResult r = Save(image, partition, out);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  auto saved = HashTree(out + "/根目录");
  auto all = Hashes(saved);
  size_t compared = 0;
  for (const FlsEntry& e : Fls(image, offset)) {
    if (e.folder) continue;
    std::string want = IcatSha(image, offset, e.inode);
    if (!e.deleted) {
      auto it = saved.find("./" + e.path);
      if (it != saved.end()) {
        EXPECT_EQ(it->second, want) << "live file differs from icat: " << e.path;
      } else {
        EXPECT_TRUE(all.count(want)) << "live file not saved: " << e.path;
        std::printf("note: %s saved under another name than TSK shows\n", e.path.c_str());
      }
    } else if (!skipDeleted.count(e.path)) {
      EXPECT_TRUE(all.count(want)) << "deleted file not saved byte-identical: " << e.path;
    }
    ++compared;
  }
  EXPECT_EQ(test::FileSha256(image), before) << "the source image changed";
  return compared;
}

#define NEED_FIXTURE(name) \
  if (!HaveFixture(name)) GTEST_SKIP() << name << " not built (its tool is missing)"

// Live and deleted NTFS files, including resident, fragmented, compressed
// (LZNT1), sparse and attribute-list files and Chinese / emoji names, save
// byte-identical to the manifest written when the image was made.
TEST(SaveNtfsFixtureTest, WholeTreeMatchesManifestAndIcat) {
  NEED_FIXTURE("ntfs.img");
  std::string image = FixturePath("ntfs.img");
  std::string before = test::FileSha256(image);
  std::string out = test::SaveTempDir("ntfs");
  CommandResult r = Save(image, "0", out);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto saved = HashTree(out + "/根目录");
  std::set<std::string> kinds;
  size_t files = 0;
  for (const auto& row : Manifest("ntfs.manifest")) {
    if (row.size() < 4 || row[2] == "-") continue;
    auto it = saved.find("./" + row[1]);
    ASSERT_NE(it, saved.end()) << row[0] << " file not saved: " << row[1];
    EXPECT_EQ(it->second, row[3]) << row[0] << " file differs: " << row[1];
    kinds.insert(row[1]);
    ++files;
  }
  // The manifest covers the hard cases; make sure they were among them.
  for (const char* path : {"docs/readme.txt", "comp/text.txt", "comp/mixed.bin", "sparse.bin", "frag/many.bin",
                           "frag/holes.bin", "中文文件夹/报告.txt", "emoji_😀.txt", "gone.bin", "trash/inner/inner.txt"})
    EXPECT_TRUE(kinds.count(path)) << path;
  EXPECT_GT(files, 400u);
  // And TSK agrees on every live file (tsk_recover reads files as icat does,
  // in one run instead of one process per file).
  std::string tsk = test::SaveTempDir("tsk-ntfs");
  ASSERT_EQ(RunCommand("tsk_recover -a " + ShellQuote(image) + " " + ShellQuote(tsk)).exitCode, 0);
  auto oracle = HashTree(tsk);
  EXPECT_GT(oracle.size(), 400u);
  for (const auto& [path, sha] : oracle) {
    auto it = saved.find(path);
    ASSERT_NE(it, saved.end()) << path;
    EXPECT_EQ(it->second, sha) << path;
  }
  EXPECT_EQ(test::FileSha256(image), before);
}

// FAT32 and FAT16 partitions of the demo disk: live files through the FAT,
// deleted ones (contiguous, intact) from their first cluster.
TEST(SaveFatFixtureTest, DemoDiskFatPartitionsMatchIcat) {
  NEED_FIXTURE("demo.img");
  std::string image = FixturePath("demo.img");
  for (uint64_t start : {135168ull, 235520ull}) {
    std::string partition = PartitionAt(image, start);
    ASSERT_FALSE(partition.empty()) << start;
    EXPECT_GE(CheckWholePartitionAgainstTsk(image, partition, start), 8u) << partition;
  }
}

// The FAT reader's fixtures (whole volumes): against TSK, and against the
// contents the fixture script wrote (live files at their paths, deleted ones
// anywhere: their names lost a letter).
TEST(SaveFatFixtureTest, FatFixturesMatchIcatAndKnownContents) {
  for (const char* name : {"fat32", "fat16"}) {
    std::string image = FixturePath(std::string(name) + ".img");
    if (!HaveFixture(std::string(name) + ".img")) GTEST_SKIP() << name << " not built";
    // FRAG_B.BIN was deleted and its clusters given to "fragmented file.bin".
    EXPECT_GT(CheckWholePartitionAgainstTsk(image, "0", 0, {"_RAG_B.BIN"}), 90u) << name;
    std::string out = test::SaveTempDir("known");
    ASSERT_EQ(Save(image, "0", out).exitCode, 0);
    auto saved = HashTree(out + "/根目录");
    auto all = Hashes(saved);
    std::ifstream manifest(FixturePath(std::string(name) + ".manifest"));
    std::string line;
    size_t checked = 0;
    while (std::getline(manifest, line)) {
      if (line.size() < 3 || (line[0] != 'F' && line[0] != 'f')) continue;
      size_t space = line.rfind(' ');
      std::string path = line.substr(2, space - 2);
      if (path == "FRAG_B.BIN") continue;
      // Contents are seeded by the path, except the many/ files (by their
      // own name) and the GBK short name (by "gbk").
      std::string seed = path;
      if (path.rfind("many/", 0) == 0) seed = path.substr(5);
      if (path.size() > 4 && path.substr(path.size() - 4) == ".DAT") seed = "gbk";
      std::string want = Sha256Of(FormatFixtureContent(seed, std::stoul(line.substr(space + 1))));
      EXPECT_TRUE(all.count(want)) << name << ": " << line;
      ++checked;
    }
    EXPECT_GT(checked, 20u);
  }
}

// A deleted FAT32 JPEG whose entry lost the high word of its first cluster
// is found by trying every high word with the low word it kept.
TEST(SaveFatFixtureTest, SignatureSearchFindsClearedHighWord) {
  NEED_FIXTURE("save_highword_fat32.img");
  std::string image = FixturePath("save_highword_fat32.img");
  std::string before = test::FileSha256(image);
  std::string want = Manifest("save_highword_fat32.manifest").at(0).at(1);
  std::string out = test::SaveTempDir("high");
  CommandResult r = Save(image, "0", out, "--deleted");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto saved = HashTree(out);
  std::vector<std::string> jpegs;
  for (const auto& [path, sha] : saved)
    if (path.size() > 4 && path.substr(path.size() - 4) == ".jpg") jpegs.push_back(path);
  ASSERT_EQ(jpegs.size(), 1u);
  EXPECT_EQ(saved[jpegs[0]], want);
  EXPECT_EQ(test::FileSha256(image), before);
}

// Names crafted into the directory entries (FAT long names) and the MFT
// records (NTFS): "..", "a/b.txt", "../../evil", forbidden characters, control
// characters, ".", and Chinese and emoji names. Everything lands inside the
// target under the expected names, in cluster mode and in record mode.
TEST(SaveNamesFixtureTest, HostileAndUnicodeNamesStayInsideTarget) {
  for (const char* name : {"save_names_fat16", "save_names_ntfs"}) {
    NEED_FIXTURE(std::string(name) + ".img");
    std::string image = FixturePath(std::string(name) + ".img");
    std::string before = test::FileSha256(image);
    std::string base = test::SaveTempDir("names");
    std::string out = base + "/target";
    std::set<std::string> around = Listing(base);
    CommandResult r = Save(image, "0", out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto saved = HashTree(out + "/根目录");
    for (const auto& row : Manifest(std::string(name) + ".manifest")) {
      auto it = saved.find("./" + row.at(0));
      ASSERT_NE(it, saved.end()) << name << ": expected " << row[0];
      EXPECT_EQ(it->second, row.at(1)) << row[0];
    }
    around.insert("target");
    EXPECT_EQ(Listing(base), around) << "something was written beside the target";
    EXPECT_NE(access((base + "/../evil").c_str(), F_OK), 0);
    EXPECT_NE(access((base + "/../evil.txt").c_str(), F_OK), 0);
    EXPECT_NE(access((base + "/../../evil.txt").c_str(), F_OK), 0);
    EXPECT_EQ(test::FileSha256(image), before);
  }
}

// --format-scan saves what a quick format left behind: every old NTFS file,
// and every old FAT32 file whose type is copied rather than searched (the
// fixture's .jpg/.doc/.xls files hold text, which no signature test passes;
// files of the old FAT root folder are gone with it: the format rewrote it).
TEST(SaveCliTest, FormatScanSavesTheOldFiles) {
  for (const char* name : {"format_ntfs", "format_fat32"}) {
    std::string image = FixturePath(std::string(name) + ".img");
    if (!HaveFixture(std::string(name) + ".img")) GTEST_SKIP() << name << " not built";
    std::string before = test::FileSha256(image);
    std::string out = test::SaveTempDir("format");
    CommandResult r = Save(image, "0", out, "--format-scan");
    // The FAT32 volume's typed files that no signature test passes are left
    // empty: not every file was saved whole, and the exit status says so.
    ASSERT_EQ(r.exitCode, std::string(name) == "format_fat32" ? 4 : 0) << r.err;
    auto saved = Hashes(HashTree(out));
    size_t checked = 0;
    std::ifstream manifest(FixturePath(std::string(name) + ".manifest"));
    std::string line;
    while (std::getline(manifest, line)) {
      if (line.rfind("F ", 0) != 0) continue;
      size_t space = line.rfind(' ');
      std::string path = line.substr(2, space - 2);
      size_t size = std::stoul(line.substr(space + 1));
      std::string ext = path.substr(path.rfind('.') + 1);
      bool typed = ext == "jpg" || ext == "doc" || ext == "xls" || ext == "ppt" || ext == "jpeg";
      if (std::string(name) == "format_fat32" && (typed || path.find('/') == std::string::npos)) continue;
      EXPECT_TRUE(saved.count(Sha256Of(FormatFixtureContent(path, size)))) << name << ": " << path;
      ++checked;
    }
    EXPECT_GT(checked, 25u) << name;
    EXPECT_EQ(test::FileSha256(image), before);
  }
}

// Saving the same file again never overwrites: x, x0.ext, x1.ext.
TEST(SaveCliTest, RepeatedSavesGetCounterNames) {
  NEED_FIXTURE("ntfs.img");
  std::string image = FixturePath("ntfs.img");
  std::string out = test::SaveTempDir("again");
  for (int i = 0; i < 3; ++i) {
    CommandResult r = Save(image, "0", out, "--path 根目录/docs/readme.txt");
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  auto saved = HashTree(out);
  ASSERT_EQ(saved.size(), 3u);
  EXPECT_EQ(saved["./根目录/docs/readme.txt"], saved["./根目录/docs/readme.txt0.txt"]);
  EXPECT_EQ(saved["./根目录/docs/readme.txt"], saved["./根目录/docs/readme.txt1.txt"]);
}

// --path picks subtrees, --deleted / --normal the kinds, --filter the names.
TEST(SaveCliTest, PathsKindsAndFilter) {
  NEED_FIXTURE("ntfs.img");
  std::string image = FixturePath("ntfs.img");
  std::string live = test::SaveTempDir("sel");
  ASSERT_EQ(Save(image, "0", live, "--path 根目录/docs --path /根目录/big/ --normal").exitCode, 0);
  auto a = HashTree(live);
  EXPECT_TRUE(a.count("./根目录/docs/readme.txt"));
  EXPECT_TRUE(a.count("./根目录/docs/sub/deep/deep.txt"));
  EXPECT_TRUE(a.count("./根目录/big/large.bin"));
  EXPECT_FALSE(a.count("./根目录/docs/gone_small.txt"));
  EXPECT_FALSE(a.count("./根目录/sparse.bin"));

  std::string gone = test::SaveTempDir("sel");
  ASSERT_EQ(Save(image, "0", gone, "--deleted").exitCode, 0);
  auto b = HashTree(gone);
  EXPECT_TRUE(b.count("./根目录/docs/gone_small.txt"));
  EXPECT_TRUE(b.count("./根目录/gone.bin"));
  EXPECT_FALSE(b.count("./根目录/docs/readme.txt"));

  std::string filtered = test::SaveTempDir("sel");
  ASSERT_EQ(Save(image, "0", filtered, "--filter '*.bin' --path 根目录/docs").exitCode, 0);
  auto c = HashTree(filtered);
  EXPECT_TRUE(c.count("./根目录/docs/small.bin"));
  EXPECT_FALSE(c.count("./根目录/docs/readme.txt"));
}

TEST(SaveCliTest, UsageAndNotFound) {
  NEED_FIXTURE("ntfs.img");
  std::string image = FixturePath("ntfs.img");
  std::string out = test::SaveTempDir("usage");
  EXPECT_EQ(RunQuorvel("save " + ShellQuote(image) + " 0").exitCode, 1);  // no --to
  EXPECT_EQ(RunQuorvel("save " + ShellQuote(image) + " 0 --to " + out + " --bogus").exitCode, 1);
  CommandResult missing = Save(image, "0", out, "--path 根目录/no/such/file");
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("no/such/file"), std::string::npos);
  EXPECT_EQ(Save(image, "9", out).exitCode, 2);
  EXPECT_EQ(Save(FixturePath("no-such.img"), "0", out).exitCode, 2);
}

// A mount made for one test, always undone.
struct ScopedMount {
  std::string point;
  bool mounted = false;
  ~ScopedMount() {
    if (mounted) RunCommand("umount " + ShellQuote(point) + " || umount -l " + ShellQuote(point));
  }
};

#define NEED_ROOT() \
  if (geteuid() != 0) GTEST_SKIP() << "mounting needs root"

// A loop device made for one test, always detached.
struct ScopedLoop {
  std::string device;
  ~ScopedLoop() {
    if (!device.empty()) RunCommand("losetup -d " + ShellQuote(device));
  }
};

// The target inside a mount of a loop device backed by the source image is
// refused; a folder beside the image is not. The kernel may lack a FAT
// driver, so the loop device is mounted through ntfs-3g.
TEST(SaveSameDriveTest, LoopMountedSourceIsRefused) {
  NEED_ROOT();
  NEED_FIXTURE("ntfs.img");
  if (access("/dev/fuse", F_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
  std::string image = FixturePath("ntfs.img");
  std::string before = test::FileSha256(image);
  ScopedLoop loop;
  CommandResult attach = RunCommand("losetup -r -f --show " + ShellQuote(image));
  ASSERT_EQ(attach.exitCode, 0) << attach.err;
  loop.device = attach.out.substr(0, attach.out.find('\n'));
  {
    ScopedMount m;
    m.point = test::SaveTempDir("loop");
    CommandResult mount = RunCommand("ntfs-3g -o ro " + ShellQuote(loop.device) + " " + ShellQuote(m.point));
    ASSERT_EQ(mount.exitCode, 0) << mount.err;
    m.mounted = true;
    CommandResult r = Save(image, "0", m.point + "/out");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("将文件放回原分区行为危险"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--allow-same-disk"), std::string::npos);
  }
  // With a kernel FAT driver, the classic loop mount of a FAT image too.
  if (RunCommand("grep -qw vfat /proc/filesystems").exitCode == 0) {
    std::string fat = FixturePath("save_names_fat16.img");
    ScopedMount m;
    m.point = test::SaveTempDir("loopfat");
    ASSERT_EQ(RunCommand("mount -o loop,ro " + ShellQuote(fat) + " " + ShellQuote(m.point)).exitCode, 0);
    m.mounted = true;
    EXPECT_EQ(Save(fat, "0", m.point + "/out").exitCode, 2);
  }
  // A folder beside the image (not inside it) is fine.
  std::string beside = test::SaveTempDir("beside");
  EXPECT_EQ(Save(image, "0", beside, "--path 根目录/docs").exitCode, 0);
  EXPECT_EQ(test::FileSha256(image), before);
}

TEST(SaveSameDriveTest, FuseMountedSourceIsRefused) {
  NEED_ROOT();
  NEED_FIXTURE("ntfs.img");
  if (access("/dev/fuse", F_OK) != 0) GTEST_SKIP() << "no /dev/fuse";
  std::string image = FixturePath("ntfs.img");
  ScopedMount m;
  m.point = test::SaveTempDir("fuse");
  CommandResult mount = RunCommand("ntfs-3g -o ro " + ShellQuote(image) + " " + ShellQuote(m.point));
  ASSERT_EQ(mount.exitCode, 0) << mount.err;
  m.mounted = true;
  CommandResult r = Save(image, "0", m.point + "/docs");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("将文件放回原分区行为危险"), std::string::npos) << r.err;
}

// More bytes than the target has free: refused before anything is written.
TEST(SaveSpaceTest, ShortTargetIsRefused) {
  NEED_ROOT();
  NEED_FIXTURE("ntfs.img");
  ScopedMount m;
  m.point = test::SaveTempDir("small");
  CommandResult mount = RunCommand("mount -t tmpfs -o size=1m tmpfs " + ShellQuote(m.point));
  ASSERT_EQ(mount.exitCode, 0) << mount.err;
  m.mounted = true;
  CommandResult r = Save(FixturePath("ntfs.img"), "0", m.point + "/out");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("目标盘空间不足，请重新选择盘!"), std::string::npos) << r.err;
  EXPECT_EQ(Listing(m.point), (std::set<std::string>{".", ".."}));  // nothing made
}

}  // namespace
}  // namespace quorvel
