// The FAT directory parser on hand-made directory clusters: the cases that
// mkfs.fat and mtools cannot make (cleared high words, overwritten clusters,
// loops, truncated long-name runs, odd attributes).
#include <gtest/gtest.h>

#include "fs/fat/fat_crafting.h"
#include "fs/fat/fat_directory_parser.h"
#include "fs/fat/fat_names.h"

namespace quorvel::test {
namespace {

// Wrong names are wrong files on the save target.
TEST(FatNames, ShortNamesFollowTheEntryBytes) {
  EXPECT_EQ(FatShortName(ShortEntry("README  TXT", 0x20, 5), false), "README.TXT");
  EXPECT_EQ(FatShortName(ShortEntry("NOEXT      ", 0x20, 5), false), "NOEXT");
  // Trailing spaces of a short extension are padding, not part of the name.
  EXPECT_EQ(FatShortName(ShortEntry("A       B  ", 0x20, 5), false), "A.B");
  // A folder keeps all 11 bytes, inner spaces included, and gets no dot.
  EXPECT_EQ(FatShortName(ShortEntry("DOCS    OLD", 0x10, 5), true), "DOCS    OLD");
  // The lower-case flags (base 0x08, extension 0x10) that Windows and mtools write.
  Entry lower = ShortEntry("README  TXT", 0x20, 5);
  lower[12] = 0x18;
  EXPECT_EQ(FatShortName(lower, false), "readme.txt");
  lower[12] = 0x08;
  EXPECT_EQ(FatShortName(lower, false), "readme.TXT");
  // Code page 936 bytes, and 0x05 standing for a lead byte 0xE5.
  EXPECT_EQ(FatShortName(ShortEntry("\xD6\xD0\xCE\xC4    TXT", 0x20, 5), false), "中文.TXT");
  EXPECT_EQ(FatShortName(ShortEntry("\x05\xA1      TXT", 0x20, 5), false), Cp936ToUtf8("\xE5\xA1") + ".TXT");
  // A deleted entry's first byte is lost: "?" stands for it, alone.
  EXPECT_EQ(FatShortName(Deleted(ShortEntry("README  TXT", 0x20, 5)), false), "?EADME.TXT");
  EXPECT_EQ(FatShortName(Deleted(ShortEntry("X          ", 0x10, 5)), true), "?");
}

// Volume labels and unknown attributes must not become files; files must
// not be lost to an early end-of-directory guess.
TEST(FatParser, RootEntriesByAttributeAndCluster) {
  CraftedFat fat(false);
  DirData root;
  root.Add(ShortEntry("MYLABEL    ", 0x08, 0))
      .Add(ShortEntry("ARCHIVE BIN", 0x27, 20, 10))
      .Add(ShortEntry("ODD     BIN", 0x18, 21, 10))
      .Add(ShortEntry("EMPTY   TXT", 0x20, 0, 0))
      .Add(ShortEntry("GARBAGE TXT", 0x20, 0, 4000))
      .Add(Entry{})  // a free slot, not the end: entries after it still count
      .AddNamed("long name without cluster.txt", ShortEntry("LONGNA~1TXT", 0x20, 0, 4000));
  ASSERT_TRUE(fat.ParseRoot(root, 0));
  const FatFileEntry& r = fat.tree().fatRoot;
  EXPECT_EQ(r.name, "根目录");
  EXPECT_EQ(r.state(), kFolder);
  EXPECT_EQ(r.children.size(), 3u);
  ASSERT_NE(Child(r, "ARCHIVE.BIN"), nullptr);
  EXPECT_EQ(Child(r, "ARCHIVE.BIN")->state(), kFile);
  EXPECT_EQ(Child(r, "ARCHIVE.BIN")->size, 10u);
  EXPECT_NE(Child(r, "EMPTY.TXT"), nullptr);    // a real empty file
  EXPECT_EQ(Child(r, "GARBAGE.TXT"), nullptr);  // a size but no cluster: not a file
  EXPECT_NE(Child(r, "long name without cluster.txt"), nullptr);
  EXPECT_EQ(Child(r, "MYLABEL"), nullptr);
  EXPECT_EQ(fat.tree().NormalEntryByCluster.count(20), 1u);
}

// Names outside code page 936 must be kept: dropping them loses the file.
TEST(FatParser, LongNamesAreKeptWhole) {
  CraftedFat fat(true);
  const std::string emoji = "photo 😀 from the trip, 2024.jpg";  // a surrogate pair inside a piece boundary
  DirData root;
  root.AddNamed(emoji, ShortEntry("PHOTOF~1JPG", 0x20, 30, 100))
      .AddNamed("한글 파일.txt", ShortEntry("___~1   TXT", 0x20, 31, 5))
      .AddNamed("exactly13char", ShortEntry("EXACTL~1   ", 0x20, 32, 5));  // no NUL, no padding
  // Pieces left by a program that renamed only the short entry: the
  // checksum no longer fits, so the short name is the name.
  Entry renamed = ShortEntry("RENAMED TXT", 0x20, 33, 5);
  std::vector<Entry> stale = LongEntries("stale long name.txt", ShortEntry("STALEL~1TXT", 0x20, 0));
  for (const Entry& e : stale) root.Add(e);
  root.Add(renamed);
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry& r = fat.tree().fatRoot;
  EXPECT_NE(Child(r, emoji), nullptr);
  EXPECT_NE(Child(r, "한글 파일.txt"), nullptr);
  EXPECT_NE(Child(r, "exactly13char"), nullptr);
  EXPECT_NE(Child(r, "RENAMED.TXT"), nullptr);
  EXPECT_EQ(Child(r, "stale long name.txt"), nullptr);
  EXPECT_EQ(r.children.size(), 4u);
}

// A run whose entries or short entry would lie past the data must not be
// read beyond it (ASan watches the exact-size buffers).
TEST(FatParser, LongNameRunsAtTheEndOfTheData) {
  CraftedFat fat(false);
  MarkFatSpecialFolders(fat.partition(), 0, false);
  FatFileEntry& root = fat.tree().fatRoot;
  {
    // In use: sequence 0x43 promises two more entries that are not there.
    DirData d;
    d.Add(ShortEntry("FIRST   TXT", 0x20, 40, 1));
    Entry head = LongEntries("a name of more than twenty six characters", ShortEntry("X          ", 0x20, 0))[0];
    d.Add(head);
    std::vector<uint8_t> exact = d.bytes;
    ASSERT_TRUE(ParseFat16Directory(*fat.device, exact, root, fat.partition(), fat.visited, fat.progress, fat.counter));
  }
  {
    // Deleted: 0x0F entries up to the very end, no short entry.
    DirData d;
    d.Add(ShortEntry("SECOND  TXT", 0x20, 41, 1));
    for (const Entry& e : LongEntries("deleted run reaching the end.txt", ShortEntry("DELETE~1TXT", 0x20, 0)))
      d.Add(Deleted(e));
    std::vector<uint8_t> exact = d.bytes;
    ASSERT_TRUE(ParseFat16Directory(*fat.device, exact, root, fat.partition(), fat.visited, fat.progress, fat.counter));
  }
  {
    // A run with a short entry but 20+ pieces claimed is not a run; the short
    // entry is still listed by its own name.
    DirData d;
    Entry bogus = LongEntries("x", ShortEntry("THIRD   TXT", 0x20, 42, 1))[0];
    bogus[0] = 0x40 | 0x3F;
    d.Add(bogus).Add(ShortEntry("THIRD   TXT", 0x20, 42, 1));
    std::vector<uint8_t> exact = d.bytes;
    ASSERT_TRUE(ParseFat16Directory(*fat.device, exact, root, fat.partition(), fat.visited, fat.progress, fat.counter));
  }
  EXPECT_NE(Child(root, "FIRST.TXT"), nullptr);
  EXPECT_NE(Child(root, "SECOND.TXT"), nullptr);
  EXPECT_NE(Child(root, "THIRD.TXT"), nullptr);
  EXPECT_EQ(root.children.size(), 3u);
}

// Deleted entries: files as stored; long-named deleted files keep their name;
// deleted pieces whose short slot was reused do not rename the new entry.
TEST(FatParser, DeletedFilesAndOrphanedPieces) {
  CraftedFat fat(false);
  DirData root;
  root.AddNamed("deleted report.doc", ShortEntry("DELETE~1DOC", 0x20, 50, 700), true)
      .Add(Deleted(ShortEntry("GONE    TXT", 0x20, 51, 9)));
  for (const Entry& e : LongEntries("old deleted name.txt", ShortEntry("OLDDEL~1TXT", 0x20, 0))) root.Add(Deleted(e));
  root.Add(ShortEntry("NEWFILE TXT", 0x20, 52, 3));  // reused the short slot
  ASSERT_TRUE(fat.ParseRoot(root, 0));
  const FatFileEntry& r = fat.tree().fatRoot;
  ASSERT_NE(Child(r, "deleted report.doc"), nullptr);
  EXPECT_EQ(Child(r, "deleted report.doc")->state(), kDeletedFile);
  EXPECT_EQ(Child(r, "deleted report.doc")->size, 700u);
  ASSERT_NE(Child(r, "?ONE.TXT"), nullptr);
  EXPECT_EQ(Child(r, "?ONE.TXT")->firstCluster, 51u);
  ASSERT_NE(Child(r, "NEWFILE.TXT"), nullptr);
  EXPECT_EQ(Child(r, "NEWFILE.TXT")->state(), kFile);
  EXPECT_EQ(fat.tree().DeletedEntryByCluster.count(51), 1u);
}

// FAT32 deletion may clear the high cluster word: the folder at 0x00012345
// must be found by probing h = 0 (file data, rejected) then h = 1.
TEST(FatParser, DeletedFolderWithClearedHighWordIsProbed) {
  CraftedFat fat(true, 600);  // 76800 FAT entries: candidates h = 0 and h = 1
  const uint32_t real = 0x00012345;
  std::vector<uint8_t> fileData(512, 'x');
  fileData[0] = '.';  // even a leading dot is not a "." entry without ".."
  fat.WriteCluster(0x2345, fileData);
  DirData old;
  old.AddDots(real, 0).AddNamed("kept inside.txt", ShortEntry("KEPTIN~1TXT", 0x20, 0x2400, 77), true);
  fat.WriteCluster(real, old);
  DirData root;
  Entry folder = ShortEntry("OLDDIR     ", 0x10, 0x2345);  // high word cleared
  root.Add(Deleted(folder));
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry* found = Child(fat.tree().fatRoot, "?LDDIR");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->state(), kDeletedFolder);
  EXPECT_EQ(found->firstCluster, real);
  ASSERT_NE(Child(*found, "kept inside.txt"), nullptr);
  EXPECT_EQ(fat.counter, 1u);
  EXPECT_EQ(fat.progress.GetText(), "1 项被找到");
}

TEST(FatParser, DeletedFolderProbingRejectsWhatDoesNotFit) {
  CraftedFat fat(true, 600);
  // The live parent folder at cluster 10 holds three deleted folders.
  DirData parent;
  parent.AddDots(10, 0)
      .Add(Deleted(ShortEntry("OVERWR     ", 0x10, 0x0100)))  // all candidates hold other data
      .Add(Deleted(ShortEntry("OTHERP     ", 0x10, 0x0200)))  // h = 0 names another parent, h = 1 fits
      .AddNamed("long deleted folder", ShortEntry("LONGDE~1   ", 0x10, 0x0300), true)
      .Add(Deleted(ShortEntry("REUSED     ", 0x10, 0x0020)));  // its cluster now belongs to a live folder
  fat.WriteCluster(10, parent);
  fat.EndChain(10);
  DirData other;
  other.AddDots(0x0200, 99);
  fat.WriteCluster(0x0200, other);
  DirData fits;
  fits.AddDots(0x10200, 10);
  fat.WriteCluster(0x10200, fits);
  DirData longOne;
  longOne.AddDots(0x0300, 10);
  PutLe16(&longOne.bytes[32 + 16], (40 << 9) | (1 << 5) | 2);  // the ".." entry's creation date: 2020-01-02
  PutLe32(&longOne.bytes[32 + 28], 0);
  fat.WriteCluster(0x0300, longOne);
  DirData live;
  live.AddDots(0x20, 2);
  fat.WriteCluster(0x20, live);
  fat.EndChain(0x20);
  DirData root;
  root.Add(ShortEntry("PARENT     ", 0x10, 10)).Add(ShortEntry("LIVE       ", 0x10, 0x20));
  // The root is not cluster 2 here, so the ".." test applies.
  ASSERT_TRUE(fat.ParseRoot(root, 3));
  const FatFileEntry* p = Child(fat.tree().fatRoot, "PARENT");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Child(*p, "?VERWR"), nullptr);
  ASSERT_NE(Child(*p, "?THERP"), nullptr);
  EXPECT_EQ(Child(*p, "?THERP")->firstCluster, 0x10200u);
  const FatFileEntry* longFolder = Child(*p, "long deleted folder");
  ASSERT_NE(longFolder, nullptr);
  EXPECT_EQ(longFolder->creationDate, (40 << 9) | (1 << 5) | 2);  // times from ".."
  EXPECT_EQ(Child(*p, "?EUSED"), nullptr);
}

