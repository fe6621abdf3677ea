// `quorvel lost-partitions` on disks made by sfdisk, mkntfs and mkfs.fat whose
// MBR was then zeroed (tests/fixtures/build_lost.sh): what the quick and the
// precise pass find is checked against the truth recorded before wiping, the
// found partitions are listed like fls lists the intact disk and saved
// byte-identical, and TestDisk's partition search on the same disks is the
// peer: every NTFS/FAT volume it finds must be found too.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace quorvel::test {
namespace {

struct TruthVolume {
  uint64_t start = 0, count = 0;
  int fsKind = 0, role = 0;
  std::string label;
  bool bootZeroed = false;
};

struct FoundRow {
  std::string name, label;
  uint64_t start = 0, count = 0;
  int fsKind = 0, role = 0, origin = -1;
};

std::vector<std::string> Fields(const std::string& line, char by) {
  std::vector<std::string> out;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, by)) out.push_back(part);
  return out;
}

std::vector<TruthVolume> ReadTruth(const std::string& name) {
  std::ifstream in(FixturePath(name + ".truth"));
  std::vector<TruthVolume> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream f(line);
    TruthVolume v;
    std::string damage;
    if (f >> v.start >> v.count >> v.fsKind >> v.role >> v.label >> damage) {
      v.bootZeroed = damage == "boot-zeroed";
      out.push_back(v);
    }
  }
  return out;
}

// Runs `quorvel ARGUMENTS` and reads its JSON with python3 (so that the test
// does not read our JSON with our own code); `rows` is the python expression
// of the objects to print, `keys` their fields in order.
std::vector<std::vector<std::string>> JsonRows(const std::string& arguments, const std::string& rows,
                                               const std::string& keys) {
  const std::string flatten = "import json,sys\ndoc=json.load(sys.stdin)\nfor o in " + rows +
                              ":\n  print('\\x1f'.join(str(o[k]).rstrip() for k in (" + keys + ")))\n";
  CommandResult r =
      RunCommand("(" + ShellQuote(QUORVEL_CLI) + " " + arguments + " | python3 -c " + ShellQuote(flatten) + ")");
  EXPECT_EQ(r.exitCode, 0) << arguments << ": " << r.err;
  std::vector<std::vector<std::string>> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) out.push_back(Fields(line, '\x1f'));
  return out;
}

// The partitions of `lost-partitions --json`; the keys are those of `disks --json`.
std::vector<FoundRow> ScanJson(const std::string& image, const std::string& options) {
  std::vector<FoundRow> rows;
  for (const auto& f : JsonRows("lost-partitions " + ShellQuote(image) + " " + options + " --json --quiet",
                                "(doc['disks'][0]['partitions'] if len(doc['disks'])==1 else [])",
                                "'name','label','start_sector','sector_count','fs_kind','role','origin'")) {
    if (f.size() != 7) continue;
    rows.push_back(
        {f[0], f[1], std::stoull(f[2]), std::stoull(f[3]), std::stoi(f[4]), std::stoi(f[5]), std::stoi(f[6])});
  }
  return rows;
}

const FoundRow* AtStart(const std::vector<FoundRow>& rows, uint64_t start) {
  for (const FoundRow& r : rows)
    if (r.start == start) return &r;
  return nullptr;
}

#define REQUIRE_FIXTURE(name) \
  if (!HaveFixture(name)) GTEST_SKIP() << name << " was not built (tool missing)"

