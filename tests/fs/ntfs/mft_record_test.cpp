// Decoding single MFT records built byte by byte: header layouts, names, run
// lists, attribute lists and records that lie about their lengths.
#include <gtest/gtest.h>

#include <cstring>

#include "fs/ntfs/mft_record.h"
#include "fs/ntfs/ntfs_craft.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::Bytes;
using test::RecordBuilder;
using test::Ref;

bool Decode(const Bytes& record, uint64_t number, RecordDetails& details) {
  PartitionRecord partition;
  return DecodeMftRecord(record, number, details, MemorySource({}), partition, {}, kMainRecord);
}

// Faults caught: a short or lying run list read past its end, a negative
// offset added as unsigned, wide fields silently zeroed, sparse runs given a
// cluster.
TEST(RunList, ThreeByteLengthWithNegativeThreeByteOffsetAndSparseRuns) {
  const Bytes list = {0x33, 0x45, 0x23, 0x01, 0x00, 0x00, 0x10,  // 0x12345 clusters at 0x100000
                      0x01, 0x20,                                // 32 sparse clusters
                      0x33, 0x10, 0x00, 0x00, 0x00, 0x00, 0xF8,  // 16 clusters at 0x100000 - 0x80000
                      0x00};
  std::vector<DataRun> runs;
  ASSERT_TRUE(DecodeRunList(list, 0, runs));
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].startCluster, 0x100000u);
  EXPECT_EQ(runs[0].clusterCount, 0x12345u);
  EXPECT_TRUE(runs[1].sparse);
  EXPECT_EQ(runs[1].startCluster, 0u);
  EXPECT_EQ(runs[1].vcn, 0x12345u);
  EXPECT_EQ(runs[2].startCluster, 0x80000u);
  EXPECT_EQ(runs[2].vcn, 0x12345u + 0x20);
}

TEST(RunList, FieldsWiderThanFourBytesAreDecoded) {
  const Bytes list = {0x56, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01,  // 2^40 + 1 clusters
                      0x9A, 0x78, 0x56, 0x34, 0x12, 0x00,        // at 0x123456789A
                      0x00};
  std::vector<DataRun> runs;
  ASSERT_TRUE(DecodeRunList(list, 0, runs));
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].clusterCount, (1ull << 40) + 1);
  EXPECT_EQ(runs[0].startCluster, 0x123456789Aull);
}

TEST(RunList, ListsThatLieAreCutNotReadPast) {
  std::vector<DataRun> runs;
  const Bytes pastEnd = {0x11, 0x04, 0x10, 0x34, 0x05};  // second run needs 7 bytes, 1 left
  EXPECT_FALSE(DecodeRunList(pastEnd, 0, runs));
  EXPECT_EQ(runs.size(), 1u);
  runs.clear();
  const Bytes beforeZero = {0x11, 0x04, 0x10, 0x11, 0x04, 0xE0, 0x00};  // 16 - 32 < 0
  EXPECT_FALSE(DecodeRunList(beforeZero, 0, runs));
  EXPECT_EQ(runs.size(), 1u);
  runs.clear();
  const Bytes tooWide = {0x19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0};
  EXPECT_FALSE(DecodeRunList(tooWide, 0, runs));
  EXPECT_TRUE(runs.empty());
}

// Faults caught: the older header layout read with a stored number it does
// not have; a slot holding another record accepted.
TEST(MftRecord, OlderLayoutTakesTheNumberAskedAndMismatchIsRefused) {
  Bytes older = RecordBuilder(0, 1, 1, true).FileName(Ref(5, 5), "old.txt").FinishFixedUp();
  RecordDetails details;
  ASSERT_TRUE(Decode(older, 77, details));
  EXPECT_EQ(details.recordNumber, 77u);
  EXPECT_EQ(details.fileName.name, "old.txt");

  Bytes other = RecordBuilder(78, 1).FileName(Ref(5, 5), "x").FinishFixedUp();
  RecordDetails mismatch;
  EXPECT_FALSE(Decode(other, 77, mismatch));
}

