#include "tools/browser_args.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/utf8.h"

namespace velmor::tools {
namespace {

using nlohmann::json;

const char* kAllowed =
    "browser_read_page, browser_find, browser_navigate, browser_navigate_back, browser_snapshot, "
    "browser_click, browser_hover, browser_type, browser_fill_form, browser_select_option, "
    "browser_press_key, browser_wait_for, browser_tabs, browser_take_screenshot";

std::string error_of(const Result<void>& r) { return r ? "" : r.error().to_string(); }

TEST(BrowserGuards, AllowedToolsOnly) {
  for (auto name : kBrowserTools) EXPECT_TRUE(check_allowed_tool(name)) << name;
  for (const char* name : {"browser_evaluate", "browser_close", "browser_run_code_unsafe", ""})
    EXPECT_EQ(error_of(check_allowed_tool(name)),
              std::string("computer: blocked browser tool `") + name + "`. Allowed: " + kAllowed);
}

TEST(BrowserGuards, NavigateTakesOnlyHttpUrls) {
  const std::string http = "computer: browser_navigate only allows http and https URLs";
  struct Case {
    json args;
    std::string error;
  };
  const Case cases[] = {
      {{{"url", "https://example.com"}}, ""},
      {{{"url", "  http://127.0.0.1:8080/x  "}}, ""},
      {{{"href", "https://example.com"}}, http},  // only `url` counts here
      {{{"url", "HTTPS://example.com"}}, http},
      {{{"url", "file:///etc/passwd"}}, http},
      {{{"url", "javascript:alert(1)"}}, http},
      {{{"url", 42}}, http},
      {json::array(), http},
      {{{"url", "https://example.com/" + std::string(1980, 'a')}}, ""},  // 2000 bytes
      {{{"url", "https://example.com/" + std::string(1981, 'a')}}, "computer: URL is too long"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(check_navigate_url(c.args)), c.error) << c.args;
}

TEST(BrowserGuards, ElementActionsNeedASnapshotRef) {
  const std::string need = "computer: this action needs a snapshot ref such as e12";
  for (const char* tool : {"browser_click", "browser_hover", "browser_type", "browser_select_option"}) {
    SCOPED_TRACE(tool);
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", "e12"}})), "");
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", "f1e2_a-b"}})), "");
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", std::string(64, 'a')}})), "");
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", std::string(65, 'a')}})), need);
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", "button#go"}})), need);
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", "é1"}})), need);
    EXPECT_EQ(error_of(check_snapshot_ref(tool, {{"ref", 12}})), need);
    EXPECT_EQ(error_of(check_snapshot_ref(tool, json::object())), need);
  }
  EXPECT_EQ(error_of(check_snapshot_ref("browser_fill_form", json::object())), "");
  EXPECT_EQ(error_of(check_snapshot_ref("browser_press_key", json::object())), "");
}

struct Rewrite {
  const char* tool;
  json in;
  json out;
};

TEST(NormalizeBrowserArgs, RewritesWhatModelsSend) {
  const Rewrite cases[] = {
      // A ref given as a selector, with the ref noise models add around it.
      {"browser_click", {{"selector", "[ref=e12]"}},
       {{"selector", "[ref=e12]"}, {"ref", "e12"}, {"element", "element e12"}}},
      {"browser_click", {{"element_ref", " \"'ref=e7'\" "}, {"label", "Buy"}},
       {{"element_ref", " \"'ref=e7'\" "}, {"label", "Buy"}, {"ref", "e7"}, {"element", "Buy"}}},
      {"browser_click", {{"ref", "e3"}, {"element", "  "}, {"description", "ignored"}},
       {{"ref", "e3"}, {"element", "element e3"}, {"description", "ignored"}}},
      {"browser_click", {{"ref", "[]"}}, {{"ref", "[]"}}},
      {"browser_click",
       {{"ref", "e1"}, {"double_click", "yes"}, {"button", "RIGHT"},
        {"modifiers", {"Shift", "ctrl", "Meta", 3}}},
       {{"ref", "e1"}, {"element", "element e1"}, {"double_click", "yes"}, {"doubleClick", true},
        {"button", "right"}, {"modifiers", {"Shift", "Meta"}}}},
      {"browser_click", {{"ref", "e1"}, {"button", "side"}, {"modifiers", {"ctrl"}}},
       {{"ref", "e1"}, {"element", "element e1"}, {"button", "side"}, {"modifiers", {"ctrl"}}}},
      {"browser_hover", {{"ref", "e5"}, {"name", "Menu"}},
       {{"ref", "e5"}, {"name", "Menu"}, {"element", "Menu"}}},
      // press_enter as the text "yes" submits; an explicit false stays as given.
      {"browser_type", {{"ref", "e4"}, {"value", " hi "}, {"press_enter", "yes"}},
       {{"ref", "e4"}, {"element", "element e4"}, {"value", " hi "}, {"text", "hi"},
        {"press_enter", "yes"}, {"submit", true}}},
      {"browser_type", {{"ref", "e4"}, {"text", 5}, {"submit", false}, {"slowly", 1}},
       {{"ref", "e4"}, {"element", "element e4"}, {"text", "5"}, {"submit", false},
        {"slowly", true}}},
      {"browser_select_option", {{"ref", "e9"}, {"value", "Red"}},
       {{"ref", "e9"}, {"element", "element e9"}, {"value", "Red"}, {"values", {"Red"}}}},
      {"browser_select_option", {{"ref", "e9"}, {"values", {"a", 1, "b"}}},
       {{"ref", "e9"}, {"element", "element e9"}, {"values", {"a", "b"}}}},
      {"browser_select_option", {{"ref", "e9"}, {"option", 3}},
       {{"ref", "e9"}, {"element", "element e9"}, {"option", 3}, {"values", {"3"}}}},
      {"browser_select_option", {{"ref", "e9"}},
       {{"ref", "e9"}, {"element", "element e9"}, {"values", json::array()}}},
      {"browser_press_key", {{"keys", "Enter"}}, {{"keys", "Enter"}, {"key", "Enter"}}},
      {"browser_fill_form",
       {{"fields",
         {{{"name", "Email"}, {"ref", "[ref=e2]"}, {"value", "a@b.c"}},
          {{"type", "checkbox"}, {"ref", "e3"}, {"value", true}},
          {{"ref", 7}, {"value", 12}},
          "not a field"}}},
       {{"fields",
         {{{"name", "Email"}, {"type", "textbox"}, {"ref", "e2"}, {"value", "a@b.c"}},
          {{"name", "field e3"}, {"type", "checkbox"}, {"ref", "e3"}, {"value", "true"}},
          {{"name", "field "}, {"type", "textbox"}, {"ref", ""}, {"value", "12"}}}}}},
      {"browser_fill_form", {{"fields", "x"}}, {{"fields", json::array()}}},
      {"browser_read_page", {{"start", "+9000"}, {"about", " prices "}},
       {{"start", 9000}, {"about", " prices "}, {"query", "prices"}}},
      {"browser_read_page", {{"start", -1}, {"query", "  "}},
       {{"start", -1}, {"query", "  "}}},
      {"browser_navigate", {{"href", " https://a.example "}},
       {{"href", " https://a.example "}, {"url", "https://a.example"}}},
      {"browser_wait_for", {{"time", 3000}}, {{"time", 3.0}}},
      {"browser_wait_for", {{"time", 0}}, {{"time", 0.2}}},
      {"browser_wait_for", {{"time", "90"}}, {{"time", 0.2}}},
      {"browser_wait_for", {{"time", 40}}, {{"time", 15.0}}},
      {"browser_wait_for", {{"time", "soon"}, {"text_gone", "Loading"}, {"text", " Done "}},
       {{"time", "soon"}, {"text_gone", "Loading"}, {"textGone", "Loading"}, {"text", "Done"}}},
      {"browser_tabs", {{"action", "Open"}}, {{"action", "list"}}},
      {"browser_tabs", {{"action", " SELECT "}, {"index", "2"}}, {{"action", "select"}, {"index", 2}}},
      {"browser_tabs", json::object(), {{"action", "list"}}},
      {"browser_find", {{"element", "Log in"}}, {{"element", "Log in"}, {"query", "Log in"}}},
      {"browser_snapshot", {{"depth", 2}}, {{"depth", 2}}},
      {"browser_snapshot", json("not an object"), json::object()},
  };
  for (const auto& c : cases)
    EXPECT_EQ(normalize_browser_args(c.tool, c.in), c.out) << c.tool << " " << c.in.dump();
}

TEST(NormalizeBrowserArgs, WaitTimeNotANumberBecomesNull) {
  auto out = normalize_browser_args("browser_wait_for", {{"time", "nan"}});
  EXPECT_TRUE(out["time"].is_null());
}

TEST(FixRef, MovesRefToTargetUnlessATargetIsGiven) {
  json a = {{"ref", "e1"}, {"element", "x"}};
  fix_ref(a);
  EXPECT_EQ(a, json({{"target", "e1"}, {"element", "x"}}));
  json b = {{"ref", "e1"}, {"target", "e2"}};
  fix_ref(b);
  EXPECT_EQ(b, json({{"target", "e2"}}));
  json c = {{"key", "Enter"}};
  fix_ref(c);
  EXPECT_EQ(c, json({{"key", "Enter"}}));
}

TEST(ClipPageLines, WholeLinesBelowTheLimit) {
  EXPECT_EQ(clip_page_lines("short\npage", 6000), "short\npage");
  std::string exact(6000, 'a');
  EXPECT_EQ(clip_page_lines(exact, 6000), exact);

  // Lines of 99 characters plus "\r\n": 60 of them fill exactly 6000.
  std::string page;
  for (int i = 0; i < 80; ++i) page += std::string(99, 'x') + "\r\n";
  std::string clipped = clip_page_lines(page, 6000);
  EXPECT_TRUE(clipped.ends_with("x\n…\n"));
  EXPECT_EQ(clipped.find('\r'), std::string::npos);
  EXPECT_EQ(core::char_count(clipped), 60 * 100 + 2);

  // Multi-byte characters count once each.
  std::string wide;
  for (int i = 0; i < 3000; ++i) wide += "é";
  std::string wide_page = wide + "\n" + wide + "\n" + wide;
  EXPECT_EQ(clip_page_lines(wide_page, 6000), wide + "\n" + "…\n");
}

TEST(BareB64, StripsBlanksAndImagePrefixes) {
  EXPECT_EQ(bare_b64("  data:image/png;base64, iVBOR \n"), "iVBOR");
  EXPECT_EQ(bare_b64("data:image/jpeg;base64,/9j/"), "/9j/");
  EXPECT_EQ(bare_b64("data:image/gif;base64,R0lG"), "data:image/gif;base64,R0lG");
  EXPECT_EQ(bare_b64(" abc "), "abc");
}

}  // namespace
}  // namespace velmor::tools
