// The ddrescue mapfile: marking, what is left to copy, and the text format
// both ways (including ddrescue's own files and malformed ones).
#include <gtest/gtest.h>

#include <unistd.h>

#include "imaging/mapfile.h"
#include "imaging/mapfile_recorder.h"
#include "support/test_support.h"

using namespace quorvel;

namespace {

std::string BlocksText(const Mapfile& map) {
  std::string text;
  for (const MapBlock& b : map.Blocks())
    text += std::to_string(b.position) + "+" + std::to_string(b.size) + b.status + " ";
  return text;
}

std::string AreasText(const std::vector<CopyArea>& areas) {
  std::string text;
  for (const CopyArea& a : areas) text += std::to_string(a.position) + "+" + std::to_string(a.length) + " ";
  return text;
}

}  // namespace

// Marks split and merge stretches; the blocks stay contiguous from 0 with
// gaps non-tried, as ddrescue requires.
TEST(Mapfile, MarksSplitAndMerge) {
  Mapfile map;
  map.Mark(1024, 4096, '?');
  EXPECT_EQ(BlocksText(map), "0+5120? ");
  map.Mark(1024, 1024, '+');
  map.Mark(2048, 512, '+');  // joins its left neighbour
  map.Mark(3072, 512, '-');
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+1536+ 2560+512? 3072+512- 3584+1536? ");
  map.Mark(1536, 2048, '+');  // covers the bad sector and merges
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+2560+ 3584+1536? ");
  map.Mark(2048, 512, '-');  // splits the finished stretch in three
  EXPECT_EQ(BlocksText(map), "0+1024? 1024+1024+ 2048+512- 2560+1024+ 3584+1536? ");
  map.Mark(0, 5120, '+');
  EXPECT_EQ(BlocksText(map), "0+5120+ ");
}

// What is left: everything not finished inside the range, in whole sectors
// from the range's start, even when the mapfile's blocks are not whole
// sectors.
TEST(Mapfile, PendingAreas) {
  Mapfile map;
  map.Mark(0, 10 * 512, '?');
  EXPECT_EQ(AreasText(map.Pending(0, 10 * 512)), "0+5120 ");
  map.Mark(512, 1024, '+');
  map.Mark(2048, 512, '-');
  map.Mark(3072, 2048, '+');
  EXPECT_EQ(AreasText(map.Pending(0, 10 * 512)), "0+512 1536+1536 ");
  EXPECT_EQ(AreasText(map.Pending(1024, 3 * 512)), "1536+1024 ");
  map.Mark(0, 10 * 512, '+');
  EXPECT_TRUE(map.Pending(0, 10 * 512).empty());
  map.Mark(700, 100, '-');  // a hand-edited odd block widens to its sector
  EXPECT_EQ(AreasText(map.Pending(0, 10 * 512)), "512+512 ");
  uint64_t last = 0;
  EXPECT_EQ(map.FinishedBytes(0, 10 * 512, &last), 10u * 512 - 100);
  EXPECT_EQ(last, 10u * 512);
}

// Our text reads back to the same map, and in the layout ddrescue writes.
TEST(Mapfile, FormatAndParseRoundTrip) {
  Mapfile map;
  map.Mark(0, 0x300000, '?');
  map.Mark(0x100000, 0x117000, '+');
  map.Mark(0x217000, 0x200, '-');
  map.currentPosition = 0x217200;
  std::string text = FormatMapfile(map, {"Command line: quorvel image a b"});
  EXPECT_NE(text.find("# Command line: quorvel image a b\n"), std::string::npos);
  EXPECT_NE(text.find("0x00217200     ?               1\n"), std::string::npos);
  EXPECT_NE(text.find("0x00100000  0x00117000  +\n"), std::string::npos);
  EXPECT_NE(text.find("0x00217000  0x00000200  -\n"), std::string::npos);
  Mapfile back;
  std::string error;
  ASSERT_TRUE(ParseMapfile(text, back, error)) << error;
  EXPECT_EQ(BlocksText(back), BlocksText(map));
  EXPECT_EQ(back.currentPosition, 0x217200u);
  EXPECT_EQ(back.currentStatus, '?');
}