// Catches: volumes missed or invented, wrong extents (the NTFS backup boot
// sector left outside the volume), wrong kinds, labels or roles, a volume
// whose first sector was overwritten not found through its backup, the
// FAT32 backup boot sector taken for a second volume, and duplicates.
TEST(LostPartitionsFixture, QuickAndPreciseFindTheRecordedVolumes) {
  REQUIRE_FIXTURE("lost-mbr.img");
  for (const char* name : {"lost-mbr", "lost-aligned"}) {
    const std::vector<TruthVolume> truth = ReadTruth(name);
    ASSERT_FALSE(truth.empty()) << name;
    for (const std::string mode : {"", "--precise"}) {
      SCOPED_TRACE(std::string(name) + " " + mode);
      std::vector<FoundRow> found = ScanJson(FixturePath(std::string(name) + ".img"), mode);
      size_t expected = 0;
      for (const TruthVolume& t : truth) {
        // The precise pass does not use FAT32 backup boot sectors; the quick
        // pass reaches only cylinder starts, 63 sectors into them, sector
        // 2048 and what the chains follow.
        const bool precise = !mode.empty();
        const bool alignedFat16 = std::string(name) == "lost-aligned" && t.fsKind == 6;
        const bool reachable = precise ? !(t.bootZeroed && t.fsKind == 11) : !alignedFat16;
        const FoundRow* f = AtStart(found, t.start);
        if (!reachable) {
          EXPECT_EQ(f, nullptr) << t.label << " at " << t.start;
          continue;
        }
        ++expected;
        ASSERT_NE(f, nullptr) << t.label << " at " << t.start << " not found";
        EXPECT_EQ(f->count, t.count) << t.label;
        EXPECT_EQ(f->fsKind, t.fsKind) << t.label;
        EXPECT_EQ(f->label, t.label);
        EXPECT_EQ(f->role, t.role) << t.label;
        EXPECT_EQ(f->origin, 2) << t.label;
      }
      EXPECT_EQ(found.size(), expected) << "a volume was invented or added twice";
      // Names follow the order of finding, "Partition%d" from 0 on a disk that lists none.
      std::set<std::string> names;
      for (const FoundRow& f : found) names.insert(f.name);
      for (size_t i = 0; i < found.size(); ++i) EXPECT_TRUE(names.count("Partition" + std::to_string(i))) << i;
    }
  }
}

// Catches: a volume the table already lists added again, in particular a
// FAT32 partition of type 0x0C found as 0x0B (same family). The document is
// then the `disks --json` one, saying first that the scan was complete.
TEST(LostPartitionsFixture, IntactTableGainsNothingAndJsonIsTheDisksDocument) {
  REQUIRE_FIXTURE("lost-mbr.intact.img");
  const std::string image = ShellQuote(FixturePath("lost-mbr.intact.img"));
  for (const char* mode : {"", " --precise"}) {
    CommandResult scan = RunQuorvel("lost-partitions " + image + mode + " --json --quiet");
    CommandResult disks = RunQuorvel("disks " + image + " --json");
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_EQ(scan.out, "{\"complete\":true," + disks.out.substr(1));
  }
}

struct FlsEntry {
  std::string path;
  bool folder = false, deleted = false;
};

// Files and folders of the volume at start as fls lists them on the intact
// disk, without NTFS system files, streams and orphan entries.
std::vector<FlsEntry> Fls(const std::string& image, uint64_t start) {
  CommandResult r = RunCommand("fls -r -p -o " + std::to_string(start) + " " + ShellQuote(image));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<FlsEntry> out;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Fields(line, '\t');
    if (f.size() < 2) continue;
    const std::string& head = f[0];
    const std::string& path = f[1];
    if (head.rfind("v/v", 0) == 0 || head.rfind("V/V", 0) == 0) continue;
    if (path[0] == '$' || path.find(':') != std::string::npos || path.find("(Volume Label Entry)") != std::string::npos)
      continue;
    out.push_back({path, head[2] == 'd' || head[0] == 'd', head.find(" * ") != std::string::npos});
  }
  return out;
}

struct OurEntry {
  std::string path;
  int state = 0;
  uint64_t size = 0;
};

std::vector<OurEntry> ListFound(const std::string& image, const std::string& partition) {
  std::vector<OurEntry> out;
  const std::string root = "根目录/";
  for (const auto& f : JsonRows("ls " + ShellQuote(image) + " " + partition + " --lost-partitions --json --quiet",
                                "doc['entries']", "'path','state','size'")) {
    if (f.size() != 3 || f[0].rfind(root, 0) != 0) continue;
    out.push_back({f[0].substr(root.size()), std::stoi(f[1]), std::stoull(f[2])});
  }
  return out;
}

// fls shows a deleted FAT short name's lost first byte as "_".
bool SamePath(const std::string& tsk, const std::string& ours) {
  if (tsk == ours) return true;
  const size_t slash = tsk.find_last_of('/') + 1;
  return tsk.size() == ours.size() && tsk.compare(0, slash, ours, 0, slash) == 0 && tsk[slash] == '_';
}