// Faults caught: a deleted file shown as in use (or a folder as a file)
// because the flags word was read wrong; an unknown flags word given a state
// and listed.
TEST(MftRecord, StateComesFromTheFlagsWord) {
  const std::pair<uint16_t, uint8_t> cases[] = {{0, kDeletedFile}, {1, kFile},    {2, kDeletedFolder}, {3, kFolder},
                                                {7, kFolder},      {4, kNoState}, {5, kNoState},       {8, kNoState}};
  for (const auto& [flags, state] : cases) {
    RecordDetails details;
    ASSERT_TRUE(Decode(RecordBuilder(90, flags).FileName(Ref(5, 5), "f").FinishFixedUp(), 90, details)) << flags;
    EXPECT_EQ(details.state, state) << "flags " << flags;
    EXPECT_EQ(details.flagsWord, flags);
  }
}

// Faults caught: the DOS 8.3 twin shown instead of the long name; a DOS-only
// name dropped; names outside code page 936 cut; record 5 not named.
TEST(MftRecord, NameChoiceKeepsWin32OverDosInEitherOrder) {
  RecordDetails a, b, c, root;
  ASSERT_TRUE(Decode(RecordBuilder(40, 1)
                         .FileName(Ref(5, 5), "LONGNA~1.TXT", 2)
                         .FileName(Ref(5, 5), "long name 😀 报告.txt", 1)
                         .FinishFixedUp(),
                     40, a));
  EXPECT_EQ(a.fileName.name, "long name 😀 报告.txt");
  ASSERT_TRUE(Decode(RecordBuilder(41, 1)
                         .FileName(Ref(5, 5), "long name.txt", 1)
                         .FileName(Ref(5, 5), "LONGNA~1.TXT", 2)
                         .FinishFixedUp(),
                     41, b));
  EXPECT_EQ(b.fileName.name, "long name.txt");
  ASSERT_TRUE(Decode(RecordBuilder(42, 1).FileName(Ref(5, 5), "ONLYDOS.TXT", 2).FinishFixedUp(), 42, c));
  EXPECT_EQ(c.fileName.name, "ONLYDOS.TXT");
  ASSERT_TRUE(Decode(RecordBuilder(5, 3, 5).FileName(Ref(5, 5), ".", 3).FinishFixedUp(), 5, root));
  EXPECT_EQ(root.fileName.name, "根目录");
}

// Faults caught: resident size taken with the 8-byte padding; a stale name
// size preferred over the stream's own; named streams taken as the file.
TEST(MftRecord, SizesComeFromTheUnnamedDataStream) {
  RecordDetails resident;
  ASSERT_TRUE(Decode(RecordBuilder(50, 1)
                         .FileName(Ref(5, 5), "r.txt", 1, 0, 0)
                         .ResidentData(Bytes{'a', 'b', 'c', 'd', 'e'})
                         .ResidentData(Bytes(40, 'z'), "stream")
                         .FinishFixedUp(),
                     50, resident));
  EXPECT_EQ(resident.size, 5u);
  EXPECT_EQ(resident.residentData, (Bytes{'a', 'b', 'c', 'd', 'e'}));
  EXPECT_FALSE(resident.nonResident);

  RecordDetails nonResident;
  ASSERT_TRUE(Decode(RecordBuilder(51, 1)
                         .FileName(Ref(5, 5), "n.bin", 1, 999999, 0)
                         .NonResidentData({0x11, 0x03, 0x40, 0x00}, 10000, 0, kAttrCompressed, 4)
                         .FinishFixedUp(),
                     51, nonResident));
  EXPECT_EQ(nonResident.size, 10000u);
  EXPECT_TRUE(nonResident.IsCompressed());
  EXPECT_EQ(nonResident.CompressionUnitClusters(), 16u);
  ASSERT_EQ(nonResident.dataRuns.size(), 1u);
  EXPECT_EQ(nonResident.dataRuns[0].startCluster, 0x40u);

  RecordDetails folder;  // no stream: the name's sizes
  ASSERT_TRUE(Decode(RecordBuilder(52, 3).FileName(Ref(5, 5), "d", 1, 0, 4096).FinishFixedUp(), 52, folder));
  EXPECT_EQ(folder.size, 4096u);
}