// The "." skip belongs to a folder's first cluster; a long name that
// straddles two clusters of one folder is still one name.
TEST(FatParser, FolderChainIsOneDirectory) {
  CraftedFat fat(true);
  DirData first;
  first.AddDots(10, 0);
  for (int i = 0; i < 13; ++i) first.Add(ShortEntry("FILE" + std::to_string(10 + i) + "  TXT", 0x20, 100 + i, 1));
  std::vector<Entry> lfn = LongEntries("name across the cluster border.txt", ShortEntry("NAMEAC~1TXT", 0x20, 200, 5));
  ASSERT_EQ(lfn.size(), 3u);
  first.Add(lfn[0]);  // slot 15 of cluster 10
  DirData second;
  second.Add(lfn[1])
      .Add(lfn[2])
      .Add(ShortEntry("NAMEAC~1TXT", 0x20, 200, 5))
      .Add(ShortEntry("LAST    TXT", 0x20, 201, 1));
  fat.WriteCluster(10, first);
  fat.WriteCluster(11, second);
  fat.SetFat(10, 11);
  fat.EndChain(11);
  DirData root;
  root.Add(ShortEntry("SUB        ", 0x10, 10));
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry* sub = Child(fat.tree().fatRoot, "SUB");
  ASSERT_NE(sub, nullptr);
  EXPECT_EQ(sub->children.size(), 15u);
  EXPECT_NE(Child(*sub, "name across the cluster border.txt"), nullptr);
  EXPECT_NE(Child(*sub, "LAST.TXT"), nullptr);
  EXPECT_EQ(Child(*sub, "."), nullptr);
  EXPECT_EQ(fat.counter, 2u);  // two clusters read
}

