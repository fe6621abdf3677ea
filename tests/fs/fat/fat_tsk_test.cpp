// `quorvel ls --json` against The Sleuth Kit on volumes made by mkfs.fat and
// filled by mtools (tests/fixtures/build_fat.sh): every live file and folder
// fls lists must be listed with the same path and size, every deleted entry
// fls names must be listed as deleted, and nothing live may be invented.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/text.h"
#include "recover/ls_json.h"
#include "support/test_support.h"

namespace quorvel::test {
namespace {

struct TskEntry {
  std::string path;
  bool folder = false;
  bool deleted = false;
  uint64_t size = 0;
  std::string modified;  // "YYYY-MM-DD hh:mm:ss"
};

std::vector<std::string> Split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, by)) parts.push_back(part);
  return parts;
}

// `fls -r -p -l [-d]`: "r/r * 72:\tpath\tmtime\tatime\tctime\tcrtime\tsize\tuid\tgid".
std::vector<TskEntry> Fls(const std::string& image, bool deletedOnly) {
  CommandResult r = RunCommand(std::string("fls -r -p -l ") + (deletedOnly ? "-d " : "") + ShellQuote(image));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<TskEntry> out;
  for (const std::string& line : Split(r.out, '\n')) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 7) continue;
    const std::string& head = f[0];
    if (head.rfind("v/v", 0) == 0 || head.rfind("V/V", 0) == 0) continue;  // $MBR, $FAT1, $OrphanFiles
    if (f[1].find("(Volume Label Entry)") != std::string::npos) continue;
    if (f[1].rfind("$OrphanFiles", 0) == 0) continue;
    TskEntry e;
    e.path = f[1];
    e.folder = head[0] == 'd';
    e.deleted = head.find(" * ") != std::string::npos;
    e.size = std::stoull(f[6]);
    e.modified = f[2].substr(0, 19);
    out.push_back(e);
  }
  return out;
}

// fls shows each non-ASCII byte of a short name as "^" and a deleted short
// name's lost first byte as "_"; quorvel decodes code page 936 and shows "?".
bool ComponentMatches(const std::string& tsk, const std::string& ours) {
  if (tsk == ours) return true;
  if (!ours.empty() && ours[0] == '?' && !tsk.empty() && tsk[0] == '_' &&
      ComponentMatches(tsk.substr(1), ours.substr(1)))
    return true;
  if (tsk.find('^') == std::string::npos) return false;
  std::string gbk;
  if (!Utf8ToCp936(ours, gbk)) return false;
  for (char& c : gbk)
    if (static_cast<unsigned char>(c) >= 0x80) c = '^';
  return gbk == tsk;
}

bool PathMatches(const std::string& tsk, const std::string& ours) {
  std::vector<std::string> a = Split(tsk, '/'), b = Split(ours, '/');
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!ComponentMatches(a[i], b[i])) return false;
  return true;
}

LsListing QuorvelLs(const std::string& image) {
  CommandResult r = RunQuorvel("ls " + ShellQuote(image) + " 0 --json --quiet");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  LsListing listing = ParseLsJson(r.out);
  EXPECT_TRUE(listing.ok) << r.out.substr(0, 400);
  // Paths below the root folder, as fls shows them.
  for (LsEntry& e : listing.entries) {
    const std::string root = "根目录/";
    if (e.path.rfind(root, 0) == 0) e.path = e.path.substr(root.size());
  }
  return listing;
}

const LsEntry* Find(const LsListing& listing, const TskEntry& t, bool deleted) {
  for (const LsEntry& e : listing.entries) {
    const bool isFolder = e.state == 1 || e.state == 3;
    const bool isDeleted = e.state == 1 || e.state == 2;
    if (isFolder == t.folder && isDeleted == deleted && PathMatches(t.path, e.path)) return &e;
  }
  return nullptr;
}

class FatAgainstTsk : public ::testing::TestWithParam<const char*> {};