// Catches: a found partition that cannot be expanded (wrong start, count or
// kind) or lists other files than the file system holds, including the NTFS
// volume whose first sector is gone (read through its backup boot sector).
TEST(LostPartitionsFixture, FoundPartitionsListWhatFlsListsOnTheIntactDisk) {
  REQUIRE_FIXTURE("lost-mbr.img");
  const std::string image = FixturePath("lost-mbr.img");
  const std::string intact = FixturePath("lost-mbr.intact.img");
  std::vector<FoundRow> found = ScanJson(image, "");
  ASSERT_EQ(found.size(), 6u);
  for (const FoundRow& partition : found) {
    SCOPED_TRACE(partition.name + " " + partition.label);
    std::vector<OurEntry> ours = ListFound(image, partition.name);
    std::vector<FlsEntry> tsk = Fls(intact, partition.start);
    ASSERT_FALSE(tsk.empty());
    size_t live = 0;
    for (const FlsEntry& t : tsk) {
      bool matched = false;
      for (const OurEntry& o : ours) {
        const bool folder = o.state == 1 || o.state == 3, deleted = o.state == 1 || o.state == 2;
        if (folder == t.folder && deleted == t.deleted && SamePath(t.path, o.path)) matched = true;
      }
      EXPECT_TRUE(matched) << "fls lists " << t.path << (t.deleted ? " (deleted)" : "") << ", quorvel does not";
      if (!t.deleted) ++live;
    }
    size_t ourLive = 0;
    for (const OurEntry& o : ours) ourLive += o.state == 3 || o.state == 4;
    EXPECT_EQ(ourLive, live) << "live entries fls does not list";
  }
}

// Catches: saving from a found partition writing other bytes than the files
// that went into the volume.
TEST(LostPartitionsFixture, SavedFilesAreByteIdentical) {
  REQUIRE_FIXTURE("lost-mbr.img");
  const std::string image = FixturePath("lost-mbr.img");
  const std::string before = FileSha256(image);
  std::multimap<std::string, std::vector<std::string>> manifest;  // label -> path, size, sha
  std::ifstream in(FixturePath("lost-mbr.manifest"));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f = Fields(line, '\t');
    if (f.size() == 4) manifest.insert({f[0], {f[1], f[2], f[3]}});
  }
  ASSERT_FALSE(manifest.empty());
  for (const FoundRow& partition : ScanJson(image, "")) {
    SCOPED_TRACE(partition.name + " " + partition.label);
    const std::string dir = MakeTempDir("lost-save");
    CommandResult r = RunQuorvel("save " + ShellQuote(image) + " " + partition.name + " --lost-partitions --to " +
                                 ShellQuote(dir) + " --normal --quiet");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    auto range = manifest.equal_range(partition.label);
    ASSERT_NE(range.first, range.second);
    for (auto it = range.first; it != range.second; ++it) {
      const std::string saved = dir + "/根目录/" + it->second[0];
      EXPECT_EQ(FileSha256(saved), it->second[2]) << it->second[0];
    }
    RunCommand("rm -rf " + ShellQuote(dir));
  }
  EXPECT_EQ(FileSha256(image), before) << "the source image was written to";
}

struct PeerVolume {
  uint64_t start = 0;
  std::string type, label;
};

// Every volume TestDisk's partition search reports in its log (analyse and
// search lines "TYPE  C H S  C H S  SIZE [LABEL]"), by start sector.
std::vector<PeerVolume> TestDiskFinds(const std::string& image) {
  const std::string dir = MakeTempDir("testdisk");
  CommandResult r = RunCommand("cd " + ShellQuote(dir) + " && testdisk /log /cmd " + ShellQuote(image) +
                               " analyze,search >/dev/null 2>&1; cat testdisk.log");
  RunCommand("rm -rf " + ShellQuote(dir));
  std::smatch m;
  uint64_t heads = 255, sectors = 63;
  if (std::regex_search(r.out, m, std::regex(R"(CHS \d+ (\d+) (\d+))"))) {
    heads = std::stoull(m[1]);
    sectors = std::stoull(m[2]);
  }
  const std::regex row(R"(^ {5}(\S.*?) +(\d+) +(\d+) +(\d+) +\d+ +\d+ +\d+ +\d+(?: \[(.*)\])?$)");
  std::map<uint64_t, PeerVolume> byStart;
  std::istringstream in(r.out);
  std::string line;
  while (std::getline(in, line)) {
    if (!std::regex_match(line, m, row)) continue;
    const uint64_t start = (std::stoull(m[2]) * heads + std::stoull(m[3])) * sectors + std::stoull(m[4]) - 1;
    byStart[start] = {start, m[1], m[5]};
  }
  std::vector<PeerVolume> out;
  for (const auto& [start, v] : byStart) out.push_back(v);
  return out;
}