// ddrescue's own files (all statuses, octal and decimal numbers, comments
// after values, the older status line without a pass) are read; malformed
// ones are refused with the line that is wrong.
TEST(Mapfile, ParsesDdrescueFilesAndRefusesMalformedOnes) {
  const std::string ddrescue =
      "# Mapfile. Created by GNU ddrescue version 1.27\n"
      "# Command line: ddrescue -d -c18 /dev/fd0 fdimage mapfile\n"
      "# current_pos  current_status  current_pass\n"
      "0x00120000     ?               1\n"
      "#      pos        size  status\n"
      "0x00000000  0x00117000  +\n"
      "0x00117000  0x00000200  -   # a comment\n"
      "0x00117200  0x00001000  /\n"
      "0x00118200  077000  *\n"
      "1179648  0x00048000  ?\n";
  Mapfile map;
  std::string error;
  ASSERT_TRUE(ParseMapfile(ddrescue, map, error)) << error;
  EXPECT_EQ(BlocksText(map), "0+1142784+ 1142784+512- 1143296+4096/ 1147392+32256* 1179648+294912? ");
  EXPECT_EQ(AreasText(map.Pending(0, 1474560)), "1142784+331776 ");
  ASSERT_TRUE(ParseMapfile("0x0 -\n0 512 +\n", map, error)) << error;
  EXPECT_EQ(map.currentStatus, '-');
  ASSERT_TRUE(ParseMapfile("# nothing yet\n\n", map, error));
  EXPECT_TRUE(map.Blocks().empty());

  const std::vector<std::pair<std::string, std::string>> bad = {
      {"0 ? 1\n0 512 +\n1024 512 +\n", "line 3"},       // a gap
      {"0 ? 1\n0 1024 +\n512 512 -\n", "line 3"},       // overlap
      {"0 ? 1\n0 512 x\n", "line 2"},                   // unknown status
      {"0 ? 1\n0 -512 +\n", "line 2"},                  // negative size
      {"0 ? 1\n0xFFFFFFFFFFFFFFFF 2 +\n", "line 2"},    // past the largest position
      {"0 ? 1\n99999999999999999999 2 +\n", "line 2"},  // does not fit 64 bits
      {"0 Q 1\n", "line 1"},                            // bad status line
      {"0 ? 0\n", "line 1"},                            // pass 0
      {"0 ? 1\n0 512\n", "line 2"},                     // missing status
      {"0 ? 1\n0 512 + extra\n", "line 2"},             // extra word
  };
  for (const auto& [text, where] : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(ParseMapfile(text, map, error));
    EXPECT_EQ(error.rfind(where, 0), 0u) << error;
  }
}

// The recorder writes the mapfile only after the target was flushed, and
// keeps the last good file when a flush fails; the file replaces the old one
// whole (no temporary left behind).
TEST(Mapfile, RecorderSavesOnlyFlushedState) {
  class Target : public ImageWriter {
   public:
    bool WriteAt(uint64_t, std::span<const uint8_t>) override { return true; }
    bool Flush() override {
      ++flushes;
      return !fail;
    }
    std::string LastError() const override { return "Input/output error"; }
    bool fail = false;
    int flushes = 0;
  } target;
  std::string dir = test::MakeTempDir("mapfile");
  std::string path = dir + "/map";
  Mapfile start;
  start.Mark(0, 4096, '?');
  MapfileRecorder recorder(path, start, {"Start time: now"}, target, nullptr, std::chrono::hours(1));
  ASSERT_TRUE(recorder.Save(false));
  recorder.Copied(0, 2048);
  recorder.BadSector(4);
  ASSERT_TRUE(recorder.Save(false));
  Mapfile saved;
  std::string error;
  ASSERT_TRUE(ReadMapfile(path, saved, error)) << error;
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536? ");
  target.fail = true;
  recorder.Copied(2560, 1536);
  EXPECT_FALSE(recorder.Save(true));
  EXPECT_NE(recorder.error().find("Input/output error"), std::string::npos);
  ASSERT_TRUE(ReadMapfile(path, saved, error));
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536? ");
  target.fail = false;
  ASSERT_TRUE(recorder.Save(true));
  ASSERT_TRUE(ReadMapfile(path, saved, error));
  EXPECT_EQ(saved.currentStatus, '+');
  EXPECT_EQ(BlocksText(saved), "0+2048+ 2048+512- 2560+1536+ ");
  EXPECT_NE(::access((path + ".quorvel-tmp").c_str(), F_OK), 0);
  EXPECT_EQ(target.flushes, 4);
}