TEST_P(FatAgainstTsk, LiveEntriesMatchFls) {
  const std::string image = FixturePath(std::string(GetParam()) + ".img");
  if (!HaveFixture(std::string(GetParam()) + ".img")) GTEST_SKIP() << "mkfs.fat / mtools absent";
  LsListing ours = QuorvelLs(image);
  EXPECT_EQ(ours.fs, std::string(GetParam()) == "fat16" ? "FAT16" : "FAT32");
  std::vector<TskEntry> tsk = Fls(image, false);
  size_t live = 0;
  for (const TskEntry& t : tsk) {
    if (t.deleted) continue;
    ++live;
    const LsEntry* e = Find(ours, t, false);
    ASSERT_NE(e, nullptr) << "fls lists " << t.path << ", quorvel does not";
    // fls gives folders their allocated size; the directory entry says 0.
    if (!t.folder) {
      EXPECT_EQ(e->size, t.size) << t.path;
      EXPECT_EQ(e->modified, t.modified) << t.path;
      EXPECT_EQ(e->accessed, e->modified) << t.path;
    }
  }
  EXPECT_GT(live, 90u);
  // Nothing live that fls does not know.
  for (const LsEntry& e : ours.entries) {
    if (e.state != 3 && e.state != 4) continue;
    if (e.path == "根目录") continue;
    bool known = false;
    for (const TskEntry& t : tsk) known |= !t.deleted && t.folder == (e.state == 3) && PathMatches(t.path, e.path);
    EXPECT_TRUE(known) << "quorvel lists " << e.path << ", fls does not";
  }
}

TEST_P(FatAgainstTsk, DeletedEntriesMatchFls) {
  const std::string image = FixturePath(std::string(GetParam()) + ".img");
  if (!HaveFixture(std::string(GetParam()) + ".img")) GTEST_SKIP() << "mkfs.fat / mtools absent";
  LsListing ours = QuorvelLs(image);
  std::vector<TskEntry> tsk = Fls(image, true);
  ASSERT_GE(tsk.size(), 9u);  // the fixture deletes 4 files and a tree of 5
  size_t ourDeleted = 0;
  for (const LsEntry& e : ours.entries) ourDeleted += (e.state == 1 || e.state == 2);
  for (const TskEntry& t : tsk) {
    ASSERT_TRUE(t.deleted) << t.path;
    const LsEntry* e = Find(ours, t, true);
    ASSERT_NE(e, nullptr) << "fls names deleted " << t.path << ", quorvel does not";
    if (!t.folder) {
      EXPECT_EQ(e->size, t.size) << t.path;
    }
  }
  std::printf("[ figure ] %s: fls names %zu deleted entries, quorvel lists %zu\n", GetParam(), tsk.size(), ourDeleted);
}

INSTANTIATE_TEST_SUITE_P(Images, FatAgainstTsk, ::testing::Values("fat32", "fat16"));

// The same tree with the boot sector and its backup zeroed.
TEST(FatZeroedBoot, ListsTheSameTreeAsBeforeTheDamage) {
  if (!HaveFixture("fat32_noboot.img")) GTEST_SKIP() << "mkfs.fat / mtools / sfdisk absent";
  LsListing intact = QuorvelLs(FixturePath("fat32.img"));
  LsListing damaged = QuorvelLs(FixturePath("fat32_noboot.img"));
  ASSERT_EQ(damaged.entries.size(), intact.entries.size());
  for (size_t i = 0; i < intact.entries.size(); ++i) {
    const LsEntry& a = intact.entries[i];
    const LsEntry& b = damaged.entries[i];
    EXPECT_EQ(b.path, a.path);
    EXPECT_EQ(b.state, a.state) << a.path;
    EXPECT_EQ(b.size, a.size) << a.path;
    EXPECT_EQ(b.id, a.id) << a.path;
    EXPECT_EQ(b.parentId, a.parentId) << a.path;
    EXPECT_EQ(b.created, a.created) << a.path;
  }
}

// The text form lists the same entries with their state texts.
TEST(FatLsText, ShowsStateTextsAndTheTree) {
  if (!HaveFixture("fat16.img")) GTEST_SKIP() << "mkfs.fat / mtools absent";
  CommandResult r = RunQuorvel("ls " + ShellQuote(FixturePath("fat16.img")) + " 0 --quiet");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("根目录/"), std::string::npos);
  EXPECT_NE(r.out.find("正常文件夹"), std::string::npos);
  EXPECT_NE(r.out.find("已删除文件夹"), std::string::npos);
  EXPECT_NE(r.out.find("已删除文件 "), std::string::npos);
  EXPECT_NE(r.out.find("报告.doc"), std::string::npos);
  CommandResult bad = RunQuorvel("ls " + ShellQuote(FixturePath("fat16.img")) + " 7 --quiet");
  EXPECT_EQ(bad.exitCode, 2);
  CommandResult usage = RunQuorvel("ls " + ShellQuote(FixturePath("fat16.img")) + " --bogus");
  EXPECT_EQ(usage.exitCode, 1);
}

}  // namespace
}  // namespace quorvel::test
