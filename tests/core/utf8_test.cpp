#include "core/utf8.h"

#include <gtest/gtest.h>

namespace velmor::core {
namespace {

TEST(Utf8, CutsByCharactersNeverInsideOne) {
  struct Case {
    std::string text;
    std::size_t n;
    std::string prefix;
    std::string suffix;
  } cases[] = {
      {"hello", 3, "hel", "llo"},
      {"h\xC3\xA9llo", 2, "h\xC3\xA9", "lo"},              // é is two bytes
      {"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC", 1, "\xE2\x82\xAC", "\xE2\x82\xAC"},  // €€€
      {"a\xF0\x9F\x98\x80" "b", 2, "a\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80" "b"},   // emoji
      {"abc", 10, "abc", "abc"},
      {"", 3, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(prefix_chars(c.text, c.n), c.prefix) << c.text;
    EXPECT_EQ(suffix_chars(c.text, c.n), c.suffix) << c.text;
  }
  EXPECT_EQ(char_count("h\xC3\xA9llo \xF0\x9F\x98\x80"), 7u);
}

TEST(Utf8, InvalidBytesCountOnceAndAreRepaired) {
  std::string bad = "a\xFF" "b";
  EXPECT_FALSE(is_valid_utf8(bad));
  EXPECT_EQ(char_count(bad), 3u);
  EXPECT_EQ(to_valid_utf8(bad), "a\xEF\xBF\xBD" "b");
  EXPECT_TRUE(is_valid_utf8("plain \xC3\xA9"));
}

TEST(Utf8, TrimsUnicodeWhiteSpace) {
  EXPECT_EQ(trim("  \t key \n"), "key");
  EXPECT_EQ(trim("\xC2\xA0" "x y" "\xE3\x80\x80"), "x y");  // no-break and ideographic spaces
  EXPECT_EQ(trim("   "), "");
}

TEST(Utf8, LowerCasesBeyondAscii) {
  EXPECT_EQ(to_lower("\xC3\x89T\xC3\x89 \xD0\x9C\xD0\x9E\xD0\xA1\xD0\x9A\xD0\x92\xD0\x90"),
            "\xC3\xA9t\xC3\xA9 \xD0\xBC\xD0\xBE\xD1\x81\xD0\xBA\xD0\xB2\xD0\xB0");  // ÉTÉ МОСКВА
  EXPECT_EQ(to_lower_ascii("OpenAI \xC3\x89"), "openai \xC3\x89");
}

}  // namespace
}  // namespace velmor::core