// The peer: which volumes TestDisk's search and each of our passes find.
// Catches: a volume the peer recovers that we miss.
TEST(LostPartitionsFixture, FindsEveryNtfsAndFatVolumeTestDiskFinds) {
  REQUIRE_FIXTURE("lost-mbr.img");
  if (RunCommand("command -v testdisk").exitCode != 0) GTEST_SKIP() << "testdisk is not installed";
  for (const char* name : {"lost-mbr", "lost-aligned"}) {
    const std::string image = FixturePath(std::string(name) + ".img");
    std::vector<PeerVolume> peer = TestDiskFinds(image);
    std::vector<FoundRow> quick = ScanJson(image, ""), precise = ScanJson(image, "--precise");
    ASSERT_FALSE(peer.empty()) << name;
    std::cout << name << ": start sector, TestDisk, quorvel quick, quorvel precise\n";
    for (const PeerVolume& v : peer) {
      const bool fs = v.type.find("NTFS") != std::string::npos || v.type.find("FAT") != std::string::npos;
      std::cout << "  " << v.start << "  " << v.type << " [" << v.label << "]  "
                << (AtStart(quick, v.start) ? "yes" : "no") << "  " << (AtStart(precise, v.start) ? "yes" : "no")
                << "\n";
      if (fs) {
        EXPECT_TRUE(AtStart(quick, v.start) || AtStart(precise, v.start)) << v.type << " at " << v.start;
      }
    }
    for (const FoundRow& f : precise) {
      bool peerHas = false;
      for (const PeerVolume& v : peer) peerHas |= v.start == f.start;
      if (!peerHas) std::cout << "  " << f.start << "  found by quorvel only: " << f.label << "\n";
    }
  }
}

// Catches: options that are accepted but do nothing, a scan run for a
// result that cannot be kept, and ls/save that cannot reach a found partition.
TEST(LostPartitionsCommand, OptionsAndRefusals) {
  REQUIRE_FIXTURE("lost-mbr.img");
  const std::string image = ShellQuote(FixturePath("lost-mbr.img"));
  CommandResult r = RunQuorvel("lost-partitions " + image + " --save-scan /nonexistent/x.rvz_scn --quiet");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("--save-scan"), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty());
  for (const char* bad : {"--tracks 0", "--tracks 256", "--tracks x", "--bogus"})
    EXPECT_EQ(RunQuorvel("lost-partitions " + image + " " + bad + " --quiet").exitCode, 1) << bad;
  EXPECT_EQ(RunQuorvel("lost-partitions /nonexistent.img --quiet").exitCode, 2);
  EXPECT_EQ(RunQuorvel("ls " + image + " Partition0 --lost-partitions=fast --quiet").exitCode, 1);
  // Without the scan the wiped disk lists nothing, so the name is unknown.
  EXPECT_EQ(RunQuorvel("ls " + image + " Partition0 --quiet").exitCode, 2);
  r = RunQuorvel("ls " + image + " Partition3 --lost-partitions=precise --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("notes-LOG16.txt"), std::string::npos) << r.out;

  r = RunQuorvel("lost-partitions " + image + " --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("6 partition(s) found by this scan"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Partition3  LOG16      FAT16;;9,1,1;32064;逻辑;"), std::string::npos) << r.out;
  r = RunQuorvel("lost-partitions --help");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("--tracks N"), std::string::npos);
}

// Catches: Ctrl-C ignored until the end of a long precise pass, or killing
// the run without printing what was found.
TEST(LostPartitionsCommand, CtrlCStopsPromptlyAndPrintsWhatWasFound) {
  const std::string dir = MakeTempDir("lost-stop");
  const std::string image = dir + "/big.img";
  // 64 GiB, sparse: the precise pass would read zeros for many seconds. The
  // FAT32 volume at 2048 is found by the forward chain before it starts.
  CommandResult made = RunCommand("truncate -s 64G " + ShellQuote(image) + " && mkfs.fat -F 32 -s 64 --offset=2048 " +
                                  ShellQuote(image) + " 1048576 >/dev/null");
  if (made.exitCode != 0) {
    RunCommand("rm -rf " + ShellQuote(dir));
    GTEST_SKIP() << "cannot build the sparse image: " << made.err;
  }
  auto begin = std::chrono::steady_clock::now();
  CommandResult r = RunCommand("timeout --foreground --preserve-status -s INT 1 " + ShellQuote(QUORVEL_CLI) +
                               " lost-partitions " + ShellQuote(image) + " --precise --quiet");
  EXPECT_EQ(r.exitCode, 3) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(8));
  EXPECT_NE(r.out.find("* Partition0"), std::string::npos) << r.out;
  RunCommand("rm -rf " + ShellQuote(dir));
}

}  // namespace
}  // namespace quorvel::test
