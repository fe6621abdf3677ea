#include <gtest/gtest.h>

#include <thread>

#include "core/operation_busy.h"
#include "core/recording_sink.h"
#include "core/scan_progress.h"
#include "model/file_tree.h"

namespace quorvel {

// The text buffer of the dialog holds 1024 bytes; cutting must not split a
// UTF-8 sequence (a Chinese name would otherwise end in garbage).
TEST(ScanProgressTest, LongTextIsCutOnACharacterBoundary) {
  ScanProgress progress;
  std::string text;
  for (int i = 0; i < 400; ++i) text += "项";
  progress.SetText(text);
  std::string got = progress.GetText();
  EXPECT_LT(got.size(), ScanProgress::kTextSize);
  EXPECT_EQ(got.size() % 3, 0u);
}

TEST(ScanProgressTest, StepsClampAtTheUpperBound) {
  RecordingSink sink;
  ScanProgress progress;
  progress.sink = &sink;
  progress.Range(100, 1);
  for (int i = 0; i < 150; ++i) progress.Step();
  EXPECT_EQ(sink.position(), 100u);
  progress.Pos(1000);
  EXPECT_EQ(sink.position(), 100u);
}

// A worker that leaves early (stop, error) must still clear the busy flag.
TEST(OperationBusyTest, GuardClearsOnEveryPath) {
  auto worker = [](bool failEarly) {
    OperationBusyGuard guard;
    if (failEarly) return 0;
    return 1;
  };
  std::thread t([&] { worker(true); });
  t.join();
  EXPECT_FALSE(OperationBusy().load());
  EXPECT_TRUE(TryClaimOperation());
  EXPECT_FALSE(TryClaimOperation());
  OperationBusy().store(false);
}

TEST(FileTimeTest, DosAndFileTimeTexts) {
  // No date (a FAT root, a placeholder folder) is no text, not 1980-00-00.
  EXPECT_EQ(FormatDosTime(0, 0), "");
  EXPECT_EQ(FormatDosTime(0x20, 0x1234), "");                  // day 0
  EXPECT_EQ(FormatDosTime((44 << 9) | (13 << 5) | 1, 0), "");  // month 13
  EXPECT_EQ(FormatDosTime((44 << 9) | (2 << 5) | 29, (13 << 11) | (5 << 5) | 7), "2024-02-29 13:05:14");
  EXPECT_EQ(FormatFileTime(0), "");
  // 2024-12-31 20:00:00 UTC shows the next day at UTC+8.
  const uint64_t seconds = 1735675200ULL + 11644473600ULL;
  EXPECT_EQ(FormatFileTime(seconds * 10000000ULL), "2025-01-01 04:00:00");
  // Stored values a writer should never make are shown as they are, in the
  // same widths: the first FILETIME second, the last one (a five-digit
  // year), and a DOS time word with hour 31, minute 63 and second 62.
  EXPECT_EQ(FormatFileTime(1), "1601-01-01 08:00:00");
  EXPECT_EQ(FormatFileTime(UINT64_MAX), "60056-05-28 13:36:10");
  EXPECT_EQ(FormatDosTime((127 << 9) | (12 << 5) | 31, 0xFFFF), "2107-12-31 31:63:62");
  EXPECT_EQ(std::string(DosTimeText((44 << 9) | (2 << 5) | 29, 0).view()), "2024-02-29 00:00:00");
}

// Copying a record deep-copies the tree: indexes and parent pointers must aim
// at the copy, not at the record copied from (which may be freed).
TEST(FileTreeTest, CopyReaimsPointers) {
  FileTreeBox box;
  box->fatRoot.name = "根目录";
  FatFileEntry folder;
  folder.name = "docs";
  SetEntryState(folder.flags, kFolder);
  folder.firstCluster = 7;
  folder.accessDate = (44 << 9) | (3 << 5) | 2;
  FatFileEntry* placed = AddFatChild(box->fatRoot, folder, true);
  FatFileEntry file;
  file.name = "a.txt";
  file.firstCluster = 9;
  FatFileEntry* placedFile = AddFatChild(*placed, file, false);
  box->NormalEntryByCluster.emplace(7, placed);
  box->DeletedEntryByCluster.emplace(9, placedFile);
  NtfsFileEntry record;
  record.name = "b.txt";
  record.sequence = 3;
  record.mftChangeTime = 133000000000000000ull;
  box->EntryByNumber.emplace(64, AddNtfsChild(box->ntfsRoot, record, false));

  FileTreeBox copy = box;
  ClearFileTree(*box);
  // Every field comes along, not only the ones a listing shows first.
  const NtfsFileEntry* copiedRecord = copy->EntryByNumber.Find(64);
  ASSERT_EQ(copiedRecord, &copy->ntfsRoot.children.front());
  EXPECT_EQ(copiedRecord->sequence, 3);
  EXPECT_EQ(copiedRecord->mftChangeTime, 133000000000000000ull);
  ASSERT_EQ(copy->NormalEntryByCluster.size(), 1u);
  FatFileEntry* copied = copy->NormalEntryByCluster.begin()->second;
  EXPECT_EQ(copied->name, "docs");
  EXPECT_EQ(copied->parent, &copy->fatRoot);
  EXPECT_EQ(copied->accessDate, (44 << 9) | (3 << 5) | 2);
  EXPECT_EQ(copied->children.front().parent, copied);
  EXPECT_EQ(copy->DeletedEntryByCluster.begin()->second, &copied->children.front());
}

// Record numbers index a vector; a damaged record's huge number must neither
// grow it without bound nor be lost, and the first entry for a number wins.
TEST(FileTreeTest, RecordIndexTakesHugeNumbersAndKeepsTheFirst) {
  NtfsFileEntry a, b, c;
  RecordIndex index;
  EXPECT_TRUE(index.emplace(1ull << 40, &a));
  EXPECT_TRUE(index.emplace(5, &b));
  EXPECT_FALSE(index.emplace(5, &c));
  for (uint64_t n = 6; n < 300000; ++n) index.emplace(n, &c);
  EXPECT_EQ(index.Find(1ull << 40), &a);
  EXPECT_EQ(index.Find(5), &b);
  EXPECT_EQ(index.Find(4), nullptr);
  EXPECT_EQ(index.size(), 300000u - 6u + 2u);
  size_t visited = 0;
  index.ForEach([&](uint64_t, const NtfsFileEntry*) { ++visited; });
  EXPECT_EQ(visited, index.size());
}

}  // namespace quorvel