// mtools writes folders past 65,536 entries; they are parsed in pieces, and
// a long name whose entries straddle the cut between two pieces stays whole.
TEST(FatParser, LongNameAcrossThePieceCutOfAHugeFolder) {
  constexpr uint32_t kFirst = 10;
  constexpr uint32_t kClusters = kMaxDirectoryBytes / 512 + 2;  // one piece and a bit
  CraftedFat fat(true, /*fatSectors=*/(kFirst + kClusters) * 4 / 512 + 1);
  const Entry shortEntry = ShortEntry("NAMEAC~1TXT", 0x20, 9000, 5);
  std::vector<Entry> lfn = LongEntries("a name across the piece cut.txt", shortEntry);
  ASSERT_EQ(lfn.size(), 3u);
  DirData first;
  first.AddDots(kFirst, 0).Add(ShortEntry("FIRST   TXT", 0x20, 8000, 1));
  fat.WriteCluster(kFirst, first);
  // The last cluster of the first piece ends with two of the three pieces.
  const uint32_t lastOfPiece = kFirst + kMaxDirectoryBytes / 512 - 1;
  DirData before;
  for (int i = 0; i < 14; ++i) before.Add(Entry{});
  before.Add(lfn[0]).Add(lfn[1]);
  fat.WriteCluster(lastOfPiece, before);
  DirData after;
  after.Add(lfn[2]).Add(shortEntry).Add(ShortEntry("LAST    TXT", 0x20, 9001, 1));
  fat.WriteCluster(lastOfPiece + 1, after);
  for (uint32_t c = kFirst; c + 1 < kFirst + kClusters; ++c) fat.SetFat(c, c + 1);
  fat.EndChain(kFirst + kClusters - 1);
  DirData root;
  root.Add(ShortEntry("HUGE       ", 0x10, kFirst));
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry* huge = Child(fat.tree().fatRoot, "HUGE");
  ASSERT_NE(huge, nullptr);
  EXPECT_EQ(huge->children.size(), 3u);
  EXPECT_NE(Child(*huge, "FIRST.TXT"), nullptr);
  EXPECT_NE(Child(*huge, "a name across the piece cut.txt"), nullptr);
  EXPECT_EQ(Child(*huge, "NAMEAC~1.TXT"), nullptr);
  EXPECT_NE(Child(*huge, "LAST.TXT"), nullptr);
}

