#include "tools/page_reading.h"

#include <gtest/gtest.h>

#include <fmt/format.h>

#include "core/utf8.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

std::string repeat(std::string_view piece, std::size_t n) {
  std::string out;
  for (std::size_t i = 0; i < n; ++i) out += piece;
  return out;
}

std::size_t chars(std::string_view s) { return core::char_count(s); }

TEST(Truncate, CutsByCharactersAndMarksTheCut) {
  struct Case {
    std::string text;
    std::size_t limit;
    std::string expected;
  } cases[] = {
      {"abc", 3, "abc"},
      {"abcd", 3, "abc…"},
      {"", 0, ""},
      {"x", 0, "…"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9", 2, "\xC3\xA9\xC3\xA9…"},              // ééé
      {"a\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 2, "a\xF0\x9F\x98\x80…"},    // emoji are one each
      {"\xE2\x82\xAC\xE2\x82\xAC", 2, "\xE2\x82\xAC\xE2\x82\xAC"},        // €€ fits
  };
  for (const auto& c : cases) EXPECT_EQ(truncate(c.text, c.limit), c.expected) << c.text;

  auto long_text = repeat("\xC3\xA9", 12001);
  auto cut = truncate(long_text, 12000);
  EXPECT_EQ(chars(cut), 12001u);
  EXPECT_TRUE(cut.ends_with("\xC3\xA9…"));
  EXPECT_TRUE(core::is_valid_utf8(cut));
}

TEST(PageUrl, TakesTheFirstNonEmptyPageUrlLine) {
  struct Case {
    std::string text;
    std::optional<std::string> expected;
  } cases[] = {
      {"### Page\n- Page URL: https://a.test/x\n- Page Title: A", "https://a.test/x"},
      {"  - Page URL:   https://b.test/  \r\n", "https://b.test/"},
      {"- Page URL:\n- Page URL: https://c.test/", "https://c.test/"},
      {"- Page URL:", std::nullopt},
      {"- Page Title: nothing", std::nullopt},
      {"text - Page URL: https://d.test/", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(page_url(c.text), c.expected) << c.text;
}

TEST(BriefArgs, ShowsTheTellingMemberOrCompactJson) {
  struct Case {
    json args;
    std::string expected;
  } cases[] = {
      {nullptr, ""},
      {json::object(), ""},
      {{{"url", "https://a.test"}, {"text", "hi"}}, "https://a.test"},
      {{{"time", 3}, {"query", "flights"}}, "flights"},
      {{{"element", "Log in"}, {"ref", "e3"}}, "Log in"},
      {{{"question", "Which date?"}}, "Which date?"},
      {{{"ref", "e3"}}, R"({"ref":"e3"})"},
      {json::array({1, 2}), "[1,2]"},
      {"plain", R"("plain")"},
      {{{"text", repeat("\xC3\xA9", 200)}}, repeat("\xC3\xA9", 160) + "…"},
  };
  for (const auto& c : cases) EXPECT_EQ(brief_args(c.args), c.expected) << c.args.dump();

  auto compact = brief_args({{"fields", repeat("x", 300)}});
  EXPECT_EQ(chars(compact), 161u);
  EXPECT_TRUE(compact.starts_with(R"({"fields":"xxx)"));
}

// A snapshot shaped like the browser server's: a page header, a tree of
// links and text, with a few controls and job words spread through it.
struct SnapshotShape {
  std::size_t links = 300;
  std::size_t first_ref_line = 3;  // lines of plain header before the tree
  std::size_t job_every = 0;       // every n-th link mentions "invoice"
  std::size_t controls = 5;
};

std::string make_snapshot(const SnapshotShape& shape) {
  std::string out = "### Page\n- Page URL: https://shop.test/\n- Page Title: Shop\n";
  for (std::size_t i = 3; i < shape.first_ref_line; ++i) out += "plain header line\n";
  out += "- generic [ref=e1]:\n";
  for (std::size_t i = 0; i < shape.links; ++i) {
    bool job = shape.job_every && i % shape.job_every == 0;
    out += fmt::format("  - link \"{} {}\" [ref=e{}]\n", job ? "Invoice" : "Story", i, i + 10);
  }
  for (std::size_t i = 0; i < shape.controls; ++i)
    out += fmt::format("  - button \"Action {}\" [ref=b{}]\n", i, i);
  return out;
}

std::size_t line_count(std::string_view s) {
  std::size_t n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST(FocusSnapshot, LeavesSmallOrUnfocusedSnapshotsAlone) {
  auto two_hundred = make_snapshot({.links = 195, .controls = 1});
  ASSERT_EQ(line_count(two_hundred), 200u);
  EXPECT_EQ(focus_snapshot(two_hundred, "invoice"), two_hundred);

  auto big = make_snapshot({.links = 197});
  ASSERT_GT(line_count(big), 200u);
  EXPECT_EQ(focus_snapshot(big, ""), big);
  EXPECT_EQ(focus_snapshot(big, "   "), big);
  EXPECT_EQ(focus_snapshot(big, "the and of a"), big);  // stop words only: no keywords
  EXPECT_EQ(focus_snapshot(big, "ing"), big);           // stems to nothing
}

TEST(FocusSnapshot, KeepsHeadControlsAndJobLinesAndMarksTheGaps) {
  auto snapshot = make_snapshot({.links = 300, .job_every = 50, .controls = 4});
  auto out = focus_snapshot(snapshot, "pay the invoices");
  // Head: 3 header lines, the first tree line and 29 more (links 0..28).
  EXPECT_NE(out.find("- Page URL: https://shop.test/\n"), std::string::npos);
  EXPECT_NE(out.find("\"Story 28\""), std::string::npos);
  EXPECT_EQ(out.find("\"Story 29\""), std::string::npos);
  for (int i : {50, 100, 250}) EXPECT_NE(out.find(fmt::format("\"Invoice {}\"", i)), std::string::npos);
  for (int i = 0; i < 4; ++i) EXPECT_NE(out.find(fmt::format("\"Action {}\"", i)), std::string::npos);

  // 33 head lines, invoices 50..250 (5), 4 buttons.
  std::size_t kept = 33 + 5 + 4;
  std::size_t total = line_count(snapshot);
  EXPECT_TRUE(out.ends_with(fmt::format(
      "\n({} of {} lines shown; every button, field and tab is here. {} links and text lines not "
      "about the job were left out; browser_find {{\"query\"}} finds any of them.)\n",
      kept, total, total - kept)));
  // One marker before each kept line that follows dropped ones: invoices 50,
  // 100, 150, 200, 250 and the first button.
  std::size_t markers = 0;
  for (auto at = out.find("  … (lines not about the job left out)\n"); at != std::string::npos;
       at = out.find("  … (lines not about the job left out)\n", at + 1))
    ++markers;
  EXPECT_EQ(markers, 6u);
  EXPECT_NE(out.find("\"Story 28\" [ref=e38]\n  … (lines not about the job left out)\n  - link \"Invoice 50\""),
            std::string::npos);
}

TEST(FocusSnapshot, SecondPassDropsFromTheBottomButNeverControls) {
  // 400 links all mentioning the job, controls at the very end.
  auto snapshot = make_snapshot({.links = 400, .job_every = 1, .controls = 20});
  auto out = focus_snapshot(snapshot, "invoice");
  auto summary = out.substr(out.rfind("\n("));
  EXPECT_TRUE(summary.starts_with("\n(160 of 424 lines shown;")) << summary;
  for (int i = 0; i < 20; ++i) EXPECT_NE(out.find(fmt::format("\"Action {}\"", i)), std::string::npos);
  // Head (33 lines) plus the top job lines survive; the bottom ones go.
  EXPECT_NE(out.find("\"Invoice 135\""), std::string::npos);
  EXPECT_EQ(out.find("\"Invoice 136\""), std::string::npos);
  EXPECT_EQ(out.find("\"Invoice 399\""), std::string::npos);
}

TEST(FocusSnapshot, ReturnsTheTextWhenLittleWouldBeDropped) {
  // 205 lines of which all but 9 are controls: kept + 10 >= total.
  std::string snapshot = "- generic [ref=e1]:\n";
  for (int i = 0; i < 195; ++i) snapshot += fmt::format("  - button \"B{}\" [ref=b{}]\n", i, i);
  for (int i = 0; i < 9; ++i) snapshot += fmt::format("  - text: filler {}\n", i);
  ASSERT_EQ(line_count(snapshot), 205u);
  EXPECT_EQ(focus_snapshot(snapshot, "invoice"), snapshot);
}

TEST(FindInSnapshot, MatchesAnyTermInAnyCase) {
  std::string snapshot =
      "- Page URL: https://a.test/\r\n"
      "- Page Title: A\n"
      "- button \"LOG IN\" [ref=e1]\n"
      "- link \"Sign up\" [ref=e2]\n"
      "- text: Inside the catalog\n"
      "- link \"Größe wählen\" [ref=e3]\n"
      "- button \"Cart\" [ref=e4]\n";
  struct Case {
    std::string query;
    std::string expected;
  } cases[] = {
      {"Log in",
       "- Page URL: https://a.test/\n- Page Title: A\n"
       // "link" holds "in": every term counts wherever it occurs.
       "### Find: 4 matching line(s) for \"Log in\"\n"
       "- button \"LOG IN\" [ref=e1]\n- link \"Sign up\" [ref=e2]\n- text: Inside the catalog\n"
       "- link \"Größe wählen\" [ref=e3]\n"},
      {"GRÖSSE? größe!",
       "- Page URL: https://a.test/\n- Page Title: A\n"
       "### Find: 1 matching line(s) for \"GRÖSSE? größe!\"\n- link \"Größe wählen\" [ref=e3]\n"},
      {"checkout",
       "- Page URL: https://a.test/\n- Page Title: A\n"
       "### Find: nothing on this page mentions \"checkout\". Try other words, scroll, or call "
       "browser_snapshot."},
      {"a", "browser_find needs a `query`: a word or two from the element you are looking for."},
      {" - ! ", "browser_find needs a `query`: a word or two from the element you are looking for."},
  };
  for (const auto& c : cases) EXPECT_EQ(find_in_snapshot(snapshot, c.query), c.expected) << c.query;
}

TEST(FindInSnapshot, StopsAfterSixtyMatches) {
  std::string snapshot;
  for (int i = 0; i < 100; ++i) snapshot += fmt::format("- link \"item {}\"\n", i);
  auto out = find_in_snapshot(snapshot, "item");
  EXPECT_TRUE(out.starts_with("### Find: 60 matching line(s) for \"item\"\n"));
  EXPECT_NE(out.find("\"item 59\""), std::string::npos);
  EXPECT_EQ(out.find("\"item 60\""), std::string::npos);
}

// The page script's answer as the browser server returns it: the JSON
// encoded once more as a string under "### Result", then the code it ran.
std::string server_raw(const std::string& text, const std::string& title = "Docs",
                       const std::string& url = "https://docs.test/") {
  json page = {{"title", title}, {"url", url}, {"length", text.size()}, {"text", text}};
  return "### Result\n" + json(page.dump()).dump() +
         "\n\n### Ran Playwright code\n```js\nawait page.evaluate('() => 1');\n```\n";
}

TEST(PageTextResult, ReadsEveryShapeOfTheRawAnswer) {
  struct Case {
    std::string raw;
    std::string title;
    std::optional<std::string> url;
    std::string text;
  } cases[] = {
      {server_raw("Hello page"), "Docs", "https://docs.test/", "Hello page"},
      {R"({"title": "T", "url": "https://u.test/", "text": "body"})", "T", "https://u.test/", "body"},
      {"### Result\n{\"title\": 5, \"text\": \"x\"}\n### Result\nignored", "", std::nullopt, "x"},
      {"### Result\nplain words\n", "", std::nullopt, "plain words"},
      {"### Result\n\"just a string\"\n", "", std::nullopt, "just a string"},
      {R"({"title": "T", "url": 7})", "T", std::nullopt, R"({"title": "T", "url": 7})"},
  };
  for (const auto& c : cases) {
    auto r = page_text_result(c.raw, json::object(), "");
    auto n = chars(c.text);
    EXPECT_EQ(r.text, fmt::format("### Page text\n- Title: {}\n- Characters 0–{} of {}\n\n{}",
                                  c.title, n, n, c.text))
        << c.raw;
    EXPECT_EQ(r.url, c.url) << c.raw;
    EXPECT_FALSE(r.image);
  }
}

// Text of `n` characters in lines, with non-ASCII letters so that byte and
// character offsets differ.
std::string page_of(std::size_t n) {
  std::string out;
  std::size_t count = 0;
  for (std::size_t line = 0; count < n; ++line) {
    std::string piece = fmt::format("Zeile {} über Größen ", line);
    for (auto c : core::prefix_chars(piece, n - count)) out += c;
    count += std::min(chars(piece), n - count);
    if (count < n) {
      out += '\n';
      ++count;
    }
  }
  return out;
}

std::optional<std::size_t> continue_at(const std::string& text) {
  constexpr std::string_view kMore = "(more text follows. Call browser_read_page with {\"start\": ";
  auto at = text.find(kMore);
  if (at == std::string::npos) return std::nullopt;
  return std::stoul(text.substr(at + kMore.size()));
}

TEST(PageTextResult, WindowsFitTheObservationAndContinueWhereTheyStopped) {
  auto page = page_of(60000);
  ASSERT_EQ(chars(page), 60000u);
  auto raw = server_raw(page);
  std::string seen;
  std::size_t start = 0;
  for (int round = 0; round < 20; ++round) {
    auto r = page_text_result(raw, {{"start", start}}, "");
    EXPECT_LE(chars(r.text), kObservationChars) << "from " << start;
    auto header_end = r.text.find("\n\n") + 2;
    auto next = continue_at(r.text);
    auto window_end = next ? r.text.rfind("\n\n(more text follows.") : r.text.size();
    auto window = r.text.substr(header_end, window_end - header_end);
    std::size_t end = start + chars(window);
    EXPECT_NE(r.text.find(fmt::format("- Characters {}–{} of 60000\n", start, end)), std::string::npos);
    seen += window;
    if (!next) break;
    EXPECT_EQ(*next, end) << "the next start must be the real end of what was shown";
    start = *next;
  }
  EXPECT_EQ(seen, page);
}

TEST(PageTextResult, WindowEdges) {
  auto ten_k = server_raw(page_of(10000));
  auto tail = page_text_result(ten_k, {{"start", 9000}}, "Größen");
  EXPECT_NE(tail.text.find("- Characters 9000–10000 of 10000\n"), std::string::npos);
  EXPECT_FALSE(continue_at(tail.text));

  auto past = page_text_result(ten_k, {{"start", 50000}}, "");
  EXPECT_TRUE(past.text.ends_with("- Characters 10000–10000 of 10000\n\n"));

  // A negative or fractional start counts as none; focus text is blank here.
  for (json bad : {json(-5), json(2.5), json("100")}) {
    auto r = page_text_result(ten_k, {{"start", bad}}, "");
    EXPECT_NE(r.text.find("- Characters 0–"), std::string::npos) << bad.dump();
  }

  // A page that fits with its header is shown whole, without a "more" line,
  // even when it is a little shorter than the observation limit.
  auto almost = page_text_result(server_raw(repeat("x", 11990)), json::object(), "");
  EXPECT_LE(chars(almost.text), kObservationChars);
  EXPECT_TRUE(continue_at(almost.text));
  auto fits = page_text_result(server_raw(repeat("x", 11900)), json::object(), "");
  EXPECT_FALSE(continue_at(fits.text));

  // A huge title cannot push the window out.
  auto titled = page_text_result(server_raw(page_of(30000), repeat("T", 20000)), json::object(), "");
  EXPECT_LE(chars(titled.text), kObservationChars);
  EXPECT_GT(*continue_at(titled.text), 11000u);
}

// Fourteen parts of 651 characters (one line each); parts 5 and 9 mention
// zebras, the others do not.
std::string parted_page() {
  std::string out;
  for (int i = 0; i < 14; ++i) {
    std::string word = (i == 5 || i == 9) ? "zebra" : "plain";
    std::string line = fmt::format("part{:02} {} ", i, word);
    line += repeat("a", 650 - line.size());
    out += line + "\n";
  }
  return out;
}

TEST(PageTextResult, FocusedReadingTakesTheTopAndTheBestPartsInPageOrder) {
  auto page = parted_page();
  ASSERT_EQ(chars(page), 14u * 651u);
  auto r = page_text_result(server_raw(page), {{"query", "  zebras  "}}, "");
  auto part = [&](int i) {
    return fmt::format("\n[chars {}–{}]\n{}\n", i * 651, i * 651 + 651,
                       core::trim(page.substr(static_cast<std::size_t>(i) * 651, 651)));
  };
  std::string expected =
      "### Page text (focused)\n- Title: Docs\n- 9114 characters in all; showing the 3 parts that "
      "bear on: zebras\n- For the whole page in order, call browser_read_page with {\"start\": 0}; "
      "browser_read_page with {\"query\": \"…\"} focuses on something else.\n" +
      part(0) + "\n[…]\n" + part(5) + "\n[…]\n" + part(9) + "\n[…]\n";
  EXPECT_EQ(r.text, expected);
  EXPECT_EQ(r.url, "https://docs.test/");

  // Without a query the browser's focus text is used.
  EXPECT_EQ(page_text_result(server_raw(page), json::object(), "zebras").text, expected);
}

TEST(PageTextResult, FocusedReadingFallsBackToTheWindow) {
  auto page = parted_page();
  struct Case {
    std::string name;
    std::string raw;
    json args;
    std::string focus;
  } cases[] = {
      {"start given", server_raw(page), {{"start", 0}, {"query", "zebra"}}, ""},
      {"nothing matches", server_raw(page), {{"query", "unicorn"}}, ""},
      {"no query tokens", server_raw(page), {{"query", "the of"}}, ""},
      {"blank query and focus", server_raw(page), {{"query", " "}}, " "},
      {"exactly 8000 characters", server_raw(page.substr(0, 8000)), {{"query", "zebra"}}, ""},
      {"fewer than 4 parts", server_raw(repeat("zebra ", 2000)), {{"query", "zebra"}}, ""},
      // Part 0 is one enormous line: shown whole it would pass the limit.
      {"huge first part",
       server_raw(repeat("b", 20000) + "\n" + parted_page()),
       {{"query", "zebra"}},
       ""},
  };
  for (const auto& c : cases) {
    auto r = page_text_result(c.raw, c.args, c.focus);
    EXPECT_TRUE(r.text.starts_with("### Page text\n")) << c.name;
    EXPECT_LE(chars(r.text), kObservationChars) << c.name;
  }
}

}  // namespace
}  // namespace velmor::tools
