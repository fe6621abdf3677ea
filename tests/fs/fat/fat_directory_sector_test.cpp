// The directory-sector test decides what format recovery can rebuild: a test
// that is too loose floods the rebuild with garbage folders, one that is too
// strict loses real directories.
#include <gtest/gtest.h>

#include "fs/fat/fat_directory_crafting.h"
#include "fs/fat/fat_directory_sweep.h"

namespace quorvel::test {
namespace {

std::vector<Entry> NamedFile(const std::string& longName, const char* shortName, uint32_t cluster, uint32_t size) {
  std::vector<Entry> out = LongNameEntries(longName, shortName);
  out.push_back(ShortEntry(shortName, 0x20, cluster, size));
  return out;
}

bool Accepts(const std::vector<Entry>& entries) { return IsFatDirectorySector(MakeSector(entries)); }

// Catches: real directory data (long names spanning several entries, folders,
// trailing zero entries) being refused.
TEST(FatDirectorySector, AcceptsOrdinaryDirectoryData) {
  std::vector<Entry> entries = NamedFile("A rather long file name.txt", "ARATHE~1TXT", 1234, 5000);
  entries.push_back(ShortEntry("DOCS       ", 0x10, 77, 0));
  entries.push_back(ShortEntry("README  TXT", 0x20, 0x12345, 10));
  EXPECT_TRUE(Accepts(entries));

  // A full sector of short entries, no zero entry at all.
  std::vector<Entry> full;
  for (int i = 0; i < 16; ++i) full.push_back(ShortEntry("FILE    BIN", 0x20, 100 + i, 1));
  EXPECT_TRUE(Accepts(full));

  // A run cut by the sector start: its tail entries come first.
  std::vector<Entry> tail = LongNameEntries("Another quite long name here.doc", "ANOTHE~1DOC");
  tail.erase(tail.begin());
  tail.push_back(ShortEntry("ANOTHE~1DOC", 0x20, 50, 3));
  EXPECT_TRUE(Accepts(tail));
}

// Catches: a root sector with its label refused, or a sector with two labels
// (not a directory) accepted.
TEST(FatDirectorySector, VolumeLabelOnlyOnce) {
  Entry label = ShortEntry("MYDISK     ", 0x08, 0, 0);
  EXPECT_TRUE(Accepts({label}));
  EXPECT_TRUE(Accepts({label, ShortEntry("DOCS       ", 0x10, 3, 0)}));
  EXPECT_FALSE(Accepts({label, label}));
  EXPECT_FALSE(Accepts({label, ShortEntry("DOCS       ", 0x10, 3, 0), label}));
}

// Catches: long-name runs that skip an order number, are not closed by order 1
// before their short entry, or belong to another short name.
TEST(FatDirectorySector, LongNameOrderAndChecksum) {
  std::vector<Entry> skipped = NamedFile("This name needs three long entries.txt", "THISNA~1TXT", 9, 1);
  ASSERT_EQ(skipped.size(), 4u);
  skipped.erase(skipped.begin() + 1);  // orders 3, 1
  EXPECT_FALSE(Accepts(skipped));

  // Orders 3, 2 and then the short entry, checksum matching.
  std::vector<Entry> unclosed = NamedFile("This name needs three long entries.txt", "THISNA~1TXT", 9, 1);
  unclosed.erase(unclosed.begin() + 2);
  EXPECT_FALSE(Accepts(unclosed));

  std::vector<Entry> wrongSum = NamedFile("Long name for checksum.txt", "LONGNA~1TXT", 9, 1);
  wrongSum.back()[7] = '2';  // short name changed after the long name was written
  EXPECT_FALSE(Accepts(wrongSum));

  std::vector<Entry> clusterSet = NamedFile("Long name for cluster.txt", "LONGNA~1TXT", 9, 1);
  PutLe16(&clusterSet[0][26], 5);
  EXPECT_FALSE(Accepts(clusterSet));

  // Deleted long-name entries carry no usable order; a renamed file keeps a
  // live short entry after them.
  std::vector<Entry> deleted = NamedFile("Deleted long name here.txt", "DELETE~1TXT", 9, 1);
  for (Entry& e : deleted) e[0] = 0xE5;
  deleted.push_back(ShortEntry("RENAMED TXT", 0x20, 10, 1));
  EXPECT_TRUE(Accepts(deleted));
}

// Catches: time and date words outside what a FAT driver writes (text, random
// data) passing as entries; a legitimately old-but-valid date refused.
TEST(FatDirectorySector, DateAndTimeRanges) {
  auto with = [](int offset, uint16_t value) {
    Entry e = ShortEntry("REPORT  DOC", 0x20, 40, 100);
    PutLe16(&e[offset], value);
    if (offset == 16) PutLe16(&e[18], value);  // keep the access date not before it
    return e;
  };
  EXPECT_TRUE(Accepts({with(14, 0xBF7E)}));
  EXPECT_FALSE(Accepts({with(14, 0xBF7F)}));
  EXPECT_FALSE(Accepts({with(22, 0xBF7F)}));
  EXPECT_TRUE(Accepts({with(16, 0x2821)}));
  EXPECT_FALSE(Accepts({with(16, 0x2820)}));
  EXPECT_TRUE(Accepts({with(24, 0xC99F)}));
  EXPECT_FALSE(Accepts({with(24, 0xC9A0)}));
  EXPECT_FALSE(Accepts({with(24, 0)}));
  EXPECT_FALSE(Accepts({with(18, kDate - 1)}));  // accessed before created
  // Deleted entries are held to the same ranges.
  Entry deleted = with(16, 0x1000);
  deleted[0] = 0xE5;
  EXPECT_FALSE(Accepts({deleted}));
}

// Catches: garbage after the end marker, and short entries that cannot be
// real (zero name bytes, data without a cluster, deleted FAT32 high word,
// attribute or case bits no driver sets).
TEST(FatDirectorySector, ZeroEntriesAndShortEntryFields) {
  Entry file = ShortEntry("DATA    BIN", 0x20, 40, 100);
  Entry dirtyEnd{};
  dirtyEnd[5] = 1;
  EXPECT_FALSE(Accepts({file, dirtyEnd}));
  EXPECT_TRUE(Accepts({file, Entry{}}));

  Entry shortName = file;
  shortName[9] = 0;
  EXPECT_FALSE(Accepts({shortName}));

  EXPECT_FALSE(Accepts({ShortEntry("DATA    BIN", 0x20, 1, 100)}));
  EXPECT_TRUE(Accepts({ShortEntry("EMPTY   BIN", 0x20, 0, 0)}));
  EXPECT_TRUE(Accepts({ShortEntry("HIGH    BIN", 0x20, 0x10001, 100)}));  // low word 1, high word set

  Entry deletedHigh = ShortEntry("OLD     BIN", 0x20, 0x10040, 100);
  deletedHigh[0] = 0xE5;
  EXPECT_FALSE(Accepts({deletedHigh}));
  Entry deletedLow = ShortEntry("OLD     BIN", 0x20, 0x40, 100);
  deletedLow[0] = 0xE5;
  EXPECT_TRUE(Accepts({deletedLow}));

  EXPECT_FALSE(Accepts({ShortEntry("ODD     BIN", 0x80, 40, 1)}));
  Entry caseByte = file;
  caseByte[12] = 0x01;
  EXPECT_FALSE(Accepts({caseByte}));
  caseByte[12] = 0x18;
  EXPECT_TRUE(Accepts({caseByte}));
}

TEST(FatDirectorySector, SubfolderFirstSectorNeedsDotDotAndZeroSizes) {
  Sector first = SubfolderFirstSector(10, 0, {});
  EXPECT_TRUE(IsSubfolderFirstSector(first));
  Sector sized = first;
  PutLe32(sized.data() + 32 + 28, 4);
  EXPECT_FALSE(IsSubfolderFirstSector(sized));
  Sector noDotDot = first;
  noDotDot[33] = 'X';
  EXPECT_FALSE(IsSubfolderFirstSector(noDotDot));
}

}  // namespace
}  // namespace quorvel::test
