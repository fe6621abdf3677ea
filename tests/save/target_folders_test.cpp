// The folder walk below a chosen target folder: links and mount points that
// the save did not make are never followed, whatever the chain of folders
// and however it changes while the save holds it.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "save/target_folders.h"
#include "save/target_naming.h"
#include "save_test_util.h"

namespace quorvel {
namespace {

std::string Slurp(const std::string& path) {
  auto bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

bool IsFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Creates path below root and writes text into it; the errno on failure.
int Make(TargetFolders& folders, const std::string& root, const std::string& path, const char* text = "x") {
  TargetFile file;
  int64_t counter = -1;
  if (!folders.Create(root, path, file, counter)) return file.lastError();
  return file.Write(text, strlen(text)) ? 0 : -1;
}

struct Dirs {
  std::string root, outside;
};

Dirs MakeDirs(const char* tag) {
  const std::string base = test::SaveTempDir(tag);
  Dirs d{base + "/T", base + "/elsewhere"};
  mkdir(d.root.c_str(), 0755);
  mkdir(d.outside.c_str(), 0755);
  return d;
}

// Catches: a link planted as a folder of the chain (the special folder, or
// one deeper) sending the save's files outside the chosen folder. The
// refused files are named as such; files on other branches are still made.
TEST(TargetFoldersTest, LinksInTheChainAreRefused) {
  struct Case {
    const char* link;  // below root, pointing outside
    const char* path;  // the file asked for, below root
  } cases[] = {
      {"根目录", "根目录/a.txt"},
      {"根目录", "根目录/docs/deep/a.txt"},
      {"根目录/docs", "根目录/docs/a.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Dirs d = MakeDirs("folders-link");
    const std::string link = d.root + "/" + c.link;
    ASSERT_EQ(test::RunCommand("mkdir -p \"$(dirname '" + link + "')\"").exitCode, 0);
    ASSERT_EQ(symlink(d.outside.c_str(), link.c_str()), 0);
    TargetFolders folders;
    EXPECT_EQ(Make(folders, d.root, d.root + "/" + c.path), ELOOP);
    EXPECT_EQ(test::Listing(d.outside).size(), 2u) << "something was written through the link";
    EXPECT_EQ(Make(folders, d.root, d.root + "/Extra Found Files/b.jpg"), 0);
    EXPECT_TRUE(IsFile(d.root + "/Extra Found Files/b.jpg"));
  }
}

// The chosen folder itself may be a link the user made: it is followed.
// A file standing where a folder goes refuses the files below it.
TEST(TargetFoldersTest, ChosenFolderMayBeALinkAndFilesBlockFolders) {
  Dirs d = MakeDirs("folders-root");
  const std::string chosen = d.outside + "/via-link";
  ASSERT_EQ(symlink(d.root.c_str(), chosen.c_str()), 0);
  TargetFolders folders;
  EXPECT_EQ(Make(folders, chosen, chosen + "/根目录/a.txt", "kept"), 0);
  EXPECT_EQ(Slurp(d.root + "/根目录/a.txt"), "kept");
  { std::ofstream(d.root + "/plain") << "file"; }
  EXPECT_EQ(Make(folders, chosen, chosen + "/plain/b.txt"), ENOTDIR);
  EXPECT_EQ(Slurp(d.root + "/plain"), "file");
  // A path that does not lie below the chosen folder is no target of it.
  EXPECT_EQ(Make(folders, chosen, d.outside + "/x.txt"), EINVAL);
  EXPECT_EQ(Make(folders, chosen, chosen + "/../x.txt"), EINVAL);
}

// Catches: a held folder looked up again by path after it was swapped for
// a link (the file would follow the link), and a removal (after a failed
// write or a stop) that follows it.
TEST(TargetFoldersTest, SwappedFolderIsNeverFollowed) {
  Dirs d = MakeDirs("folders-swap");
  TargetFolders folders;
  ASSERT_EQ(Make(folders, d.root, d.root + "/根目录/docs/a.txt"), 0);
  TargetFile file;
  int64_t counter = -1;
  ASSERT_TRUE(folders.Create(d.root, d.root + "/根目录/docs/b.txt", file, counter));
  { std::ofstream(d.outside + "/b.txt") << "victim"; }
  ASSERT_EQ(rename((d.root + "/根目录").c_str(), (d.root + "/moved").c_str()), 0);
  ASSERT_EQ(symlink(d.outside.c_str(), (d.root + "/根目录").c_str()), 0);
  file.Discard();
  EXPECT_EQ(Slurp(d.outside + "/b.txt"), "victim");
  EXPECT_FALSE(IsFile(d.root + "/moved/docs/b.txt"));
  // The next file of the held chain goes where the chain really is.
  EXPECT_EQ(Make(folders, d.root, d.root + "/根目录/docs/c.txt"), 0);
  EXPECT_TRUE(IsFile(d.root + "/moved/docs/c.txt"));
  EXPECT_EQ(test::Listing(d.outside).size(), 3u);
  // A fresh walk meets the link and refuses it.
  TargetFolders fresh;
  EXPECT_EQ(Make(fresh, d.root, d.root + "/根目录/docs/d.txt"), ELOOP);
}

// Catches: one descriptor per level kept for a tree nested thousands deep
// (the process runs out of them), and levels let go that are not found
// again when the walk comes back up.
TEST(TargetFoldersTest, DeepChainsStayWithinFewDescriptors) {
  Dirs d = MakeDirs("folders-deep");
  TargetFolders folders;
  std::string path = d.root;
  std::vector<std::string> levels;
  for (int i = 0; i < 300; ++i) {
    path += "/d" + std::to_string(i);
    levels.push_back(path);
  }
  ASSERT_EQ(Make(folders, d.root, levels[299] + "/deepest.txt"), 0);
  EXPECT_LE(folders.HeldFolders(), 40u);
  for (int at : {150, 20, 299, 40, 0})
    ASSERT_EQ(Make(folders, d.root, levels[static_cast<size_t>(at)] + "/f.txt", "lv"), 0) << at;
  for (int at : {150, 20, 299, 40, 0}) EXPECT_EQ(Slurp(levels[static_cast<size_t>(at)] + "/f.txt"), "lv") << at;
  EXPECT_LE(folders.HeldFolders(), 40u);
}

// Catches: a file system mounted inside the chosen folder entered by the
// save (writing onto another device than the one chosen, perhaps the
// source's).
TEST(TargetFoldersTest, MountPointsInsideAreNotEntered) {
  Dirs d = MakeDirs("folders-mount");
  const std::string mounted = d.root + "/根目录";
  mkdir(mounted.c_str(), 0755);
  if (mount("qv-test", mounted.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "cannot mount a tmpfs here: " << strerror(errno);
  struct Unmount {
    std::string at;
    ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{mounted};
  TargetFolders folders;
  EXPECT_EQ(Make(folders, d.root, mounted + "/a.txt"), EXDEV);
  EXPECT_EQ(test::Listing(mounted).size(), 2u);
  // Chosen as the folder itself it is the user's choice.
  TargetFolders inside;
  EXPECT_EQ(Make(inside, mounted, mounted + "/sub/a.txt"), 0);
}

}  // namespace
}  // namespace quorvel
