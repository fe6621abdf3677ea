// Text encodings of scan-result files: ours are UTF-8; files written on a
// Chinese Windows system are in code page 936 and are read as GB18030.
#include <gtest/gtest.h>

#include <fstream>

#include "scanfile/scan_file_crafting.h"
#include "scanfile/scan_file_writer.h"
#include "support/test_support.h"

namespace quorvel {
namespace {

using test::LoadText;

DiskRecord ChineseDisk() {
  DiskRecord disk;
  disk.vendor = "磁盘镜像.img";
  PartitionRecord p;
  p.name = "分区一";
  p.volumeLabel = "数据盘";
  p.fsKind = 0x07;
  p.startSector = 2048;
  p.sectorCount = 4096;
  disk.partitions.push_back(p);
  disk.carvedFiles[4096] = {0, 1000, "家庭聚会的照片.jpg", "jpg"};
  return disk;
}

std::string ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes = test::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A file converted with iconv to GB18030 loads with the right Chinese
// identity, names and labels; the same file in UTF-8 is taken as UTF-8.
TEST(ScanFileEncoding, Gb18030FileFromIconvReadsBackChinese) {
  const std::string dir = test::MakeTempDir("scanfile-gb");
  const std::string utf8 = dir + "/utf8.rvz_scn", gb = dir + "/gb.rvz_scn";
  ASSERT_EQ(SaveScanResult(ChineseDisk(), utf8).status, ScanFileSaveStatus::kSaved);
  test::CommandResult iconv =
      test::RunCommand("iconv -f UTF-8 -t GB18030 -o " + test::ShellQuote(gb) + " " + test::ShellQuote(utf8));
  ASSERT_EQ(iconv.exitCode, 0) << iconv.err;
  ASSERT_EQ(ReadFile(gb).find("数据盘"), std::string::npos);  // really another encoding
  ASSERT_GT(ReadFile(gb).size(), 100u);

  for (const std::string& path : {utf8, gb}) {
    SCOPED_TRACE(path);
    DiskRecord disk;
    disk.vendor = "磁盘镜像.img";
    const ScanFileLoadResult result = LoadScanResult(disk, path);
    ASSERT_EQ(result.status, ScanFileLoadStatus::kLoaded);
    EXPECT_EQ(result.encoding, path == gb ? ScanFileEncoding::kGb18030 : ScanFileEncoding::kUtf8);
    ASSERT_EQ(disk.partitions.size(), 1u);
    EXPECT_EQ(disk.partitions.front().name, "分区一");
    EXPECT_EQ(disk.partitions.front().volumeLabel, "数据盘");
    EXPECT_EQ(disk.carvedFiles[4096].name, "家庭聚会的照片.jpg");
  }
}

// A UTF-8 byte-order mark (a file saved by an editor) is no part of line 1;
// a file cut inside a character is still UTF-8 (the cut line is damage).
TEST(ScanFileEncoding, ByteOrderMarkAndCutCharacter) {
  const std::string text = ScanResultText(ChineseDisk());
  DiskRecord disk;
  disk.vendor = "磁盘镜像.img";
  ScanFileLoadResult result = LoadText(disk, "\xEF\xBB\xBF" + text);
  EXPECT_EQ(result.status, ScanFileLoadStatus::kLoaded);

  const size_t label = text.find("数据盘");
  ASSERT_NE(label, std::string::npos);
  disk = DiskRecord();
  disk.vendor = "磁盘镜像.img";
  result = LoadText(disk, text.substr(0, label + 4));  // inside the label's second character
  EXPECT_EQ(result.status, ScanFileLoadStatus::kDamaged);
  EXPECT_EQ(result.encoding, ScanFileEncoding::kUtf8);
  EXPECT_EQ(disk.carvedFiles[4096].name, "家庭聚会的照片.jpg");
}

}  // namespace
}  // namespace quorvel
