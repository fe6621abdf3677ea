// Rebuilding a formatted volume's folders from recorded directory sectors,
// on hand-made clusters (2 sectors each, so alignment matters).
#include <gtest/gtest.h>

#include "fs/fat/fat_crafting.h"
#include "fs/fat/fat_rebuild.h"

namespace quorvel::test {
namespace {

class FatRebuild : public ::testing::Test {
 protected:
  FatRebuild() : fat(true, 8, 1 << 16, 2) {}

  void SetUp() override {
    // Cluster 20: a subfolder's first cluster (under the old root 2).
    DirData sub;
    sub.AddDots(20, 0)
        .Add(ShortEntry("A       TXT", 0x20, 40, 11))
        .AddNamed("long sub", ShortEntry("LONGSUB    ", 0x10, 21))
        .Add(Deleted(ShortEntry("DEL     JPG", 0x20, 30, 5000)))
        .AddNamed("child seen first", ShortEntry("CHILDS~1   ", 0x10, 15))
        .Add(ShortEntry("SHORTSUB   ", 0x10, 15))
        .Add(ShortEntry("WRONGSELF  ", 0x10, 22));
    fat.WriteCluster(20, sub);
    DirData longSub;
    longSub.AddDots(21, 20).Add(ShortEntry("B       TXT", 0x20, 41, 12));
    fat.WriteCluster(21, longSub);
    DirData child;
    child.AddDots(15, 20).Add(ShortEntry("CHILD   TXT", 0x20, 42, 13));
    fat.WriteCluster(15, child);
    DirData wrongSelf;  // starts like a subfolder but names another cluster
    wrongSelf.AddDots(99, 20).Add(ShortEntry("HIDDEN  TXT", 0x20, 43, 1));
    fat.WriteCluster(22, wrongSelf);
    // Cluster 25: a continuation cluster; its third entry is a volume label,
    // which no directory but the root holds: the rest is not directory data.
    DirData cont;
    cont.Add(ShortEntry("C1      TXT", 0x20, 44, 1))
        .Add(ShortEntry("C2      TXT", 0x20, 45, 1))
        .Add(ShortEntry("LABEL      ", 0x08, 0))
        .Add(ShortEntry("C3      TXT", 0x20, 46, 1));
    fat.WriteCluster(25, cont);

    fat.disk.directorySectors = {fat.SectorOf(15), fat.SectorOf(20), fat.SectorOf(21), fat.SectorOf(25),
                                 fat.SectorOf(26) + 1};
    fat.disk.carvedFiles[fat.SectorOf(30)] = CarvedFile{};
    fat.disk.carvedFiles[fat.SectorOf(31)] = CarvedFile{};
    MarkFatSpecialFolders(fat.partition(), 2, true);
  }

  CraftedFat fat;
};

TEST_F(FatRebuild, RecordedClustersBecomeNumberedFolders) {
  ASSERT_TRUE(RebuildFat32FromSectors(*fat.device, fat.partition(), fat.disk, fat.progress, fat.SectorOf(15)));
  const FatFileEntry& root = fat.tree().fatRoot;
  const FatFileEntry& lost = fat.tree().fatLost;
  EXPECT_EQ(lost.name, "零散目录");
  EXPECT_EQ(lost.state(), kFolder);
  // A subfolder's first cluster: a numbered folder under the root.
  const FatFileEntry* twenty = Child(root, "20");
  ASSERT_NE(twenty, nullptr);
  EXPECT_EQ(twenty->firstCluster, 20u);
  EXPECT_NE(Child(*twenty, "A.TXT"), nullptr);
  ASSERT_NE(Child(*twenty, "long sub"), nullptr);
  EXPECT_NE(Child(*Child(*twenty, "long sub"), "B.TXT"), nullptr);
  // Reached through its parent: not listed again as "21".
  EXPECT_EQ(Child(root, "21"), nullptr);
  // Its recorded sector came first: it stays "15"; the parent lists it by
  // its short name only, empty, and not at all by its long name.
  ASSERT_NE(Child(root, "15"), nullptr);
  EXPECT_NE(Child(*Child(root, "15"), "CHILD.TXT"), nullptr);
  EXPECT_EQ(Child(*twenty, "child seen first"), nullptr);
  ASSERT_NE(Child(*twenty, "SHORTSUB"), nullptr);
  EXPECT_TRUE(Child(*twenty, "SHORTSUB")->children.empty());
  // A "." entry that names another cluster: the folder is listed, its data not trusted.
  ASSERT_NE(Child(*twenty, "WRONGSELF"), nullptr);
  EXPECT_TRUE(Child(*twenty, "WRONGSELF")->children.empty());
  // A continuation cluster: under the lost folder, cut at the label.
  const FatFileEntry* cont = Child(lost, "25");
  ASSERT_NE(cont, nullptr);
  EXPECT_EQ(cont->children.size(), 2u);
  // The sector inside cluster 26 is not a cluster start.
  EXPECT_EQ(Child(lost, "26"), nullptr);
  EXPECT_EQ(root.children.size(), 2u);
  EXPECT_EQ(lost.children.size(), 1u);
  EXPECT_EQ(fat.tree().DeletedEntryByCluster.count(25), 1u);
  EXPECT_EQ(fat.tree().NormalEntryByCluster.count(20), 1u);
}

// A deleted file whose data carving also found is listed once, in the tree.
TEST_F(FatRebuild, DeletedFileReleasesItsCarvedCopy) {
  ASSERT_TRUE(RebuildFat32FromSectors(*fat.device, fat.partition(), fat.disk, fat.progress, fat.SectorOf(15)));
  const FatFileEntry* del = Child(*Child(fat.tree().fatRoot, "20"), "?EL.JPG");
  ASSERT_NE(del, nullptr);
  EXPECT_EQ(del->state(), kDeletedFile);
  EXPECT_EQ(fat.disk.carvedFiles.count(fat.SectorOf(30)), 0u);
  EXPECT_EQ(fat.disk.carvedFiles.count(fat.SectorOf(31)), 1u);
}

TEST_F(FatRebuild, RecordedSectorsBeyondThePartitionAreLeftOut) {
  fat.partition().sectorCount = fat.SectorOf(21);  // 21 and 25 now lie past the end
  ASSERT_TRUE(RebuildFat32FromSectors(*fat.device, fat.partition(), fat.disk, fat.progress, fat.SectorOf(15)));
  EXPECT_EQ(Child(fat.tree().fatLost, "25"), nullptr);
  ASSERT_NE(Child(fat.tree().fatRoot, "20"), nullptr);
}

TEST_F(FatRebuild, StopEndsTheRebuild) {
  fat.progress.RequestStop();
  EXPECT_FALSE(RebuildFat32FromSectors(*fat.device, fat.partition(), fat.disk, fat.progress, fat.SectorOf(15)));
  EXPECT_EQ(Child(fat.tree().fatLost, "25"), nullptr);
}

}  // namespace
}  // namespace quorvel::test
