#include <gtest/gtest.h>

#include "operator/operator.h"

namespace velmor::op {
namespace {

TEST(Clip, CutsByCharactersWithAMark) {
  EXPECT_EQ(clip("abcdef", 4), "abcd…");
  EXPECT_EQ(clip("abcd", 4), "abcd");
  EXPECT_EQ(clip("héllo wörld", 5), "héllo…");
  EXPECT_EQ(clip("ééé", 0), "…");
  EXPECT_EQ(clip_tail("abcdef", 4), "…cdef");
  EXPECT_EQ(clip_tail("ab", 4), "ab");
  EXPECT_EQ(clip_tail("日本語のテキスト", 3), "…キスト");
}

TEST(Keywords, FallbackIntent) {
  struct Case {
    const char* message;
    Intent intent;
  } cases[] = {
      {"Book a table for two at Nora's on Friday", Intent::Task},
      {"thank you so much!", Intent::Chat},
      {"OPEN the settings page", Intent::Task},
      {"open", Intent::Chat},  // "open " needs the space after it
      {"what's the cheapest way", Intent::Task},
      {"look at https://example.test", Intent::Task},
      {"how are you", Intent::Chat},
  };
  for (const auto& c : cases) EXPECT_EQ(fallback_intent(c.message), c.intent) << c.message;
}

TEST(Keywords, CodeRequestsMatchBySubstring) {
  EXPECT_TRUE(looks_like_code_request("Write a PYTHON script"));
  EXPECT_TRUE(looks_like_code_request("fix my JavaScript"));  // java inside javascript
  EXPECT_TRUE(looks_like_code_request("decode this"));        // code inside decode
  EXPECT_FALSE(looks_like_code_request("fix the login page"));
  EXPECT_TRUE(refers_to_past_work("What did you find yesterday?"));
  EXPECT_TRUE(refers_to_past_work("do the same as LAST TIME"));
  EXPECT_FALSE(refers_to_past_work("book a flight"));
}

TEST(Summarize, ProgressThenLastStepThenNothing) {
  EXPECT_EQ(summarize("  done: search | left: book  ", {}), "done: search | left: book");
  std::vector<Step> steps{{"browser_navigate", "https://a.test", "", "", ""},
                          {"browser_snapshot", "", "", "", ""}};
  EXPECT_EQ(summarize("   ", steps), "Last step: browser_snapshot");
  steps.pop_back();
  EXPECT_EQ(summarize("", steps), "Last step: browser_navigate https://a.test");
  EXPECT_EQ(summarize("", {}), "Nothing done yet.");
}

TEST(TokenSplitJson, HasExactlyTheFiveKeys) {
  TokenSplit s{1, 2, 3, 4, 5};
  s += TokenSplit{1, 1, 1, 1, 1};
  EXPECT_EQ(s.to_json().dump(), R"({"log":4,"memory":3,"observation":5,"steps":6,"system":2})");
}

}  // namespace
}  // namespace velmor::op
