// Name repair, the save filter, and target naming: what a recovered name may
// become on the target, and that nothing on the target is ever overwritten.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <fstream>

#include "save/name_repair.h"
#include "save/target_naming.h"
#include "save_test_util.h"

namespace quorvel {
namespace {

std::string Repaired(std::string name) {
  RepairName(name, "$");
  return name;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string Slurp(const std::string& path) {
  auto bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// Windows refuses these characters; a name saved with them would fail on a
// FAT or NTFS target.
TEST(RepairNameTest, ForbiddenCharactersBecomeReplacement) {
  EXPECT_EQ(Repaired("a:b*c.txt"), "a$b$c.txt");
  EXPECT_EQ(Repaired("?/:*\\\"<>|"), "$$$$$$$$$");
}

// A deleted FAT entry's name may hold bytes that are not text; they must not
// reach the file system as garbage.
TEST(RepairNameTest, UndecodableBytesBecomeReplacement) {
  EXPECT_EQ(Repaired("ab\xFF\xFE.txt"), "ab$$.txt");
  EXPECT_EQ(Repaired("\xE5\x8F"), "$$");  // a cut-off sequence
}

TEST(RepairNameTest, ChineseAndEmojiNamesAreKept) {
  EXPECT_EQ(Repaired("照片 2024.jpg"), "照片 2024.jpg");
  EXPECT_EQ(Repaired("😀 party.png"), "😀 party.png");
}

// Names that would leave the target folder or name it itself.
TEST(RepairNameTest, NamesNeverLeaveTheFolder) {
  EXPECT_EQ(Repaired(""), "$");
  EXPECT_EQ(Repaired("."), "$");
  EXPECT_EQ(Repaired(".."), "$$");
  EXPECT_EQ(Repaired("../../etc/passwd"), "..$..$etc$passwd");
  EXPECT_EQ(Repaired("a\nb\x01"), "a$b$");
  EXPECT_EQ(SafeTargetName(".."), "$$");
  EXPECT_EQ(SafeTargetName(""), "$");
  EXPECT_EQ(SafeTargetName("../x"), "..$x");
  EXPECT_EQ(SafeTargetName("tab\there"), "tab$here");
  // The lighter repair leaves what Linux accepts alone.
  EXPECT_EQ(SafeTargetName("a:b*c?.txt"), "a:b*c?.txt");
}

// NTFS names of 255 Chinese characters are 765 bytes of UTF-8: too long for
// Linux, so they are cut on a character boundary, keeping the extension.
TEST(RepairNameTest, OverlongNamesAreCutKeepingExtension) {
  std::string name;
  for (int i = 0; i < 200; ++i) name += "文";
  name += ".jpg";
  std::string safe = SafeTargetName(name);
  EXPECT_LE(safe.size(), 255u);
  EXPECT_EQ(safe.substr(safe.size() - 4), ".jpg");
  EXPECT_EQ((safe.size() - 4) % 3, 0u);
}

TEST(MatchNameFilterTest, PatternRules) {
  EXPECT_TRUE(MatchNameFilter("Photo.JPG", "*.jpg"));   // the name is lowered
  EXPECT_FALSE(MatchNameFilter("photo.jpg", "*.JPG"));  // the pattern is not
  EXPECT_TRUE(MatchNameFilter("x.jpg.bak", "*.jpg"));   // text after the first "."
  EXPECT_TRUE(MatchNameFilter("holiday.jpg", ".jpg"));  // dot first: plain substring
  EXPECT_FALSE(MatchNameFilter("holidayjpg", ".jpg"));
  EXPECT_TRUE(MatchNameFilter("xabcx", "abc"));
  EXPECT_TRUE(MatchNameFilter("ab", "a.b"));  // no "." in the name: both parts are the name
  EXPECT_FALSE(MatchNameFilter("report.doc", "*.jpg"));
}

// Saving x.jpg three times keeps all three, never touching the first.
TEST(CreateTargetFileTest, TakenNamesGetCounterNames) {
  std::string dir = test::SaveTempDir("naming");
  std::string path = dir + "/x.jpg";
  for (const char* content : {"one", "two", "three"}) {
    TargetFile file;
    ASSERT_TRUE(CreateTargetFile(file, path));
    ASSERT_TRUE(file.Write(content, strlen(content)));
  }
  EXPECT_EQ(Slurp(dir + "/x.jpg"), "one");
  EXPECT_EQ(Slurp(dir + "/x.jpg0.jpg"), "two");
  EXPECT_EQ(Slurp(dir + "/x.jpg1.jpg"), "three");
}

// The counter goes after the whole name when the file name has no "." even
// if a folder on the path has one.
TEST(CreateTargetFileTest, CounterNameIgnoresDotsInFolders) {
  EXPECT_EQ(TargetCandidateName("/t/a.b/file", 0), "/t/a.b/file0");
  EXPECT_EQ(TargetCandidateName("/t/a.jpg", 2), "/t/a.jpg2.jpg");
  EXPECT_EQ(TargetCandidateName("/t/a.jpg", -1), "/t/a.jpg");
}

// A link planted under the target name must not redirect the write.
TEST(CreateTargetFileTest, PlantedLinkIsNotFollowed) {
  std::string dir = test::SaveTempDir("naming");
  std::string victim = dir + "/victim";
  { std::ofstream(victim) << "keep"; }
  ASSERT_EQ(symlink(victim.c_str(), (dir + "/a.txt").c_str()), 0);
  TargetFile file;
  ASSERT_TRUE(CreateTargetFile(file, dir + "/a.txt"));
  ASSERT_TRUE(file.Write("new", 3));
  file.Close();
  EXPECT_EQ(Slurp(victim), "keep");
  EXPECT_EQ(Slurp(dir + "/a.txt0.txt"), "new");
}

TEST(CreateTargetFileTest, MissingFoldersAreMade) {
  std::string dir = test::SaveTempDir("naming");
  TargetFile file;
  ASSERT_TRUE(CreateTargetFile(file, dir + "/根目录/深/层/f.txt"));
  EXPECT_TRUE(Exists(dir + "/根目录/深/层/f.txt"));
}

TEST(CreateFolderChainTest, ExistingAndImpossibleFolders) {
  std::string dir = test::SaveTempDir("naming");
  EXPECT_TRUE(CreateFolderChain(dir));
  EXPECT_TRUE(CreateFolderChain(dir + "/a/b/c"));
  { std::ofstream(dir + "/plain") << "x"; }
  // A folder cannot be made below a file.
  EXPECT_FALSE(CreateFolderChain(dir + "/plain/sub"));
  EXPECT_FALSE(CreateFolderChain(dir + "/plain"));
}

}  // namespace
}  // namespace quorvel