// Faults caught: reading past the record through an attribute length, a
// value length, a name length or an index entry length that lies.
TEST(MftRecord, LyingLengthsAreCutAtTheRecord) {
  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  Bytes past(0x20, 0);
  past[0] = 0x80;
  past[4] = 0x00;
  past[5] = 0x10;  // length 4096
  Bytes record = RecordBuilder(60, 1).FileName(Ref(5, 5), "kept").RawAttribute(past).FinishFixedUp();
  EXPECT_FALSE(ListAttributes(record, attributes));
  ASSERT_EQ(attributes.size(), 1u);  // the name before the lie
  RecordDetails details;
  ASSERT_TRUE(Decode(record, 60, details));
  EXPECT_EQ(details.fileName.name, "kept");
  EXPECT_FALSE(details.hasData);

  // A resident value that claims 64 KiB inside a 0x20-byte attribute.
  Bytes value(0x20, 0);
  value[0] = 0x80;
  value[4] = 0x20;
  value[0x10] = 0x00;
  value[0x11] = 0x00;
  value[0x12] = 0x01;  // 65536
  value[0x14] = 0x18;
  RecordDetails cut;
  ASSERT_TRUE(Decode(RecordBuilder(61, 1).RawAttribute(value).FinishFixedUp(), 61, cut));
  EXPECT_EQ(cut.residentData.size(), 8u);

  // A $FILE_NAME whose name length reaches past its attribute: no name.
  Bytes name = RecordBuilder(62, 1).FileName(Ref(5, 5), "abc").FinishFixedUp();
  name[0x38 + 0x18 + 0x40] = 200;
  RecordDetails unnamed;
  ASSERT_TRUE(Decode(name, 62, unnamed));
  EXPECT_FALSE(unnamed.hasFileName);

  // A first-attribute offset at the very end of the record.
  Bytes end = RecordBuilder(63, 1).FinishFixedUp();
  end[0x14] = 0xFE;
  end[0x15] = 0x03;
  EXPECT_FALSE(ListAttributes(end, attributes));
  EXPECT_TRUE(attributes.empty());
}

TEST(MftRecord, IndexRootKeepsWin32AndCombinedNames) {
  RecordDetails details;
  ASSERT_TRUE(Decode(RecordBuilder(70, 3)
                         .FileName(Ref(5, 5), "dir")
                         .IndexRoot({{Ref(80, 1), Ref(70, 1), "Long File.txt", 1},
                                     {Ref(80, 1), Ref(70, 1), "LONGFI~1.TXT", 2},
                                     {Ref(81, 1), Ref(70, 1), "a.txt", 3},
                                     {Ref(82, 1), Ref(70, 1), "posix", 0}})
                         .FinishFixedUp(),
                     70, details));
  ASSERT_EQ(details.indexEntries.size(), 2u);
  EXPECT_EQ(details.indexEntries[0].key.name, "Long File.txt");
  EXPECT_EQ(details.indexEntries[1].key.name, "a.txt");
  EXPECT_EQ(details.indexEntries[1].fileReference, Ref(81, 1));
  EXPECT_FALSE(details.largeIndex);
}

class CraftedVolume : public ::testing::Test {
 protected:
  void SetUp() override {
    partition_.startSector = 0;
    partition_.sectorCount = 8192;
    partition_.sectorsPerCluster = 8;
    partition_.ntfs.mftStartSector = 32;
    partition_.ntfs.mftRuns = {{4, 64}};
  }
  void Open(const test::VolumeBuilder& volume) {
    path_ = volume.Write(test::MakeTempDir("mft_record") + "/volume.img");
    device_ = FileSource::Open(path_);
    ASSERT_TRUE(device_);
  }
  PartitionRecord partition_;
  std::unique_ptr<ByteSource> device_;
  std::string path_;
};