// Only a run at the very end of a piece is carried, and never more than one
// name's worth of entries.
TEST(FatParser, UnfinishedLongNameRunsAreBounded) {
  const Entry s = ShortEntry("NAMEAC~1TXT", 0x20, 9000, 5);
  std::vector<Entry> lfn = LongEntries("a name", s);
  DirData done;
  done.AddNamed("a name", s);
  EXPECT_EQ(UnfinishedLongNameBytes(done.bytes), 0u);
  DirData open;
  open.Add(s).Add(lfn[0]);
  EXPECT_EQ(UnfinishedLongNameBytes(open.bytes), 32u);
  DirData runaway;
  for (int i = 0; i < 100; ++i) runaway.Add(lfn[0]);
  EXPECT_EQ(UnfinishedLongNameBytes(runaway.bytes), 20u * 32u);
}

// FAT32 requires a subfolder's first cluster to start with "."; FAT16 does not.
TEST(FatParser, Fat32SubfolderMustStartWithDot) {
  CraftedFat fat(true);
  DirData noDots;
  noDots.Add(ShortEntry("INSIDE  TXT", 0x20, 60, 1));
  fat.WriteCluster(10, noDots);
  fat.EndChain(10);
  DirData root;
  root.Add(ShortEntry("BROKEN     ", 0x10, 10));
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry* broken = Child(fat.tree().fatRoot, "BROKEN");
  ASSERT_NE(broken, nullptr);
  EXPECT_TRUE(broken->children.empty());

  CraftedFat fat16(false);
  fat16.WriteCluster(10, noDots);
  fat16.EndChain(10);
  ASSERT_TRUE(fat16.ParseRoot(root, 0));
  EXPECT_NE(Child(*Child(fat16.tree().fatRoot, "BROKEN"), "INSIDE.TXT"), nullptr);
}

