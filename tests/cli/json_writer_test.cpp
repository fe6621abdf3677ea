// JSON escaping scans eight bytes at a time: a byte that needs escaping must
// be caught at every place in the word, next to UTF-8 bytes too.
#include <gtest/gtest.h>

#include <string>

#include "cli/json_writer.h"

namespace quorvel::cli {
namespace {

std::string Quoted(const std::string& text) {
  std::string out;
  AppendJsonString(out, text);
  return out;
}

TEST(JsonEscaping, EverySpecialByteAtEveryPlaceOfTheWord) {
  const std::string plain = "abcdefghijklmnop";  // two words
  const struct {
    char byte;
    const char* escaped;
  } cases[] = {{'"', "\\\""},       {'\\', "\\\\"},      {'\n', "\\n"},      {'\t', "\\t"},
               {'\x01', "\\u0001"}, {'\x1f', "\\u001f"}, {'\x7f', "\\u007f"}};
  for (const auto& c : cases) {
    for (size_t at = 0; at < plain.size(); ++at) {
      std::string text = plain;
      text[at] = c.byte;
      const std::string expected = "\"" + plain.substr(0, at) + c.escaped + plain.substr(at + 1) + "\"";
      EXPECT_EQ(Quoted(text), expected) << static_cast<int>(c.byte) << " at " << at;
    }
  }
}

TEST(JsonEscaping, Utf8AndBordersOfTheRangesStayAsTheyAre) {
  // 0x20 and 0x7E are plain; bytes from 0x80 up (UTF-8) are copied as they are.
  const std::string text = " ~!#[]{}根目录/已删除文件/\xC3\xA9\xFF\x80 end";
  EXPECT_EQ(Quoted(text), "\"" + text + "\"");
  EXPECT_EQ(Quoted("根目录\"根"), "\"根目录\\\"根\"");
  std::string numbers;
  AppendJsonNumber(numbers, 18446744073709551615ull);
  EXPECT_EQ(numbers, "18446744073709551615");
}

}  // namespace
}  // namespace quorvel::cli
