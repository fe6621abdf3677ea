#include <gtest/gtest.h>

#include "platform/text.h"

namespace quorvel {

// Names from disks must survive conversion: emoji (surrogate pairs) kept,
// broken surrogates replaced rather than dropping the whole name.
TEST(TextTest, Utf16ToUtf8KeepsEveryCharacter) {
  const uint8_t name[] = {0x2D, 0x4E, 0x87, 0x65, 0x3D, 0xD8, 0x00, 0xDE, 0x61, 0x00};  // 中文😀a
  EXPECT_EQ(Utf16LeToUtf8(name), "中文😀a");
  const uint8_t broken[] = {0x3D, 0xD8, 0x61, 0x00};  // high surrogate then 'a'
  EXPECT_EQ(Utf16LeToUtf8(broken),
            "\xEF\xBF\xBD"
            "a");
  const uint8_t withNul[] = {0x61, 0x00, 0x00, 0x00, 0x62, 0x00};
  EXPECT_EQ(Utf16LeToUtf8(withNul), "a");
}

TEST(TextTest, Cp936DecodesAndMarksUndecodableBytes) {
  EXPECT_EQ(Cp936ToUtf8("\xD6\xD0\xCE\xC4.TXT"), "中文.TXT");
  EXPECT_EQ(Cp936ToUtf8(std::string("A\xFF", 2)), "A?");
  std::string back;
  ASSERT_TRUE(Utf8ToCp936("中文", back));
  EXPECT_EQ(back, "\xD6\xD0\xCE\xC4");
  EXPECT_FALSE(Utf8ToCp936("😀", back));
}

TEST(TextTest, Utf8Validation) {
  EXPECT_TRUE(IsValidUtf8("中文😀"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));  // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xE4\xB8"));  // cut short
  EXPECT_EQ(Utf8ToUtf16("a😀").size(), 3u);
}

}  // namespace quorvel