// Corrupt volumes must not hang or overflow the stack.
TEST(FatParser, LoopsEnd) {
  CraftedFat fat(true);
  // A chain 10 -> 11 -> 10, a folder B whose entry leads back to its
  // grandparent A, and a folder naming its own parent.
  DirData a1, a2, b;
  a1.AddDots(10, 0).Add(ShortEntry("B          ", 0x10, 12)).Add(ShortEntry("INA     TXT", 0x20, 70, 1));
  a2.Add(ShortEntry("INA2    TXT", 0x20, 71, 1));
  b.AddDots(12, 10).Add(ShortEntry("BACKTOA    ", 0x10, 10)).Add(ShortEntry("SELF       ", 0x10, 12));
  fat.WriteCluster(10, a1);
  fat.WriteCluster(11, a2);
  fat.WriteCluster(12, b);
  fat.SetFat(10, 11);
  fat.SetFat(11, 10);
  fat.EndChain(12);
  DirData root;
  root.Add(ShortEntry("A          ", 0x10, 10));
  ASSERT_TRUE(fat.ParseRoot(root, 2));
  const FatFileEntry* a = Child(fat.tree().fatRoot, "A");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->children.size(), 3u);
  const FatFileEntry* bEntry = Child(*a, "B");
  ASSERT_NE(bEntry, nullptr);
  ASSERT_NE(Child(*bEntry, "BACKTOA"), nullptr);
  EXPECT_TRUE(Child(*bEntry, "BACKTOA")->children.empty());
  EXPECT_TRUE(Child(*bEntry, "SELF")->children.empty());
  EXPECT_EQ(fat.counter, 3u);
}

TEST(FatParser, NestingDepthIsBounded) {
  CraftedFat fat(false, 8);
  const uint32_t levels = kMaxFolderDepth + 40;
  for (uint32_t i = 0; i < levels; ++i) {
    const uint32_t c = 10 + i;
    DirData d;
    d.AddDots(c, i == 0 ? 0 : c - 1).Add(ShortEntry("NEXT       ", 0x10, c + 1));
    fat.WriteCluster(c, d);
    fat.EndChain(c);
  }
  DirData root;
  root.Add(ShortEntry("NEXT       ", 0x10, 10));
  ASSERT_TRUE(fat.ParseRoot(root, 0));
  int depth = 0;
  for (const FatFileEntry* e = &fat.tree().fatRoot; !e->children.empty(); e = &e->children.front()) ++depth;
  EXPECT_LE(depth, kMaxFolderDepth + 1);
  EXPECT_GE(depth, kMaxFolderDepth - 1);
}

// A stop request ends the parse at the next counted folder and unwinds.
TEST(FatParser, StopFlagEndsTheParse) {
  CraftedFat fat(false);
  DirData sub;
  sub.AddDots(10, 0).Add(ShortEntry("DEEP    TXT", 0x20, 80, 1));
  fat.WriteCluster(10, sub);
  fat.EndChain(10);
  DirData root;
  root.Add(ShortEntry("BEFORE  TXT", 0x20, 81, 1))
      .Add(ShortEntry("SUB        ", 0x10, 10))
      .Add(ShortEntry("AFTER   TXT", 0x20, 82, 1));
  fat.progress.RequestStop();
  EXPECT_FALSE(fat.ParseRoot(root, 0));
  const FatFileEntry& r = fat.tree().fatRoot;
  EXPECT_NE(Child(r, "BEFORE.TXT"), nullptr);
  EXPECT_EQ(Child(r, "AFTER.TXT"), nullptr);
}

}  // namespace
}  // namespace quorvel::test