// Faults caught: a file whose name and second run-list piece live in
// extension records listed nameless or cut short; an extension slot reused by
// another file merged into this one.
TEST_F(CraftedVolume, AttributeListMergesExtensionRecords) {
  test::VolumeBuilder volume;
  volume.Put(100,
             RecordBuilder(100, 1)
                 .StandardInformation(1, 2, 3)
                 .AttributeList(
                     {{0x10, 0, Ref(100, 1)}, {0x30, 0, Ref(101, 1)}, {0x80, 0, Ref(100, 1)}, {0x80, 16, Ref(102, 1)}})
                 .NonResidentData({0x11, 0x10, 0x50, 0x00}, 32 * 4096)
                 .Finish());
  volume.Put(101, RecordBuilder(101, 1).BaseReference(Ref(100, 1)).FileName(Ref(5, 5), "split.bin").Finish());
  volume.Put(102, RecordBuilder(102, 1)
                      .BaseReference(Ref(100, 1))
                      .NonResidentData({0x01, 0x08, 0x11, 0x08, 0x20, 0x00}, 0, 16)
                      .Finish());
  // An attribute list naming a record that now belongs to file 300.
  volume.Put(103, RecordBuilder(103, 1)
                      .AttributeList({{0x80, 16, Ref(104, 1)}})
                      .FileName(Ref(5, 5), "foreign.bin")
                      .NonResidentData({0x11, 0x10, 0x60, 0x00}, 65536)
                      .Finish());
  volume.Put(
      104, RecordBuilder(104, 1).BaseReference(Ref(300, 1)).NonResidentData({0x11, 0x10, 0x70, 0x00}, 0, 16).Finish());
  Open(volume);

  RecordDetails details;
  ASSERT_TRUE(ReadMftRecord(*device_, 100, details, partition_, partition_.ntfs.mftRuns));
  EXPECT_EQ(details.fileName.name, "split.bin");
  EXPECT_EQ(details.size, 32u * 4096);
  ASSERT_EQ(details.dataRuns.size(), 3u);
  EXPECT_EQ(details.dataRuns[0].startCluster, 0x50u);
  EXPECT_TRUE(details.dataRuns[1].sparse);
  EXPECT_EQ(details.dataRuns[1].vcn, 16u);
  EXPECT_EQ(details.dataRuns[2].startCluster, 0x20u);  // offsets restart in every piece
  EXPECT_EQ(details.dataRuns[2].vcn, 24u);

  RecordDetails foreign;
  ASSERT_TRUE(ReadMftRecord(*device_, 103, foreign, partition_, partition_.ntfs.mftRuns));
  EXPECT_EQ(foreign.dataRuns.size(), 1u);
}

// Faults caught: a record asked for by number accepted from a slot that holds
// another; the by-position reader not trying further positions, or reporting
// success when none matched.
TEST_F(CraftedVolume, ByPositionTriesEveryRecordedSectorThenReportsMftError) {
  test::VolumeBuilder volume;
  volume.Put(120, RecordBuilder(120, 1).FileName(Ref(5, 5), "other.txt").ResidentData(Bytes(3, 'o')).Finish());
  volume.PutAtSector(6000, RecordBuilder(120, 1).FileName(Ref(5, 5), "old.txt").ResidentData(Bytes(9, 'x')).Finish());
  volume.PutAtSector(6100, RecordBuilder(120, 1).FileName(Ref(5, 5), "want.txt").ResidentData(Bytes(7, 'w')).Finish());
  Open(volume);

  RecordDetails byNumber;
  EXPECT_FALSE(ReadMftRecord(*device_, 121, byNumber, partition_, partition_.ntfs.mftRuns));  // empty slot

  partition_.ntfs.recordSectors[120] = 32 + 240;
  partition_.ntfs.extraRecordSectors.emplace(120, 6000);
  partition_.ntfs.extraRecordSectors.emplace(120, 6100);
  NtfsFileEntry entry;
  entry.name = "want.txt";
  entry.size = 7;
  RecordDetails details;
  EXPECT_EQ(ReadMftRecordByPosition(*device_, 120, details, partition_, partition_.ntfs.mftRuns, entry),
            RecordByPositionResult::kRead);
  EXPECT_EQ(details.residentData, Bytes(7, 'w'));

  entry.name = "nowhere.txt";
  EXPECT_EQ(ReadMftRecordByPosition(*device_, 120, details, partition_, partition_.ntfs.mftRuns, entry),
            RecordByPositionResult::kMftError);
  EXPECT_FALSE(details.hasFileName);
}

}  // namespace
}  // namespace quorvel
